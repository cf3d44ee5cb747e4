// The settings store on Windows: the same 40-byte file as on Linux, kept by default in
// the user's application-data folder. A save writes a fresh file beside the store,
// flushes it to disk and moves it over the store in one step, so a failed save leaves
// the old store whole.
#include "settings/store.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "system/files.h"

std::string store_path(const char* option_value) {
    if (option_value && *option_value) return option_value;
    if (const char* env = std::getenv("KVRAC_SETTINGS"); env && *env) return env;
    if (const char* appdata = std::getenv("APPDATA"); appdata && *appdata)
        return std::string(appdata) + "\\kvrac\\settings.bin";
    return ".\\kvrac\\settings.bin";
}

int store_load(const std::string& path, void* buffer, int count) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (count <= 0 || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || info.nFileSizeHigh != 0 ||
        info.nFileSizeLow != static_cast<DWORD>(count))
        return 1;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    unsigned char tmp[256];
    DWORD got = 0;
    int result = 1;
    if (count <= static_cast<int>(sizeof tmp) && ReadFile(file, tmp, count, &got, nullptr) &&
        got == static_cast<DWORD>(count)) {
        std::memcpy(buffer, tmp, count);
        result = 0;
    }
    CloseHandle(file);
    return result;
}

namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// Creates every missing folder on the way to path's parent.
void make_parents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (!is_separator(path[i]) || path[i - 1] == ':') continue;
        CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
}

std::string parent_of(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return ".";
    if (cut == 0 || path[cut - 1] == ':') return path.substr(0, cut + 1);
    return path.substr(0, cut);
}

} // namespace

int store_save(const std::string& path, const void* bytes, int count, std::string* error) {
    make_parents(path);
    char tmp[MAX_PATH];
    // A new, uniquely named empty file in the store's folder.
    if (!GetTempFileNameA(parent_of(path).c_str(), "kvr", 0, tmp)) {
        *error = "cannot create a file beside " + path + ": " + win32_error_text(GetLastError());
        return 1;
    }
    HANDLE file = CreateFileA(tmp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) &&
              written == static_cast<DWORD>(count) && FlushFileBuffers(file);
    DWORD code = GetLastError();
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) {
        code = GetLastError();
        ok = false;
    }
    std::string why;
    if (ok && file_replace(tmp, path, &why) == 0) return 0;
    DeleteFileA(tmp);
    *error = "cannot write " + path + ": " + (why.empty() ? win32_error_text(code) : why);
    return 1;
}
