// The main configuration dialog, in its installation and plot-time variants.
#pragma once

#include "platform/dialog_controls.h"

enum class main_variant : int {
    installation = 0, // DETAILCFG2_FRE, opened at configuration message 21
    plot_time = 1,    // DRIVERCFG2_FRE, opened at plot message 46; has the label field
};

// Runs the dialog out of `module` with no owner. The dialog edits a working copy of the
// settings record (and, at plot time, label_text directly). Returns 0 after OK (the
// settings record then holds the working copy and job_copies its copies), 5 after
// "Annuler" (the record is untouched), -1 when the dialog could not be shown.
int run_main_dialog(void* module, main_variant variant);

// The dialog procedure, for the control layer; dlg_init's param is the variant.
int main_dialog_proc(dialog_handle dlg, const dialog_event& ev);
