// The library's attach/detach routine.
#pragma once

#include <cstdint>

enum : uint32_t { attach_process_detach = 0, attach_process_attach = 1 };

// No thread-local slot held (the kernel's own "out of indexes" value).
constexpr uint32_t no_tls_slot = 0xFFFFFFFFu;

struct attach_state {
    int32_t counter;        // attaches not yet matched by a detach, 0 at load
    uint8_t first_attach;   // 1 until the first attach has run
    int32_t platform_class; // 0 NT family, 1 old hybrid below version 4, 2 hybrid from 4
    void* module;           // this library's module handle
    uint32_t tls_index;     // slot allocated on platform class 1, else no_tls_slot
};

extern attach_state attach;

// Runs on process attach (reason 1) and detach (reason 0); always returns 1.
int library_attach(void* module, uint32_t reason, void* reserved);
