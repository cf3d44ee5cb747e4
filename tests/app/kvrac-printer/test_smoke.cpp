// The printer application end to end: a server on loopback, a printer on a file://
// device, a PNG printed with ipptool, and the job on the device compared with what
// `kvrac plot` writes for the documented equivalent plot script.
#include <png.h>

#include "app/kvrac-printer/printer_server.h"

using printer_test::command_result;
using printer_test::printer_server;
using printer_test::read_all;
namespace fs = std::filesystem;

namespace {

// Writes an all-white 8-bit grey PNG of width x height.
void write_white_png(const fs::path& path, uint32_t width, uint32_t height) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(width, 0xFF);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

} // namespace

TEST(PrinterSmoke, PngJobOnFileDeviceEqualsKvracPlotOfTheEquivalentScript) {
    printer_server server("smoke");
    ASSERT_TRUE(server.ready());
    const std::string uri = server.add_printer("plotter", "file://" + server.device_dir().string());
    ASSERT_FALSE(uri.empty());

    const fs::path doc = server.dir() / "white.png";
    write_white_png(doc, 170, 220);
    // US Letter is the driver's format row 10 (11 x 8.5 in); at 300 dpi the page is
    // exactly 2550 x 3300 dots.
    std::string why;
    const int job = server.print(
        uri, doc, "image/png",
        {"ATTR keyword media na_letter_8.5x11in", "ATTR resolution printer-resolution 300dpi"},
        "smoke", &why);
    ASSERT_GT(job, 0) << why;
    const auto status = server.wait_job(uri, job);
    ASSERT_EQ(status.state, "completed") << status.message << "\n" << read_all(server.log_file());
    const std::string printed = read_all(server.device_dir() / "smoke.prn");
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.rfind("\x1b%-12345X", 0), 0u) << "the job starts with the PJL universal exit";

    // The equivalent plot: the page as an 8-bit grey PNG at the job's resolution, turned
    // to lie along the plot's long side (3300 x 2550), over the whole printable area (11
    // x 8.5 in at 1016 plotter units an inch), with the printer's record and the options
    // the job and the printer's defaults ask for.
    const fs::path page = server.dir() / "page.png";
    write_white_png(page, 3300, 2550);
    const fs::path script = server.dir() / "page.kvs";
    {
        std::ofstream s(script);
        s << "image 0 0 11176 8636 page.png\n";
    }
    const fs::path settings = server.dir() / "record.bin";
    fs::copy_file(server.state_dir() / "printer-1.settings", settings);
    const command_result plot =
        server.run(std::string("'") + KVRAC_BINARY + "' plot '" + script.string() + "' -o '" +
                   (server.dir() / "expected.prn").string() + "' --settings '" + settings.string() +
                   "' --format 10 --media 0 --resolution 300 --copies 1 --fill halftone --margin 0"
                   " --program manual --manual-feed no");
    ASSERT_EQ(plot.status, 0) << plot.out;
    const std::string expected = read_all(server.dir() / "expected.prn");
    EXPECT_EQ(printed.size(), expected.size());
    EXPECT_TRUE(printed == expected) << "the job differs from kvrac plot's";
}
