// POSIX forms: rename replaces atomically; standard output is always binary.
#ifndef _WIN32

#include "system/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int file_replace(const std::string& from, const std::string& to, std::string* why) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return 0;
    *why = std::strerror(errno);
    return -1;
}

void stdout_binary() {}

void console_utf8() {}

#endif
