// Opening the two top-level configuration dialogs from the driver's own module.
#pragma once

// Shows the installation dialog (configuration message 21). Returns the end code:
// 0 for OK, 5 for Cancel; no caller tests it.
int open_installation_dialog();

// Shows the plot-time dialog (plot message 46). Returns the end code as above.
int open_plot_configuration_dialog();
