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
