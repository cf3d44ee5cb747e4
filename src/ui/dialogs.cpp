// Top-level dialog openers: each finds the driver's own module by name, as the nested
// dialogs need it, and runs its dialog.
#include "ui/dialogs.h"

#include "color/correction.h"
#include "platform/platform.h"
#include "ui/main_dialog.h"

namespace {

// Runs the main dialog. The colour dialog rebuilds the correction table from the curve
// it shows even when the main dialog is then cancelled; the table is brought back to
// the settings record's curve here, so a plot never prints with a curve it does not
// store.
int open_main_dialog(main_variant variant) {
    int code = run_main_dialog(platform_module_handle("kvrac_f"), variant);
    load_correction_points();
    return code;
}

} // namespace

int open_installation_dialog() {
    return open_main_dialog(main_variant::installation);
}

int open_plot_configuration_dialog() {
    return open_main_dialog(main_variant::plot_time);
}
