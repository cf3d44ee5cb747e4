// Windows forms. A plain rename refuses to replace an existing file, so the
// replacement goes through MoveFileExA, asked to replace and to write through. A
// console shows bytes in its own code page, so kvrac's UTF-8 texts need it set.
//
// A file the user names is written as on Linux: to a new, uniquely named file beside
// it (GetTempFileNameA creates it exclusively), moved over the name when complete.
// The temporary file is opened with delete sharing, so the Ctrl+C handler can remove
// it while it is still open. Windows has no file-size limit signal and kvrac follows
// no links there; its devices (NUL, CON, COM1, LPT1, \\.\NAME) are written straight.
#include "system/files.h"

#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

constexpr int guard_slots = 4;
constexpr int guard_path_max = MAX_PATH + 1;

// Paths of temporary files to remove when Ctrl+C or a termination request stops the
// program; "" = free.
char guarded[guard_slots][guard_path_max];
volatile sig_atomic_t handlers_installed = 0;

void on_stopping_signal(int sig) {
    for (auto& p : guarded)
        if (p[0]) DeleteFileA(p);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string folder_of(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return ".";
    if (cut == 0 || path[cut - 1] == ':') return path.substr(0, cut + 1);
    return path.substr(0, cut);
}

// A name Windows gives a device: NUL, CON, PRN, AUX, COMn, LPTn (with any extension
// or folder) or \\.\NAME.
bool device_name(const std::string& path) {
    if (path.compare(0, 4, "\\\\.\\") == 0) return true;
    size_t start = path.find_last_of("\\/:");
    std::string base = path.substr(start == std::string::npos ? 0 : start + 1);
    base = base.substr(0, base.find('.'));
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (base == "NUL" || base == "CON" || base == "PRN" || base == "AUX") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

} // namespace

int cleanup_guard(const std::string& path) {
    if (!handlers_installed) {
        handlers_installed = 1;
        std::signal(SIGINT, on_stopping_signal);
        std::signal(SIGTERM, on_stopping_signal);
    }
    if (path.empty() || path.size() >= guard_path_max) return -1;
    for (int i = 0; i < guard_slots; ++i) {
        if (guarded[i][0]) continue;
        std::memcpy(guarded[i] + 1, path.c_str() + 1, path.size());
        guarded[i][0] = path[0];
        return i;
    }
    return -1;
}

void cleanup_forget(int slot) {
    if (slot >= 0 && slot < guard_slots) guarded[slot][0] = 0;
}

std::string file_link_target(const std::string& path, std::string*) {
    return path;
}

int output_open(const std::string& path, output_file& out, std::string* why) {
    out = {nullptr, path, "", "", -1};
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "cannot write " + path + ": it is a folder";
        return -1;
    }
    if (device_name(path)) {
        out.stream = std::fopen(path.c_str(), "wb");
        if (!out.stream) *why = "cannot write " + path + ": " + std::strerror(errno);
        return out.stream ? 0 : -1;
    }
    char temp[MAX_PATH];
    if (!GetTempFileNameA(folder_of(path).c_str(), "kvr", 0, temp)) {
        *why = "cannot create a file beside " + path + ": " + win32_error_text(GetLastError());
        return -1;
    }
    out.temp = temp;
    out.target = path;
    out.guard = cleanup_guard(out.temp);
    HANDLE h = CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *why = "cannot write " + out.temp + ": " + win32_error_text(GetLastError());
        output_discard(out);
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    out.stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (!out.stream) {
        *why = "cannot write " + out.temp + ": " + std::strerror(errno);
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(h);
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
    std::string reason;
    if (std::fflush(out.stream) != 0) reason = std::strerror(errno);
    if (reason.empty() && !out.temp.empty() && _commit(_fileno(out.stream)) != 0)
        reason = std::strerror(errno);
    if (std::fclose(out.stream) != 0 && reason.empty()) reason = std::strerror(errno);
    out.stream = nullptr;
    if (reason.empty() && !out.temp.empty() && file_replace(out.temp, out.target, &reason) == 0) {
        cleanup_forget(out.guard);
        out.guard = -1;
        out.temp.clear();
        return 0;
    }
    if (reason.empty()) return 0;
    *why = "cannot write " + out.name + ": " + reason;
    output_discard(out);
    return -1;
}

void output_write_behind(std::FILE*) {
    // The commit's flush does it all: Windows starts writing a file's pages lazily on
    // its own.
}

void output_discard(output_file& out) {
    if (out.stream) std::fclose(out.stream);
    out.stream = nullptr;
    if (!out.temp.empty()) DeleteFileA(out.temp.c_str());
    cleanup_forget(out.guard);
    out.guard = -1;
    out.temp.clear();
}

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
