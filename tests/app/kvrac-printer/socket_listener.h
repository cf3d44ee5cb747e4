// A stand-in for a plotter's raw print port: listens on 127.0.0.1 on a free port and
// collects every byte sent to it, over as many connections as the server opens (back-to-
// back jobs may share one connection, so the bytes are kept as one stream).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class socket_listener {
  public:
    socket_listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~socket_listener() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    socket_listener(const socket_listener&) = delete;
    socket_listener& operator=(const socket_listener&) = delete;

    int port() const { return port_; } // 0 when the listener could not be set up
    int connections() const { return connections_; }

    std::string received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

    // Waits until at least size bytes have arrived or seconds have passed; returns what
    // has arrived.
    std::string wait_for(size_t size, int seconds = 120) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (bytes_.size() >= size) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return received();
    }

  private:
    // Accepts connections and reads them until stopped; polls so that stopping never
    // waits on a blocked call.
    void serve() {
        std::vector<pollfd> fds{{fd_, POLLIN, 0}};
        char buf[65536];
        while (!stop_) {
            if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
            for (size_t i = fds.size(); i-- > 0;) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                if (i == 0) {
                    int c = ::accept(fd_, nullptr, nullptr);
                    if (c >= 0) {
                        fds.push_back({c, POLLIN, 0});
                        ++connections_;
                    }
                    continue;
                }
                ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    bytes_.append(buf, static_cast<size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds.erase(fds.begin() + static_cast<long>(i));
                }
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) ::close(fds[i].fd);
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::string bytes_;
    std::thread thread_;
};
