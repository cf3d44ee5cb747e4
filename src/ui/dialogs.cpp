// Top-level dialog openers. The dialogs themselves are not built yet: until they are,
// each opener finds the module as the real one does and then ends as if the user had
// pressed OK without changing anything.
#include "ui/dialogs.h"

#include "platform/platform.h"

void* dialog_module = nullptr;

int open_installation_dialog() {
    dialog_module = platform_module_handle("kvrac_f");
    return 0;
}

int open_plot_configuration_dialog() {
    dialog_module = platform_module_handle("kvrac_f");
    return 0;
}
