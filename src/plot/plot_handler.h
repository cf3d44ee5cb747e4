// The plot message handler: the driver's entry for the host's plot messages.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// A raster image announced by message 52 is pending while raster_marker holds this.
constexpr int32_t raster_pending = 0x5A5A;

struct plot_state {
    int32_t host_token;    // result of host service 192 at job start; -1 when none
    int32_t raster_marker; // raster_pending while an image waits for its raster step, else 0
};

extern plot_state plot;

// Bytes of the record the host hands with every message.
constexpr int plot_record_size = 2064;

// Handles one plot message in a host-owned record of plot_record_size bytes. Returns 0,
// or -1 for a failed identification (message 49).
int KVRAC_CDECL plot_handler(uint8_t* record);
