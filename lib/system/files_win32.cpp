// Windows forms. A plain rename refuses to replace an existing file, so the
// replacement goes through MoveFileExA, asked to replace and to write through. A
// console shows bytes in its own code page, so kvrac's UTF-8 texts need it set.
#include "system/files.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

namespace {

struct console_state {
    UINT saved_code_page; // the console's output code page before console_utf8; 0 = unchanged
};

console_state console = {0};

void restore_console_code_page() {
    if (console.saved_code_page) SetConsoleOutputCP(console.saved_code_page);
}

bool is_console(DWORD which) {
    HANDLE h = GetStdHandle(which);
    DWORD mode;
    return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

} // namespace

int file_replace(const std::string& from, const std::string& to, std::string* why) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    *why = win32_error_text(GetLastError());
    return -1;
}

void console_utf8() {
    if (console.saved_code_page || !(is_console(STD_OUTPUT_HANDLE) || is_console(STD_ERROR_HANDLE)))
        return;
    const UINT before = GetConsoleOutputCP();
    if (before == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    // The console outlives the program: give it back its own code page at the end.
    console.saved_code_page = before;
    std::atexit(restore_console_code_page);
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
