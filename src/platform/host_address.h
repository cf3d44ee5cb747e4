// The host-address seam.
//
// The host interface is a 32-bit wire format: the service table, the driver
// descriptor's handler entries, the vertex array of a polygon message, the raster
// row functions and the row result's pixel bytes are all 32-bit addresses stored in
// records. On 32-bit Windows a host address is the pointer itself. On a 64-bit host a
// pointer does not fit, so both sides register what they hand over in one registry
// and store the registry's 32-bit handle instead. Every conversion between a 32-bit
// value in a record and a pointer goes through the functions below, and nowhere else.
//
// Workload: a handful of long-lived entries (six host services, two handlers) and a
// few short-lived ones per polygon or raster row; lookups are far more frequent than
// registrations.
#pragma once

#include <cstdint>

using host_addr = uint32_t;

// Returns the host address of p (0 for a null p). On a 64-bit build p is registered
// if it is not already; registering the same pointer again returns the same handle.
// Returns 0 when the registry is full (the caller treats that as a null address).
host_addr host_addr_of(const void* p);

// Returns the pointer behind a host address, or nullptr for 0 or an address nobody
// registered. Never fails otherwise.
void* host_addr_ptr(host_addr a);

// Forgets a registered address (a no-op on 32-bit builds and for unknown addresses).
// The caller must not use the address afterwards.
void host_addr_forget(host_addr a);

// Function addresses go through the same registry. The conversion between function
// and object pointers is supported by every compiler this project targets.
template <class F> host_addr host_addr_of_fn(F* f) {
    return host_addr_of(reinterpret_cast<const void*>(f));
}

template <class F> F* host_addr_fn(host_addr a) {
    return reinterpret_cast<F*>(host_addr_ptr(a));
}
