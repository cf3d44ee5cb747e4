// kvrac.exe loads kvrac_f.dll from the folder the program itself was started from, by
// full path, so no other copy on the search path can stand in for it. The driver finds
// its own resources by its module name, so the file must keep the name kvrac_f.dll.
#include "link/driver_link.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "link/session.h"

namespace {

struct driver_link_state {
    HMODULE module;         // the loaded driver; null until the first successful load
    driver_entry_fn* entry; // its PLADI; null until then
};

driver_link_state link = {nullptr, nullptr};

// The full path of kvrac_f.dll beside the running program, into path (MAX_PATH bytes).
// Returns 0, or -1 when the program's own path cannot be read or is too long.
int driver_path(char* path) {
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return -1;
    char* slash = std::strrchr(path, '\\');
    char* start = slash ? slash + 1 : path;
    const char name[] = "kvrac_f.dll";
    if (static_cast<size_t>(start - path) + sizeof name > MAX_PATH) return -1;
    std::memcpy(start, name, sizeof name);
    return 0;
}

} // namespace

driver_entry_fn* driver_entry() {
    if (link.entry) return link.entry;
    char path[MAX_PATH];
    if (driver_path(path) != 0) {
        std::fprintf(stderr, "kvrac: cannot tell the program's own folder\n");
        return nullptr;
    }
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        std::fprintf(stderr, "kvrac: cannot load the driver %s (error %lu)\n", path,
                     static_cast<unsigned long>(GetLastError()));
        return nullptr;
    }
    FARPROC entry = GetProcAddress(module, "PLADI");
    if (!entry) {
        std::fprintf(stderr, "kvrac: %s does not export PLADI\n", path);
        FreeLibrary(module);
        return nullptr;
    }
    // Unless a person is to see them, the dialogs run headless, as on Linux.
    using headless_mode_fn = void KVRAC_CDECL(int on);
    if (FARPROC mode = GetProcAddress(module, "kvrac_headless_mode"))
        reinterpret_cast<headless_mode_fn*>(reinterpret_cast<void*>(mode))(session.interactive ? 0
                                                                                               : 1);
    link.module = module;
    link.entry = reinterpret_cast<driver_entry_fn*>(reinterpret_cast<void*>(entry));
    return link.entry;
}

bool driver_has_dialogs() {
    return true;
}

void* driver_function(const char* name) {
    if (!link.module && !driver_entry()) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(link.module, name));
}
