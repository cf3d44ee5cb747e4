// Print-Job end to end with every document format the printer takes: PWG raster (8-bit
// grey and 1-bit, two pages), PNG, JPEG and plot scripts. Each job must complete, and the
// bytes on the file:// device must equal `kvrac plot` of the equivalent script with the
// same settings (expected_job.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef KVRAC_HAVE_JPEG
#include <jpeglib.h>
#endif

#include "app/kvrac-printer/expected_job.h"
#include "app/kvrac-printer/page_files.h"
#include "app/kvrac-printer/printer_server.h"

using namespace printer_test;
namespace fs = std::filesystem;

namespace {

// The resolution of these tests' pages: the lowest the plotter has, for speed.
constexpr int dpi = 200;

const std::vector<std::string> letter_job = {std::string("ATTR keyword media ") + letter_media,
                                             "ATTR resolution printer-resolution " +
                                                 std::to_string(dpi) + "dpi"};

class PrintJobs : public ::testing::Test {
  protected:
    printer_server server{::testing::UnitTest::GetInstance()->current_test_info()->name()};
    std::string uri;

    void SetUp() override {
        ASSERT_TRUE(server.ready());
        uri = server.add_printer("plotter", "file://" + server.device_dir().string());
        ASSERT_FALSE(uri.empty());
    }

    // Prints file and returns what the device received for it (job name NAME, so the
    // file device writes NAME.prn); fails the test unless the job completed.
    std::string print(const fs::path& file, const std::string& format, const std::string& name,
                      std::vector<std::string> attrs = letter_job) {
        std::string why;
        const int job = server.print(uri, file, format, attrs, name, &why);
        EXPECT_GT(job, 0) << why;
        if (job <= 0) return "";
        const job_status s = server.wait_job(uri, job, 240);
        EXPECT_EQ(s.state, "completed") << name << ": " << s.message;
        return read_all(server.device_dir() / (name + ".prn"));
    }
};

// The jobs compared below are a few hundred kilobytes; show sizes, not bytes.
void expect_same_job(const std::string& printed, const std::string& expected) {
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(printed.size(), expected.size());
    EXPECT_TRUE(printed == expected) << "the device's job differs from kvrac plot's";
}

} // namespace

TEST_F(PrintJobs, GreyPwgRasterOfTwoPagesIsTwoPlotsOfItsPages) {
    const std::vector<test_page> pages = {letter_page(dpi, false, 0), letter_page(dpi, false, 1)};
    const fs::path doc = server.dir() / "grey.pwg";
    ASSERT_EQ(write_pwg(doc.string(), pages), "");
    const std::string printed = print(doc, "image/pwg-raster", "grey");
    expect_same_job(printed, expected_pages(server, 1, "grey", pages, false, dpi));
}

TEST_F(PrintJobs, GreyPwgRasterPrintedBiLevelIsPlottedAsAOneBitImage) {
    const std::vector<test_page> pages = {letter_page(dpi, false, 0), letter_page(dpi, false, 2)};
    const fs::path doc = server.dir() / "grey.pwg";
    ASSERT_EQ(write_pwg(doc.string(), pages), "");
    std::vector<std::string> attrs = letter_job;
    attrs.push_back("ATTR keyword print-color-mode bi-level");
    expect_same_job(print(doc, "image/pwg-raster", "bilevel", attrs),
                    expected_pages(server, 1, "bilevel", pages, true, dpi));
}

// The printer asks for 8-bit grey raster; a client may still send 1-bit black pages.
// They must print as drawn, as a 1-bit image, never as something else (such as their
// bytes read as grey dots: the left eighth of the page, inverted). Sent again for A4
// media, the Letter pages must still print as Letter pages: the page's own size wins
// over the job's media.
TEST_F(PrintJobs, OneBitPwgRasterIsPrintedAsDrawn) {
    const std::vector<test_page> pages = {letter_page(dpi, true, 0), letter_page(dpi, true, 2)};
    const fs::path doc = server.dir() / "black.pwg";
    ASSERT_EQ(write_pwg(doc.string(), pages), "");
    const std::string expected = expected_pages(server, 1, "black", pages, true, dpi);
    expect_same_job(print(doc, "image/pwg-raster", "black"), expected);
    const std::vector<std::string> a4_job = {"ATTR keyword media iso_a4_210x297mm",
                                             "ATTR resolution printer-resolution " +
                                                 std::to_string(dpi) + "dpi"};
    expect_same_job(print(doc, "image/pwg-raster", "black-a4", a4_job), expected);
}

TEST_F(PrintJobs, PngOfThePageSizeIsPlottedDotForDot) {
    const test_page page = letter_page(dpi, false, 3);
    const fs::path doc = server.dir() / "page.png";
    ASSERT_EQ(write_page_png(doc.string(), page), "");
    expect_same_job(print(doc, "image/png", "png"),
                    expected_pages(server, 1, "png", {page}, false, dpi));
}

#ifdef KVRAC_HAVE_JPEG
namespace {

// Writes page as a greyscale JPEG at quality 90.
std::string write_jpeg(const fs::path& path, const test_page& page) {
    int width = 0, height = 0;
    if (!page_pixels(page, width, height)) return "no page size";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "cannot create " + path.string();
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(width);
    while (c.next_scanline < c.image_height) {
        page.rows(static_cast<int>(c.next_scanline), row.data(), width);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return "";
}

// The JPEG's decoded grey rows (libjpeg's default decoding), as a page.
test_page decoded_jpeg(const fs::path& path, const test_page& like) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&d);
    auto pixels = std::make_shared<std::vector<uint8_t>>(size_t{d.output_width} * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = pixels->data() + size_t{d.output_scanline} * d.output_width;
        jpeg_read_scanlines(&d, &r, 1);
    }
    const size_t stride = d.output_width;
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    test_page page = like;
    page.rows = [pixels, stride](int y, uint8_t* grey, int width) {
        std::copy_n(pixels->data() + static_cast<size_t>(y) * stride, width, grey);
    };
    return page;
}

} // namespace

TEST_F(PrintJobs, JpegOfThePageSizeIsPlottedAsDecoded) {
    const test_page page = letter_page(dpi, false, 4);
    const fs::path doc = server.dir() / "page.jpg";
    ASSERT_EQ(write_jpeg(doc, page), "");
    const std::string printed = print(doc, "image/jpeg", "jpeg");
    expect_same_job(printed,
                    expected_pages(server, 1, "jpeg", {decoded_jpeg(doc, page)}, false, dpi));
}
#endif

TEST_F(PrintJobs, PlotScriptIsPlottedAsKvracPlotDoes) {
    // A frame, a dashed diagonal in a wider pen and a grey filled square.
    const std::string script = "# drawing\nunit mm\npen 7\nwidth 0.5mm\nmove 10 10\ndraw 200 10\n"
                               "draw 200 150\ndraw 10 150\ndraw 10 10\nlinetype 3\nwidth 1mm\n"
                               "move 20 20\ndraw 190 140\npolygon 8 30 30 60 30 60 60 30 60\n";
    const fs::path doc = server.dir() / "drawing.kvs";
    std::ofstream(doc) << script;
    const std::string expected = kvrac_plot(server, 1, "script", script, letter_options(dpi));
    // Sent under its own type, and as application/octet-stream, which the server
    // recognises as a plot script.
    expect_same_job(print(doc, "application/vnd.kvrac-plot-script", "typed"), expected);
    expect_same_job(print(doc, "application/octet-stream", "sniffed"), expected);
}

// `modify -o media=NAME` sets the printer's default media: a job that names no media is
// printed on it.
TEST_F(PrintJobs, PlotScriptWithoutMediaIsPlottedOnTheDefaultMedia) {
    const command_result m = server.sub("modify -d plotter -o media=" + std::string(letter_media));
    ASSERT_EQ(m.status, 0) << m.out;
    const std::string script = "unit mm\npen 1\nmove 10 10\ndraw 200 150\n";
    const fs::path doc = server.dir() / "default-media.kvs";
    std::ofstream(doc) << script;
    const std::vector<std::string> no_media = {"ATTR resolution printer-resolution " +
                                               std::to_string(dpi) + "dpi"};
    const std::string printed =
        print(doc, "application/vnd.kvrac-plot-script", "default-media", no_media);
    expect_same_job(printed, kvrac_plot(server, 1, "script", script, letter_options(dpi)));
}
