// The plot message handler: the driver's entry for the host's plot messages.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// Handles one plot message in a host-owned record. Returns 0, or -1 for a failed
// identification (message 49).
int KVRAC_CDECL plot_handler(uint8_t* record);
