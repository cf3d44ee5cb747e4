// Images in plot scripts: PNG files sampled into the driver's row requests, the job
// bytes around the image, the image decoded by libtiff against the pixels expected
// from the PNG, and bad image lines.
#include <gtest/gtest.h>

#include <cassert>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/wire.h"
#include "images/image_source.h"
#include "images/raster_rows.h"
#include "platform/host_address.h"
#include "raster/raster_image.h"
#include "raster/rtl_piece.h"
#include "support/kvrac_runner.h"

#ifdef KVRAC_HAVE_PNG
#include <png.h>

namespace {

// A PNG to write: size, libpng colour type and depth, interlacing, and each pixel's
// stored samples (for one-bit greyscale, 0 or 1 in the first byte).
struct png_picture {
    int w = 0, h = 0, type = 0, depth = 0;
    bool interlaced = false;
    std::function<void(int x, int y, uint8_t* samples)> pixel;
    std::vector<png_color> palette;
    std::vector<uint8_t> palette_alpha;
};

png_picture picture(int w, int h, int type, int depth, bool interlaced,
                    std::function<void(int x, int y, uint8_t* samples)> pixel) {
    png_picture s;
    s.w = w, s.h = h, s.type = type, s.depth = depth, s.interlaced = interlaced;
    s.pixel = std::move(pixel);
    return s;
}

void write_png(const fs::path& path, const png_picture& s) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, s.w, s.h, s.depth, s.type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.palette_alpha.empty())
        png_set_tRNS(png, info, s.palette_alpha.data(), static_cast<int>(s.palette_alpha.size()),
                     nullptr);
    png_write_info(png, info);
    // Bytes a pixel takes at depths of 8 and 16 bits (samples of 16 bits big-endian).
    const int channels = png_get_channels(png, info) * (s.depth == 16 ? 2 : 1);
    std::vector<std::vector<uint8_t>> rows(s.h, std::vector<uint8_t>(s.w * channels + 8, 0));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < s.h; ++y) {
        for (int x = 0; x < s.w; ++x) {
            uint8_t px[8] = {};
            assert(channels <= 8);
            s.pixel(x, y, px);
            if (s.depth == 1)
                rows[y][x / 8] |= static_cast<uint8_t>((px[0] & 1) << (7 - x % 8));
            else
                std::memcpy(&rows[y][x * channels], px, channels);
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

class Image : public Kvrac {
  protected:
    // Configures the store, then sets the paper format and mode_flags.
    void settings(int format, uint16_t mode) {
        ASSERT_EQ(run("config --settings '" + store() + "'").status, 0);
        std::string s = slurp(store());
        s[4] = static_cast<char>(format);
        s[30] = static_cast<char>(mode & 0xFF);
        s[31] = static_cast<char>(mode >> 8);
        write_file(store(), s);
    }
    run_result plot(const std::string& script, const std::string& name = "a.kvs") {
        write_file(dir / name, script);
        return run("plot '" + (dir / name).string() + "' --settings '" + store() + "'");
    }
};

// One-bit PNG pattern: black where (x + y / 4) % 3 == 0.
bool mono_black(int x, int y) {
    return (x + y / 4) % 3 == 0;
}

TEST_F(Image, OneBitPngOnAnUnrotatedSheetIsSampledRowByRow) {
    settings(23, 0x0100); // a 396 mm length of the 914 mm roll: not rotated; 600 dpi
    write_png(dir / "m.png",
              picture(10, 20, PNG_COLOR_TYPE_GRAY, 1, false,
                      [](int x, int y, uint8_t* p) { p[0] = mono_black(x, y) ? 0 : 1; }));
    // A relative file name is taken from the script's folder; colour 9 paints black.
    auto r = plot("image 1000 2000 1100 2200 m.png color 9\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string job = slurp(dir / "a.prn");
    // An image-only job: opaque, placed at (x2, y1), and the job still has its trailer.
    size_t image = job.find("PUPA0,0PR;TR0;TR0;PU1100,2000PA1100,2000IW2000,1000,2200,1100"
                            "\x1B%1A\x1B&a0N\x1B*t600R");
    ASSERT_NE(image, std::string::npos);
    EXPECT_NE(job.find("\x1B*rC\x1B%0BTR0;PA1100,2000PU0,0PRPC1,"), std::string::npos);
    EXPECT_EQ(job.substr(job.size() - 21), ";PUSP0;PG;\x1B%-12345X\r\n");

    // 100 x 200 units at 600 dpi: 59 x 118 dots, rows 1 .. 117 asked.
    rtl_piece p = decode_rtl_piece(job.substr(image));
    ASSERT_EQ(p.pitch, 96);
    ASSERT_EQ(p.rows, 117);
#ifdef KVRAC_HAVE_TIFF
    int wrong = 0;
    for (int row = 1; row < 118; ++row) {
        const int y_start = static_cast<int>(2000 + row * (200.0 / 118));
        // The image stands upright: its bottom row at the rectangle's bottom edge, where
        // the rows begin, and each row laid from the right edge, where the pen is.
        const int sy = 19 - (y_start - 2000) * 20 / 200;
        for (int i = 0; i < 96; ++i)
            wrong += p.black(row - 1, i) != (i < 59 && mono_black(9 - i * 10 / 59, sy));
    }
    EXPECT_EQ(wrong, 0);
#endif
}

// Colour pattern: opaque black, see-through (alpha 0, so white) on the diagonal, else
// opaque white.
int colour_kind(int x, int y) {
    return x == y ? 2 : (x * y) % 5 == 1 ? 0 : 1;
}

TEST_F(Image, ColourPngOnARotatedSheetIsSampledColumnByColumn) {
    settings(1, 0x0100); // E-arch: rotated
    write_png(dir / "c.png",
              picture(12, 7, PNG_COLOR_TYPE_RGBA, 8, false, [](int x, int y, uint8_t* p) {
                  const int k = colour_kind(x, y);
                  p[0] = p[1] = p[2] = k == 0 ? 0 : k == 1 ? 255 : 0;
                  p[3] = k == 2 ? 0 : 255;
              }));
    // The same pixels as an interlaced palette image with a see-through entry.
    png_picture indexed =
        picture(12, 7, PNG_COLOR_TYPE_PALETTE, 8, true,
                [](int x, int y, uint8_t* p) { p[0] = static_cast<uint8_t>(colour_kind(x, y)); });
    indexed.palette = {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}};
    indexed.palette_alpha = {255, 255, 0};
    write_png(dir / "i.png", indexed);

    auto r = plot("image 1000 2000 1300 2100 c.png transparent\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string job = slurp(dir / "a.prn");
    size_t image = job.find("PUPA0,0PR;TR0;TR1;PU1000,2000PA1000,2000IW1000,2000,1300,2100");
    ASSERT_NE(image, std::string::npos);
    // 300 x 100 units: W = 177 columns of H = 59 pixels, columns 1 .. 176 asked.
    rtl_piece p = decode_rtl_piece(job.substr(image));
    ASSERT_EQ(p.rows, 176);
    ASSERT_EQ(p.pitch, 96);
#ifdef KVRAC_HAVE_TIFF
    int wrong = 0;
    for (int col = 1; col < 177; ++col) {
        const int x_start = static_cast<int>(1000 + col * (300.0 / 177));
        const int sx = (x_start - 1000) * 12 / 300;
        for (int i = 0; i < 96; ++i)
            wrong += p.black(col - 1, i) != (i < 59 && colour_kind(sx, 6 - i * 7 / 59) == 0);
    }
    EXPECT_EQ(wrong, 0);
#endif
    ASSERT_EQ(plot("image 1000 2000 1300 2100 i.png transparent\n", "b.kvs").status, 0);
    EXPECT_EQ(slurp(dir / "b.prn"), job);
}

// Temporary files an image store left in folder.
int store_files_in(const fs::path& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        n += e.path().filename().string().rfind(".kvrac-image-", 0) == 0;
    return n;
}

TEST_F(Image, BandsOfColumnsAndRowsGiveTheSamePixelsAsTheWholeImage) {
    // One-bit images of 70 x 45 (rows not a multiple of eight) and colour ones of
    // 30 x 20, plain and interlaced, read with a store held whole in memory and with
    // one that holds only a few columns or rows at a time (the rest in a file).
    for (bool interlaced : {false, true}) {
        write_png(dir / (interlaced ? "mi.png" : "m.png"),
                  picture(70, 45, PNG_COLOR_TYPE_GRAY, 1, interlaced,
                          [](int x, int y, uint8_t* p) { p[0] = (x * 7 + y * 3) % 11 < 4; }));
        write_png(dir / (interlaced ? "ci.png" : "c.png"),
                  picture(30, 20, PNG_COLOR_TYPE_RGB, 8, interlaced, [](int x, int y, uint8_t* p) {
                      p[0] = static_cast<uint8_t>(x * 8);
                      p[1] = static_cast<uint8_t>(y * 12);
                      p[2] = static_cast<uint8_t>(x + y);
                  }));
    }
    for (int variant = 0; variant < 8; ++variant) {
        const bool mono = variant & 1, interlaced = variant & 2, in_file = variant & 4;
        SCOPED_TRACE(std::string(mono ? "mono" : "colour") + (interlaced ? " interlaced" : "") +
                     (in_file ? " through a file" : " in memory"));
        raster_rows_reset();
        raster_rows_store(in_file ? (mono ? 40 : 200) : 0, dir.string());
        const std::string name = std::string(mono ? "m" : "c") + (interlaced ? "i" : "") + ".png";
        script_image img{
            100,  100,   400, 500, (dir / name).string(), mono ? 70 : 30, mono ? 45 : 20,
            mono, false, 7,   1};
        std::vector<uint8_t> rec(2064, 0);
        const int32_t id = raster_rows_announce(img, rec.data());
        EXPECT_EQ(le_i32(rec.data(), 32), mono ? 0 : 1);
        EXPECT_EQ(le_i16(rec.data(), 46), mono ? 1 : 8);
        auto* get = host_addr_fn<get_rows_fn>(le_u32(rec.data(), 4));
        ASSERT_NE(get, nullptr);
        // Lines across the sheet: columns (rotated), then rows, then rows asked again
        // bottom to top.
        uint64_t decodes = image_decodes();
        for (int pass = 0; pass < 3; ++pass) {
            const bool rotated = pass == 0;
            const int lines = rotated ? 45 : 61, L = rotated ? 53 : 37;
            for (int k = 0; k < lines; ++k) {
                const int r = pass == 2 ? lines - 1 - k : k;
                uint8_t q[raster_request_size] = {};
                le_put_i32(q, 0, rotated ? r : 0);
                le_put_i32(q, 4, rotated ? 0 : r);
                le_put_i32(q, 8, rotated ? r : L - 1);
                le_put_i32(q, 12, rotated ? L - 1 : r);
                le_put_i32(q, 16, rotated ? 100 + r * 300 / lines : 100);
                le_put_i32(q, 20, rotated ? 100 : 100 + r * 400 / lines);
                le_put_i32(q, 32, id);
                le_put_i32(q, 40, rotated ? 7 : 2);
                const uint8_t* result = get(q);
                ASSERT_EQ(le_i16(result, 14), 0);
                ASSERT_EQ(le_i32(result, 4), mono ? L : 3 * L);
                const uint8_t* px = static_cast<const uint8_t*>(host_addr_ptr(le_u32(result, 0)));
                ASSERT_NE(px, nullptr);
                const int w = img.width, h = img.height;
                const int fixed =
                    rotated ? (le_i32(q, 16) - 100) * w / 300 : (le_i32(q, 20) - 100) * h / 400;
                for (int i = 0; i < L; ++i) {
                    // Upright: rows and columns run from the image's bottom row; rows
                    // of an unrotated sheet from its right end.
                    const int x = rotated ? fixed : w - 1 - i * w / L;
                    const int y = rotated ? h - 1 - i * h / L : h - 1 - fixed;
                    if (mono) {
                        ASSERT_EQ(px[i], (x * 7 + y * 3) % 11 < 4 ? 0 : 1) << x << "," << y;
                    } else {
                        ASSERT_EQ(px[3 * i], x * 8);
                        ASSERT_EQ(px[3 * i + 1], y * 12);
                        ASSERT_EQ(px[3 * i + 2], x + y);
                    }
                }
            }
            // Every column of the rotated pass came from a single decode; so did both
            // passes of rows of an interlaced file.
            if (pass == 0) {
                EXPECT_EQ(image_decodes() - decodes, 1u);
                EXPECT_EQ(store_files_in(dir), in_file ? 1 : 0);
                decodes = image_decodes();
            }
            if (pass == 2 && interlaced) {
                EXPECT_EQ(image_decodes() - decodes, 1u);
            }
        }
        // A request for an image no longer announced is answered with the error flag,
        // and the store's file is gone.
        raster_rows_settle(0);
        EXPECT_EQ(store_files_in(dir), 0);
        uint8_t q[raster_request_size] = {};
        le_put_i32(q, 8, 3);
        le_put_i32(q, 32, id);
        EXPECT_EQ(le_i16(get(q), 14), 1);
    }
    raster_rows_reset();
}

TEST_F(Image, OneBitColumnsNearOneToOneComeFromTheStoreAByteAtATime) {
    // Columns asked at the image's own height, or close to it, are taken a byte at a
    // time between the rows sampling skips or repeats: every pixel of every column
    // against the pattern, in memory and through a file.
    write_png(dir / "m.png", picture(37, 83, PNG_COLOR_TYPE_GRAY, 1, false,
                                     [](int x, int y, uint8_t* p) { p[0] = (x ^ y) % 3 == 0; }));
    for (size_t budget : {size_t{0}, size_t{60}}) {
        raster_rows_reset();
        raster_rows_store(budget, dir.string());
        script_image img{0, 0, 37, 83, (dir / "m.png").string(), 37, 83, true, false, 7, 1};
        std::vector<uint8_t> rec(2064, 0);
        const int32_t id = raster_rows_announce(img, rec.data());
        auto* get = host_addr_fn<get_rows_fn>(le_u32(rec.data(), 4));
        for (int L : {83, 82, 79, 86, 40}) {
            SCOPED_TRACE(L);
            for (int x = 0; x < 37; ++x) {
                uint8_t q[raster_request_size] = {};
                le_put_i32(q, 0, x);
                le_put_i32(q, 8, x);
                le_put_i32(q, 12, L - 1);
                le_put_i32(q, 16, x);
                le_put_i32(q, 32, id);
                le_put_i32(q, 40, 7);
                const uint8_t* result = get(q);
                ASSERT_EQ(le_i16(result, 14), 0);
                ASSERT_EQ(le_i32(result, 4), L);
                const uint8_t* px = static_cast<const uint8_t*>(host_addr_ptr(le_u32(result, 0)));
                for (int i = 0; i < L; ++i) {
                    const int y = 82 - i * 83 / L; // columns run from the bottom row
                    ASSERT_EQ(px[i], (x ^ y) % 3 == 0 ? 0 : 1) << x << "," << y;
                }
            }
        }
        raster_rows_settle(0);
    }
    raster_rows_reset();
}

TEST_F(Image, ReadingAnImageLineIsNoDecodeOpeningTheImageIs) {
    write_png(dir / "m.png", picture(10, 20, PNG_COLOR_TYPE_GRAY, 1, false,
                                     [](int x, int y, uint8_t* p) { p[0] = mono_black(x, y); }));
    const uint64_t before = image_decodes();
    std::string why;
    auto probe = probe_image_source((dir / "m.png").string(), image_open_options{}, &why);
    ASSERT_TRUE(probe) << why;
    EXPECT_EQ(probe->info().width, 10);
    EXPECT_EQ(image_decodes(), before);
    auto source = open_image_source((dir / "m.png").string(), image_open_options{}, &why);
    ASSERT_TRUE(source) << why;
    EXPECT_EQ(image_decodes(), before + 1);
    ASSERT_EQ(source->rewind(), 0);
    EXPECT_EQ(image_decodes(), before + 2);
}

TEST_F(Image, AFileReplacedSinceItsLineWasReadIsNotDecoded) {
    // Announced as a one-bit image of 70 x 45, the file now holds colour of 30 x 20:
    // the store would be read with the wrong size, so every column is an error.
    write_png(dir / "c.png", picture(30, 20, PNG_COLOR_TYPE_RGB, 8, false,
                                     [](int, int, uint8_t* p) { p[0] = p[1] = p[2] = 9; }));
    raster_rows_reset();
    script_image img{0, 0, 70, 45, (dir / "c.png").string(), 70, 45, true, false, 7, 4};
    std::vector<uint8_t> rec(2064, 0);
    const int32_t id = raster_rows_announce(img, rec.data());
    auto* get = host_addr_fn<get_rows_fn>(le_u32(rec.data(), 4));
    const uint64_t decodes = image_decodes();
    for (int x = 0; x < 3; ++x) {
        uint8_t q[raster_request_size] = {};
        le_put_i32(q, 0, x);
        le_put_i32(q, 8, x);
        le_put_i32(q, 12, 44);
        le_put_i32(q, 16, x);
        le_put_i32(q, 32, id);
        le_put_i32(q, 40, 7);
        EXPECT_EQ(le_i16(get(q), 14), 1);
    }
    EXPECT_EQ(image_decodes() - decodes, 1u); // opened once to see it, never again
    EXPECT_EQ(raster_rows_failed_line(), 4);
    EXPECT_NE(raster_rows_failure().find("changed while the plot ran"), std::string::npos)
        << raster_rows_failure();
    EXPECT_EQ(store_files_in(dir), 0);
    raster_rows_reset();
}

TEST_F(Image, CornersNameTheSameRectangleInAnyOrder) {
    settings(23, 0x0100);
    write_png(dir / "m.png", picture(10, 20, PNG_COLOR_TYPE_GRAY, 1, false,
                                     [](int x, int y, uint8_t* p) { p[0] = mono_black(x, y); }));
    ASSERT_EQ(plot("image 1000 2000 1100 2200 m.png\n").status, 0);
    const std::string job = slurp(dir / "a.prn");
    ASSERT_NE(job.find("IW2000,1000,2200,1100"), std::string::npos);
    for (const char* corners :
         {"1100 2200 1000 2000", "1000 2200 1100 2000", "1100 2000 1000 2200"}) {
        fs::remove(dir / "a.prn");
        auto r = plot(std::string("image ") + corners + " m.png\n");
        ASSERT_EQ(r.status, 0) << corners << ": " << r.err;
        EXPECT_EQ(slurp(dir / "a.prn"), job) << corners;
    }
}

TEST_F(Image, BadImageLinesStopThePlotWithFileAndLine) {
    settings(23, 0x0100);
    write_png(dir / "m.png", picture(10, 20, PNG_COLOR_TYPE_GRAY, 1, false,
                                     [](int x, int y, uint8_t* p) { p[0] = mono_black(x, y); }));
    write_file(dir / "text.png", "not an image at all");
    write_file(dir / "short.png", slurp(dir / "m.png").substr(0, 20));
    const struct {
        const char* line;
        const char* message;
    } bad[] = {
        {"image 0 0 10 10 missing.png", "cannot read image"},
        {"image 0 0 10 10 text.png", "not a PNG file"},
        {"image 0 0 10 10 short.png", "cannot read image"},
        {"image 0 0 10 m.png", "not a number"},
        {"image 0 0 10 10", "needs an image file"},
        {"image 0 0 10 10 m.png color", "color needs"},
        {"image 0 0 10 10 m.png opaque", "unknown image option 'opaque'"},
    };
    for (const auto& b : bad) {
        fs::remove(dir / "a.prn");
        auto r = plot(std::string("move 1 1\n\n") + b.line + "\ndraw 2 2\n");
        EXPECT_EQ(r.status, 2) << b.line;
        EXPECT_NE(r.err.find("a.kvs:3: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "a.prn"));
    }

    // A sound header with damaged image data: found while the image is sent.
    std::string png = slurp(dir / "m.png");
    size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    png[idat + 6] ^= 0x55;
    write_file(dir / "broken.png", png);
    auto r = plot("image 0 0 100 100 broken.png\nmove 5 5\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("ADI4.3: image faile="), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("a.kvs:1: image " + (dir / "broken.png").string() + " cannot be decoded"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "a.prn"));
}

// The job bytes of images of every kind on rotated and unrotated sheets. Any change to
// how images are read must leave these jobs exactly as they are. The hashes were not
// made by this code: they are the jobs the earlier image path (which decoded an image
// once per band and put the image's top row at the rectangle's bottom edge) wrote for
// the same images turned the other way up: flipped top to bottom for the rotated
// sheet, turned half a turn for the unrotated one, where rows run from the rectangle's
// right edge.
std::string sha256_of(const fs::path& p) {
    std::string cmd = "sha256sum '" + p.string() + "'";
    std::FILE* f = ::popen(cmd.c_str(), "r");
    if (!f) return "";
    char buf[65] = {};
    const size_t got = std::fread(buf, 1, 64, f);
    ::pclose(f);
    return std::string(buf, got);
}

TEST_F(Image, JobsOfImagesOfEveryKindKeepTheirBytes) {
    const auto gradient = [](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x * 7 + y);
        p[1] = static_cast<uint8_t>(y * 5 - x);
        p[2] = static_cast<uint8_t>((x ^ y) * 3);
    };
    write_png(dir / "rgb.png", picture(300, 200, PNG_COLOR_TYPE_RGB, 8, false, gradient));
    write_png(dir / "mono.png",
              picture(1201, 901, PNG_COLOR_TYPE_GRAY, 1, false, [](int x, int y, uint8_t* p) {
                  p[0] = ((x / 3 + y / 5) % 4 == 0 || (x * x + y * y) % 97 < 9) ? 0 : 1;
              }));
    write_png(dir / "grey.png",
              picture(157, 93, PNG_COLOR_TYPE_GRAY_ALPHA, 8, true, [](int x, int y, uint8_t* p) {
                  p[0] = static_cast<uint8_t>(x + 2 * y);
                  p[1] = static_cast<uint8_t>((x * y) % 3 == 0 ? 0 : 255);
              }));
    png_picture indexed =
        picture(64, 48, PNG_COLOR_TYPE_PALETTE, 4, false,
                [](int x, int y, uint8_t* p) { p[0] = static_cast<uint8_t>((x / 4 + y / 3) % 5); });
    indexed.palette = {{0, 0, 0}, {255, 0, 0}, {0, 128, 255}, {200, 200, 200}, {10, 250, 10}};
    indexed.palette_alpha = {255, 128, 255, 0};
    write_png(dir / "pal.png", indexed);
    write_png(dir / "wide.png",
              picture(40, 30, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, [](int x, int y, uint8_t* p) {
                  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(x * 31 + y * 17 + i * 61);
              }));
    // Larger than one band of columns (16 MiB) on a rotated sheet.
    write_png(dir / "big.png", picture(3000, 2000, PNG_COLOR_TYPE_RGB, 8, false, gradient));
    struct job_case {
        int format; // 1: E-arch, rotated; 23: a custom length of the 914 mm roll, unrotated
        const char* line;
        const char* sha256;
    };
    const job_case cases[] = {
        {1, "image 1000 2000 5000 5000 rgb.png",
         "b71af31688d7d88bc8f9185dd6269a85feb39b7f326e09e697971eb83227e5d6"},
        {23, "image 1000 2000 5000 5000 rgb.png",
         "d11a726139eed43beb7d2655d9dbe44e4ccb4460ceae5143f293767bec8532d8"},
        {1, "image 500 700 3502 2953 mono.png color 9",
         "4639827ab8d4b6b9849798ad6d6356eed7ca49bbfdc0ddc45833951644f73765"},
        {23, "image 500 700 3502 2953 mono.png",
         "aeef83bb1877f1203766d90543341650b4988030a95733ca454d2d6779831403"},
        {1, "image 2000 1000 1200 400 mono.png transparent",
         "ea07f40a9f5ab826200191b98aa1bf336d352e084ff991b6eb4e5e4384578c1b"},
        {23, "image 200 300 2200 1500 grey.png transparent",
         "a6e09df25f50ba73d86c3dd1bcb17c2e763765f11dbb11a07869f293bd730c62"},
        {1, "image 200 300 2200 1500 grey.png",
         "b1d0ad388f9643bb638ed9c0b543b0a699873fed8fc9406cb5832cf10f9fa380"},
        {23, "image 0 0 1500 900 pal.png transparent",
         "18ed12e34c2bd928b0d961af7c61e17c8c00662f562c8d5575dad5edcd3dd45e"},
        {1, "image 0 0 1500 900 pal.png",
         "03558b3a80e642aeb7b248c4d75e1356b5e5cccf97d8715399e39c4ebd3c5fa0"},
        {1, "image 100 100 900 700 wide.png transparent",
         "addc8ee6f135921983de4969a43854b33722d6172606970fbc1888ae4d2961bc"},
        {23, "image 100 100 900 700 wide.png",
         "cb35c3db383ea31e48b65e5a3282524b59065e59f3964710549eb92757fc03d6"},
        {1, "image 300 300 6300 4300 big.png",
         "7d7ba116ed414fb99c93dcc170df55937fb0d6718e46ca3a7c5a4917ea20c1cf"},
    };
    for (const job_case& c : cases) {
        settings(c.format, 0x0100);
        fs::remove(dir / "a.prn");
        auto r = plot(std::string(c.line) + "\n");
        ASSERT_EQ(r.status, 0) << c.line << ": " << r.err;
        EXPECT_EQ(sha256_of(dir / "a.prn"), c.sha256) << "format " << c.format << ": " << c.line;
    }
}

TEST_F(Image, StoreFilesAreRemovedAfterTheJobAndAfterAFailure) {
    settings(1, 0x0100); // E-arch: rotated
    const auto gradient = [](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x * 7 + y);
        p[1] = static_cast<uint8_t>(y * 5 - x);
        p[2] = static_cast<uint8_t>((x ^ y) * 3);
    };
    // 18 MB of colour against a 1 MB budget: the image goes through a file beside the
    // job, and the job is the one written from memory, byte for byte.
    write_png(dir / "big.png", picture(3000, 2000, PNG_COLOR_TYPE_RGB, 8, false, gradient));
    write_file(dir / "a.kvs", "image 300 300 6300 4300 big.png\n");
    const std::string plot_args =
        "plot '" + (dir / "a.kvs").string() + "' --settings '" + store() + "' --image-memory ";
    auto r = run(plot_args + "1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sha256_of(dir / "a.prn"),
              "7d7ba116ed414fb99c93dcc170df55937fb0d6718e46ca3a7c5a4917ea20c1cf");
    EXPECT_EQ(store_files_in(dir), 0);

    // A job named without a folder keeps its store beside it too, in the current
    // folder, not in the system's temporary folder (here /proc, where no file can be
    // created).
    r = run("plot a.kvs -o rel.prn --settings '" + store() + "' --image-memory 1",
            "cd '" + dir.string() + "' && TMPDIR=/proc ");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sha256_of(dir / "rel.prn"),
              "7d7ba116ed414fb99c93dcc170df55937fb0d6718e46ca3a7c5a4917ea20c1cf");
    EXPECT_EQ(store_files_in(dir), 0);

    // Data damaged far into the file: found while the store is filled.
    std::string png = slurp(dir / "big.png");
    for (size_t i = png.size() / 2; i < png.size() / 2 + 64; ++i)
        png[i] = static_cast<char>(~png[i]);
    write_file(dir / "big.png", png);
    fs::remove(dir / "a.prn");
    r = run(plot_args + "1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a.kvs:1: image " + (dir / "big.png").string() + " cannot be decoded"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "a.prn"));
    EXPECT_EQ(store_files_in(dir), 0);

    r = run(plot_args + "0");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--image-memory takes whole megabytes"), std::string::npos) << r.err;
}

TEST_F(Image, ImagesOverTheWorkBoundAreRefusedAtTheirLineBeforeDecoding) {
    settings(1, 0x0100);
    // A header of 60000 x 60000 pixels followed by data that cannot be decoded: the
    // refusal must come from the header alone, so the damage is never met.
    std::FILE* f = std::fopen((dir / "huge.png").c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 60000, 60000, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_flush(png);
    png_destroy_write_struct(&png, &info);
    std::fwrite("\0\0\0\x08IDAT\x78\x9c\xff\xff\xff\xff\xff\xff\0\0\0\0", 1, 20, f);
    std::fclose(f);
    auto r = plot("move 1 1\n\nimage 0 0 1000 1000 huge.png\ndraw 2 2\n");
    EXPECT_EQ(r.status, 2);
    // E-arch, 48 x 36 in, is the largest sheet: 28800 x 21600 pixels at 600 dpi.
    EXPECT_NE(r.err.find("a.kvs:3: image " + (dir / "huge.png").string() +
                         " is 60000 x 60000 pixels (3600 million), more than the 2488 million"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("cannot be decoded"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "a.prn"));
}

} // namespace

#endif
