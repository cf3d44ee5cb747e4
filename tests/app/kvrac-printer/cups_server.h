// A CUPS scheduler of the test's own, as the client of the printer application: cupsd in
// the foreground on a scratch configuration (its own server root, spool, cache, state,
// temporary and log folders) listening on 127.0.0.1 only, on a free port. Nothing of the
// machine's own CUPS is read or touched: no shared socket, no printcap, no browsing.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ipp_client.h"

extern char** environ;

class cups_server {
  public:
    // Writes the configuration into root (created) and starts cupsd. On failure,
    // error() says why and the server is not running.
    explicit cups_server(std::filesystem::path root) : root_(std::move(root)) {
        namespace fs = std::filesystem;
        fs::remove_all(root_);
        for (const char* sub : {"conf", "spool", "cache", "state", "tmp", "log"})
            fs::create_directories(root_ / sub);
        // Filters run as the lp user: the folders above the spool must let them through.
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        port_ = free_port();
        const std::string r = root_.string();
        std::ofstream(root_ / "cups-files.conf")
            << "ServerRoot " << r << "/conf\nRequestRoot " << r << "/spool\nCacheDir " << r
            << "/cache\nStateDir " << r << "/state\nTempDir " << r << "/tmp\nErrorLog " << r
            << "/log/error_log\nAccessLog " << r << "/log/access_log\nPageLog " << r
            << "/log/page_log\nDataDir /usr/share/cups\nServerBin /usr/lib/cups\n";
        std::ofstream(root_ / "cupsd.conf")
            << "Listen 127.0.0.1:" << port_ << "\nLogLevel debug\nBrowsing No\n"
            << "Printcap " << r << "/state/printcap\nWebInterface No\nDefaultAuthType None\n"
            << "<Location />\n  Order allow,deny\n  Allow 127.0.0.1\n</Location>\n"
            << "<Location /admin>\n  Order allow,deny\n  Allow 127.0.0.1\n</Location>\n"
            << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
        const std::string conf = (root_ / "cupsd.conf").string(),
                          files = (root_ / "cups-files.conf").string();
        const char* argv[] = {"/usr/sbin/cupsd", "-f",   "-c", conf.c_str(), "-s",
                              files.c_str(),     nullptr};
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = 0;
            error_ = "cannot start /usr/sbin/cupsd";
            return;
        }
        // Ready when the scheduler answers on its port.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until) {
            int raw;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                pid_ = 0;
                error_ = "cupsd exited at start: " + log_tail();
                return;
            }
            if (ipp::run("lpstat -h " + host() + " -r", 10).out.find("scheduler is running") !=
                std::string::npos)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        error_ = "cupsd did not answer on " + host() + ": " + log_tail();
    }

    ~cups_server() { stop(); }
    cups_server(const cups_server&) = delete;
    cups_server& operator=(const cups_server&) = delete;

    // Stops the scheduler: SIGTERM, and SIGKILL if it has not gone after 30 seconds.
    void stop() {
        if (!pid_) return;
        ::kill(pid_, SIGTERM);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int raw;
        while (::waitpid(pid_, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &raw, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        pid_ = 0;
    }

    bool running() const { return pid_ != 0 && error_.empty(); }
    const std::string& error() const { return error_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::filesystem::path root() const { return root_; }

    // The last lines of the scheduler's error log, for messages.
    std::string log_tail(size_t bytes = 3000) const {
        std::ifstream in(root_ / "log/error_log", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        return text.size() > bytes ? text.substr(text.size() - bytes) : text;
    }

  private:
    static int free_port() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        ::close(fd);
        return port;
    }

    std::filesystem::path root_;
    int port_ = 0;
    pid_t pid_ = 0;
    std::string error_;
};
