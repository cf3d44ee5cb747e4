// ipptool's own conformance suite (ipp-everywhere.test with the IPP/1.1 and IPP/2.0
// suites it includes) against a printer. The checks listed below pass today and must
// keep passing; the others are reported in the test's output (see also the printer
// application's notes), not asserted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "app/kvrac-printer/expected_job.h"
#include "app/kvrac-printer/ipp_client.h"
#include "app/kvrac-printer/page_files.h"
#include "app/kvrac-printer/printer_server.h"

using namespace printer_test;
namespace fs = std::filesystem;

namespace {

// ipptool's test names (as it prints them, cut at 68 characters) that pass.
const std::set<std::string> must_pass = {
    "RFC 8011 section 4.1.1: Bad request-id value 0",
    "RFC 8011 section 4.1.4: No Operation Attributes",
    "RFC 8011 section 4.1.4: attributes-charset",
    "RFC 8011 section 4.1.4: attributes-natural-language",
    "RFC 8011 section 4.1.8: Unsupported IPP version 0.0",
    "RFC 8011 section 4.2: No printer-uri operation attribute",
    "RFC 8011 section 4.2.1: Print-Job Operation",
    "RFC 8011 section 4.2.3: Validate-Job Operation",
    "RFC 8011 section 4.2.6: Get-Jobs Operation (default)",
    "RFC 8011 section 4.2.6: Get-Jobs Operation (requested-attributes)",
    "RFC 8011 section 4.2.6: Get-Jobs Operation (my-jobs)",
    "Get-Job-Attributes Until Job Complete",
    "RFC 8011 section 4.3.3: Cancel-Job Operation (completed job)",
    "RFC 8011 section 4.3.4: Get-Job-Attributes Operation",
    "RFC 8011 section 4.2.4: Create-Job Operation",
    "RFC 8011 section 4.3.1: Send-Document Operation",
    "RFC 8011 section 4.3.3: Cancel-Job Operation",
    "Print-Job with copies",
};

// Each "NAME [RESULT]" line of ipptool's output as name -> PASS, FAIL or SKIP; a name
// that appears more than once (two suites use it) counts as passed when one passed.
std::map<std::string, std::string> results(const std::string& out) {
    std::map<std::string, std::string> found;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t open = line.rfind('['), close = line.rfind(']');
        if (open == std::string::npos || close != line.size() - 1 || line.rfind("    ", 0) != 0)
            continue;
        const std::string result = line.substr(open + 1, close - open - 1);
        if (result != "PASS" && result != "FAIL" && result != "SKIP") continue;
        std::string name = line.substr(4, open - 4);
        name.erase(name.find_last_not_of(' ') + 1);
        if (found[name] != "PASS") found[name] = result;
    }
    return found;
}

} // namespace

TEST(IppEverywhere, ConformanceChecksThatPassKeepPassing) {
    printer_server server("ConformanceChecks");
    ASSERT_TRUE(server.ready());
    const std::string uri = server.add_printer("plotter", "file://" + server.device_dir().string());
    ASSERT_FALSE(uri.empty());
    // The suites' jobs name no media or resolution: Letter at the lowest resolution
    // (print-quality draft, which PAPPL picks it by) keeps them quick.
    const command_result m =
        server.sub("modify -d plotter -o print-quality=draft -o media=na_letter_8.5x11in");
    ASSERT_EQ(m.status, 0) << m.out;
    // The suites print the file given with -f; a Letter page at 200 dpi keeps it short.
    const fs::path png = server.dir() / "letter.png";
    ASSERT_EQ(write_page_png(png.string(), letter_page(200, false, 0)), "");

    const ipp::command_result r =
        ipp::run("sh -c 'cd /usr/share/cups/ipptool && ipptool -t -I -T 30 -f " + png.string() +
                     " " + uri + " ipp-everywhere.test'",
                 400);
    const auto found = results(r.out);
    ASSERT_FALSE(found.empty()) << r.out;
    for (const std::string& name : must_pass) {
        auto at = found.find(name.substr(0, 68));
        ASSERT_NE(at, found.end()) << "ipptool did not run: " << name << "\n" << r.out;
        if (at->second != "PASS") {
            // ipptool's account of the failed check: its line and the indented lines after.
            const size_t from = r.out.find(name.substr(0, 68));
            const size_t to = r.out.find("\n    ", r.out.find('\n', from) + 1);
            ADD_FAILURE() << name << ": " << at->second << "\n"
                          << r.out.substr(from, to == std::string::npos ? 2000 : to - from + 2000);
        }
    }
    std::string others;
    for (const auto& [name, result] : found)
        if (result != "PASS") others += "  " + result + " " + name + "\n";
    std::printf("ipp-everywhere.test checks that do not pass:\n%s", others.c_str());

    // The suites leave jobs behind (a few, numbered from 1); the server is stopped once
    // they have ended.
    ipp::client ipp(uri, server.dir());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    for (int job = 1; job <= 20; ++job) {
        auto s = ipp.state(job);
        while (!s.state.empty() && !s.ended() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            s = ipp.state(job);
        }
        EXPECT_TRUE(s.state.empty() || s.ended()) << "job " << job << " is still " << s.state;
    }
}
