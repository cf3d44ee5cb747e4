// TIFF and JPEG images in plot scripts: the same pixels as a PNG give the same job
// bytes, on rotated and unrotated sheets; bad files stop the plot with the file, the
// page and what is wrong, and leave no job.
#include <gtest/gtest.h>

#if defined(KVRAC_HAVE_IMAGE_FORMATS) && defined(KVRAC_HAVE_PNG) && defined(KVRAC_HAVE_TIFF)

#include <string>
#include <vector>

#include "support/image_files.h"
#include "support/kvrac_runner.h"

namespace {

class ImageFormats : public Kvrac {
  protected:
    // Configures the store with a sheet format at 600 dpi.
    void sheet(int format) {
        ASSERT_EQ(run("config --settings '" + store() + "'").status, 0);
        std::string s = slurp(store());
        s[4] = static_cast<char>(format);
        s[30] = 0x00;
        s[31] = 0x01;
        write_file(store(), s);
    }
    run_result plot(const std::string& script) {
        fs::remove(dir / "a.prn");
        write_file(dir / "a.kvs", script);
        return run("plot '" + (dir / "a.kvs").string() + "' --settings '" + store() + "'");
    }
    // The job of one image line placing file on the sheet set, or "" when it fails.
    std::string job_of(const std::string& file, const std::string& options = "") {
        auto r = plot("image 500 700 3502 2953 " + file + options + "\n");
        EXPECT_EQ(r.status, 0) << file << ": " << r.err;
        return r.status == 0 ? slurp(dir / "a.prn") : "";
    }
    std::string path(const char* name) const { return (dir / name).string(); }
};

// Sheet formats: 1 (E-arch) is rotated, 23 (a length of the 914 mm roll) is not.
constexpr int sheets[] = {1, 23};

bool mono_black(int x, int y) {
    return (x / 3 + y / 2) % 5 == 0 || (x * x + y) % 13 == 0;
}

void rgb(int x, int y, uint16_t* s) {
    s[0] = static_cast<uint8_t>(x * 7 + y);
    s[1] = static_cast<uint8_t>(y * 5 - x);
    s[2] = static_cast<uint8_t>((x ^ y) * 3);
}

TEST_F(ImageFormats, TiffOfEveryKindPlotsAsThePngOfTheSamePixels) {
    const int w = 203, h = 157;
    // PNG references.
    png_file mono{w, h, PNG_COLOR_TYPE_GRAY, 1,
                  [](int x, int y, uint16_t* s) { s[0] = mono_black(x, y) ? 0 : 1; }};
    png_file grey{w, h, PNG_COLOR_TYPE_GRAY, 8,
                  [](int x, int y, uint16_t* s) { s[0] = static_cast<uint8_t>(x * 5 + y * 3); }};
    png_file colour{w, h, PNG_COLOR_TYPE_RGB, 8, rgb};
    // 16-bit samples whose low bytes differ from their high bytes.
    const sample_fn wide = [](int x, int y, uint16_t* s) {
        for (int c = 0; c < 3; ++c) s[c] = static_cast<uint16_t>(x * 331 + y * 97 + c * 7919);
    };
    png_file colour16{w, h, PNG_COLOR_TYPE_RGB, 16, wide};
    const sample_fn rgba = [](int x, int y, uint16_t* s) {
        rgb(x, y, s);
        s[3] = static_cast<uint16_t>((x + y) % 4 == 0 ? 0 : (x * 9 + y) % 256);
    };
    png_file alpha{w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, rgba};
    const sample_fn grey_alpha = [](int x, int y, uint16_t* s) {
        s[0] = static_cast<uint8_t>(x * 5 + y * 3);
        s[1] = static_cast<uint8_t>(x * y % 3 == 0 ? 0 : 200 + x % 50);
    };
    png_file grey_a{w, h, PNG_COLOR_TYPE_GRAY_ALPHA, 8, grey_alpha};
    const sample_fn index = [](int x, int y, uint16_t* s) { s[0] = (x / 4 + y / 3) % 6; };
    png_file pal{w, h, PNG_COLOR_TYPE_PALETTE, 4, index};
    pal.palette = {{0, 0, 0},       {255, 0, 0},   {0, 128, 255},
                   {200, 200, 200}, {10, 250, 10}, {9, 8, 7}};
    std::vector<uint16_t> colormap(48, 0);
    for (size_t i = 0; i < pal.palette.size(); ++i) {
        colormap[i] = static_cast<uint16_t>(pal.palette[i].red * 257);
        colormap[16 + i] = static_cast<uint16_t>(pal.palette[i].green * 257);
        colormap[32 + i] = static_cast<uint16_t>(pal.palette[i].blue * 257);
    }
    for (const auto& [name, p] : {std::pair{"mono.png", mono},
                                  {"grey.png", grey},
                                  {"rgb.png", colour},
                                  {"rgb16.png", colour16},
                                  {"rgba.png", alpha},
                                  {"ga.png", grey_a},
                                  {"pal.png", pal}})
        ASSERT_TRUE(write_png_file(path(name), p)) << name;

    // The same pixels as TIFF, in the compressions and layouts files come in.
    const auto page = [&](uint16_t bits, uint16_t samples, uint16_t photometric,
                          uint16_t compression, sample_fn pixel) {
        tiff_page p;
        p.w = w, p.h = h, p.bits = bits, p.samples = samples, p.photometric = photometric;
        p.compression = compression;
        p.pixel = std::move(pixel);
        return p;
    };
    const sample_fn white_is_0 = [](int x, int y, uint16_t* s) { s[0] = mono_black(x, y); };
    tiff_page g4 = page(1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, white_is_0);
    tiff_page g3 = page(1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3, white_is_0);
    tiff_page mono_lzw = page(1, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, mono.pixel);
    mono_lzw.fill_order = FILLORDER_LSB2MSB; // bits stored least significant first
    mono_lzw.rows_per_strip = 10;
    tiff_page mono_tiled = page(1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_PACKBITS, white_is_0);
    mono_tiled.tile = 64;
    tiff_page grey_deflate =
        page(8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, grey.pixel);
    tiff_page grey_inverted =
        page(8, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, [](int x, int y, uint16_t* s) {
            s[0] = static_cast<uint8_t>(255 - static_cast<uint8_t>(x * 5 + y * 3));
        });
    tiff_page rgb_lzw = page(8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, rgb);
    rgb_lzw.rows_per_strip = 16;
    tiff_page rgb_tiled = page(8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, rgb);
    rgb_tiled.tile = 48;
    tiff_page rgb16 = page(16, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, wide);
    tiff_page rgba_tiff = page(8, 4, PHOTOMETRIC_RGB, COMPRESSION_PACKBITS, rgba);
    rgba_tiff.extra = EXTRASAMPLE_UNASSALPHA;
    tiff_page ga_tiff = page(8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, grey_alpha);
    ga_tiff.extra = EXTRASAMPLE_UNASSALPHA;
    tiff_page pal_tiff = page(4, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW, index);
    pal_tiff.colormap = colormap;

    const struct {
        const char* tiff;
        tiff_page page;
        const char* png;
    } cases[] = {
        {"g4.tif", g4, "mono.png"},
        {"g3.tif", g3, "mono.png"},
        {"mono-lzw.tif", mono_lzw, "mono.png"},
        {"mono-tiled.tif", mono_tiled, "mono.png"},
        {"grey.tif", grey_deflate, "grey.png"},
        {"grey-inv.tif", grey_inverted, "grey.png"},
        {"rgb.tif", rgb_lzw, "rgb.png"},
        {"rgb-tiled.tif", rgb_tiled, "rgb.png"},
        {"rgb16.tif", rgb16, "rgb16.png"},
        {"rgba.tif", rgba_tiff, "rgba.png"},
        {"ga.tif", ga_tiff, "ga.png"},
        {"pal.tif", pal_tiff, "pal.png"},
    };
    for (const auto& c : cases) ASSERT_TRUE(write_tiff_file(path(c.tiff), {c.page})) << c.tiff;

    for (int format : sheets) {
        sheet(format);
        for (const auto& c : cases) {
            const std::string expected = job_of(c.png);
            ASSERT_NE(expected.find("IW"), std::string::npos);
            EXPECT_TRUE(job_of(c.tiff) == expected) << "format " << format << ": " << c.tiff;
        }
    }
}

TEST_F(ImageFormats, PageTwoOfAMultiPageTiffIsItsSecondImage) {
    const int w = 120, h = 90;
    std::vector<tiff_page> scans, photos;
    for (int n = 0; n < 3; ++n) {
        tiff_page p;
        p.w = w, p.h = h, p.bits = 1, p.samples = 1, p.photometric = PHOTOMETRIC_MINISWHITE;
        p.compression = COMPRESSION_CCITTFAX4;
        p.pixel = [n](int x, int y, uint16_t* s) { s[0] = mono_black(x + 7 * n, y); };
        scans.push_back(p);
        tiff_page q;
        q.w = w + n, q.h = h, q.compression = COMPRESSION_LZW;
        q.pixel = [n](int x, int y, uint16_t* s) { rgb(x + 40 * n, y, s); };
        photos.push_back(q);
    }
    ASSERT_TRUE(write_tiff_file(path("scans.tif"), scans));
    ASSERT_TRUE(write_tiff_file(path("photos.tif"), photos));
    ASSERT_TRUE(write_png_file(path("scan2.png"),
                               {w, h, PNG_COLOR_TYPE_GRAY, 1,
                                [](int x, int y, uint16_t* s) { s[0] = !mono_black(x + 7, y); }}));
    ASSERT_TRUE(
        write_png_file(path("photo2.png"), {w + 1, h, PNG_COLOR_TYPE_RGB, 8,
                                            [](int x, int y, uint16_t* s) { rgb(x + 40, y, s); }}));
    for (int format : sheets) {
        sheet(format);
        const std::string scan = job_of("scans.tif", " page 2");
        EXPECT_TRUE(scan == job_of("scan2.png")) << format;
        EXPECT_FALSE(scan == job_of("scans.tif")) << "page 1 is another image";
        EXPECT_TRUE(job_of("photos.tif", " page 2") == job_of("photo2.png")) << format;
    }
}

#if __has_include(<jpeglib.h>)

// Blocks of 8 x 8 pixels of one colour each, stored at quality 100 with every
// component at full resolution: libjpeg decodes them to exactly the stored values.
void blocks(int x, int y, uint16_t* s) {
    const int bx = x / 8, by = y / 8;
    s[0] = static_cast<uint16_t>((bx * 37 + by * 11) % 256);
    s[1] = static_cast<uint16_t>((bx * 5 + by * 71) % 256);
    s[2] = static_cast<uint16_t>((bx * by * 13 + 40) % 256);
    s[3] = static_cast<uint16_t>((bx + by) % 3 * 100 + 20);
}

TEST_F(ImageFormats, JpegOfEveryColourSpacePlotsAsThePngOfItsPixels) {
    const int w = 85, h = 61; // partial blocks at the right and bottom edges
    ASSERT_TRUE(write_jpeg_file(path("rgb.jpg"), {w, h, JCS_RGB, 100, false, blocks}));
    ASSERT_TRUE(write_jpeg_file(path("prog.jpg"), {w, h, JCS_RGB, 100, true, blocks}));
    ASSERT_TRUE(write_jpeg_file(path("grey.jpg"), {w, h, JCS_GRAYSCALE, 100, false, blocks}));
    // CMYK as prepress tools write it: an Adobe marker, inks inverted (255 = no ink).
    ASSERT_TRUE(write_jpeg_file(path("cmyk.jpg"), {w, h, JCS_CMYK, 100, false, blocks}));
    ASSERT_TRUE(write_png_file(path("rgb.png"), {w, h, PNG_COLOR_TYPE_RGB, 8, blocks}));
    ASSERT_TRUE(write_png_file(path("grey.png"), {w, h, PNG_COLOR_TYPE_GRAY, 8, blocks}));
    ASSERT_TRUE(write_png_file(path("cmyk.png"),
                               {w, h, PNG_COLOR_TYPE_RGB, 8, [](int x, int y, uint16_t* s) {
                                    uint16_t ink[4];
                                    blocks(x, y, ink);
                                    for (int c = 0; c < 3; ++c)
                                        s[c] = static_cast<uint16_t>((ink[c] * ink[3] + 127) / 255);
                                }}));
    for (int format : sheets) {
        sheet(format);
        const std::string colour = job_of("rgb.png");
        EXPECT_TRUE(job_of("rgb.jpg") == colour) << format;
        EXPECT_TRUE(job_of("prog.jpg") == colour) << format;
        EXPECT_TRUE(job_of("grey.jpg") == job_of("grey.png")) << format;
        EXPECT_TRUE(job_of("cmyk.jpg") == job_of("cmyk.png")) << format;
    }
}

#endif

TEST_F(ImageFormats, BadFilesStopThePlotWithFileAndPageAndWriteNoJob) {
    sheet(23);
    // Three pages of a striped scan whose second page has a strip of garbage.
    std::vector<tiff_page> pages;
    for (int n = 0; n < 3; ++n) {
        tiff_page p;
        p.w = 300, p.h = 200, p.bits = 1, p.samples = 1, p.photometric = PHOTOMETRIC_MINISWHITE;
        p.compression = COMPRESSION_CCITTFAX4;
        p.rows_per_strip = 50;
        p.pixel = [](int x, int y, uint16_t* s) { s[0] = mono_black(x, y); };
        pages.push_back(p);
    }
    ASSERT_TRUE(write_tiff_file(path("scans.tif"), pages));
    {
        TIFF* t = TIFFOpen(path("scans.tif").c_str(), "r");
        ASSERT_TRUE(t);
        ASSERT_TRUE(TIFFSetDirectory(t, 1));
        uint64_t* offsets = nullptr;
        uint64_t* counts = nullptr;
        ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));
        ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts));
        const uint64_t at = offsets[2], n = counts[2];
        TIFFClose(t);
        std::string bytes = slurp(path("scans.tif"));
        for (uint64_t i = 0; i < n; ++i) bytes[at + i] = static_cast<char>(i * 37 + 0x5A);
        write_file(path("broken.tif"), bytes);
    }
    // A width beyond 2^20 pixels.
    tiff_page wide;
    wide.w = (1 << 20) + 1, wide.h = 1, wide.bits = 1, wide.samples = 1;
    wide.photometric = PHOTOMETRIC_MINISWHITE, wide.compression = COMPRESSION_CCITTFAX4;
    wide.pixel = [](int, int, uint16_t* s) { s[0] = 0; };
    ASSERT_TRUE(write_tiff_file(path("wide.tif"), {wide}));
    std::string bad_tiff = slurp(path("scans.tif")).substr(0, 5);
    write_file(path("stub.tif"), bad_tiff);

    const struct {
        const char* line;
        const char* message;
    } bad[] = {
        {"scans.tif page 4", "scans.tif: the TIFF file holds 3 pages, not page 4"},
        {"broken.tif page 2", "broken.tif cannot be decoded: TIFF page 2 has a broken strip 2"},
        {"wide.tif", "wide.tif: TIFF page 1 has an impossible size of 1048577 x 1 pixels"},
        {"stub.tif", "stub.tif: damaged TIFF file"},
    };
    for (const auto& b : bad) {
        auto r = plot(std::string("move 1 1\nimage 0 0 1000 1000 ") + b.line + "\ndraw 2 2\n");
        EXPECT_EQ(r.status, 2) << b.line;
        EXPECT_NE(r.err.find("a.kvs:2: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
        // libtiff's own messages come only inside ours, never on their own lines.
        EXPECT_EQ(r.err.find("TIFFFillStrip"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Fax4Decode"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "a.prn")) << b.line;
    }
    // The undamaged pages of the damaged file still plot.
    EXPECT_EQ(plot("image 0 0 1000 1000 broken.tif page 3\n").status, 0);

#if __has_include(<jpeglib.h>)
    // Truncated JPEGs: a baseline file fails while its rows are decoded, a progressive
    // one as it is opened (libjpeg reads all its scans first).
    const auto noise = [](int x, int y, uint16_t* s) {
        for (int c = 0; c < 3; ++c) s[c] = static_cast<uint16_t>((x * 7919 + y * 104729 + c) % 251);
    };
    ASSERT_TRUE(write_jpeg_file(path("photo.jpg"), {300, 200, JCS_YCbCr, 90, false, noise}));
    ASSERT_TRUE(write_jpeg_file(path("prog.jpg"), {300, 200, JCS_YCbCr, 90, true, noise}));
    for (const char* name : {"photo.jpg", "prog.jpg"}) {
        const std::string whole = slurp(path(name));
        write_file(path("cut.jpg"), whole.substr(0, whole.size() * 6 / 10));
        auto r = plot("image 0 0 1000 1000 cut.jpg\n");
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_NE(r.err.find("a.kvs:1: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("cut.jpg"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("JPEG data ends early"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "a.prn")) << name;
        EXPECT_EQ(plot(std::string("image 0 0 1000 1000 ") + name + "\n").status, 0) << name;
    }
    auto r = plot("image 0 0 1000 1000 photo.jpg page 2\n");
    EXPECT_NE(r.err.find("photo.jpg: a JPEG file holds one image, not page 2"), std::string::npos)
        << r.err;
#endif
}

} // namespace

#endif
