// Reaching the driver: the one function a host needs from it.
//
// On Linux the driver library is linked into the program; on Windows kvrac.exe loads
// kvrac_f.dll from its own folder at run time and looks the entry up by name, as a
// drawing host does. Everything else goes through the descriptor the entry returns.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// The driver's exported entry, PLADI: service table in, descriptor out.
using driver_entry_fn = const uint8_t* KVRAC_STDCALL(const uint8_t* service_table,
                                                     uint32_t reserved);

// Returns the driver's entry, loading the driver on first use; null (after a message
// on standard error) when the driver cannot be loaded or does not export it. The
// driver stays loaded until the program ends. On Windows the driver is told on loading
// whether its dialogs are shown to a person (session.interactive) or run headless.
driver_entry_fn* driver_entry();

// True when the driver can show its dialogs to a person (the Windows build).
bool driver_has_dialogs();

#ifdef _WIN32
// Another function the driver exports, by name; null when it has none.
void* driver_function(const char* name);
#endif
