// The kernel and user services on Windows: the real KERNEL32 and USER32 calls, and
// the library's entry, which the C runtime's DLL start-up code calls on every attach
// and detach.
#include <windows.h>

#include <cstdint>

#include "platform/attach.h"
#include "platform/platform.h"

uint32_t platform_version() {
    return GetVersion();
}

uint32_t platform_tls_alloc() {
    return TlsAlloc();
}

void platform_tls_set(uint32_t index, void* value) {
    TlsSetValue(index, value);
}

void platform_tls_free(uint32_t index) {
    TlsFree(index);
}

void* platform_module_handle(const char* name) {
    return GetModuleHandleA(name);
}

int platform_message_box(uint32_t owner, const char* text, const char* caption, uint32_t flags) {
    // A host window handle is a 32-bit value on the wire and in the handle itself.
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(owner));
    return MessageBoxA(window, text, caption, flags);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    return library_attach(module, reason, reserved);
}
