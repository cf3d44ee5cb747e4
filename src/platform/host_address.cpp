#include "platform/host_address.h"

#include <cassert>
#include <cstddef>

#if UINTPTR_MAX == 0xFFFFFFFFu

// 32-bit build: a host address is the pointer.
host_addr host_addr_of(const void* p) {
    return static_cast<host_addr>(reinterpret_cast<uintptr_t>(p));
}
void* host_addr_ptr(host_addr a) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(a));
}
void host_addr_forget(host_addr) {}

#else

// 64-bit build: a table of registered pointers. Handle = base + slot * stride, so a
// handle never looks like a small integer and 0 stays the null address.
namespace {

constexpr int registry_slots = 4096;
constexpr host_addr handle_base = 0x00010000u;
constexpr host_addr handle_stride = 16;

struct registry_state {
    const void* ptr[registry_slots]; // registered pointer, nullptr = free slot
    int used;                        // slots 0..used-1 may be taken; 0..registry_slots
    int free_hint;                   // lowest slot that may be free; 0..used
};

registry_state registry;

host_addr handle_of_slot(int slot) {
    return handle_base + static_cast<host_addr>(slot) * handle_stride;
}

int slot_of_handle(host_addr a) {
    if (a < handle_base || (a - handle_base) % handle_stride != 0) return -1;
    uint32_t slot = (a - handle_base) / handle_stride;
    return slot < static_cast<uint32_t>(registry.used) ? static_cast<int>(slot) : -1;
}

} // namespace

host_addr host_addr_of(const void* p) {
    if (!p) return 0;
    for (int i = 0; i < registry.used; ++i)
        if (registry.ptr[i] == p) return handle_of_slot(i);
    for (int i = registry.free_hint; i < registry.used; ++i) {
        if (!registry.ptr[i]) {
            registry.ptr[i] = p;
            registry.free_hint = i + 1;
            return handle_of_slot(i);
        }
    }
    if (registry.used == registry_slots) return 0;
    registry.ptr[registry.used] = p;
    registry.free_hint = ++registry.used;
    return handle_of_slot(registry.used - 1);
}

void* host_addr_ptr(host_addr a) {
    int slot = slot_of_handle(a);
    return slot < 0 ? nullptr : const_cast<void*>(registry.ptr[slot]);
}

void host_addr_forget(host_addr a) {
    int slot = slot_of_handle(a);
    if (slot < 0) return;
    registry.ptr[slot] = nullptr;
    if (slot < registry.free_hint) registry.free_hint = slot;
    while (registry.used > 0 && !registry.ptr[registry.used - 1]) --registry.used;
    if (registry.free_hint > registry.used) registry.free_hint = registry.used;
    assert(registry.used >= 0);
}

#endif
