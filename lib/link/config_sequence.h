// The configuration sequence: what a host sends when the user sets the plotter up.
#pragma once

struct dialog_script;

// Sends the configuration sequence (49, 50, 11, 20, 21, 22, 23, 25, 40, 44, 47), each in
// a fresh record; with reset, message 21 asks for the defaults. With a script, its
// actions are the user of the installation dialog that message 21 opens (unless a
// person sees the dialog). Stops at the first failed status. Returns 0 when every
// status was 0, 2 when the scripted user gave up (reported; nothing is saved), else 1.
int run_configuration(bool reset, const dialog_script* script = nullptr);
