// The host's services and the state of the link to the host.
//
// The host hands over its service table once (through PLADI) and then sends one
// message at a time on its own thread. Every effect outside the driver (text for the
// user, bytes for the plotter, the stored settings) goes through the six wrappers
// below. The table is a host-owned block whose 32-bit entries at fixed byte offsets are
// host addresses (platform/host_address.h).
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// Byte offsets of the services in the host's table.
enum : int {
    host_print_offset = 112,
    host_send_text_offset = 140,
    host_write_offset = 160,
    host_load_config_offset = 176,
    host_save_config_offset = 180,
    host_service_192_offset = 192,
    host_service_table_size = 196, // bytes the driver may read from the table
};

// Signatures of the host's services (C convention, 32-bit arguments on the real host).
using host_print_fn = void KVRAC_CDECL(const char* text);
using host_send_text_fn = void KVRAC_CDECL(const char* text);
using host_write_fn = int KVRAC_CDECL(int one, int zero, const void* bytes, int count, int zero2);
using host_load_config_fn = int KVRAC_CDECL(int count, void* buffer);
using host_save_config_fn = int KVRAC_CDECL(int count, const void* bytes);
using host_service_192_fn = int KVRAC_CDECL(int a, int b);

// The message handlers' signature (C convention).
using message_handler_fn = int KVRAC_CDECL(uint8_t* record);

// Abort flag values.
enum : uint8_t {
    abort_clear = 0,
    abort_settings = 137, // version or settings failure
    abort_fatal = 255,    // transfer failure, memory exhaustion, cancel
};

struct host_link_state {
    const uint8_t* service_table; // the host's table; null until PLADI
    uint8_t* message;             // record of the message in progress; null between messages
    uint8_t abort_flag;           // 0 = clear, else latched (137 or 255) until message 49
    uint32_t host_window;         // host's window handle from message 11 or 29 (owner of boxes)
};

extern host_link_state host_link;

// Formats printf-style into a 1,024-byte buffer (truncating) and passes it to the
// host's print service. Does nothing without a table.
void host_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends a NUL-terminated text straight to the plotter, outside the output buffer.
void host_send_text(const char* text);

// Hands bytes to the host's write service as (1, 0, bytes, count, 0). Returns the
// host's result: nonzero = accepted, 0 = transfer failed (also without a table).
int host_write(const void* bytes, int count);

// Asks the host for the stored settings: 0 = buffer filled, nonzero = nothing stored.
int host_load_config(int count, void* buffer);

// Asks the host to store bytes: 0 = saved, nonzero = failed.
int host_save_config(int count, const void* bytes);

// Host entry 192; returns the host's integer (-1 without a table).
int host_service_192(int a, int b);

// Prints a message text from the active table with "\n%s\n".
void host_print_message(int slot);
