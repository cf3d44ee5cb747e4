// The driver's one exported function.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// Keeps the host's service table (replacing any earlier one), ignores the second
// argument and returns the driver descriptor. May be called more than once.
extern "C" KVRAC_EXPORT const uint8_t* KVRAC_STDCALL PLADI(const uint8_t* service_table,
                                                           uint32_t reserved);
