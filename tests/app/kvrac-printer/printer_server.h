// Runs `kvrac-printer server` for a test: a free loopback port, scratch state, spool,
// runtime (control socket) and device folders, stopped and removed at the end.
//
//   printer_server s("smoke");                 // started, answering IPP
//   std::string uri = s.add_printer("p1", "file://" + s.device_dir().string());
//   int job = s.print(uri, "page.png", "image/png", {"ATTR keyword media iso_a4_210x297mm"});
//   EXPECT_EQ(s.wait_job(uri, job).state, "completed");
//
// The helper talks IPP with the real ipptool (cups-ipp-utils) and the sub-commands of
// the program itself, with the scratch runtime folder in KVRAC_PRINTER_RUNTIME_DIR so
// that several servers (and several test programs) can run at once.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#ifndef KVRAC_PRINTER_BINARY
#define KVRAC_PRINTER_BINARY ""
#endif

extern char** environ;

namespace printer_test {

namespace fs = std::filesystem;

// Output and exit status of a command run through the shell.
struct command_result {
    int status;      // exit status; -1 when it did not exit normally
    std::string out; // standard output and standard error together
};

inline std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A port that nothing listens on right now (the kernel's choice on 127.0.0.1).
inline int free_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

// True when an HTTP server answers on 127.0.0.1:port.
inline bool http_answers(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const char req[] = "GET / HTTP/1.0\r\nHost: localhost\r\n\r\n";
        char reply[16] = {};
        if (::send(fd, req, sizeof req - 1, MSG_NOSIGNAL) > 0 &&
            ::recv(fd, reply, 8, MSG_WAITALL) == 8)
            ok = std::string(reply, 5) == "HTTP/";
    }
    ::close(fd);
    return ok;
}

// A job's state as Get-Job-Attributes reports it.
struct job_status {
    std::string state;   // "completed", "aborted", "canceled", ... ("" when unknown)
    std::string message; // job-state-message
};

class printer_server {
  public:
    // Starts a server named after the test (scratch folder /tmp/kvrac-printer-NAME-PID).
    // Fails the test (ADD_FAILURE) when it does not answer within 20 s; check ready().
    explicit printer_server(const std::string& name) {
        dir_ = fs::temp_directory_path() /
               ("kvrac-printer-" + name + "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        for (const char* sub : {"state", "run", "device"}) fs::create_directories(dir_ / sub);
        if (std::string(KVRAC_PRINTER_BINARY).empty()) {
            ADD_FAILURE() << "kvrac-printer is not built here";
            return;
        }
        start();
    }

    ~printer_server() {
        stop();
        if (!std::getenv("KVRAC_KEEP_TEST_DIRS")) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
    }

    printer_server(const printer_server&) = delete;
    printer_server& operator=(const printer_server&) = delete;

    bool ready() const { return pid_ > 0; }
    int port() const { return port_; }
    const fs::path& dir() const { return dir_; }
    fs::path state_dir() const { return dir_ / "state"; }
    fs::path device_dir() const { return dir_ / "device"; }
    fs::path log_file() const { return dir_ / "server.log"; }
    pid_t pid() const { return pid_; }

    // (Re)starts the server on the same port and folders; waits until it answers HTTP
    // and its control socket exists. Returns ready().
    bool start() {
        if (pid_ > 0) return true;
        if (port_ == 0) port_ = free_port();
        const std::string port_opt = "server-port=" + std::to_string(port_);
        const std::string state_opt = "state-directory=" + state_dir().string();
        const std::string log_opt = "log-file=" + log_file().string();
        std::vector<std::string> args = {
            KVRAC_PRINTER_BINARY, "server", "-o", port_opt, "-o", state_opt, "-o", log_opt, "-o",
            "log-level=debug"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::setenv("KVRAC_PRINTER_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        const std::string out = (dir_ / "server.out").string();
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return false;
        }
        pid_ = pid;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const fs::path sock = dir_ / "run" / "kvrac-printer.sock";
        const fs::path user_sock =
            dir_ / "run" / ("kvrac-printer" + std::to_string(::getuid()) + ".sock");
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                ADD_FAILURE() << "kvrac-printer server exited at start:\n"
                              << read_all(dir_ / "server.out") << read_all(log_file());
                return false;
            }
            if (http_answers(port_) && (fs::exists(sock) || fs::exists(user_sock))) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "kvrac-printer server does not answer on port " << port_;
        stop();
        return false;
    }

    // Stops the server with SIGTERM (it saves its state) and waits for it, SIGKILL
    // after 15 s. Returns the seconds it took to exit.
    double stop() {
        if (pid_ <= 0) return 0;
        const auto from = std::chrono::steady_clock::now();
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 1500; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (i == 1499) {
                ADD_FAILURE() << "kvrac-printer server ignores SIGTERM";
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
        }
        pid_ = 0;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    }

    // Runs a shell command with this server's runtime folder in the environment.
    command_result run(const std::string& command) const {
        const fs::path out = dir_ / "command.out";
        const std::string cmd = "KVRAC_PRINTER_RUNTIME_DIR='" + (dir_ / "run").string() + "' " +
                                command + " >'" + out.string() + "' 2>&1 </dev/null";
        int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_all(out)};
    }

    // Runs a sub-command of kvrac-printer ("printers", "add -d p1 ...").
    command_result sub(const std::string& args) const {
        return run("'" + std::string(KVRAC_PRINTER_BINARY) + "' " + args);
    }

    // Adds a printer with the sub-command `add`; returns its IPP URI ("" after a test
    // failure). Options are more "-o name=value" arguments.
    std::string add_printer(const std::string& name, const std::string& device_uri,
                            const std::string& driver = "orvix_9270_rtl",
                            const std::string& options = "") {
        command_result r =
            sub("add -d " + name + " -m " + driver + " -v '" + device_uri + "' " + options);
        if (r.status != 0) {
            ADD_FAILURE() << "kvrac-printer add " << name << ": " << r.out;
            return "";
        }
        return uri(name);
    }

    std::string uri(const std::string& printer) const {
        return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + printer;
    }

    // Sends Print-Job with ipptool: file as format, job-name `job_name` (a file:// folder
    // device names its files after it, so give each job its own), and more ipptool
    // ATTR lines of the job-attributes group. Returns the job id, or 0 with *why set to
    // ipptool's output when the request failed.
    int print(const std::string& printer_uri, const fs::path& file, const std::string& format,
              const std::vector<std::string>& job_attrs = {}, const std::string& job_name = "",
              std::string* why = nullptr) {
        const std::string name =
            job_name.empty() ? "job-" + std::to_string(++jobs_sent_) : job_name;
        const fs::path test = dir_ / ("print-" + name + ".test");
        {
            std::ofstream t(test);
            t << "{\n NAME \"Print-Job\"\n OPERATION Print-Job\n GROUP operation-attributes-tag\n"
                 " ATTR charset attributes-charset utf-8\n"
                 " ATTR naturalLanguage attributes-natural-language en\n"
                 " ATTR uri printer-uri $uri\n ATTR name requesting-user-name $user\n"
                 " ATTR name job-name \""
              << name << "\"\n ATTR mimeMediaType document-format \"" << format << "\"\n";
            if (!job_attrs.empty()) t << " GROUP job-attributes-tag\n";
            for (const std::string& a : job_attrs) t << " " << a << "\n";
            t << " FILE $filename\n STATUS successful-ok\n DISPLAY job-id\n}\n";
        }
        command_result r = run("ipptool -T 600 -t -f '" + file.string() + "' '" + printer_uri + "' '" +
                               test.string() + "'");
        const size_t at = r.out.find("job-id (integer) = ");
        if (r.status != 0 || at == std::string::npos) {
            if (why) *why = r.out;
            return 0;
        }
        return std::atoi(r.out.c_str() + at + 19);
    }

    // The job's state and message now.
    job_status job(const std::string& printer_uri, int job_id) {
        const fs::path test = dir_ / "get-job.test";
        if (!fs::exists(test)) {
            std::ofstream t(test);
            t << "{\n NAME \"Get-Job-Attributes\"\n OPERATION Get-Job-Attributes\n"
                 " GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
                 " ATTR naturalLanguage attributes-natural-language en\n"
                 " ATTR uri printer-uri $uri\n ATTR integer job-id $job_id\n"
                 " ATTR name requesting-user-name $user\n"
                 " ATTR keyword requested-attributes job-state,job-state-message\n"
                 " STATUS successful-ok\n DISPLAY job-state\n DISPLAY job-state-message\n}\n";
        }
        command_result r = run("ipptool -t -d job_id=" + std::to_string(job_id) + " '" +
                               printer_uri + "' '" + test.string() + "'");
        job_status s;
        auto value = [&r](const std::string& key) {
            const size_t at = r.out.find(key);
            if (at == std::string::npos) return std::string();
            const size_t from = r.out.find("= ", at) + 2, to = r.out.find('\n', from);
            return r.out.substr(from, to - from);
        };
        s.state = value("job-state (enum)");
        s.message = value("job-state-message (textWithoutLanguage)");
        return s;
    }

    // Waits (at most `seconds`) until the job is completed, aborted or canceled.
    job_status wait_job(const std::string& printer_uri, int job_id, int seconds = 120) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        job_status s;
        do {
            s = job(printer_uri, job_id);
            if (s.state == "completed" || s.state == "aborted" || s.state == "canceled") return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (std::chrono::steady_clock::now() < until);
        return s;
    }

  private:
    fs::path dir_;      // scratch folder
    int port_ = 0;      // IPP port on localhost
    pid_t pid_ = 0;     // the server; 0 when stopped
    int jobs_sent_ = 0; // for default job names
};

} // namespace printer_test
