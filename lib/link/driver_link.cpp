// The driver is linked in: its entry is an ordinary function of the program.
#ifndef _WIN32

#include "link/driver_link.h"

#include "host/entry.h"

driver_entry_fn* driver_entry() {
    return &PLADI;
}

bool driver_has_dialogs() {
    return false;
}

#endif
