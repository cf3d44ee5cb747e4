// Jobs that must not print: a job canceled in the middle of a large page, and bad
// documents (a truncated PWG raster file, a PNG that is not one, a page larger than any
// of the plotter's sheets, a format the printer does not take). None may leave a byte
// on the device, the server must stay up, and the next job must print whole.
//
// The device is one regular file that the server appends every job to, so a half job
// would sit in front of the next one.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/kvrac-printer/expected_job.h"
#include "app/kvrac-printer/ipp_client.h"
#include "app/kvrac-printer/page_files.h"
#include "app/kvrac-printer/printer_server.h"

using namespace printer_test;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> letter_job = {std::string("ATTR keyword media ") + letter_media,
                                             "ATTR resolution printer-resolution 200dpi"};

class JobFailures : public ::testing::Test {
  protected:
    printer_server server{::testing::UnitTest::GetInstance()->current_test_info()->name()};
    fs::path device;
    std::string uri;

    void SetUp() override {
        ASSERT_TRUE(server.ready());
        device = server.device_dir() / "plotter.prn";
        std::ofstream{device}; // the server takes a file: device that exists
        uri = server.add_printer("plotter", "file://" + device.string());
        ASSERT_FALSE(uri.empty());
    }

    // Prints a good Letter page and checks that the device then holds exactly its job:
    // the server is up, and nothing of an earlier job sits in front of this one.
    void expect_next_job_prints_alone() {
        ASSERT_EQ(::kill(server.pid(), 0), 0) << "the server has gone";
        const std::vector<test_page> page = {letter_page(200, false, 7)};
        ASSERT_EQ(write_pwg((server.dir() / "next.pwg").string(), page), "");
        std::string why;
        const int job = server.print(uri, server.dir() / "next.pwg", "image/pwg-raster", letter_job,
                                     "next", &why);
        ASSERT_GT(job, 0) << why;
        const job_status s = server.wait_job(uri, job, 240);
        ASSERT_EQ(s.state, "completed") << s.message;
        const std::string expected = expected_pages(server, 1, "next", page, false, 200);
        const std::string printed = read_all(device);
        EXPECT_EQ(printed.size(), expected.size());
        EXPECT_TRUE(printed == expected) << "the device holds more or other than the next job";
    }
};

} // namespace

TEST_F(JobFailures, CanceledInTheMiddleOfALargePageLeavesNothingOnTheDevice) {
    // An A0 sheet at 600 dpi in 8-bit grey: some 558 million dots, long enough to cancel
    // while the page is still being received or plotted.
    test_page big;
    big.media = "iso_a0_841x1189mm";
    big.dpi = 600;
    big.bilevel = false;
    int width = 0, height = 0;
    ASSERT_TRUE(page_pixels(big, width, height));
    big.rows = drawing_rows(width, height, big.dpi);
    const fs::path doc = server.dir() / "big.pwg";
    ASSERT_EQ(write_pwg(doc.string(), {big}), "");

    // A raster document is printed while it is received: Print-Job answers when the job
    // has ended, so it is sent from a thread of its own. The first job of a new server
    // is job 1.
    const int job = 1;
    ipp::client sender(server.uri("plotter"), server.dir());
    int sent = 0;
    std::thread print([&] {
        sent = sender.print(doc, "image/pwg-raster", "big",
                            "  ATTR keyword media iso_a0_841x1189mm\n"
                            "  ATTR resolution printer-resolution 600dpi",
                            240);
    });
    fs::create_directories(server.dir() / "canceler"); // its own request files
    ipp::client ipp(server.uri("plotter"), server.dir() / "canceler");
    const auto processing = ipp.wait_for(job, "processing", 120);
    EXPECT_EQ(processing.state, "processing") << processing.message;
    // Its page has started arriving in the job's spool folder.
    const fs::path spool = server.state_dir() / "spool" / ("kvrac-p1-j" + std::to_string(job));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(spool) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fs::exists(spool)) << "the page never reached the spool";

    EXPECT_TRUE(ipp.cancel(job)) << ipp.last_output().out;
    print.join();
    const job_status s = server.wait_job(uri, job, 120);
    EXPECT_EQ(s.state, "canceled") << s.message;
    EXPECT_EQ(read_all(device).size(), 0u) << "a canceled job reached the device";
    // The job's scratch files go with it.
    const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fs::exists(spool) && std::chrono::steady_clock::now() < gone)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fs::exists(spool)) << "the canceled job's spool folder was left behind";
    expect_next_job_prints_alone();
}

TEST_F(JobFailures, TruncatedPwgRasterIsAbortedNotPaddedWithWhite) {
    // A two-page PWG raster file cut off in its second page: the missing rows must not
    // be printed as white paper and the job reported completed.
    const fs::path truncated = server.dir() / "truncated.pwg";
    ASSERT_EQ(
        write_pwg(truncated.string(), {letter_page(200, false, 1), letter_page(200, false, 2)}),
        "");
    fs::resize_file(truncated, fs::file_size(truncated) * 3 / 4);
    ipp::client ipp(server.uri("plotter"), server.dir());
    const int job = ipp.print(truncated, "image/pwg-raster", "truncated",
                              std::string("  ATTR keyword media ") + letter_media +
                                  "\n  ATTR resolution printer-resolution 200dpi",
                              60);
    // The request may be refused outright, or the job aborted; never completed.
    const job_status s = server.wait_job(uri, job > 0 ? job : 1, 90);
    EXPECT_EQ(s.state, "aborted");
    EXPECT_FALSE(s.message.empty()) << "an aborted job must say why";
    EXPECT_EQ(read_all(device).size(), 0u) << "a truncated document reached the device";
}

TEST_F(JobFailures, TextSentAsPngIsAbortedWithAReason) {
    const fs::path fake_png = server.dir() / "fake.png";
    std::ofstream(fake_png) << "this is not a picture\n";
    std::string why;
    const int job = server.print(uri, fake_png, "image/png", letter_job, "fake", &why);
    ASSERT_GT(job, 0) << why;
    const job_status s = server.wait_job(uri, job, 60);
    EXPECT_EQ(s.state, "aborted");
    EXPECT_FALSE(s.message.empty()) << "an aborted job must say why";
    EXPECT_EQ(read_all(device).size(), 0u) << "a failed job reached the device";
    if (s.state == "aborted") expect_next_job_prints_alone();
}

TEST_F(JobFailures, PageWiderThanAnyRollAndUnknownFormatPrintNothing) {
    struct bad_document {
        const char* name;
        fs::path file;
        const char* format;
        std::vector<std::string> attrs;
    };
    std::vector<bad_document> bad;

    // A page 1000 mm wide: wider than the plotter's widest roll (36 in), so no sheet
    // or roll holds it.
    test_page huge;
    huge.media = "custom_huge_1000x1300mm";
    huge.dpi = 200;
    huge.bilevel = false;
    huge.rows = [](int, uint8_t* grey, int w) { std::memset(grey, 255, static_cast<size_t>(w)); };
    const fs::path huge_doc = server.dir() / "huge.pwg";
    ASSERT_EQ(write_pwg(huge_doc.string(), {huge}), "");
    bad.push_back(
        {"huge", huge_doc, "image/pwg-raster", {"ATTR resolution printer-resolution 200dpi"}});

    for (const bad_document& d : bad) {
        SCOPED_TRACE(d.name);
        std::string why;
        const int job = server.print(uri, d.file, d.format, d.attrs, d.name, &why);
        ASSERT_GT(job, 0) << why;
        const job_status s = server.wait_job(uri, job, 60);
        EXPECT_EQ(s.state, "aborted");
        EXPECT_FALSE(s.message.empty()) << "an aborted job must say why";
        EXPECT_EQ(read_all(device).size(), 0u) << "a failed job reached the device";
    }
    // The huge page's reason names its size.
    {
        ipp::client ipp(server.uri("plotter"), server.dir());
        const auto s = ipp.state(1);
        EXPECT_NE(s.message.find("1000 x 1300 mm"), std::string::npos) << s.message;
    }

    // A format the printer does not take is refused, or its job aborted, naming the
    // format.
    const fs::path text = server.dir() / "notes.txt";
    std::ofstream(text) << "plain text\n";
    std::string why;
    const int job = server.print(uri, text, "text/plain", letter_job, "text", &why);
    if (job > 0) {
        const job_status s = server.wait_job(uri, job, 60);
        EXPECT_EQ(s.state, "aborted");
        why = s.message;
    }
    EXPECT_NE(why.find("text/plain"), std::string::npos) << why;
    EXPECT_EQ(read_all(device).size(), 0u);

    expect_next_job_prints_alone();
}

namespace {

// The driver processes (job children) whose parent is pid, from /proc.
std::vector<pid_t> job_children_of(pid_t parent) {
    std::vector<pid_t> found;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = read_all(e.path() / "cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find("--kvrac-job-child page") == std::string::npos) continue;
        std::ifstream status(e.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("PPid:", 0) == 0 && std::atoi(line.c_str() + 5) == parent)
                found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return found;
}

// True when pid has ended: gone, or a zombie waiting for whoever adopted it.
bool process_ended(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("State:", 0) == 0) return line.find('Z') != std::string::npos;
    return true;
}

} // namespace

TEST_F(JobFailures, DriverProcessDiesWithAKilledServer) {
    // An A0 page at 600 dpi: its driver process runs for a while.
    test_page big;
    big.media = "iso_a0_841x1189mm";
    big.dpi = 600;
    big.bilevel = false;
    int width = 0, height = 0;
    ASSERT_TRUE(page_pixels(big, width, height));
    big.rows = drawing_rows(width, height, big.dpi);
    const fs::path doc = server.dir() / "big.pwg";
    ASSERT_EQ(write_pwg(doc.string(), {big}), "");

    ipp::client sender(server.uri("plotter"), server.dir());
    std::thread print([&] {
        sender.print(doc, "image/pwg-raster", "big",
                     "  ATTR keyword media iso_a0_841x1189mm\n"
                     "  ATTR resolution printer-resolution 600dpi",
                     240);
    });
    // The sender ends once the server is gone, whichever way this test leaves.
    struct join_at_exit {
        std::thread& t;
        pid_t server;
        ~join_at_exit() {
            ::kill(server, SIGKILL);
            if (t.joinable()) t.join();
        }
    } joiner{print, server.pid()};
    std::vector<pid_t> driver;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    while (driver.empty() && std::chrono::steady_clock::now() < until) {
        driver = job_children_of(server.pid());
        if (driver.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(driver.empty()) << "the page's driver process was never seen";

    ASSERT_EQ(::kill(server.pid(), SIGKILL), 0)
        << "the server had ended before it was killed; its log ends:\n"
        << read_all(server.log_file())
               .substr(std::max<size_t>(read_all(server.log_file()).size(), 4000) - 4000);
    print.join();
    const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!process_ended(driver[0]) && std::chrono::steady_clock::now() < gone)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool ended = process_ended(driver[0]);
    if (!ended) ::kill(driver[0], SIGKILL);
    EXPECT_TRUE(ended) << "the driver process outlived the server by 5 s";
}

// Cancel-Job sent the moment Print-Job is answered can reach a job whose processing has
// just started, after PAPPL has already removed its document (the server once ended on
// it): the server must stay up. Each job is sent to an idle printer, so that it starts
// at once; the race is not hit every time.
TEST_F(JobFailures, JobsCanceledAsTheyStartLeaveTheServerUp) {
    const fs::path png = server.dir() / "page.png";
    ASSERT_EQ(write_page_png(png.string(), letter_page(200, false, 3)), "");
    const fs::path script = server.dir() / "drawing.kvs";
    std::ofstream(script) << "unit mm\npen 1\nmove 10 10\ndraw 100 100\n";
    ipp::client ipp(server.uri("plotter"), server.dir());
    for (int i = 0; i < 30; ++i) {
        const bool is_png = i % 2 == 0;
        const fs::path test = server.dir() / "print-cancel.test";
        {
            std::ofstream t(test);
            t << "{\n NAME \"Print-Job\"\n OPERATION Print-Job\n"
              << " GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
              << " ATTR naturalLanguage attributes-natural-language en\n"
              << " ATTR uri printer-uri $uri\n ATTR name requesting-user-name $user\n"
              << " ATTR name job-name \"quick-" << i << "\"\n"
              << " ATTR mimeMediaType document-format "
              << (is_png ? "image/png" : "application/vnd.kvrac-plot-script") << "\n"
              << " GROUP job-attributes-tag\n ATTR keyword media " << letter_media << "\n"
              << " ATTR resolution printer-resolution 200dpi\n"
              << " FILE " << (is_png ? png : script).string() << "\n STATUS successful-ok\n}\n"
              << "{\n NAME \"Cancel-Job\"\n OPERATION Cancel-Job\n"
              << " GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
              << " ATTR naturalLanguage attributes-natural-language en\n"
              << " ATTR uri printer-uri $uri\n ATTR integer job-id $job-id\n"
              << " ATTR name requesting-user-name $user\n}\n";
        }
        const command_result r =
            server.run("ipptool -T 30 -t '" + uri + "' '" + test.string() + "'");
        int status = 0;
        ASSERT_EQ(::waitpid(server.pid(), &status, WNOHANG), 0)
            << "the server ended at job " << i + 1 << ":\n"
            << read_all(server.dir() / "server.out") << r.out;
        const auto s = ipp.wait_for(i + 1, "canceled", 60);
        ASSERT_TRUE(s.ended()) << "job " << i + 1 << " is still " << s.state;
    }
    EXPECT_TRUE(http_answers(server.port()));
}
