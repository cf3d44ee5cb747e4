// Windows forms. A plain rename refuses to replace an existing file, so the
// replacement goes through MoveFileExA, asked to replace and to write through.
#include "kvrac/files.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int file_replace(const std::string& from, const std::string& to, std::string* why) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    *why = win32_error_text(GetLastError());
    return -1;
}

void stdout_binary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::string win32_error_text(unsigned long code) {
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 &&
           (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
        --n;
    if (n == 0) {
        std::snprintf(text, sizeof text, "error %lu", code);
        return text;
    }
    return std::string(text, n);
}
