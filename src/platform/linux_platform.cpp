// Linux stand-ins for the kernel services: an NT-like version, a thread-local slot
// table, and this library as the one module, known by its name.
#ifndef _WIN32

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int tls_slots = 64;

struct kernel_state {
    void* tls_value[tls_slots]; // value per allocated slot
    bool tls_used[tls_slots];   // slot allocated
};

kernel_state kernel;

// Stands for this module's handle; any non-null value will do.
char module_marker;

} // namespace

uint32_t platform_version() {
    return 0x0A280105u;
} // NT family, major version 5

uint32_t platform_tls_alloc() {
    for (int i = 0; i < tls_slots; ++i) {
        if (!kernel.tls_used[i]) {
            kernel.tls_used[i] = true;
            kernel.tls_value[i] = nullptr;
            return static_cast<uint32_t>(i);
        }
    }
    return 0xFFFFFFFFu;
}

void platform_tls_set(uint32_t index, void* value) {
    if (index < tls_slots && kernel.tls_used[index]) kernel.tls_value[index] = value;
}

void platform_tls_free(uint32_t index) {
    if (index < tls_slots) kernel.tls_used[index] = false;
}

void* platform_module_handle(const char* name) {
    return name && std::strcmp(name, "kvrac_f") == 0 ? &module_marker : nullptr;
}

int platform_message_box(uint32_t, const char* text, const char* caption, uint32_t) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return 1; // OK
}

#endif
