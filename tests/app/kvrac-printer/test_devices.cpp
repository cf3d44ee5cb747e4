// Output devices and printers side by side: a socket:// printer writes to a raw print
// port exactly what a file:// printer writes, back-to-back jobs arriving whole one after
// the other; two printers printing at once both write correct jobs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/kvrac-printer/expected_job.h"
#include "app/kvrac-printer/page_files.h"
#include "app/kvrac-printer/printer_server.h"
#include "app/kvrac-printer/socket_listener.h"

using namespace printer_test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> letter_job(int dpi) {
    return {std::string("ATTR keyword media ") + letter_media,
            "ATTR resolution printer-resolution " + std::to_string(dpi) + "dpi"};
}

std::string test_name() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

} // namespace

TEST(PrinterDevices, SocketPrinterReceivesBackToBackJobsWhole) {
    socket_listener port;
    ASSERT_GT(port.port(), 0);
    printer_server server(test_name());
    ASSERT_TRUE(server.ready());
    const std::string uri =
        server.add_printer("plotter", "socket://127.0.0.1:" + std::to_string(port.port()));
    ASSERT_FALSE(uri.empty());

    const std::vector<test_page> first = {letter_page(200, false, 0)},
                                 second = {letter_page(200, false, 5), letter_page(200, false, 6)};
    ASSERT_EQ(write_pwg((server.dir() / "first.pwg").string(), first), "");
    ASSERT_EQ(write_pwg((server.dir() / "second.pwg").string(), second), "");
    const std::string expected = expected_pages(server, 1, "first", first, false, 200) +
                                 expected_pages(server, 1, "second", second, false, 200);
    ASSERT_FALSE(expected.empty());

    for (const char* name : {"first", "second"}) {
        std::string why;
        const int job = server.print(uri, server.dir() / (std::string(name) + ".pwg"),
                                     "image/pwg-raster", letter_job(200), name, &why);
        ASSERT_GT(job, 0) << why;
        const job_status s = server.wait_job(uri, job, 240);
        ASSERT_EQ(s.state, "completed") << name << ": " << s.message;
    }
    const std::string received = port.wait_for(expected.size());
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the port received other bytes than kvrac plot writes";
    EXPECT_GE(port.connections(), 1);
}

TEST(PrinterDevices, TwoPrintersPrintingAtOnceBothWriteCorrectJobs) {
    printer_server server(test_name());
    ASSERT_TRUE(server.ready());
    const std::string device = "file://" + server.device_dir().string();
    const std::string left = server.add_printer("left", device);
    const std::string right = server.add_printer("right", device);
    ASSERT_FALSE(left.empty());
    ASSERT_FALSE(right.empty());

    // Two pages each at 300 dpi, so that the jobs' driver runs overlap.
    const std::vector<test_page> a = {letter_page(300, false, 1), letter_page(300, false, 2)},
                                 b = {letter_page(300, false, 3), letter_page(300, false, 4)};
    ASSERT_EQ(write_pwg((server.dir() / "a.pwg").string(), a), "");
    ASSERT_EQ(write_pwg((server.dir() / "b.pwg").string(), b), "");
    std::string why;
    const int job_a =
        server.print(left, server.dir() / "a.pwg", "image/pwg-raster", letter_job(300), "a", &why);
    ASSERT_GT(job_a, 0) << why;
    const int job_b =
        server.print(right, server.dir() / "b.pwg", "image/pwg-raster", letter_job(300), "b", &why);
    ASSERT_GT(job_b, 0) << why;
    const job_status sa = server.wait_job(left, job_a, 240),
                     sb = server.wait_job(right, job_b, 240);
    ASSERT_EQ(sa.state, "completed") << sa.message;
    ASSERT_EQ(sb.state, "completed") << sb.message;

    // Each printer has its own settings record (printer-1 and printer-2).
    const std::string expected_a = expected_pages(server, 1, "a", a, false, 300);
    const std::string expected_b = expected_pages(server, 2, "b", b, false, 300);
    ASSERT_FALSE(expected_a.empty());
    ASSERT_FALSE(expected_b.empty());
    const std::string printed_a = read_all(server.device_dir() / "a.prn");
    const std::string printed_b = read_all(server.device_dir() / "b.prn");
    EXPECT_EQ(printed_a.size(), expected_a.size());
    EXPECT_TRUE(printed_a == expected_a) << "the left printer's job differs from kvrac plot's";
    EXPECT_EQ(printed_b.size(), expected_b.size());
    EXPECT_TRUE(printed_b == expected_b) << "the right printer's job differs from kvrac plot's";
}
