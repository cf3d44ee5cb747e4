// The finisher options dialog and the about box, both opened from the main
// configuration dialog.
#pragma once

#include "host/settings.h"
#include "platform/dialog_controls.h"

// Runs the finisher options dialog from template `tmpl` (OPTIONCFG1_FRE or
// OPTIONCFG2_FRE) owned by `owner`. It edits a copy of *working (the main dialog's
// working copy): programme, finisher margins, bin and manual feed. Returns 0 after OK
// (*working then holds the copy), 5 after "Annuler" (*working untouched), -1 when it
// could not be shown.
int run_options_dialog(void* module, dialog_handle owner, const dialog_template& tmpl,
                       settings_record* working);

// Runs the about box, which shows the driver's identification. Returns 0.
int run_about_box(void* module, dialog_handle owner);

// The procedures, for the control layer; the options dialog's dlg_init param is the
// settings_record* it edits.
int options_dialog_proc(dialog_handle dlg, const dialog_event& ev);
int about_box_proc(dialog_handle dlg, const dialog_event& ev);
