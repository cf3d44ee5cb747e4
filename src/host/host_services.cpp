// Wrappers around the host's service table. Each one finds its entry by byte offset,
// turns the 32-bit host address into a function through the seam and passes its
// arguments through unchanged. A missing table or entry behaves like a host that
// refuses: nothing is printed or sent, writes and loads report failure.
#include "host/host_services.h"

#include <cstdarg>
#include <cstdio>

#include "host/messages.h"
#include "host/wire.h"
#include "platform/host_address.h"

host_link_state host_link = {nullptr, nullptr, abort_clear, 0};

namespace {

// Text handed to the print service: formatted here, 1,024 bytes with the NUL.
char print_buffer[1024];

template <class F> F* service(int offset) {
    if (!host_link.service_table) return nullptr;
    return host_addr_fn<F>(le_u32(host_link.service_table, offset));
}

} // namespace

void host_print(const char* format, ...) {
    host_print_fn* fn = service<host_print_fn>(host_print_offset);
    if (!fn) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(print_buffer, sizeof print_buffer, format, args);
    va_end(args);
    fn(print_buffer);
}

void host_print_message(int slot) {
    host_print("\n%s\n", message_text(slot));
}

void host_send_text(const char* text) {
    if (host_send_text_fn* fn = service<host_send_text_fn>(host_send_text_offset)) fn(text);
}

int host_write(const void* bytes, int count) {
    host_write_fn* fn = service<host_write_fn>(host_write_offset);
    return fn ? fn(1, 0, bytes, count, 0) : 0;
}

int host_load_config(int count, void* buffer) {
    host_load_config_fn* fn = service<host_load_config_fn>(host_load_config_offset);
    return fn ? fn(count, buffer) : 1;
}

int host_save_config(int count, const void* bytes) {
    host_save_config_fn* fn = service<host_save_config_fn>(host_save_config_offset);
    return fn ? fn(count, bytes) : 1;
}

int host_service_192(int a, int b) {
    host_service_192_fn* fn = service<host_service_192_fn>(host_service_192_offset);
    return fn ? fn(a, b) : -1;
}
