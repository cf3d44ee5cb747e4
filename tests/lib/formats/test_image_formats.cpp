// The TIFF and JPEG sources on their own: what they report of a file, the rows they
// deliver against the pixels written, starting again, kinds they refuse, and libtiff's
// messages kept with the source they belong to.
#include <gtest/gtest.h>

#if defined(KVRAC_HAVE_IMAGE_FORMATS) && defined(KVRAC_HAVE_TIFF)

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "formats/image_formats.h"
#include "support/image_files.h"

namespace fs = std::filesystem;

namespace {

class Sources : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        image_formats_register();
        dir = fs::temp_directory_path() /
              ("kvrac-formats-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }

    static std::unique_ptr<image_source> open(const std::string& file, int32_t page = 1) {
        image_open_options options;
        options.page = page;
        std::string why;
        auto s = open_image_source(file, options, &why);
        EXPECT_TRUE(s) << file << ": " << why;
        return s;
    }
    static std::string refusal(const std::string& file, int32_t page = 1) {
        image_open_options options;
        options.page = page;
        std::string why;
        EXPECT_FALSE(open_image_source(file, options, &why)) << file;
        return why;
    }
};

// Every row of s, colour pixels compared with want(x, y, rgb), counting mismatches over
// tolerance.
int wrong_pixels(image_source& s, const std::function<void(int, int, uint8_t*)>& want,
                 int tolerance = 0) {
    int wrong = 0, rows = 0;
    image_row row;
    for (int got; (got = s.next(&row)) == 1; ++rows) {
        EXPECT_EQ(row.y, rows);
        for (int x = 0; x < row.count; ++x) {
            uint8_t rgb[3];
            want(x, row.y, rgb);
            for (int c = 0; c < 3; ++c)
                wrong += std::abs(row.pixels[3 * x + c] - rgb[c]) > tolerance;
        }
    }
    EXPECT_EQ(rows, s.info().height) << s.error();
    return wrong;
}

TEST_F(Sources, ResolutionPagesAndKindComeFromTheFile) {
    tiff_page scan;
    scan.w = 33, scan.h = 20, scan.bits = 1, scan.samples = 1;
    scan.photometric = PHOTOMETRIC_MINISWHITE, scan.compression = COMPRESSION_CCITTFAX4;
    scan.xres = 400, scan.yres = 200;
    scan.pixel = [](int x, int y, uint16_t* s) { s[0] = (x + y) % 2; };
    tiff_page metric = scan;
    metric.bits = 8, metric.compression = COMPRESSION_NONE;
    metric.res_unit = RESUNIT_CENTIMETER, metric.xres = 118.11f, metric.yres = 236.22f;
    ASSERT_TRUE(write_tiff_file(path("two.tif"), {scan, metric}));
    auto s = open(path("two.tif"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->info().format, "TIFF");
    EXPECT_EQ(s->info().pages, 2);
    EXPECT_TRUE(s->info().mono);
    EXPECT_DOUBLE_EQ(s->info().dpi_x, 400);
    EXPECT_DOUBLE_EQ(s->info().dpi_y, 200);
    s = open(path("two.tif"), 2);
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->info().mono);
    EXPECT_NEAR(s->info().dpi_x, 300, 0.01);
    EXPECT_NEAR(s->info().dpi_y, 600, 0.01);

#if __has_include(<jpeglib.h>)
    jpeg_file photo(16, 8, JCS_YCbCr, 90, false,
                    [](int, int, uint16_t* s) { s[0] = s[1] = s[2] = 9; });
    photo.density_unit = 2, photo.x_density = 59, photo.y_density = 118; // dots per cm
    ASSERT_TRUE(write_jpeg_file(path("p.jpg"), photo));
    s = open(path("p.jpg"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->info().format, "JPEG");
    EXPECT_FALSE(s->info().mono);
    EXPECT_NEAR(s->info().dpi_x, 149.86, 0.01);
    EXPECT_NEAR(s->info().dpi_y, 299.72, 0.01);
#endif
}

TEST_F(Sources, TiledGreyOfFewBitsReadsItsPixelsAndStartsAgain) {
    // 2- and 4-bit grey, white at 0, in tiles of 16 that do not divide the image.
    for (uint16_t bits : {2, 4}) {
        tiff_page p;
        p.w = 70, p.h = 37, p.bits = bits, p.samples = 1, p.tile = 16;
        p.photometric = PHOTOMETRIC_MINISWHITE, p.compression = COMPRESSION_LZW;
        const unsigned top = (1u << bits) - 1;
        p.pixel = [top](int x, int y, uint16_t* s) {
            s[0] = static_cast<uint16_t>((x * 3 + y) % (top + 1));
        };
        ASSERT_TRUE(write_tiff_file(path("t.tif"), {p}));
        const auto want = [top](int x, int y, uint8_t* rgb) {
            const unsigned v = (x * 3 + y) % (top + 1);
            rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(255 - v * 255 / top);
        };
        auto s = open(path("t.tif"));
        ASSERT_TRUE(s);
        EXPECT_EQ(wrong_pixels(*s, want), 0) << bits;
        image_row row;
        EXPECT_EQ(s->next(&row), 0);
        // Part way through, then again from the top: one more decode, the same rows.
        ASSERT_EQ(s->rewind(), 0);
        for (int i = 0; i < 20; ++i) ASSERT_EQ(s->next(&row), 1);
        const uint64_t before = image_decodes();
        ASSERT_EQ(s->rewind(), 0);
        EXPECT_EQ(image_decodes(), before + 1);
        EXPECT_EQ(wrong_pixels(*s, want), 0) << bits;
    }
}

TEST_F(Sources, PremultipliedAlphaAndEightBitColourMapsBecomeColoursOverWhite) {
    tiff_page a;
    a.w = 9, a.h = 5, a.samples = 4, a.extra = EXTRASAMPLE_ASSOCALPHA;
    // Premultiplied: each colour at most its alpha.
    a.pixel = [](int x, int y, uint16_t* s) {
        s[3] = static_cast<uint16_t>(x * 30);
        s[0] = static_cast<uint16_t>(x * 30 * y / 4), s[1] = 0, s[2] = s[3];
    };
    ASSERT_TRUE(write_tiff_file(path("a.tif"), {a}));
    auto s = open(path("a.tif"));
    ASSERT_TRUE(s);
    EXPECT_EQ(wrong_pixels(*s,
                           [](int x, int y, uint8_t* rgb) {
                               const int alpha = x * 30;
                               rgb[0] = static_cast<uint8_t>(x * 30 * y / 4 + 255 - alpha);
                               rgb[1] = static_cast<uint8_t>(255 - alpha);
                               rgb[2] = 255;
                           }),
              0);

    // A colour map written with 8-bit values, as some writers do.
    tiff_page p;
    p.w = 6, p.h = 2, p.bits = 8, p.samples = 1, p.photometric = PHOTOMETRIC_PALETTE;
    p.colormap.assign(3 * 256, 0);
    for (int i = 0; i < 256; ++i)
        p.colormap[i] = static_cast<uint16_t>(i), p.colormap[512 + i] = 255;
    p.pixel = [](int x, int y, uint16_t* s) { s[0] = static_cast<uint16_t>(x * 40 + y); };
    ASSERT_TRUE(write_tiff_file(path("p.tif"), {p}));
    s = open(path("p.tif"));
    ASSERT_TRUE(s);
    EXPECT_EQ(wrong_pixels(*s,
                           [](int x, int y, uint8_t* rgb) {
                               rgb[0] = static_cast<uint8_t>(x * 40 + y), rgb[1] = 0, rgb[2] = 255;
                           }),
              0);
}

TEST_F(Sources, JpegCompressedColourTiffReadsAsRgb) {
    // YCbCr with chroma at half resolution, in strips and in tiles: lossy, so close.
    const auto smooth = [](int x, int y, uint16_t* s) {
        s[0] = static_cast<uint16_t>(40 + x), s[1] = static_cast<uint16_t>(200 - y);
        s[2] = static_cast<uint16_t>(100 + (x + y) / 4);
    };
    for (uint32_t tile : {0u, 32u}) {
        const std::string name = path(tile ? "tiled.tif" : "striped.tif");
        TIFF* t = TIFFOpen(name.c_str(), "w");
        ASSERT_TRUE(t);
        const uint32_t w = 100, h = 70;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        std::vector<std::vector<uint8_t>> rows;
        for (uint32_t y = 0; y < h; ++y)
            rows.push_back(pack_row(static_cast<int>(w), static_cast<int>(y), 3, 8, false, smooth));
        if (tile) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, tile);
            TIFFSetField(t, TIFFTAG_TILELENGTH, tile);
            std::vector<uint8_t> buf(static_cast<size_t>(TIFFTileSize(t)));
            for (uint32_t ty = 0; ty < h; ty += tile)
                for (uint32_t tx = 0; tx < w; tx += tile) {
                    for (uint32_t r = 0; r < tile; ++r)
                        for (uint32_t c = 0; c < tile * 3; ++c) {
                            const uint32_t y = std::min(ty + r, h - 1),
                                           x = std::min(tx + c / 3, w - 1);
                            buf[(r * tile) * 3 + c] = rows[y][x * 3 + c % 3];
                        }
                    ASSERT_GE(TIFFWriteTile(t, buf.data(), tx, ty, 0, 0), 0);
                }
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16u);
            for (uint32_t y = 0; y < h; ++y)
                ASSERT_GE(TIFFWriteScanline(t, rows[y].data(), y, 0), 0);
        }
        TIFFClose(t);
        auto s = open(name);
        ASSERT_TRUE(s);
        EXPECT_EQ(wrong_pixels(
                      *s,
                      [&](int x, int y, uint8_t* rgb) {
                          uint16_t v[3];
                          smooth(x, y, v);
                          for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(v[c]);
                      },
                      6),
                  0)
            << name;
    }
}

TEST_F(Sources, KindsNotReadAreRefusedWithTheReason) {
    tiff_page p;
    p.w = 8, p.h = 8, p.pixel = [](int, int, uint16_t* s) { s[0] = s[1] = s[2] = s[3] = 1; };
    tiff_page cmyk = p;
    cmyk.samples = 4, cmyk.photometric = PHOTOMETRIC_SEPARATED;
    ASSERT_TRUE(write_tiff_file(path("cmyk.tif"), {cmyk}));
    EXPECT_NE(refusal(path("cmyk.tif")).find("TIFF page 1 is in colour model 5"),
              std::string::npos);
    tiff_page deep = p;
    deep.bits = 4; // 4-bit RGB
    ASSERT_TRUE(write_tiff_file(path("deep.tif"), {deep}));
    EXPECT_NE(refusal(path("deep.tif")).find("4-bit samples"), std::string::npos);
    {
        TIFF* t = TIFFOpen(path("planes.tif").c_str(), "w");
        ASSERT_TRUE(t);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4u);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1u);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
        uint8_t plane[4] = {1, 2, 3, 4};
        for (uint16_t c = 0; c < 3; ++c) TIFFWriteScanline(t, plane, 0, c);
        TIFFClose(t);
    }
    EXPECT_NE(refusal(path("planes.tif")).find("stores its colour planes separately"),
              std::string::npos);
}

// Makes strip n of the first image of a little-endian TIFF file claim more bytes than
// the file holds, by editing the entry of its byte counts in place.
bool claim_more_bytes(const std::string& file, int n) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(f)), {});
    const auto u16 = [&](size_t at) {
        return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8;
    };
    const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (b.size() < 8 || b[0] != 'I') return false;
    const size_t ifd = u32(4);
    for (uint32_t i = 0, count = u16(ifd); i < count; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        if (u16(e) != TIFFTAG_STRIPBYTECOUNTS) continue;
        const bool shorts = u16(e + 2) == 3;
        const size_t at = u32(e + 8) + (shorts ? 2 : 4) * static_cast<size_t>(n);
        b[at] = b[at + 1] = '\xFF';
        if (!shorts) b[at + 2] = '\x7F';
        f.seekp(0);
        f.write(b.data(), static_cast<std::streamsize>(b.size()));
        return static_cast<bool>(f);
    }
    return false;
}

TEST_F(Sources, LibtiffMessagesStayWithTheirOwnSource) {
    // Two files whose strips end beyond the end of the file, at different strips; read
    // from two threads at once, each source reports its own strip and libtiff's words.
    for (int k = 0; k < 2; ++k) {
        tiff_page p;
        p.w = 64, p.h = 64, p.bits = 8, p.samples = 1, p.photometric = PHOTOMETRIC_MINISBLACK;
        p.rows_per_strip = 8;
        p.pixel = [](int x, int y, uint16_t* s) { s[0] = static_cast<uint16_t>(x ^ y); };
        const std::string name = path(k == 0 ? "a.tif" : "b.tif");
        ASSERT_TRUE(write_tiff_file(name, {p}));
        ASSERT_TRUE(claim_more_bytes(name, k == 0 ? 2 : 5)) << name;
    }
    std::string errors[2];
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; ++k)
        threads.emplace_back([&, k] {
            for (int round = 0; round < 50; ++round) {
                image_open_options options;
                std::string why;
                auto s = open_image_source(path(k == 0 ? "a.tif" : "b.tif"), options, &why);
                if (!s) {
                    errors[k] = "not opened: " + why;
                    return;
                }
                image_row row;
                int got;
                while ((got = s->next(&row)) == 1) {
                }
                const std::string strip = k == 0 ? "strip 2: " : "strip 5: ";
                if (got != -1) {
                    errors[k] = "read to the end without an error";
                    return;
                }
                if (s->error().find(strip) == std::string::npos ||
                    s->error().find("strip " + std::to_string(k == 0 ? 5 : 2)) !=
                        std::string::npos) {
                    errors[k] = s->error();
                    return;
                }
                errors[k] = "";
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(errors[0], "");
    EXPECT_EQ(errors[1], "");
}

#if __has_include(<jpeglib.h>)
TEST_F(Sources, LossyJpegColourSpacesDecodeCloseToTheirPixels) {
    // YCbCr with chroma at half resolution, and YCCK (CMYK as prepress tools store it,
    // inks inverted, 255 = no ink): lossy, but smooth colours come back within a few
    // steps of what was written.
    const auto smooth = [](int x, int y, uint16_t* s) {
        s[0] = static_cast<uint16_t>(40 + x), s[1] = static_cast<uint16_t>(200 - y);
        s[2] = static_cast<uint16_t>(100 + (x + y) / 4), s[3] = static_cast<uint16_t>(255 - y / 2);
    };
    jpeg_file photo(120, 90, JCS_YCbCr, 95, false, smooth);
    ASSERT_TRUE(write_jpeg_file(path("s.jpg"), photo));
    auto s = open(path("s.jpg"));
    ASSERT_TRUE(s);
    EXPECT_EQ(wrong_pixels(
                  *s,
                  [&](int x, int y, uint8_t* rgb) {
                      uint16_t v[4];
                      smooth(x, y, v);
                      for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(v[c]);
                  },
                  6),
              0);
    jpeg_file print(120, 90, JCS_YCCK, 95, false, smooth);
    ASSERT_TRUE(write_jpeg_file(path("k.jpg"), print));
    s = open(path("k.jpg"));
    ASSERT_TRUE(s);
    EXPECT_EQ(wrong_pixels(
                  *s,
                  [&](int x, int y, uint8_t* rgb) {
                      uint16_t v[4];
                      smooth(x, y, v);
                      for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(v[c] * v[3] / 255);
                  },
                  6),
              0);
}
#endif

} // namespace

#endif
