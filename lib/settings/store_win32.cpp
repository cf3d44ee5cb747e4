// The settings store on Windows: the same 40-byte file as on Linux, kept by default in
// the user's application-data folder. A save writes a fresh file beside the store,
// flushes it to disk and moves it over the store in one step, so a failed save leaves
// the old store whole.
#include "settings/store.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "system/files.h"

namespace {

// %APPDATA%\kvrac\settings.bin: the one store whose folder a save may create.
std::string default_store_path() {
    if (const char* appdata = std::getenv("APPDATA"); appdata && *appdata)
        return std::string(appdata) + "\\kvrac\\settings.bin";
    return ".\\kvrac\\settings.bin";
}

} // namespace

std::string store_path(const char* option_value) {
    if (option_value && *option_value) return option_value;
    if (const char* env = std::getenv("KVRAC_SETTINGS"); env && *env) return env;
    return default_store_path();
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

int store_check_writable(const std::string& path, int count, std::string* why) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) {
        if (path == default_store_path()) return 0;
        const std::string folder = parent_of(path);
        if (GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
        *why = "the folder " + folder + " of the settings store " + path +
               " does not exist: create it, or give --settings a path in an existing folder "
               "(only the default store's folder is made)";
        return 1;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        *why = path + " is a folder, not a settings file: give --settings a file name";
        return 1;
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size == 0 || size == static_cast<unsigned long long>(count)) return 0;
    *why = path + " holds " + std::to_string(size) + " bytes, not a settings record of " +
           std::to_string(count) +
           ": kvrac will not overwrite it. Give --settings (or KVRAC_SETTINGS) a new file "
           "or an existing settings file";
    return 1;
}

int store_save(const std::string& path, const void* bytes, int count, std::string* error) {
    if (store_check_writable(path, count, error) != 0) return 1;
    if (path == default_store_path()) make_parents(path);
    char tmp[MAX_PATH];
    // A new, uniquely named empty file in the store's folder.
    if (!GetTempFileNameA(parent_of(path).c_str(), "kvr", 0, tmp)) {
        *error = "cannot create a file beside " + path + ": " + win32_error_text(GetLastError());
        return 1;
    }
    const int guard = cleanup_guard(tmp);
    HANDLE file = CreateFileA(tmp, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, TRUNCATE_EXISTING,
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
    if (ok && file_replace(tmp, path, &why) == 0) {
        cleanup_forget(guard);
        return 0;
    }
    DeleteFileA(tmp);
    cleanup_forget(guard);
    *error = "cannot write " + path + ": " + (why.empty() ? win32_error_text(code) : why);
    return 1;
}
