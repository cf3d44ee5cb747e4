// The colour correction dialog: the tone curve over a black square with five handles
// the user drags, three pairs of step arrows and a reset button.
#pragma once

#include <cstdint>

#include "platform/dialog_controls.h"

// Runs the dialog (template IDD_COLOR_FRE) owned by `owner`, out of `module`. It starts
// from the five bytes at `points` (the configuration dialog's working copy of
// correction_points) and writes the defaults there when the user resets the curve.
// Returns 0, its only end code (it has no cancel), or -1 when it could not be shown.
// Afterwards the working control values correction.points hold the curve the user
// left, each within 0..255, and the correction table is built from them.
int run_colour_dialog(void* module, dialog_handle owner, uint8_t* points);

// The dialog procedure and the curve control's procedure, for the control layer.
int colour_dialog_proc(dialog_handle dlg, const dialog_event& ev);
int curve_control_proc(control_handle ctl, const control_event& ev);
