// PDF pages as image sources: every row checked against pdftoppm's render of the same
// page at the same resolution (pages drawn by cairo), across band boundaries and for a
// page turned by /Rotate; sizes, page counts and the errors a user meets.
#include <gtest/gtest.h>

#if KVRAC_HAVE_PDF && KVRAC_HAVE_CAIRO
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "images/image_source.h"
#include "pdf/pdf_source.h"
#include "support/kvrac_runner.h"
#include "support/pdf_pages.h"

namespace {

class PdfSource : public Kvrac {
  protected:
    void SetUp() override {
        Kvrac::SetUp();
        pdf_source_register();
    }
    std::string path(const char* name) const { return (dir / name).string(); }

    std::unique_ptr<image_source> open(const std::string& file, int32_t page, double dpi,
                                       std::string* why) {
        image_open_options o;
        o.page = page;
        o.render_dpi = dpi;
        return open_image_source(file, o, why);
    }

    // Reads every row of the source and compares it with pdftoppm's render; returns
    // the number of differing pixels, and in *at_edges those of them within 10 pixels
    // of the page's left or right edge.
    long differing_pixels(image_source& s, const std::string& file, int page, double dpi,
                          long* at_edges = nullptr) {
        rgb_picture expected;
        EXPECT_TRUE(pdftoppm_page(file, page, dpi, path("ref"), &expected));
        EXPECT_EQ(s.info().width, expected.width);
        EXPECT_EQ(s.info().height, expected.height);
        if (s.info().width != expected.width || s.info().height != expected.height) return -1;
        long differ = 0;
        image_row row;
        int32_t rows = 0;
        while (s.next(&row) == 1) {
            EXPECT_EQ(row.y, rows);
            EXPECT_EQ(row.count, expected.width);
            const uint8_t* want = expected.pixels.data() + size_t(row.y) * expected.width * 3;
            for (int32_t x = 0; x < row.count; ++x) {
                if (std::memcmp(row.pixels + x * 3, want + x * 3, 3) == 0) continue;
                ++differ;
                if (at_edges && (x < 10 || x >= row.count - 10)) ++*at_edges;
            }
            ++rows;
        }
        EXPECT_EQ(rows, expected.height);
        return differ;
    }
};

TEST_F(PdfSource, RowsMatchAnIndependentRenderAcrossBands) {
    // 4 x 9 in at 600 dpi: 2400 x 5400 pixels, five bands of rendered rows. poppler
    // may rasterise a stroke's end on the page's left or right edge a pixel apart in a
    // band and in a whole page: a handful of pixels is allowed there, none elsewhere.
    const std::string file = path("tall.pdf");
    ASSERT_TRUE(write_pdf(file, {{288, 648, [](cairo_t* c) {
                                      draw_test_page(c, 288, 648);
                                      cairo_set_line_width(c, 1.3); // edge to edge
                                      cairo_move_to(c, 0, 100);
                                      cairo_line_to(c, 288, 600);
                                      cairo_stroke(c);
                                  }}}));
    std::string why;
    auto s = open(file, 1, 600, &why);
    ASSERT_TRUE(s) << why;
    EXPECT_EQ(s->info().format, "PDF");
    EXPECT_FALSE(s->info().mono);
    EXPECT_EQ(s->info().dpi_x, 600);
    long at_edges = 0;
    const long differ = differing_pixels(*s, file, 1, 600, &at_edges);
    EXPECT_EQ(differ, at_edges);
    EXPECT_LE(at_edges, 20);
    // A rewind starts the page again and counts one more decode.
    const uint64_t before = image_decodes();
    ASSERT_EQ(s->rewind(), 0);
    EXPECT_EQ(image_decodes(), before + 1);
    image_row row;
    ASSERT_EQ(s->next(&row), 1);
    EXPECT_EQ(row.y, 0);
}

TEST_F(PdfSource, SizeIsThePageBoxAtTheResolutionRoundedToTheNearestPixel) {
    const std::string file = path("sizes.pdf");
    ASSERT_TRUE(write_pdf(file, {{595.276, 841.89, nullptr}, {100, 50, nullptr}}));
    std::string why;
    auto a4 = open(file, 1, 300, &why);
    ASSERT_TRUE(a4) << why;
    EXPECT_EQ(a4->info().width, 2480);  // 595.276 pt * 300 / 72 = 2480.3
    EXPECT_EQ(a4->info().height, 3508); // 3507.9
    EXPECT_EQ(a4->info().pages, 2);
    auto second = open(file, 2, 100, &why);
    ASSERT_TRUE(second) << why;
    EXPECT_EQ(second->info().width, 139); // 138.9
    EXPECT_EQ(second->info().height, 69); // 69.4
    // White where nothing is drawn: composited on white paper.
    image_row row;
    ASSERT_EQ(second->next(&row), 1);
    EXPECT_EQ(row.pixels[0], 255);
    EXPECT_EQ(row.pixels[1], 255);
    EXPECT_EQ(row.pixels[2], 255);
}

TEST_F(PdfSource, RotatedPageIsTurnedAsAViewerShowsIt) {
    if (std::system("command -v qpdf >/dev/null") != 0) GTEST_SKIP() << "qpdf is not installed";
    const std::string flat = path("flat.pdf"), turned = path("turned.pdf");
    ASSERT_TRUE(write_pdf(flat, {{200, 300, [](cairo_t* c) { draw_test_page(c, 200, 300); }}}));
    ASSERT_EQ(std::system(("qpdf --rotate=+90 '" + flat + "' '" + turned + "'").c_str()), 0);
    std::string why;
    auto s = open(turned, 1, 150, &why);
    ASSERT_TRUE(s) << why;
    EXPECT_EQ(s->info().width, 625); // 300 pt across once turned
    EXPECT_EQ(s->info().height, 417);
    EXPECT_EQ(differing_pixels(*s, turned, 1, 150), 0);
    // Turned a quarter anticlockwise on top of its own rotation: as qpdf turns it by
    // -90 degrees, back to the unturned page here.
    image_open_options o;
    o.render_dpi = 150;
    o.turned = true;
    auto back = open_image_source(turned, o, &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->info().width, 417);
    EXPECT_EQ(back->info().height, 625);
    EXPECT_EQ(differing_pixels(*back, flat, 1, 150), 0);
}

TEST_F(PdfSource, BadFilesAndPagesSayWhy) {
    const std::string three = path("three.pdf");
    ASSERT_TRUE(write_pdf(three, {{100, 100, nullptr}, {100, 100, nullptr}, {100, 100, nullptr}}));
    std::string why;
    EXPECT_FALSE(open(three, 5, 72, &why));
    EXPECT_EQ(why, "has 3 pages, not page 5");

    const std::string damaged = path("damaged.pdf");
    write_file(damaged, "%PDF-1.4\n1 0 obj\n<< /Type /Catalog\nxref\n0 9\ngarbage\n");
    EXPECT_FALSE(open(damaged, 1, 72, &why));
    EXPECT_EQ(why.rfind("cannot be opened: damaged", 0), 0u) << why;

    if (std::system("command -v qpdf >/dev/null") == 0) {
        const std::string locked = path("locked.pdf");
        ASSERT_EQ(
            std::system(
                ("qpdf --encrypt secret owner 256 -- '" + three + "' '" + locked + "'").c_str()),
            0);
        EXPECT_FALSE(open(locked, 1, 72, &why));
        EXPECT_EQ(why.rfind("is encrypted; ", 0), 0u) << why;
    }
    EXPECT_FALSE(open(three, 1, 0, &why)); // no resolution to render at
}

TEST_F(PdfSource, PopplerMessagesDoNotReachStandardError) {
    const std::string damaged = path("damaged.pdf");
    write_file(damaged, "%PDF-1.4\ntrailer << /Root 9 0 R >>\n");
    // Standard error goes to a file while poppler reads the damaged file.
    const std::string err = path("stderr");
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* f = std::fopen(err.c_str(), "w");
    ASSERT_TRUE(f);
    ::dup2(fileno(f), 2);
    std::string why;
    auto s = open(damaged, 1, 72, &why);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(f);
    EXPECT_FALSE(s);
    EXPECT_EQ(slurp(err), "");
}

} // namespace
#endif
