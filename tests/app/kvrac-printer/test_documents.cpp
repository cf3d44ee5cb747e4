// PDF, TIFF and JPEG documents printed to kvrac-printer with ipptool, typed and sent as
// application/octet-stream: the job on the file:// device is `kvrac plot`'s job of each
// page with the printer's record and the job's options, pages in order; a damaged or
// encrypted PDF aborts its job with the reason naming the document, and the next job
// prints.
#include "app/kvrac-printer/printer_server.h"

#if KVRAC_HAVE_PDF && KVRAC_HAVE_CAIRO
#include "support/image_files.h"
#include "support/pdf_pages.h"

using printer_test::command_result;
using printer_test::printer_server;
using printer_test::read_all;
namespace fs = std::filesystem;

namespace {

// US Letter (format row 10) at `dpi` with the defaults of a new printer.
std::string job_attrs_options(int dpi) {
    return "--format 10 --media 0 --resolution " + std::to_string(dpi) +
           " --copies 1 --fill halftone --margin 0 --program manual --manual-feed no";
}

std::vector<std::string> letter(int dpi) {
    return {"ATTR keyword media na_letter_8.5x11in",
            "ATTR resolution printer-resolution " + std::to_string(dpi) + "dpi"};
}

class PrinterDocuments : public ::testing::Test {
  protected:
    printer_server server{"documents"};
    std::string uri;

    void SetUp() override {
        ASSERT_TRUE(server.ready());
        uri = server.add_printer("plotter", "file://" + server.device_dir().string());
        ASSERT_FALSE(uri.empty());
    }

    printer_test::job_status print(const fs::path& file, const std::string& format,
                                   const std::string& job_name, int dpi) {
        std::string why;
        const int job = server.print(uri, file, format, letter(dpi), job_name, &why);
        EXPECT_GT(job, 0) << why;
        if (job <= 0) return {};
        return server.wait_job(uri, job);
    }

    // `kvrac plot FILE --page N` with a fresh copy of the printer's record and the job's
    // options; the job's bytes ("" after a test failure).
    std::string kvrac_plot(const fs::path& document, int page, int dpi) {
        const fs::path record = server.dir() / "record.bin";
        const fs::path out = server.dir() / "expected.prn";
        fs::remove(record);
        fs::remove(out);
        fs::copy_file(server.state_dir() / "printer-1.settings", record);
        const command_result r =
            server.run(std::string("'") + KVRAC_BINARY + "' plot '" + document.string() +
                       "' --page " + std::to_string(page) + " -o '" + out.string() +
                       "' --settings '" + record.string() + "' " + job_attrs_options(dpi));
        EXPECT_EQ(r.status, 0) << r.out;
        return read_all(out);
    }
};

// Page 1 is the sheet's size (11 x 8.5 in, landed 1:1); page 2 is small (fitted).
bool write_plan(const fs::path& pdf) {
    return write_pdf(pdf.string(), {{792, 612, [](cairo_t* c) { draw_test_page(c, 792, 612); }},
                                    {200, 100, [](cairo_t* c) { draw_test_page(c, 200, 100); }}});
}

} // namespace

TEST_F(PrinterDocuments, PdfIsAdvertised) {
    const fs::path test = server.dir() / "formats.test";
    std::ofstream(test) << "{\n OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
                           " ATTR charset attributes-charset utf-8\n"
                           " ATTR naturalLanguage attributes-natural-language en\n"
                           " ATTR uri printer-uri $uri\n"
                           " ATTR keyword requested-attributes document-format-supported\n"
                           " STATUS successful-ok\n"
                           " EXPECT document-format-supported WITH-VALUE \"application/pdf\"\n"
#if KVRAC_HAVE_IMAGE_FORMATS
                           " EXPECT document-format-supported WITH-VALUE \"image/tiff\"\n"
#endif
                           " EXPECT document-format-supported WITH-VALUE \"image/jpeg\"\n"
                           "}\n";
    const command_result r = server.run("ipptool -t '" + uri + "' '" + test.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(PrinterDocuments, EachPageEqualsKvracPlotOfThatPage) {
    const fs::path pdf = server.dir() / "plan.pdf";
    ASSERT_TRUE(write_plan(pdf));
    const std::string record = read_all(server.state_dir() / "printer-1.settings");
    struct case_t {
        const char* format;
        const char* job;
        int dpi;
    } cases[] = {{"application/pdf", "pdf-typed", 200},
                 {"application/octet-stream", "pdf-sniffed", 300}};
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.job);
        const auto status = print(pdf, c.format, c.job, c.dpi);
        ASSERT_EQ(status.state, "completed") << status.message << "\n"
                                             << read_all(server.log_file());
        const std::string printed = read_all(server.device_dir() / (std::string(c.job) + ".prn"));
        const std::string page1 = kvrac_plot(pdf, 1, c.dpi), page2 = kvrac_plot(pdf, 2, c.dpi);
        ASSERT_FALSE(page1.empty());
        ASSERT_FALSE(page2.empty());
        EXPECT_NE(page1, page2);
        EXPECT_EQ(printed.size(), page1.size() + page2.size());
        EXPECT_TRUE(printed == page1 + page2) << "the job differs from kvrac plot's pages";
    }
    EXPECT_TRUE(read_all(server.state_dir() / "printer-1.settings") == record)
        << "a job changed the printer's settings record";
}

TEST_F(PrinterDocuments, BadPdfAbortsWithItsReasonAndTheNextJobPrints) {
    const fs::path damaged = server.dir() / "damaged.pdf";
    std::ofstream(damaged) << "%PDF-1.4\n1 0 obj\n<< /Type /Catalog\nxref\n0 9\ngarbage\n";
    auto status = print(damaged, "application/pdf", "damaged.pdf", 200);
    EXPECT_EQ(status.state, "aborted");
    EXPECT_NE(status.message.find("damaged.pdf: cannot be opened: damaged"), std::string::npos)
        << status.message;
    EXPECT_EQ(status.message.find(server.dir().string()), std::string::npos)
        << "the message names the spooled file: " << status.message;
    EXPECT_TRUE(read_all(server.device_dir() / "damaged.pdf.prn").empty());

    const fs::path pdf = server.dir() / "plan.pdf";
    ASSERT_TRUE(write_plan(pdf));
    if (std::system("command -v qpdf >/dev/null") == 0) {
        const fs::path locked = server.dir() / "locked.pdf";
        ASSERT_EQ(std::system(("qpdf --encrypt secret owner 256 -- '" + pdf.string() + "' '" +
                               locked.string() + "'")
                                  .c_str()),
                  0);
        status = print(locked, "application/pdf", "locked.pdf", 200);
        EXPECT_EQ(status.state, "aborted");
        EXPECT_NE(status.message.find("locked.pdf: is encrypted"), std::string::npos)
            << status.message;
        EXPECT_TRUE(read_all(server.device_dir() / "locked.pdf.prn").empty());
    }

    status = print(pdf, "application/pdf", "after", 200);
    EXPECT_EQ(status.state, "completed") << status.message;
    EXPECT_FALSE(read_all(server.device_dir() / "after.prn").empty());
}

#if KVRAC_HAVE_IMAGE_FORMATS && KVRAC_HAVE_TIFF
#include <tiffio.h>

// A two-page one-bit G4 TIFF at 200 dpi: the 11 x 8.5 in sheet's size, then 2 x 1 in.
bool write_scan(const fs::path& path) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    const int sizes[2][2] = {{2200, 1700}, {400, 200}};
    for (int page = 0; page < 2; ++page) {
        const int w = sizes[page][0], h = sizes[page][1];
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0f);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 64);
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, page, 2);
        std::vector<uint8_t> row((w + 7) / 8);
        for (int y = 0; y < h; ++y) {
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = static_cast<uint8_t>((y / 10 + i) % 3 == 0 ? 0xF0 : 0x00);
            TIFFWriteScanline(t, row.data(), y, 0);
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return true;
}

TEST_F(PrinterDocuments, TiffPagesEqualKvracPlotOfEachPage) {
    const fs::path scan = server.dir() / "scan.tif";
    ASSERT_TRUE(write_scan(scan));
    for (const char* format : {"image/tiff", "application/octet-stream"}) {
        SCOPED_TRACE(format);
        const std::string job = std::string("scan-") + (format[0] == 'i' ? "typed" : "sniffed");
        const auto status = print(scan, format, job, 200);
        ASSERT_EQ(status.state, "completed") << status.message;
        const std::string printed = read_all(server.device_dir() / (job + ".prn"));
        const std::string page1 = kvrac_plot(scan, 1, 200), page2 = kvrac_plot(scan, 2, 200);
        ASSERT_FALSE(page1.empty());
        EXPECT_TRUE(printed == page1 + page2) << "the job differs from kvrac plot's pages";
    }
}
#endif

#if KVRAC_HAVE_IMAGE_FORMATS && KVRAC_HAVE_JPEG
// A portrait photo of 3 x 5 in (JFIF density 100 dpi) on the letter sheet's landscape
// area: turned and fitted by the job's process exactly as `kvrac plot` places it. The
// photo cut short aborts its job with the reason.
TEST_F(PrinterDocuments, PortraitJpegEqualsKvracPlot) {
    const fs::path photo = server.dir() / "photo.jpg";
    jpeg_file photo_file{300, 500, JCS_RGB, 90, false, [](int x, int y, uint16_t* s) {
                             s[0] = static_cast<uint16_t>(x * 255 / 299);
                             s[1] = static_cast<uint16_t>(y * 255 / 499);
                             s[2] = static_cast<uint16_t>((x / 20 + y / 20) % 2 * 200);
                         }};
    photo_file.density_unit = 1;
    photo_file.x_density = photo_file.y_density = 100;
    ASSERT_TRUE(write_jpeg_file(photo.string(), photo_file));
    // The same photo cut short aborts with the reason naming it, and the server goes on
    // to print the whole one.
    const fs::path cut = server.dir() / "cut.jpg";
    {
        const std::string bytes = read_all(photo);
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 3 / 5);
    }
    const auto bad = print(cut, "image/jpeg", "cut.jpg", 300);
    EXPECT_EQ(bad.state, "aborted");
    EXPECT_NE(bad.message.find("cut.jpg"), std::string::npos) << bad.message;
    EXPECT_NE(bad.message.find("JPEG data ends early"), std::string::npos) << bad.message;
    EXPECT_TRUE(read_all(server.device_dir() / "cut.jpg.prn").empty());
    const auto status = print(photo, "image/jpeg", "photo", 300);
    ASSERT_EQ(status.state, "completed") << status.message;
    const std::string expected = kvrac_plot(photo, 1, 300);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(read_all(server.device_dir() / "photo.prn") == expected)
        << "the job differs from kvrac plot's";
}
#endif

#endif
