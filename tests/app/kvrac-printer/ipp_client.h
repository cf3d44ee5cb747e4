// IPP requests beyond printing (printer_server.h prints and waits for jobs): Cancel-Job,
// a job's state with its reasons, waiting for a job to reach a state, a printer's
// attributes. Every request goes through the real ipptool from a test file the helper
// writes into the test's scratch folder; jobs are followed by polling, never by sleeping
// a fixed time, with generous limits for a loaded two-core machine.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "app/kvrac-printer/printer_server.h"

namespace ipp {

namespace fs = std::filesystem;

using printer_test::command_result;

// Runs a shell command, collecting what it prints. The command is stopped after
// seconds (timeout(1)), so a server that hangs fails the test instead of the run.
inline command_result run(const std::string& command, int seconds = 120) {
    command_result r;
    const std::string line = "timeout -k 5 " + std::to_string(seconds) + " " + command + " 2>&1";
    std::FILE* p = ::popen(line.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The attributes ipptool showed with DISPLAY ("        name (type) = value"): name to
// value text, the last shown value of each name.
inline std::map<std::string, std::string> displayed(const std::string& out) {
    std::map<std::string, std::string> found;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(at, end - at);
        at = end + 1;
        size_t open = line.find(" ("), eq = line.find(") = ");
        if (open == std::string::npos || eq == std::string::npos || eq < open) continue;
        size_t name = line.find_first_not_of(' ');
        if (name >= open) continue;
        found[line.substr(name, open - name)] = line.substr(eq + 4);
    }
    return found;
}

// One request to a printer: the operation and its attributes as ipptool test text (the
// lines between GROUP operation-attributes-tag's standard attributes and STATUS).
class client {
  public:
    // uri: the printer's IPP address; scratch: a folder for the test files.
    client(std::string uri, fs::path scratch)
        : uri_(std::move(uri)), scratch_(std::move(scratch)) {}

    const std::string& uri() const { return uri_; }

    // Runs one ipptool test made of body (operation, attributes, FILE, EXPECT, DISPLAY
    // lines) with the standard operation attributes put first. Returns ipptool's result;
    // status 0 means every STATUS/EXPECT held.
    command_result request(const std::string& operation, const std::string& body,
                           const std::string& status = "successful-ok", int seconds = 30) {
        const fs::path test = scratch_ / ("request-" + std::to_string(++count_) + ".test");
        std::ofstream(test) << "{\n  NAME \"" << operation << "\"\n  OPERATION " << operation
                            << "\n  GROUP operation-attributes-tag\n"
                               "  ATTR charset attributes-charset utf-8\n"
                               "  ATTR naturalLanguage attributes-natural-language en\n"
                               "  ATTR uri printer-uri $uri\n"
                               "  ATTR name requesting-user-name tester\n"
                            << body << "\n  STATUS " << status << "\n}\n";
        return run("ipptool -t -T " + std::to_string(seconds) + " " + quote(uri_) + " " +
                       quote(test.string()),
                   seconds + 30);
    }

    // Print-Job of file as format named name, waiting up to seconds for the answer (a
    // raster document is printed while it is received, so the answer comes when the
    // job has ended). Returns the job id, or 0 (the reason in last_output()).
    int print(const fs::path& file, const std::string& format, const std::string& name,
              const std::string& job_attributes, int seconds) {
        last_ = request("Print-Job",
                        "  ATTR mimeMediaType document-format " + format +
                            "\n  ATTR name job-name " + name + "\n  GROUP job-attributes-tag\n" +
                            job_attributes + "\n  FILE \"" + file.string() + "\"\n  DISPLAY job-id",
                        "successful-ok", seconds);
        auto shown = displayed(last_.out);
        return last_.status == 0 && shown.count("job-id") ? std::stoi(shown["job-id"]) : 0;
    }

    // The state of a job: job-state keyword ("pending", "processing", "completed",
    // "canceled", "aborted", ...), job-state-message and job-state-reasons as shown.
    struct job_state {
        std::string state, message, reasons;
        bool ended() const {
            return state == "completed" || state == "canceled" || state == "aborted";
        }
    };

    job_state state(int job_id) {
        last_ =
            request("Get-Job-Attributes", "  ATTR integer job-id " + std::to_string(job_id) +
                                              "\n  ATTR keyword requested-attributes "
                                              "job-state,job-state-message,job-state-reasons"
                                              "\n  DISPLAY job-state\n  DISPLAY job-state-message"
                                              "\n  DISPLAY job-state-reasons");
        auto shown = displayed(last_.out);
        return {shown["job-state"], shown["job-state-message"], shown["job-state-reasons"]};
    }

    // Polls until the job has reached want (or has ended) or seconds have passed.
    job_state wait_for(int job_id, const std::string& want, int seconds = 120) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        job_state s = state(job_id);
        while (s.state != want && !s.ended() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            s = state(job_id);
        }
        return s;
    }

    bool cancel(int job_id) {
        last_ = request("Cancel-Job", "  ATTR integer job-id " + std::to_string(job_id));
        return last_.status == 0;
    }

    // The printer's attributes named in names (comma separated), as shown.
    std::map<std::string, std::string> attributes(const std::string& names) {
        std::string body = "  ATTR keyword requested-attributes " + names;
        for (size_t at = 0; at <= names.size();) {
            size_t end = names.find(',', at);
            if (end == std::string::npos) end = names.size();
            body += "\n  DISPLAY " + names.substr(at, end - at);
            at = end + 1;
        }
        last_ = request("Get-Printer-Attributes", body);
        return displayed(last_.out);
    }

    const command_result& last_output() const { return last_; }

  private:
    std::string uri_;
    fs::path scratch_;
    int count_ = 0;
    command_result last_;
};

} // namespace ipp
