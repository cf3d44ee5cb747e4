// A real CUPS scheduler as the client, as on a Linux desktop or a site's print server:
// a queue made with `lpadmin -m everywhere` from the printer's own IPP attributes, a file
// printed with `lp`, and the job arriving whole on the plotter's device.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/kvrac-printer/cups_server.h"
#include "app/kvrac-printer/expected_job.h"
#include "app/kvrac-printer/page_files.h"
#include "app/kvrac-printer/printer_server.h"

using namespace printer_test;
namespace fs = std::filesystem;

namespace {

// The first file in dir whose size has stayed the same and non-zero for a second, or ""
// after seconds.
fs::path settled_file(const fs::path& dir, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    uintmax_t last = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& e : fs::directory_iterator(dir)) {
            const uintmax_t size = e.file_size();
            if (size > 0 && size == last) return e.path();
            last = size;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return {};
}

} // namespace

TEST(CupsClient, LpThroughAnEverywhereQueueReachesThePlotter) {
    if (!fs::exists("/usr/sbin/cupsd") || !fs::exists("/usr/sbin/lpadmin"))
        GTEST_SKIP() << "CUPS (cupsd, lpadmin) is not installed";
    printer_server server("LpThroughAnEverywhereQueue");
    ASSERT_TRUE(server.ready());
    const std::string uri = server.add_printer("plotter", "file://" + server.device_dir().string());
    ASSERT_FALSE(uri.empty());

    cups_server cups(server.dir() / "cups");
    ASSERT_TRUE(cups.running()) << cups.error();

    // The queue's description is made by the scheduler from our printer's attributes.
    const std::string ipp_uri =
        "ipp://127.0.0.1:" + std::to_string(server.port()) + "/ipp/print/plotter";
    command_result r = ipp::run(
        "lpadmin -h " + cups.host() + " -p plotter -E -v " + ipp_uri + " -m everywhere", 120);
    ASSERT_EQ(r.status, 0) << r.out;
    const fs::path ppd = cups.root() / "conf/ppd/plotter.ppd";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(ppd) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(fs::exists(ppd)) << "the scheduler made no description of the queue:\n"
                                 << cups.log_tail();
    const std::string description = read_all(ppd);
    EXPECT_NE(description.find("Letter"), std::string::npos)
        << "the queue lacks the printer's sheets";

    // A Letter page as PNG at 200 dpi, printed as a user would.
    const test_page page = letter_page(200, false, 8);
    const fs::path png = server.dir() / "drawing.png";
    ASSERT_EQ(write_page_png(png.string(), page), "");
    r = ipp::run("lp -h " + cups.host() + " -d plotter -o media=Letter '" + png.string() + "'", 60);
    ASSERT_EQ(r.status, 0) << r.out;

    const fs::path job = settled_file(server.device_dir(), 240);
    ASSERT_FALSE(job.empty()) << "no job reached the plotter:\n" << cups.log_tail();
    const std::string bytes = read_all(job);
    // A whole job: the PJL opening and the closing universal exit.
    EXPECT_EQ(bytes.rfind("\x1B%-12345X@PJL", 0), 0u);
    const std::string trailer = "\x1B%-12345X\r\n";
    ASSERT_GE(bytes.size(), trailer.size());
    EXPECT_EQ(bytes.substr(bytes.size() - trailer.size()), trailer);
    cups.stop();
}
