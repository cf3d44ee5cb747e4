// The scripted dialog user on Windows: kvrac_f.dll carries the headless dialog layer
// and exports its two entry points by name; these forward to them, so the host code
// that turns command-line options into user actions is the same as on Linux.
#include "platform/headless_dialogs.h"

#include <cstdio>
#include <cstdlib>

#include "link/driver_link.h"
#include "platform/callconv.h"

namespace {

using set_actions_fn = void KVRAC_CDECL(const user_action* actions, int count, unsigned options);
using outcome_fn = const dialog_outcome* KVRAC_CDECL();

// The driver's export, which every kvrac_f.dll built from these sources has.
void* required(const char* name) {
    void* fn = driver_function(name);
    if (!fn) {
        std::fprintf(stderr, "kvrac: the driver does not export %s\n", name);
        std::exit(1);
    }
    return fn;
}

} // namespace

void dialog_set_user_actions(const user_action* actions, int count, unsigned options) {
    reinterpret_cast<set_actions_fn*>(required("kvrac_set_user_actions"))(actions, count,
                                                                          options);
}

const dialog_outcome& dialog_user_outcome() {
    return *reinterpret_cast<outcome_fn*>(required("kvrac_user_outcome"))();
}
