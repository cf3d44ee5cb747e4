// What the driver needs from the Windows kernel, behind one interface.
//
// On Windows these are the real KERNEL32 calls; on Linux they are stand-ins that
// behave like a Windows NT host with one module, so the code above them is the same.
#pragma once

#include <cstdint>

// GetVersion: the top bit is set on the old 16/32-bit hybrid platforms; the low byte is
// the major version.
uint32_t platform_version();

// Thread-local slot: TlsAlloc (returns the index, or 0xFFFFFFFF when none is free),
// TlsSetValue, TlsFree.
uint32_t platform_tls_alloc();
void platform_tls_set(uint32_t index, void* value);
void platform_tls_free(uint32_t index);

// GetModuleHandleA: the handle of a loaded module by name, or null.
void* platform_module_handle(const char* name);

// MessageBoxA: shows text with caption in a modal box owned by the window owner (a
// host window handle, 0 for none) and returns the button chosen (1 = OK). The Linux
// stand-in writes "caption: text" and a new line to standard error and returns 1.
constexpr uint32_t platform_mb_iconwarning = 0x30; // exclamation icon, OK button
int platform_message_box(uint32_t owner, const char* text, const char* caption, uint32_t flags);
