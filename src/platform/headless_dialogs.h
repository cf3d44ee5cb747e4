// The headless dialog layer's own interface: a scripted user, what that user met, and
// a look inside the open dialogs.
//
// Without a screen nobody clicks, so a caller hands over the user's actions before the
// dialog opens (the kvrac host turns its command-line options into them; the tests
// write them out). The modal loop plays them one by one on the innermost open dialog.
// When they run out, or when the user gives up (a warning with stop_on_warning, or an
// action the dialog does not allow), every open dialog is left the way a user leaves it:
// Escape (the "Annuler" command), then Enter (OK) if that did not close it, then its
// last default button.
//
// Pixels: the headless screen uses dialog base units of 12 x 26 pixels (what Windows
// gives MS Sans Serif on a 200 % display). The curve area is then 255 x 257 pixels, so
// every control value 0..255 is its own pixel row.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/dialog_controls.h"

enum class user_act : uint8_t {
    click,       // press a button or radio button
    select_row,  // choose row `value` of a drop-down list
    type_text,   // replace an edit's whole text by `text`, as a paste does
    leave_field, // move the keyboard focus away from the control
    scroll_up,   // press the upper arrow of a scroll bar or up-down control
    scroll_down, // press the lower arrow
    mouse_down,  // left button down at (x, y), client pixels of the control
    mouse_move,  // mouse moved to (x, y)
    mouse_up,    // left button up at (x, y)
    drag_point,  // grab published point `value` and drag it straight up or down to the
                 // row at level/scale of the control's height, counted from the bottom
    answer,      // answer `value` (id_ok, id_yes, id_no) to the message box this opens
    command,     // deliver command `control` with code `value` whatever the control's
                 // state, as another program sending the message would
    look,        // note the control's text in the outcome
    snapshot,    // copy the owner-drawn control's picture into the outcome
    probe,       // call the probe function with `value` (tests look inside here)
};

// Flags of an action.
enum : unsigned {
    ua_must_change = 1, // the action is refused when it changed nothing in the dialog
};

struct user_action {
    user_act act;
    int control;      // control id
    int value;        // row, answer, point index, notification code or probe number
    int x, y;         // mouse position in the control's client pixels
    int level, scale; // drag_point target: level/scale of the height above the bottom
    const char* text; // type_text
    unsigned flags;   // ua_*
};

// Options of a script.
enum : unsigned {
    script_stop_on_warning = 1, // a warning (exclamation box) makes the user give up
};

// Why an action was refused.
enum class refusal_kind : uint8_t {
    none,
    no_control, // the dialog has no such control
    disabled,   // the control is disabled
    wrong_kind, // the action does not apply to that kind of control
    no_row,     // the list has no such row
    too_long,   // the edit takes fewer characters
    no_point,   // the control published no such point
    no_box,     // an answer, but no message box asked for one
    no_effect,  // ua_must_change, and nothing changed
};

struct shown_box {
    char text[256];  // Windows-1252, as formatted by the dialog
    char title[128]; // Windows-1252
    unsigned style;  // mb_* flags
    int answer;      // what the user answered
    int action;      // index of the action during which it showed; -1 when none
};

struct dialog_outcome {
    int end_code;         // end code of the top-level dialog
    int actions_done;     // actions taken from the script
    int gave_up;          // 0 no; 1 after a warning; 2 after a refused action
    int action;           // index of the action that made the user give up, else -1
    refusal_kind refusal; // why that action was refused (gave_up 2)
    int control;          // the control of that action
    int limit;            // too_long: the characters the edit takes
    int box_count;
    shown_box boxes[16]; // every message box, in order (the first 16)
    int look_count;
    char looks[8][256]; // texts noted by look actions
    int snapshot_width, snapshot_height;
    std::vector<uint32_t> snapshot; // 0xRRGGBB, row by row, from the last snapshot action
};

// Makes the actions the user of the next top-level dialog (and of the dialogs it opens).
// The array and its texts must stay valid until that dialog has ended; the script is
// dropped then. count 0 or a null array: nobody acts, and the dialog is left at once.
void dialog_set_user_actions(const user_action* actions, int count, unsigned options);

// What the user of the last (or current) top-level dialog met.
const dialog_outcome& dialog_user_outcome();

// The function a probe action calls, with the innermost open dialog.
using probe_fn = void(dialog_handle dlg, int probe, void* context);
void headless_set_probe(probe_fn* probe, void* context);

// ---- Looking inside an open dialog (for probes) ----

const dialog_template* headless_template(dialog_handle dlg);
bool headless_exists(dialog_handle dlg, int id);
bool headless_enabled(dialog_handle dlg, int id);
bool headless_checked(dialog_handle dlg, int id);
const char* headless_text(dialog_handle dlg, int id);
int headless_text_limit(dialog_handle dlg, int id);
bool headless_all_selected(dialog_handle dlg, int id); // the edit's whole text is selected
bool headless_focused(dialog_handle dlg, int id);
int headless_list_count(dialog_handle dlg, int id);
const char* headless_list_item(dialog_handle dlg, int id, int index);
void headless_updown(dialog_handle dlg, int id, int* low, int* high, int* position);
// The control's client rectangle in pixels.
dialog_rect headless_client_rect(dialog_handle dlg, int id);
// A pixel of an owner-drawn control's picture (0xRRGGBB), 0xFFFFFFFF outside it.
uint32_t headless_pixel(dialog_handle dlg, int id, int x, int y);
// Points the control published; returns how many (up to max).
int headless_points(dialog_handle dlg, int id, dialog_point* points, int max);
bool headless_captured(dialog_handle dlg, int id);
cursor_kind headless_cursor();
