// Documents plotted as they stand: each job compared byte for byte with the job of a
// plot script that places an independently made picture of the same pixels (pdftoppm's
// render of the page, cropped where the page is larger than the area), so placement
// (1:1, fitted, centred and cut) and the page's render are both checked.
#include <gtest/gtest.h>

#include <string>

#include "support/kvrac_runner.h"

#if KVRAC_HAVE_PDF && KVRAC_HAVE_CAIRO
#include "support/pdf_pages.h"

namespace {

class Documents : public Kvrac {
  protected:
    // Three pages: 4 x 3 in (the 4x3 area's size), 2 x 1 in, and 4.2 x 3 in (within
    // the tolerance of the area's size, but wider).
    std::string plan() {
        const std::string pdf = (dir / "plan.pdf").string();
        EXPECT_TRUE(
            write_pdf(pdf, {{288, 216, [](cairo_t* c) { draw_test_page(c, 288, 216); }},
                            {144, 72, [](cairo_t* c) { draw_test_page(c, 144, 72); }},
                            {302.4, 216, [](cairo_t* c) { draw_test_page(c, 302.4, 216); }}}));
        return pdf;
    }

    // pdftoppm's PNG of a page at dpi (with its crop window options), for a script.
    std::string reference(const std::string& pdf, int page, int dpi, const std::string& window,
                          const std::string& name) {
        const std::string cmd = "pdftoppm -q -aa no -aaVector no -png -singlefile -r " +
                                std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
                                std::to_string(page) + " " + window + " '" + pdf + "' '" +
                                (dir / name).string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return name + ".png";
    }

    // The job of a script of one image line on the 4x3 in area (plotter units).
    std::string script_job(const std::string& image_line) {
        write_file(dir / "ref.kvs", image_line + "\n");
        run_result r = run("plot " + (dir / "ref.kvs").string() + " --area 4x3 -o " +
                           (dir / "ref.prn").string() + " --settings " + store());
        EXPECT_EQ(r.status, 0) << r.err;
        return slurp(dir / "ref.prn");
    }

    run_result plot(const std::string& args) {
        return run("plot " + args + " --area 4x3 --settings " + store());
    }
};

TEST_F(Documents, PageOfTheAreasSizeLandsOneToOne) {
    const std::string pdf = plan();
    run_result r = plot(pdf + " -o " + (dir / "p1.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    // 600 dpi settings: 4 x 3 in at 600 dpi over 4064 x 3048 plotter units.
    const std::string png = reference(pdf, 1, 600, "", "r1");
    EXPECT_EQ(slurp(dir / "p1.prn"), script_job("image 0 0 4064 3048 " + png));
    // At 300 dpi (stored by the plot's dialog option), the page has 300 dpi's pixels.
    r = plot(pdf + " --resolution 300 -o " + (dir / "p300.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png300 = reference(pdf, 1, 300, "", "r300");
    EXPECT_EQ(slurp(dir / "p300.prn"), script_job("image 0 0 4064 3048 " + png300));
}

TEST_F(Documents, SmallerPageIsFittedAndRenderedAtTheSheetsDots) {
    const std::string pdf = plan();
    run_result r = plot(pdf + " --page 2 -o " + (dir / "p2.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    // 2 x 1 in fitted to 4 x 3 in: twice its size, so rendered at 1200 dpi.
    const std::string png = reference(pdf, 2, 1200, "", "r2");
    EXPECT_EQ(slurp(dir / "p2.prn"), script_job("image 0 0 4064 2032 " + png));
    // --center puts the fitted page in the middle of the area.
    r = plot(pdf + " --page 2 --center -o " + (dir / "c2.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "c2.prn"), script_job("image 0 508 4064 2540 " + png));
}

TEST_F(Documents, WiderPageOfTheSheetsSizeIsCentredAndCut) {
    const std::string pdf = plan();
    run_result r = plot(pdf + " --page 3 -o " + (dir / "p3.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 mm cut at the left edge"), std::string::npos) << r.err;
    // 4.2 in at 600 dpi is 2520 pixels; the middle 2400 of them fill the area.
    const std::string png = reference(pdf, 3, 600, "-x 60 -y 0 -W 2400 -H 1800", "r3");
    EXPECT_EQ(slurp(dir / "p3.prn"), script_job("image 0 0 4064 3048 " + png));
}

TEST_F(Documents, PortraitPageIsTurnedAcrossTheLandscapeArea) {
    if (std::system("command -v qpdf >/dev/null") != 0) GTEST_SKIP() << "qpdf is not installed";
    // 3 x 4 in on the 4 x 3 in area: turned a quarter anticlockwise, it is the area's size.
    const std::string pdf = (dir / "portrait.pdf").string();
    ASSERT_TRUE(write_pdf(pdf, {{216, 288, [](cairo_t* c) { draw_test_page(c, 216, 288); }}}));
    run_result r = plot(pdf + " -o " + (dir / "p.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string turned = (dir / "turned.pdf").string();
    ASSERT_EQ(std::system(("qpdf --rotate=-90 '" + pdf + "' '" + turned + "'").c_str()), 0);
    const std::string png = reference(turned, 1, 600, "", "rt");
    EXPECT_EQ(slurp(dir / "p.prn"), script_job("image 0 0 4064 3048 " + png));
}

TEST_F(Documents, EveryPageGoesToAJobOfItsOwn) {
    const std::string pdf = plan();
    run_result r = plot(pdf + " --pages all -o " + (dir / "all.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    for (int page = 1; page <= 3; ++page) {
        const std::string one = (dir / ("one" + std::to_string(page) + ".prn")).string();
        ASSERT_EQ(plot(pdf + " --page " + std::to_string(page) + " -o " + one).status, 0);
        const std::string each = slurp(dir / ("all-p" + std::to_string(page) + ".prn"));
        EXPECT_FALSE(each.empty());
        EXPECT_EQ(each, slurp(one)) << "page " << page;
    }
    EXPECT_FALSE(fs::exists(dir / "all.prn"));
    // One preview cannot show several jobs: refused before anything is plotted.
    r = plot(pdf + " --pages all -o " + (dir / "again.prn").string() + " --preview " +
             (dir / "p.png").string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--preview draws one job"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "again-p1.prn"));
}

TEST_F(Documents, BadFilesAndPagesNameTheFileAndWriteNoJob) {
    const std::string pdf = plan();
    const std::string job = (dir / "bad.prn").string();
    run_result r = plot(pdf + " --page 5 -o " + job);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(pdf + ": has 3 pages, not page 5"), std::string::npos) << r.err;

    write_file(dir / "damaged.pdf", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog\nxref\n0 9\ngarbage\n");
    r = plot((dir / "damaged.pdf").string() + " -o " + job);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("damaged.pdf: cannot be opened: damaged"), std::string::npos) << r.err;

    if (std::system("command -v qpdf >/dev/null") == 0) {
        const std::string locked = (dir / "locked.pdf").string();
        ASSERT_EQ(
            std::system(
                ("qpdf --encrypt secret owner 256 -- '" + pdf + "' '" + locked + "'").c_str()),
            0);
        r = plot(locked + " -o " + job);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("locked.pdf: is encrypted; "), std::string::npos) << r.err;
    }
    r = plot(pdf + " --rotate 90 -o " + job);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--rotate"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(job));
}

TEST_F(Documents, PdfPageInAScriptIsRenderedAtItsRectanglesDots) {
    const std::string pdf = plan();
    // Page 2 (2 x 1 in) over 3 x 1.5 in: 1800 x 900 dots at 600 dpi, so 900 dpi.
    write_file(dir / "s.kvs", "image 0 0 3048 1524 plan.pdf page 2\n");
    run_result r = run("plot " + (dir / "s.kvs").string() + " --area 4x3 -o " +
                       (dir / "s.prn").string() + " --settings " + store());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = reference(pdf, 2, 900, "", "r900");
    EXPECT_EQ(slurp(dir / "s.prn"), script_job("image 0 0 3048 1524 " + png));
}

} // namespace
#endif

#ifdef KVRAC_HAVE_PNG
#include <png.h>

namespace {

// An RGB PNG of w x h pixels, stating dpi (0: no resolution chunk).
void write_rgb_png(const fs::path& path, int w, int h, double dpi) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (dpi > 0) {
        const auto per_metre = static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
        png_set_pHYs(png, info, per_metre, per_metre, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            row[x * 3] = static_cast<uint8_t>(x * 3);
            row[x * 3 + 1] = static_cast<uint8_t>(y * 5);
            row[x * 3 + 2] = static_cast<uint8_t>(x + y);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

TEST_F(Kvrac, PngDocumentGivesTheBytesOfTheSameImageInAScript) {
    // No resolution stated: one pixel a printer dot at --scale 1:1 (600 dpi: 600 x 300
    // pixels over 1016 x 508 plotter units).
    write_rgb_png(dir / "pic.png", 600, 300, 0);
    run_result r = run("plot " + (dir / "pic.png").string() + " --scale 1:1 -o " +
                       (dir / "doc.prn").string() + " --settings " + store());
    ASSERT_EQ(r.status, 0) << r.err;
    write_file(dir / "pic.kvs", "image 0 0 1016 508 pic.png\n");
    r = run("plot " + (dir / "pic.kvs").string() + " -o " + (dir / "script.prn").string() +
            " --settings " + store());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string doc = slurp(dir / "doc.prn");
    EXPECT_FALSE(doc.empty());
    EXPECT_EQ(doc, slurp(dir / "script.prn"));
    // --page and --pages act on documents only.
    write_file(dir / "plain.kvs", "move 0 0\ndraw 10 10\n");
    r = run("plot " + (dir / "plain.kvs").string() + " --page 2 --settings " + store());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("act on documents"), std::string::npos) << r.err;
}

} // namespace
#endif

#if KVRAC_HAVE_IMAGE_FORMATS && KVRAC_HAVE_TIFF && KVRAC_HAVE_PNG
#include <png.h>
#include <tiffio.h>

namespace {

// Whether pixel (x, y) of the scans below is black: a frame, a diagonal and a grid.
bool scan_black(int x, int y, int w, int h) {
    return x < 4 || y < 4 || x >= w - 4 || y >= h - 4 || std::abs(x * h - y * w) < 2 * w ||
           (x % 50 == 0 && y % 3 == 0);
}

// One page of a one-bit G4 TIFF (black is 1, as scanners write), at dpi.
void write_g4_page(TIFF* t, int w, int h, double dpi, int page, int pages) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, page, pages);
    std::vector<uint8_t> row((w + 7) / 8);
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < w; ++x)
            if (scan_black(x, y, w, h)) row[x / 8] |= 0x80 >> (x % 8);
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFWriteDirectory(t);
}

// The same pixels as a one-bit greyscale PNG (0 is black), written with libpng.
void write_mono_png(const fs::path& path, int w, int h) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row((w + 7) / 8);
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0xFF);
        for (int x = 0; x < w; ++x)
            if (scan_black(x, y, w, h)) row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

TEST_F(Kvrac, ScannedTiffLandsAtItsStatedResolution) {
    // Two pages of 2 x 1 in: 600 x 300 pixels at 300 dpi, 300 x 150 at 150 dpi.
    TIFF* t = TIFFOpen((dir / "scan.tif").c_str(), "w");
    ASSERT_TRUE(t);
    write_g4_page(t, 600, 300, 300, 0, 2);
    write_g4_page(t, 300, 150, 150, 1, 2);
    TIFFClose(t);
    write_mono_png(dir / "p1.png", 600, 300);
    write_mono_png(dir / "p2.png", 300, 150);
    const std::string area = " --area 4x3 --settings " + store();
    // --scale 1:1: 2 x 1 in, 2032 x 1016 plotter units, from the area's corner.
    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE(page);
        const std::string n = std::to_string(page);
        run_result r = run("plot " + (dir / "scan.tif").string() + " --page " + n +
                           " --scale 1:1 -o " + (dir / ("doc" + n + ".prn")).string() + area);
        ASSERT_EQ(r.status, 0) << r.err;
        write_file(dir / "ref.kvs", "image 0 0 2032 1016 p" + n + ".png\n");
        r = run("plot " + (dir / "ref.kvs").string() + " -o " + (dir / "ref.prn").string() + area);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slurp(dir / ("doc" + n + ".prn")), slurp(dir / "ref.prn"));
    }
    // A page the area's size lands 1:1 by default; every page gets a job of its own.
    run_result r = run("plot " + (dir / "scan.tif").string() + " --pages all --area 2x1 -o " +
                       (dir / "all.prn").string() + " --settings " + store());
    ASSERT_EQ(r.status, 0) << r.err;
    write_file(dir / "ref.kvs", "image 0 0 2032 1016 p1.png\n");
    r = run("plot " + (dir / "ref.kvs").string() + " --area 2x1 -o " + (dir / "ref.prn").string() +
            " --settings " + store());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "all-p1.prn"), slurp(dir / "ref.prn"));
    EXPECT_FALSE(slurp(dir / "all-p2.prn").empty());
    r = run("plot " + (dir / "scan.tif").string() + " --page 3 --settings " + store());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("scan.tif"), std::string::npos) << r.err;
}

} // namespace
#endif
