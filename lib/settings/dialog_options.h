// Command-line options that act on the driver's configuration dialogs.
//
// Each option becomes what a user would do in the headless dialog the driver opens
// (the installation dialog at configuration message 21, the plot-time dialog at plot
// message 46, and the options and colour dialogs opened from them): choose a list
// row, type into a field and leave it, click a radio button, press an arrow, drag a
// curve handle. The dialog itself checks the values; what it refuses comes back as its
// own French warning.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/headless_dialogs.h"

struct dialog_option {
    std::string name;  // "--copies"
    std::string value; // as given; "" for a flag
};

struct dialog_script {
    std::vector<user_action> actions;  // the user's actions, in order
    std::vector<std::string> asked_by; // per action: the option that asked for it
    std::deque<std::string> texts;     // texts typed by the actions (stable addresses)
};

// The name of dialog option i ("--media"), or null past the last one.
const char* dialog_option_name(int i);

// When argv[i] is a dialog option, appends it (value from "--name=value" or from the
// next argument, which may begin with '-') and moves i past it: returns 1. Returns 0
// when argv[i] is no dialog option, 2 after reporting a missing value (the caller
// says where to find help).
int take_dialog_option(int argc, char** argv, int& i, std::vector<dialog_option>& options);

// Builds the actions for the installation dialog (plot_time false: ends with OK) or the
// plot-time dialog (ends with OK when an option other than --label is given, else with
// "Annuler"). The last of repeated options counts. Option words (solid, yes, manual,
// ...) are taken in any letter case. Returns 0, or 2 after reporting a value the
// options do not take (the caller says where to find help).
int build_dialog_script(const std::vector<dialog_option>& options, bool plot_time,
                        dialog_script& script);

// Hands the script to the next dialog the driver opens; the user gives up at the
// first warning.
void arm_dialog_script(const dialog_script& script);

// After the dialog: when the user gave up, says why on standard error (the dialog's
// warning, or why an action was not possible) and returns 2; else returns 0.
int report_dialog_outcome(const dialog_script& script);

// The help lines for the options, for the commands' help texts.
extern const char dialog_options_help[];
