// The plot message handler. Plot jobs are not translated yet: every message leaves the
// record untouched.
#include "plot/plot_handler.h"

#include "host/host_services.h"

int KVRAC_CDECL plot_handler(uint8_t* record) {
    if (!record) return -1;
    host_link.message = record;
    host_link.message = nullptr;
    return 0;
}
