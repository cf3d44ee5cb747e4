// POSIX forms: rename replaces atomically; standard output is always binary.
//
// A file the user names is replaced in one step: the bytes go to a file created
// exclusively (O_EXCL, unique name) beside the target, reach the disk, and are renamed
// over it. Two programs writing the same name at once thus each leave a whole file,
// and the last rename wins; a failure or a stopping signal leaves the old file whole
// and no temporary file behind.
#ifndef _WIN32

#include "system/files.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int guard_slots = 4;       // temporary files alive at once (job, store, ...)
constexpr int guard_path_max = 4096; // longest guarded path, with its final zero

struct cleanup_state {
    // Paths of temporary files to remove when a signal stops the program; "" = free.
    // Written by the program, read by the signal handlers: each path is complete
    // before its first byte becomes non-zero, and cleared from its first byte.
    char paths[guard_slots][guard_path_max];
    volatile sig_atomic_t installed; // the handlers are in place
};

cleanup_state cleanup;

const int stopping_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the guarded files (unlink is safe in a handler), then lets the signal take
// its default course (the handler was installed to reset itself).
void on_stopping_signal(int sig) {
    for (auto& p : cleanup.paths)
        if (p[0]) ::unlink(p);
    ::raise(sig);
}

void install_handlers() {
    if (cleanup.installed) return;
    cleanup.installed = 1;
    for (int sig : stopping_signals) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = on_stopping_signal;
        sigemptyset(&sa.sa_mask);
        for (int other : stopping_signals) sigaddset(&sa.sa_mask, other);
        sa.sa_flags = SA_RESETHAND;
        ::sigaction(sig, &sa, nullptr);
    }
    // A write beyond the file-size limit then fails with EFBIG, which is reported.
    ::signal(SIGXFSZ, SIG_IGN);
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The descriptor a name of an open descriptor stands for, or -1.
int descriptor_name(const std::string& path) {
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const size_t n = std::strlen(prefix);
        if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6) continue;
        int fd = 0;
        for (size_t i = n; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9') return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

std::string system_reason(int code) {
    return std::strerror(code);
}

void fsync_folder(const std::string& path) {
    int dir = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

} // namespace

int file_replace(const std::string& from, const std::string& to, std::string* why) {
    if (std::rename(from.c_str(), to.c_str()) == 0) {
        fsync_folder(to);
        return 0;
    }
    *why = std::strerror(errno);
    return -1;
}

std::string file_link_target(const std::string& path, std::string* why) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        ssize_t n = ::readlink(p.c_str(), link, sizeof link - 1);
        if (n < 0) return p; // not a link, or nothing there yet
        std::string next(link, static_cast<size_t>(n));
        p = next[0] == '/' ? next : folder_of(p) + "/" + next;
    }
    *why = path + ": " + system_reason(ELOOP);
    return "";
}

int cleanup_guard(const std::string& path) {
    install_handlers();
    if (path.empty() || path.size() >= guard_path_max) return -1;
    for (int i = 0; i < guard_slots; ++i) {
        if (cleanup.paths[i][0]) continue;
        std::memcpy(cleanup.paths[i] + 1, path.c_str() + 1, path.size());
        cleanup.paths[i][0] = path[0];
        return i;
    }
    return -1;
}

void cleanup_forget(int slot) {
    if (slot >= 0 && slot < guard_slots) cleanup.paths[slot][0] = 0;
}

int output_open(const std::string& path, output_file& out, std::string* why) {
    out = {nullptr, path, "", "", -1};
    // Names of open descriptors: /proc's links name pipes and sockets with words that
    // are no paths, so these are never followed, only written to.
    std::string target = path;
    int fd = descriptor_name(path);
    if (fd < 0) {
        target = file_link_target(path, why);
        if (target.empty()) return -1;
        if (target.compare(0, 6, "/proc/") == 0 || target.compare(0, 8, "/dev/fd/") == 0)
            fd = descriptor_name(target);
    }
    if (fd >= 0) {
        int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        out.stream = copy >= 0 ? ::fdopen(copy, "wb") : nullptr;
        if (!out.stream) {
            *why = "cannot write " + path + ": " + system_reason(errno);
            if (copy >= 0) ::close(copy);
            return -1;
        }
        return 0;
    }
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        *why = "cannot write " + path + ": " + system_reason(EISDIR);
        return -1;
    }
    if ((exists && !S_ISREG(st.st_mode)) || target.compare(0, 6, "/proc/") == 0) {
        // A device, FIFO or socket: it takes the bytes as they come.
        out.stream = std::fopen(target.c_str(), "wb");
        if (!out.stream) {
            *why = "cannot write " + path + ": " + system_reason(errno);
            return -1;
        }
        return 0;
    }
    std::string temp = target + ".XXXXXX";
    int tfd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (tfd < 0) {
        *why = "cannot create a file beside " + path + ": " + system_reason(errno);
        return -1;
    }
    out.guard = cleanup_guard(temp);
    out.temp = temp;
    out.target = target;
    mode_t mode;
    if (exists) {
        // The replacement keeps the file's permissions, and its owner and group where
        // the system lets us give them (root replacing a user's job, say).
        mode = st.st_mode & 0777;
        if (::fchown(tfd, st.st_uid, st.st_gid) != 0) {
            // Not permitted: the new file is ours, as any file we create.
        }
    } else {
        mode_t mask = ::umask(022);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(tfd, mode);
    out.stream = ::fdopen(tfd, "wb");
    if (!out.stream) {
        *why = "cannot write " + temp + ": " + system_reason(errno);
        ::close(tfd);
        output_discard(out);
        return -1;
    }
    return 0;
}

int output_commit(output_file& out, std::string* why) {
    if (!out.stream) {
        *why = "cannot write " + out.name + ": the output is closed";
        return -1;
    }
    int code = 0;
    if (std::fflush(out.stream) != 0) code = errno;
    if (code == 0 && !out.temp.empty() && ::fsync(::fileno(out.stream)) != 0) code = errno;
    if (std::fclose(out.stream) != 0 && code == 0) code = errno;
    out.stream = nullptr;
    if (code == 0 && !out.temp.empty()) {
        std::string reason;
        if (file_replace(out.temp, out.target, &reason) == 0) {
            cleanup_forget(out.guard);
            out.guard = -1;
            out.temp.clear();
            return 0;
        }
        *why = "cannot write " + out.name + ": " + reason;
        output_discard(out);
        return -1;
    }
    if (code != 0) {
        *why = "cannot write " + out.name + ": " + system_reason(code);
        output_discard(out);
        return -1;
    }
    return 0;
}

void output_write_behind(std::FILE* stream) {
    if (std::fflush(stream) != 0) return; // the error is met again, and reported, at the commit
    // Fails harmlessly (ESPIPE) on a pipe or socket.
    ::sync_file_range(::fileno(stream), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void output_discard(output_file& out) {
    if (out.stream) std::fclose(out.stream);
    out.stream = nullptr;
    if (!out.temp.empty()) ::unlink(out.temp.c_str());
    cleanup_forget(out.guard);
    out.guard = -1;
    out.temp.clear();
}

void stdout_binary() {}

void console_utf8() {}

#endif
