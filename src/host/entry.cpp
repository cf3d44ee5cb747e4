// The exported entry point. The host calls it with its service table and receives the
// driver descriptor, whose handler entries it calls from then on.
#include "host/entry.h"

#include "host/config_handler.h"
#include "host/device_tables.h"
#include "host/host_services.h"
#include "platform/host_address.h"
#include "plot/plot_handler.h"

extern "C" KVRAC_EXPORT const uint8_t* KVRAC_STDCALL PLADI(const uint8_t* service_table, uint32_t) {
    host_link.service_table = service_table;
    descriptor_set_handlers(host_addr_of_fn(&config_handler), host_addr_of_fn(&plot_handler));
    return descriptor();
}
