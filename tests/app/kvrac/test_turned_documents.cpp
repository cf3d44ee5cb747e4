// Portrait raster documents across a landscape area: each plotted turned a quarter
// anticlockwise, so its job is byte for byte the job of a landscape file holding the
// same pixels turned by the test itself (and, for a TIFF, its two resolutions swapped),
// plotted as it stands. Across a portrait area the same file is not turned.
#include <gtest/gtest.h>

#if defined(KVRAC_HAVE_IMAGE_FORMATS) && defined(KVRAC_HAVE_PNG) && defined(KVRAC_HAVE_TIFF)

#include <string>

#include "support/image_files.h"
#include "support/kvrac_runner.h"

namespace {

class TurnedDocuments : public Kvrac {
  protected:
    // The job of `kvrac plot file` fitted to an area ("4x3" in), or "" when it fails.
    std::string job_of(const std::string& name, const std::string& area = "4x3",
                       const std::string& options = "") {
        const fs::path out = dir / (name + "-" + area + ".prn");
        fs::remove(out);
        const run_result r = run("plot '" + (dir / name).string() + "' --area " + area + " -o '" +
                                 out.string() + "' --settings '" + store() + "' " + options);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        return r.status == 0 ? slurp(out) : "";
    }
};

// Pixel (x, y) of a w-wide portrait original, seen in its turned image at (X, Y): the
// original's right edge is the turned image's top row.
sample_fn turned(const sample_fn& original, int w) {
    return [original, w](int X, int Y, uint16_t* s) { original(w - 1 - Y, X, s); };
}

void colour(int x, int y, uint16_t* s) {
    s[0] = static_cast<uint16_t>((x * 7 + y) % 256);
    s[1] = static_cast<uint16_t>((y * 3 + 40) % 256);
    s[2] = static_cast<uint16_t>((x ^ y) % 256);
}

TEST_F(TurnedDocuments, PortraitPngIsTurnedAcrossALandscapeArea) {
    // 1.3 MB of decoded pixels: with --image-memory 1 the turned image is stored in a
    // temporary file, with the default budget in memory; the job is the same.
    const int w = 620, h = 700;
    ASSERT_TRUE(
        write_png_file((dir / "portrait.png").string(), {w, h, PNG_COLOR_TYPE_RGB, 8, colour}));
    ASSERT_TRUE(write_png_file((dir / "landscape.png").string(),
                               {h, w, PNG_COLOR_TYPE_RGB, 8, turned(colour, w)}));
    const std::string doc = job_of("portrait.png");
    ASSERT_FALSE(doc.empty());
    const std::string landscape = job_of("landscape.png");
    EXPECT_TRUE(doc == landscape) << "not the landscape file's job";
    EXPECT_TRUE(job_of("portrait.png", "4x3", "--image-memory 1") == landscape)
        << "not the landscape file's job through a temporary file";
    // Across a portrait area it stands as it is: fitted larger than the turned
    // landscape file would be there, so the two jobs differ.
    EXPECT_FALSE(job_of("portrait.png", "3x4") == job_of("landscape.png", "3x4"));
}

TEST_F(TurnedDocuments, PortraitG4ScanIsTurnedWithItsResolutionsSwapped) {
    // 1 x 1.3 in: 100 pixels at 100 dpi across, 260 at 200 dpi down.
    const int w = 100, h = 260;
    const sample_fn scan = [](int x, int y, uint16_t* s) {
        s[0] = x < 3 || y < 3 || (x + y / 2) % 9 == 0 || x * 13 == y * 5 ? 1 : 0; // 1 = black
    };
    tiff_page page;
    page.w = w, page.h = h;
    page.bits = 1, page.samples = 1, page.photometric = PHOTOMETRIC_MINISWHITE;
    page.compression = COMPRESSION_CCITTFAX4;
    page.xres = 100, page.yres = 200;
    page.pixel = scan;
    ASSERT_TRUE(write_tiff_file((dir / "portrait.tif").string(), {page}));
    tiff_page across = page;
    across.w = h, across.h = w;
    across.xres = 200, across.yres = 100;
    across.pixel = turned(scan, w);
    ASSERT_TRUE(write_tiff_file((dir / "landscape.tif").string(), {across}));
    const std::string doc = job_of("portrait.tif");
    ASSERT_FALSE(doc.empty());
    EXPECT_TRUE(doc == job_of("landscape.tif")) << "not the landscape file's job";
}

#if __has_include(<jpeglib.h>)
TEST_F(TurnedDocuments, PortraitJpegIsTurnedAsItsDecodedPixels) {
    // Blocks of 8 x 8 of one colour at quality 100 decode to exactly their samples, so
    // a PNG of the same samples turned holds the JPEG's pixels turned.
    const int w = 96, h = 200;
    const sample_fn blocks = [](int x, int y, uint16_t* s) {
        const int bx = x / 8, by = y / 8;
        s[0] = static_cast<uint16_t>((bx * 37 + by * 11) % 256);
        s[1] = static_cast<uint16_t>((bx * 5 + by * 71) % 256);
        s[2] = static_cast<uint16_t>((bx * by * 13 + 40) % 256);
    };
    ASSERT_TRUE(
        write_jpeg_file((dir / "portrait.jpg").string(), {w, h, JCS_RGB, 100, false, blocks}));
    ASSERT_TRUE(write_png_file((dir / "landscape.png").string(),
                               {h, w, PNG_COLOR_TYPE_RGB, 8, turned(blocks, w)}));
    const std::string doc = job_of("portrait.jpg");
    ASSERT_FALSE(doc.empty());
    EXPECT_TRUE(doc == job_of("landscape.png")) << "not the turned PNG's job";
}
#endif

} // namespace
#endif
