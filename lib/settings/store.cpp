// The settings store on POSIX systems (store_win32.cpp is the Windows one).
#ifndef _WIN32

#include "settings/store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "system/files.h"

namespace {

// ${XDG_CONFIG_HOME:-$HOME/.config}/kvrac/settings.bin: the one store whose folder a
// save may create.
std::string default_store_path() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
    else
        base = ".";
    return (base / "kvrac" / "settings.bin").string();
}

} // namespace

std::string store_path(const char* option_value) {
    if (option_value && *option_value) return option_value;
    if (const char* env = std::getenv("KVRAC_SETTINGS"); env && *env) return env;
    return default_store_path();
}

int store_load(const std::string& path, void* buffer, int count) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    struct stat st;
    int result = 1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == count) {
        unsigned char tmp[256];
        if (count > 0 && count <= static_cast<int>(sizeof tmp) && ::read(fd, tmp, count) == count) {
            std::memcpy(buffer, tmp, count);
            result = 0;
        }
    }
    ::close(fd);
    return result;
}

namespace {

// Creates every missing folder on the way to path's parent.
void make_parents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        std::string dir = path.substr(0, i);
        ::mkdir(dir.c_str(), 0755);
    }
}

std::string parent_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

int store_check_writable(const std::string& path, int count, std::string* why) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || path == default_store_path()) return 0;
        const std::string folder = parent_of(path);
        if (::stat(folder.c_str(), &st) == 0) return 0;
        *why = "the folder " + folder + " of the settings store " + path +
               " does not exist: create it, or give --settings a path in an existing folder "
               "(only the default store's folder is made)";
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        *why = path + " is a folder, not a settings file: give --settings a file name";
        return 1;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = path + " is not a regular file: give --settings a file name";
        return 1;
    }
    if (st.st_size == 0 || st.st_size == count) return 0;
    *why = path + " holds " + std::to_string(static_cast<long long>(st.st_size)) +
           " bytes, not a settings record of " + std::to_string(count) +
           ": kvrac will not overwrite it. Give --settings (or KVRAC_SETTINGS) a new file "
           "or an existing settings file";
    return 1;
}

int store_save(const std::string& path, const void* bytes, int count, std::string* error) {
    if (store_check_writable(path, count, error) != 0) return 1;
    const std::string target = file_link_target(path, error);
    if (target.empty()) return 1;
    if (path == default_store_path()) make_parents(target);
    std::string tmp = target + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("cannot create a file beside ") + path + ": " + std::strerror(errno);
        return 1;
    }
    const int guard = cleanup_guard(tmp);
    bool ok = ::fchmod(fd, 0644) == 0 && ::write(fd, bytes, count) == count && ::fsync(fd) == 0;
    int saved_errno = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        saved_errno = errno;
        ok = false;
    }
    if (!ok) ::unlink(tmp.c_str());
    cleanup_forget(guard);
    if (!ok) {
        *error = std::string("cannot write ") + path + ": " + std::strerror(saved_errno);
        return 1;
    }
    int dir = ::open(parent_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

#endif
