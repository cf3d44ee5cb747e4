// The library's attach/detach routine. On Windows the C runtime's DLL entry calls it;
// on Linux the loader runs it through constructor and destructor functions, so the
// counters move the same way.
#include "platform/attach.h"

#include "platform/platform.h"

attach_state attach = {0, 1, 0, nullptr, no_tls_slot};

int library_attach(void* module, uint32_t reason, void*) {
    if (reason == attach_process_detach) {
        // Only a slot this library allocated is freed or written: index 0 without an
        // allocation would be another module's slot.
        if (--attach.counter == 0 && attach.tls_index != no_tls_slot) {
            platform_tls_free(attach.tls_index);
            attach.tls_index = no_tls_slot;
        }
        return 1;
    }
    if (reason != attach_process_attach) return 1;
    uint32_t version = platform_version();
    if ((version & 0x80000000u) == 0)
        attach.platform_class = 0;
    else
        attach.platform_class = (version & 0xFFu) < 4 ? 1 : 2;
    attach.module = module;
    if (attach.first_attach && attach.platform_class == 1) attach.tls_index = platform_tls_alloc();
    if (attach.tls_index != no_tls_slot) platform_tls_set(attach.tls_index, nullptr);
    attach.first_attach = 0;
    ++attach.counter;
    return 1;
}

#ifndef _WIN32
namespace {
__attribute__((constructor)) void library_loaded() {
    library_attach(platform_module_handle("kvrac_f"), attach_process_attach, nullptr);
}
__attribute__((destructor)) void library_unloaded() {
    library_attach(platform_module_handle("kvrac_f"), attach_process_detach, nullptr);
}
} // namespace
#endif
