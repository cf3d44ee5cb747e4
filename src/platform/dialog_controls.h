// The dialog control layer: everything the configuration dialogs need from a windowing
// system, and nothing more.
//
// The dialog procedures (src/ui, src/color) are written once against these calls. Two
// layers implement them: the Windows one with the real USER32/GDI32 calls, and the
// headless one (platform/headless_dialogs.h) that keeps every control's state in memory
// and lets a scripted user act on it, for Linux and for the tests.
//
// The message and notification numbers below are the Windows ones, so the Windows layer
// hands its messages through unchanged; a procedure sees one dialog_event per message.
// Controls are named by their resource ids; rectangles and points are in pixels of the
// control's client area; colours are 0xRRGGBB.
#pragma once

#include <climits>
#include <cstdint>

struct dialog_window;  // one open dialog; opaque
struct control_window; // one control of an open dialog; opaque
struct draw_surface;   // where an owner-drawn control is painted; opaque

using dialog_handle = dialog_window*;
using control_handle = control_window*;

struct dialog_rect {
    int left, top, right, bottom; // right and bottom are excluded
};

struct dialog_point {
    int x, y;
};

// ---- Templates: the one description of each dialog, read by both layers ----

enum class control_kind : uint8_t {
    push_button,    // "OK", "Options..."
    default_button, // push button answering the Enter key
    radio_button,   // checked by the procedure, not by itself
    group_box,      // frame with a caption
    label,          // static text, left-aligned
    label_centred,  // static text, centred
    label_right,    // static text, right-aligned
    edit,           // one-line edit field
    drop_list,      // drop-down list (no typing)
    up_down,        // up-down arrows beside an edit
    scroll_bar,     // vertical scroll bar used only for its arrows
    owner_button,   // push button the dialog paints itself (the curve area)
    picture,        // bitmap resource shown as it is
};

struct control_template {
    int id;              // resource id; -1 for an unnumbered static
    control_kind kind;   // what the control is
    const char* caption; // Windows-1252 text, "" when none
    int x, y, w, h;      // dialog units
    int resource;        // bitmap resource id of a picture, else 0
};

struct dialog_template {
    const char* name;                 // resource name, upper case ("DETAILCFG2_FRE")
    const char* title;                // Windows-1252 caption; null for a dialog without one
    int x, y, w, h;                   // dialog units
    const char* font;                 // face name
    int font_points;                  // point size
    const control_template* controls; // in tab order
    int control_count;
};

// A bitmap resource whose pixels are all one colour of the standard 16-colour palette.
struct bitmap_resource {
    int id;             // resource id
    int width, height;  // pixels
    int bits_per_pixel; // 4
    int colour_index;   // palette index of every pixel, 0..15
};

// ---- Messages a dialog procedure receives ----

enum : unsigned {
    dlg_draw_item = 0x002B, // paint an owner-drawn control: control, surface, item
    dlg_notify = 0x004E,    // common-control notification
    dlg_init = 0x0110,      // the dialog opens: param
    dlg_command = 0x0111,   // a control acted: control, code
    dlg_vscroll = 0x0115,   // a scroll bar or up-down arrow: control, code, position
    dlg_user = 0x0400,      // private message from the curve control
};

// Notification codes of dlg_command.
enum : int {
    bn_clicked = 0,       // button or radio button pressed
    cbn_selchange = 1,    // list selection changed by the user
    cbn_setfocus = 3,     // list got the focus
    cbn_killfocus = 4,    // list lost the focus
    en_setfocus = 0x100,  // edit got the focus
    en_killfocus = 0x200, // edit lost the focus
    en_change = 0x300,    // edit text changed (by the user or by control_set_text)
};

// Scroll codes of dlg_vscroll.
enum : int {
    sb_lineup = 0,        // upper arrow of a scroll bar
    sb_linedown = 1,      // lower arrow of a scroll bar
    sb_thumbposition = 4, // an up-down control moved to position
    sb_endscroll = 8,     // the arrow was released
};

// Dialog end codes and message-box answers.
enum : int {
    id_ok = 1,
    id_cancel = 2,
    id_yes = 6,
    id_no = 7,
};

struct dialog_event {
    unsigned message;      // dlg_* (other messages pass through with their number)
    int control;           // id of the control concerned; 0 when none
    int code;              // notification (command) or scroll code (vscroll)
    int position;          // position of an up-down control (vscroll)
    intptr_t param;        // dlg_init: the value given to dialog_run
    draw_surface* surface; // dlg_draw_item: where to paint
    dialog_rect item;      // dlg_draw_item: the control's client rectangle
};

// Returns nonzero when the event was handled (TRUE), zero otherwise (FALSE).
using dialog_proc_fn = int(dialog_handle dlg, const dialog_event& ev);

// Mouse messages of a subclassed control; `packed` carries x in its low 16 bits and y
// in its high 16 bits, as the window system delivers them.
enum : unsigned {
    ctl_mouse_move = 0x0200,
    ctl_button_down = 0x0201,
    ctl_button_up = 0x0202,
};

struct control_event {
    unsigned message; // ctl_* (others pass through with their number)
    uint32_t packed;  // mouse position: x low 16 bits, y high 16 bits
};

// Returns nonzero when the control's procedure handled the event; zero lets the
// control's own procedure run.
using control_proc_fn = int(control_handle ctl, const control_event& ev);

// Message-box styles (combinable).
enum : unsigned {
    mb_ok = 0x0000,
    mb_yes_no = 0x0004,
    mb_icon_question = 0x0020,
    mb_icon_exclamation = 0x0030,
    mb_foreground = 0x00010000,
};

enum class cursor_kind : uint8_t { arrow, cross };

// ---- Dialogs ----

// Shows a modal dialog built from tmpl out of module's resources, owned by owner (null
// for none), with proc as its procedure; param reaches proc with dlg_init. Returns when
// proc has called dialog_end, with that code; -1 when the dialog cannot be shown.
int dialog_run(void* module, const dialog_template& tmpl, dialog_handle owner, dialog_proc_fn* proc,
               intptr_t param);

// Asks the dialog to close with code once its procedure returns.
void dialog_end(dialog_handle dlg, int code);

// Sends dlg_user to the dialog's procedure and returns when it has been handled.
void dialog_send_user(dialog_handle dlg);

// Shows a modal message box owned by the dialog. Returns id_ok, id_yes or id_no.
int message_box(dialog_handle owner, const char* text, const char* title, unsigned style);

// ---- Controls (id must name a control of the dialog; unknown ids are ignored) ----

void control_enable(dialog_handle dlg, int id, bool enabled);

// Checks `id` and unchecks the other radio buttons first..last.
void radio_check(dialog_handle dlg, int first, int last, int id);

// Replaces the text; an edit then notifies en_change, as on Windows.
void control_set_text(dialog_handle dlg, int id, const char* text);

// Copies at most size - 1 bytes of the text and a NUL. Returns the bytes copied.
int control_get_text(dialog_handle dlg, int id, char* buffer, int size);

// Sets the text to an unsigned decimal number.
void control_set_number(dialog_handle dlg, int id, unsigned value);

// Reads the text as an unsigned decimal number (leading blanks allowed, nothing after
// the digits). Returns 1 and stores it in *value when it is one, else 0 with *value 0.
int control_get_number(dialog_handle dlg, int id, unsigned* value);

// The reading control_get_number does, on a NUL-terminated text; both layers use it so
// that a field's text means the same number on every system.
inline int dialog_text_number(const char* text, unsigned* value) {
    *value = 0;
    const char* p = text;
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return 0;
    unsigned long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > UINT_MAX) return 0;
    }
    if (*p) return 0;
    *value = static_cast<unsigned>(v);
    return 1;
}

// Limits what the user can type into an edit to `chars` characters.
void edit_limit(dialog_handle dlg, int id, int chars);

// Selects the whole text of an edit.
void edit_select_all(dialog_handle dlg, int id);

// Gives the control the keyboard focus.
void control_focus(dialog_handle dlg, int id);

// Drop-down lists: empty, insert `text` at `index`, select `index` (-1 for none), read
// the selection (-1 when none).
void list_clear(dialog_handle dlg, int id);
void list_insert(dialog_handle dlg, int id, int index, const char* text);
void list_select(dialog_handle dlg, int id, int index);
int list_selection(dialog_handle dlg, int id);

// Up-down arrows: range low..high (low < high: the upper arrow counts up) and position.
void updown_range(dialog_handle dlg, int id, int low, int high);
void updown_set(dialog_handle dlg, int id, int position);
int updown_get(dialog_handle dlg, int id);

// Marks an owner-drawn control for painting (dlg_draw_item comes later); with erase the
// background is cleared first.
void control_redraw(dialog_handle dlg, int id, bool erase);

// Tells the platform where the points a user grabs in an owner-drawn control lie, in
// its client pixels (the handles of the curve area). The Windows layer has nothing to
// do with them; the headless layer lets its scripted user find them.
void control_publish_points(dialog_handle dlg, int id, const dialog_point* points, int count);

// ---- Subclassed controls (the curve area) ----

// Routes the control's mouse messages through proc first.
void control_subclass(dialog_handle dlg, int id, control_proc_fn* proc);

// The dialog a control belongs to.
dialog_handle control_dialog(control_handle ctl);

// The control's client rectangle (left and top are 0).
dialog_rect control_client_rect(control_handle ctl);

// Mouse capture: while captured, moves outside the control still reach it.
void mouse_capture(control_handle ctl);
void mouse_release();

void cursor_show(cursor_kind cursor);

// ---- Painting an owner-drawn control ----

// Stretches the bitmap over the rectangle (source copy).
void surface_stretch_bitmap(draw_surface* surface, const bitmap_resource& bitmap, dialog_rect to);

// Fills the rectangle (right and bottom excluded) with a solid colour.
void surface_fill_rect(draw_surface* surface, dialog_rect rect, uint32_t rgb);

// Draws connected lines through the points, one pixel wide; each segment leaves out
// its end point, so the last point is not drawn.
void surface_polyline(draw_surface* surface, const dialog_point* points, int count, uint32_t rgb);
