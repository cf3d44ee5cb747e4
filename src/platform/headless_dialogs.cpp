// The headless dialog layer: dialogs without a screen.
//
// Each open dialog is a record holding its controls' state (enabled, checked, text,
// list rows, arrows' range and position, the picture of an owner-drawn control). The
// modal loop sends the procedure the messages Windows would send (initialisation,
// commands with their notifications, focus changes, scrolling, painting) in the order
// Windows sends them, and takes the user's actions from a script. A configuration
// session opens a handful of dialogs, and a script holds a few dozen actions; nothing
// here is hot.
#ifndef _WIN32

#include "platform/headless_dialogs.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int max_controls = 48;          // controls per dialog (the largest template has 40)
constexpr int max_rows = 48;              // rows per list (the paper formats have 41)
constexpr int max_text = 256;             // bytes of an edit or static text, NUL included
constexpr int max_depth = 4;              // nested dialogs open at once (main, then one more)
constexpr int max_points = 8;             // published points per control
constexpr int base_x = 12;                // pixels per 4 horizontal dialog units
constexpr int base_y = 26;                // pixels per 8 vertical dialog units
constexpr uint32_t background = 0xFFFFFF; // what erasing paints

} // namespace

struct control_window {
    dialog_window* dlg;              // the dialog it belongs to
    const control_template* tmpl;    // its template entry
    int width, height;               // client size in pixels
    bool enabled;                    // accepts the user's actions
    bool checked;                    // radio buttons
    char text[max_text];             // caption or edit text, Windows-1252
    int limit;                       // edits: characters the user may type, 0..max_text-1
    bool all_selected;               // edits: whole text selected
    std::vector<std::string> rows;   // drop-down lists: their rows, at most max_rows
    int selection;                   // -1 or a row index
    int low, high, position;         // up-down range and position
    control_proc_fn* subclass;       // procedure ahead of the control's own, or null
    bool needs_paint;                // owner-drawn: paint before the next action
    bool erase;                      // ... clearing the picture first
    std::vector<uint32_t> pixels;    // owner-drawn: width x height, 0xRRGGBB
    dialog_point points[max_points]; // published points
    int point_count;                 // 0..max_points
};

struct dialog_window {
    const dialog_template* tmpl; // what it was built from
    dialog_proc_fn* proc;        // its procedure
    control_window controls[max_controls];
    int count;    // controls in use
    int focus;    // index of the focused control, -1 for none
    bool ended;   // dialog_end was called
    int end_code; // its code
};

struct draw_surface {
    uint32_t* pixels; // width x height, 0xRRGGBB
    int width, height;
};

namespace {

struct headless_state {
    dialog_window dialogs[max_depth]; // open dialogs, outermost first
    int depth;                        // how many are open
    const user_action* script;        // the user's actions, or null
    int script_count;                 // how many
    int next;                         // index of the next one
    unsigned options;                 // script_* flags
    int current;                      // index of the action being played, -1 between
    control_window* capture;          // control holding the mouse, or null
    cursor_kind cursor;               // cursor last shown
    unsigned long activity;           // counts changes made to any dialog
    probe_fn* probe;                  // tests' probe, or null
    void* probe_context;
    dialog_outcome outcome; // what the user met
};

headless_state headless;

// The 16-colour palette of 4-bit bitmaps.
constexpr uint32_t palette16[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

// Dialog units to pixels, rounded to the nearest (as MapDialogRect does).
int to_pixels(int units, int base, int per) {
    return (units * base + per / 2) / per;
}

void changed() {
    ++headless.activity;
}

control_window* find(dialog_handle dlg, int id) {
    if (!dlg) return nullptr;
    for (int i = 0; i < dlg->count; ++i)
        if (dlg->controls[i].tmpl->id == id) return &dlg->controls[i];
    return nullptr;
}

int index_of(const control_window* c) {
    return static_cast<int>(c - c->dlg->controls);
}

void copy_text(char* to, int size, const char* from) {
    if (!from) from = "";
    size_t n = std::strlen(from);
    if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
    std::memmove(to, from, n);
    to[n] = '\0';
}

void send(dialog_handle dlg, const dialog_event& ev) {
    dlg->proc(dlg, ev);
}

void send_command(dialog_handle dlg, int id, int code) {
    dialog_event ev{};
    ev.message = dlg_command;
    ev.control = id;
    ev.code = code;
    send(dlg, ev);
}

void send_vscroll(dialog_handle dlg, int id, int code, int position) {
    dialog_event ev{};
    ev.message = dlg_vscroll;
    ev.control = id;
    ev.code = code;
    ev.position = position;
    send(dlg, ev);
}

// Moves the keyboard focus; the control losing it hears so before the one gaining it.
void move_focus(dialog_handle dlg, int to) {
    int from = dlg->focus;
    if (from == to) return;
    dlg->focus = to;
    changed();
    if (from >= 0) {
        control_window& c = dlg->controls[from];
        if (c.tmpl->kind == control_kind::edit) send_command(dlg, c.tmpl->id, en_killfocus);
        if (c.tmpl->kind == control_kind::drop_list) send_command(dlg, c.tmpl->id, cbn_killfocus);
    }
    if (to >= 0 && dlg->focus == to) {
        control_window& c = dlg->controls[to];
        if (c.tmpl->kind == control_kind::edit) send_command(dlg, c.tmpl->id, en_setfocus);
        if (c.tmpl->kind == control_kind::drop_list) send_command(dlg, c.tmpl->id, cbn_setfocus);
    }
}

void build(dialog_window& dlg, const dialog_template& tmpl, dialog_proc_fn* proc) {
    assert(tmpl.control_count <= max_controls);
    dlg.tmpl = &tmpl;
    dlg.proc = proc;
    dlg.count = tmpl.control_count < max_controls ? tmpl.control_count : max_controls;
    dlg.focus = -1;
    dlg.ended = false;
    dlg.end_code = 0;
    for (int i = 0; i < dlg.count; ++i) {
        control_window& c = dlg.controls[i];
        const control_template& t = tmpl.controls[i];
        c.dlg = &dlg;
        c.tmpl = &t;
        c.width = to_pixels(t.w, base_x, 4);
        c.height = to_pixels(t.h, base_y, 8);
        c.enabled = true;
        c.checked = false;
        copy_text(c.text, sizeof c.text, t.caption);
        c.limit = max_text - 1;
        c.all_selected = false;
        c.rows.clear();
        c.selection = -1;
        c.low = 100; // an up-down control's range before it is set
        c.high = 0;
        c.position = 0;
        c.subclass = nullptr;
        c.needs_paint = t.kind == control_kind::owner_button;
        c.erase = true;
        c.pixels.clear();
        if (t.kind == control_kind::owner_button)
            c.pixels.assign(static_cast<size_t>(c.width) * c.height, background);
        c.point_count = 0;
    }
}

// Paints the owner-drawn controls marked for it, as WM_PAINT would once the action's
// messages are handled.
void paint(dialog_handle dlg) {
    for (int i = 0; i < dlg->count; ++i) {
        control_window& c = dlg->controls[i];
        if (!c.needs_paint || dlg->ended) continue;
        c.needs_paint = false;
        if (c.erase) std::fill(c.pixels.begin(), c.pixels.end(), background);
        c.erase = false;
        draw_surface surface{c.pixels.data(), c.width, c.height};
        dialog_event ev{};
        ev.message = dlg_draw_item;
        ev.control = c.tmpl->id;
        ev.surface = &surface;
        ev.item = {0, 0, c.width, c.height};
        send(dlg, ev);
    }
}

void give_up(refusal_kind why, const user_action& a, int limit = 0) {
    dialog_outcome& o = headless.outcome;
    if (o.gave_up) return;
    o.gave_up = 2;
    o.action = headless.current;
    o.refusal = why;
    o.control = a.control;
    o.limit = limit;
}

// A control the user can act on: present, of an allowed kind, enabled.
control_window* reachable(dialog_handle dlg, const user_action& a, bool (*kind_ok)(control_kind)) {
    control_window* c = find(dlg, a.control);
    if (!c) {
        give_up(refusal_kind::no_control, a);
        return nullptr;
    }
    if (!kind_ok(c->tmpl->kind)) {
        give_up(refusal_kind::wrong_kind, a);
        return nullptr;
    }
    if (!c->enabled) {
        give_up(refusal_kind::disabled, a);
        return nullptr;
    }
    return c;
}

bool is_button(control_kind k) {
    return k == control_kind::push_button || k == control_kind::default_button ||
           k == control_kind::radio_button || k == control_kind::owner_button;
}
bool is_list(control_kind k) {
    return k == control_kind::drop_list;
}
bool is_edit(control_kind k) {
    return k == control_kind::edit;
}
bool is_arrows(control_kind k) {
    return k == control_kind::up_down || k == control_kind::scroll_bar;
}
bool is_any(control_kind) {
    return true;
}

// Delivers a mouse message to a control, through its subclass procedure first.
void mouse(control_window& c, unsigned message, int x, int y) {
    bool inside = x >= 0 && y >= 0 && x < c.width && y < c.height;
    if (headless.capture != &c && !inside) return; // the window under the mouse gets it
    control_event ev{message, (static_cast<uint32_t>(y) & 0xFFFFu) << 16 |
                                  (static_cast<uint32_t>(x) & 0xFFFFu)};
    if (c.subclass && c.subclass(&c, ev)) return;
    // The control's own processing: a plain button presses on release.
    if (message == ctl_button_up && inside && c.tmpl->kind != control_kind::owner_button)
        send_command(c.dlg, c.tmpl->id, bn_clicked);
}

void play(dialog_handle dlg, const user_action& a) {
    control_window* c = nullptr;
    switch (a.act) {
    case user_act::click:
        if (!(c = reachable(dlg, a, is_button))) return;
        if (c->tmpl->kind != control_kind::owner_button) move_focus(dlg, index_of(c));
        if (!headless.outcome.gave_up) send_command(dlg, a.control, bn_clicked);
        return;
    case user_act::select_row:
        if (!(c = reachable(dlg, a, is_list))) return;
        if (a.value < 0 || a.value >= static_cast<int>(c->rows.size()))
            return give_up(refusal_kind::no_row, a);
        move_focus(dlg, index_of(c));
        if (headless.outcome.gave_up) return;
        c->selection = a.value;
        changed();
        send_command(dlg, a.control, cbn_selchange);
        return;
    case user_act::type_text: {
        if (!(c = reachable(dlg, a, is_edit))) return;
        int n = static_cast<int>(std::strlen(a.text ? a.text : ""));
        if (n > c->limit) return give_up(refusal_kind::too_long, a, c->limit);
        move_focus(dlg, index_of(c));
        if (headless.outcome.gave_up) return;
        copy_text(c->text, sizeof c->text, a.text);
        c->all_selected = false;
        changed();
        send_command(dlg, a.control, en_change);
        return;
    }
    case user_act::leave_field:
        if (!(c = find(dlg, a.control))) return give_up(refusal_kind::no_control, a);
        if (dlg->focus == index_of(c)) move_focus(dlg, -1);
        return;
    case user_act::scroll_up:
    case user_act::scroll_down: {
        if (!(c = reachable(dlg, a, is_arrows))) return;
        bool up = a.act == user_act::scroll_up;
        if (c->tmpl->kind == control_kind::scroll_bar) {
            send_vscroll(dlg, a.control, up ? sb_lineup : sb_linedown, 0);
            send_vscroll(dlg, a.control, sb_endscroll, 0);
            return;
        }
        // The upper arrow moves towards `high`.
        int step = (c->high >= c->low) == up ? 1 : -1;
        int lo = c->low < c->high ? c->low : c->high;
        int hi = c->low < c->high ? c->high : c->low;
        int to = c->position + step;
        if (to < lo || to > hi) return; // at the end of its range: nothing happens
        c->position = to;
        changed();
        send_vscroll(dlg, a.control, sb_thumbposition, to);
        send_vscroll(dlg, a.control, sb_endscroll, to);
        return;
    }
    case user_act::mouse_down:
    case user_act::mouse_move:
    case user_act::mouse_up: {
        if (!(c = reachable(dlg, a, is_any))) return;
        unsigned m = a.act == user_act::mouse_down   ? ctl_button_down
                     : a.act == user_act::mouse_move ? ctl_mouse_move
                                                     : ctl_button_up;
        mouse(*c, m, a.x, a.y);
        return;
    }
    case user_act::drag_point: {
        if (!(c = reachable(dlg, a, is_any))) return;
        if (a.value < 0 || a.value >= c->point_count || a.scale <= 0)
            return give_up(refusal_kind::no_point, a);
        // The user presses on the visible pixel nearest to the point: a handle on the
        // area's right or bottom edge is centred just outside it.
        dialog_point from = c->points[a.value];
        from.x = from.x < 0 ? 0 : from.x >= c->width ? c->width - 1 : from.x;
        from.y = from.y < 0 ? 0 : from.y >= c->height ? c->height - 1 : from.y;
        // The lowest row whose level is at least level/scale of the height.
        long long h = c->height;
        int to_y =
            static_cast<int>(h - (static_cast<long long>(a.level) * h + a.scale - 1) / a.scale);
        mouse(*c, ctl_button_down, from.x, from.y);
        paint(dlg);
        mouse(*c, ctl_mouse_move, from.x, to_y);
        paint(dlg);
        mouse(*c, ctl_button_up, from.x, to_y);
        return;
    }
    case user_act::answer:
        return give_up(refusal_kind::no_box, a);
    case user_act::command:
        send_command(dlg, a.control, a.value);
        return;
    case user_act::look: {
        if (!(c = find(dlg, a.control))) return give_up(refusal_kind::no_control, a);
        dialog_outcome& o = headless.outcome;
        if (o.look_count < 8) copy_text(o.looks[o.look_count++], max_text, c->text);
        return;
    }
    case user_act::snapshot: {
        if (!(c = find(dlg, a.control))) return give_up(refusal_kind::no_control, a);
        dialog_outcome& o = headless.outcome;
        o.snapshot = c->pixels;
        o.snapshot_width = c->pixels.empty() ? 0 : c->width;
        o.snapshot_height = c->pixels.empty() ? 0 : c->height;
        return;
    }
    case user_act::probe:
        if (headless.probe) headless.probe(dlg, a.value, headless.probe_context);
        return;
    }
}

// Takes the user's next action for the innermost dialog. Returns false when the user
// has nothing more to do there.
bool act(dialog_handle dlg) {
    dialog_outcome& o = headless.outcome;
    if (o.gave_up || !headless.script || headless.next >= headless.script_count) return false;
    headless.current = headless.next++;
    o.actions_done = headless.next;
    const user_action& a = headless.script[headless.current];
    unsigned long before = headless.activity;
    play(dlg, a);
    if ((a.flags & ua_must_change) && headless.activity == before)
        give_up(refusal_kind::no_effect, a);
    headless.current = -1;
    return true;
}

// Leaves the dialog as a user walking away does: Escape, then Enter, then its last
// default button; a dialog deaf to all three is closed with -1.
void leave(dialog_handle dlg) {
    send_command(dlg, id_cancel, bn_clicked);
    if (!dlg->ended) send_command(dlg, id_ok, bn_clicked);
    if (!dlg->ended) {
        for (int i = dlg->count - 1; i >= 0; --i) {
            if (dlg->controls[i].tmpl->kind == control_kind::default_button) {
                send_command(dlg, dlg->controls[i].tmpl->id, bn_clicked);
                break;
            }
        }
    }
    if (!dlg->ended) dialog_end(dlg, -1);
}

} // namespace

// ---- The control layer ----

int dialog_run(void*, const dialog_template& tmpl, dialog_handle, dialog_proc_fn* proc,
               intptr_t param) {
    if (!proc || headless.depth >= max_depth) return -1;
    const bool top_level = headless.depth == 0;
    if (top_level) {
        dialog_outcome& o = headless.outcome;
        o.end_code = 0;
        o.actions_done = 0;
        o.gave_up = 0;
        o.action = -1;
        o.refusal = refusal_kind::none;
        o.control = 0;
        o.limit = 0;
        o.box_count = 0;
        o.look_count = 0;
        o.snapshot_width = o.snapshot_height = 0;
        o.snapshot.clear();
        headless.next = 0;
        headless.current = -1;
        headless.capture = nullptr;
    }
    dialog_window& dlg = headless.dialogs[headless.depth++];
    build(dlg, tmpl, proc);
    changed();
    dialog_event init{};
    init.message = dlg_init;
    init.param = param;
    send(&dlg, init);
    paint(&dlg);
    while (!dlg.ended) {
        if (!act(&dlg)) leave(&dlg);
        paint(&dlg);
    }
    const int code = dlg.end_code;
    if (headless.capture && headless.capture->dlg == &dlg) headless.capture = nullptr;
    --headless.depth;
    if (top_level) {
        headless.outcome.end_code = code;
        headless.script = nullptr;
        headless.script_count = 0;
    }
    return code;
}

void dialog_end(dialog_handle dlg, int code) {
    if (!dlg || dlg->ended) return;
    dlg->ended = true;
    dlg->end_code = code;
    changed();
}

void dialog_send_user(dialog_handle dlg) {
    if (!dlg) return;
    dialog_event ev{};
    ev.message = dlg_user;
    send(dlg, ev);
}

int message_box(dialog_handle, const char* text, const char* title, unsigned style) {
    changed();
    const bool yes_no = (style & 0xF) == mb_yes_no;
    int answer = yes_no ? id_no : id_ok;
    if (headless.script && headless.next < headless.script_count &&
        headless.script[headless.next].act == user_act::answer && !headless.outcome.gave_up) {
        answer = headless.script[headless.next++].value;
        headless.outcome.actions_done = headless.next;
    }
    dialog_outcome& o = headless.outcome;
    if (o.box_count < 16) {
        shown_box& b = o.boxes[o.box_count++];
        copy_text(b.text, sizeof b.text, text);
        copy_text(b.title, sizeof b.title, title);
        b.style = style;
        b.answer = answer;
        b.action = headless.current;
    }
    if ((style & 0xF0) == mb_icon_exclamation && (headless.options & script_stop_on_warning) &&
        !o.gave_up && headless.current >= 0) {
        o.gave_up = 1;
        o.action = headless.current;
    }
    return answer;
}

void control_enable(dialog_handle dlg, int id, bool enabled) {
    control_window* c = find(dlg, id);
    if (!c || c->enabled == enabled) return;
    c->enabled = enabled;
    changed();
    if (!enabled && dlg->focus == index_of(c)) move_focus(dlg, -1);
}

void radio_check(dialog_handle dlg, int first, int last, int id) {
    for (int i = 0; dlg && i < dlg->count; ++i) {
        control_window& c = dlg->controls[i];
        int cid = c.tmpl->id;
        if (cid < first || cid > last || c.tmpl->kind != control_kind::radio_button) continue;
        bool on = cid == id;
        if (c.checked != on) {
            c.checked = on;
            changed();
        }
    }
}

void control_set_text(dialog_handle dlg, int id, const char* text) {
    control_window* c = find(dlg, id);
    if (!c) return;
    if (std::strcmp(c->text, text ? text : "") != 0) changed();
    copy_text(c->text, sizeof c->text, text);
    c->all_selected = false;
    if (c->tmpl->kind == control_kind::edit) send_command(dlg, id, en_change);
}

int control_get_text(dialog_handle dlg, int id, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    control_window* c = find(dlg, id);
    copy_text(buffer, size, c ? c->text : "");
    return static_cast<int>(std::strlen(buffer));
}

void control_set_number(dialog_handle dlg, int id, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    control_set_text(dlg, id, text);
}

int control_get_number(dialog_handle dlg, int id, unsigned* value) {
    *value = 0;
    control_window* c = find(dlg, id);
    return c ? dialog_text_number(c->text, value) : 0;
}

void edit_limit(dialog_handle dlg, int id, int chars) {
    control_window* c = find(dlg, id);
    if (!c) return;
    c->limit = chars <= 0 || chars > max_text - 1 ? max_text - 1 : chars;
}

void edit_select_all(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    if (c) c->all_selected = true;
}

void control_focus(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    if (c) move_focus(dlg, index_of(c));
}

void list_clear(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    if (!c) return;
    c->rows.clear();
    c->selection = -1;
    changed();
}

void list_insert(dialog_handle dlg, int id, int index, const char* text) {
    control_window* c = find(dlg, id);
    if (!c || static_cast<int>(c->rows.size()) >= max_rows) return;
    const int n = static_cast<int>(c->rows.size());
    if (index < 0 || index > n) index = n;
    c->rows.insert(c->rows.begin() + index, text ? text : "");
    changed();
}

void list_select(dialog_handle dlg, int id, int index) {
    control_window* c = find(dlg, id);
    if (!c) return;
    c->selection = index >= 0 && index < static_cast<int>(c->rows.size()) ? index : -1;
    changed();
}

int list_selection(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c ? c->selection : -1;
}

void updown_range(dialog_handle dlg, int id, int low, int high) {
    control_window* c = find(dlg, id);
    if (!c) return;
    c->low = low;
    c->high = high;
    changed();
}

void updown_set(dialog_handle dlg, int id, int position) {
    control_window* c = find(dlg, id);
    if (!c) return;
    int lo = c->low < c->high ? c->low : c->high;
    int hi = c->low < c->high ? c->high : c->low;
    c->position = position < lo ? lo : position > hi ? hi : position;
    changed();
}

int updown_get(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c ? c->position : 0;
}

void control_redraw(dialog_handle dlg, int id, bool erase) {
    control_window* c = find(dlg, id);
    if (!c || c->tmpl->kind != control_kind::owner_button) return;
    c->needs_paint = true;
    c->erase = c->erase || erase;
    changed();
}

void control_publish_points(dialog_handle dlg, int id, const dialog_point* points, int count) {
    control_window* c = find(dlg, id);
    if (!c) return;
    c->point_count = count < 0 ? 0 : count > max_points ? max_points : count;
    for (int i = 0; i < c->point_count; ++i) c->points[i] = points[i];
}

void control_subclass(dialog_handle dlg, int id, control_proc_fn* proc) {
    control_window* c = find(dlg, id);
    if (c) c->subclass = proc;
}

dialog_handle control_dialog(control_handle ctl) {
    return ctl ? ctl->dlg : nullptr;
}

dialog_rect control_client_rect(control_handle ctl) {
    return ctl ? dialog_rect{0, 0, ctl->width, ctl->height} : dialog_rect{0, 0, 0, 0};
}

void mouse_capture(control_handle ctl) {
    headless.capture = ctl;
}

void mouse_release() {
    headless.capture = nullptr;
}

void cursor_show(cursor_kind cursor) {
    headless.cursor = cursor;
}

// ---- Painting ----

namespace {

void put_pixel(draw_surface* s, int x, int y, uint32_t rgb) {
    if (x >= 0 && y >= 0 && x < s->width && y < s->height)
        s->pixels[static_cast<size_t>(y) * s->width + x] = rgb;
}

} // namespace

void surface_stretch_bitmap(draw_surface* surface, const bitmap_resource& bitmap, dialog_rect to) {
    // Every pixel of these bitmaps has the same colour, so stretching is filling.
    surface_fill_rect(surface, to, palette16[bitmap.colour_index & 15]);
}

void surface_fill_rect(draw_surface* surface, dialog_rect rect, uint32_t rgb) {
    if (!surface) return;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) put_pixel(surface, x, y, rgb);
}

void surface_polyline(draw_surface* surface, const dialog_point* points, int count, uint32_t rgb) {
    if (!surface) return;
    for (int i = 0; i + 1 < count; ++i) {
        // Bresenham from points[i] towards points[i + 1], the end point left out.
        int x = points[i].x, y = points[i].y;
        const int x1 = points[i + 1].x, y1 = points[i + 1].y;
        const int dx = x1 > x ? x1 - x : x - x1, sx = x1 > x ? 1 : -1;
        const int dy = y1 > y ? y - y1 : y1 - y, sy = y1 > y ? 1 : -1;
        int err = dx + dy;
        while (x != x1 || y != y1) {
            put_pixel(surface, x, y, rgb);
            int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y += sy;
            }
        }
    }
}

// ---- The scripted user and the look inside ----

void dialog_set_user_actions(const user_action* actions, int count, unsigned options) {
    headless.script = count > 0 ? actions : nullptr;
    headless.script_count = actions ? count : 0;
    headless.next = 0;
    headless.options = options;
}

const dialog_outcome& dialog_user_outcome() {
    return headless.outcome;
}

void headless_set_probe(probe_fn* probe, void* context) {
    headless.probe = probe;
    headless.probe_context = context;
}

const dialog_template* headless_template(dialog_handle dlg) {
    return dlg ? dlg->tmpl : nullptr;
}

bool headless_exists(dialog_handle dlg, int id) {
    return find(dlg, id) != nullptr;
}

bool headless_enabled(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c && c->enabled;
}

bool headless_checked(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c && c->checked;
}

const char* headless_text(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c ? c->text : "";
}

int headless_text_limit(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c ? c->limit : 0;
}

bool headless_all_selected(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c && c->all_selected;
}

bool headless_focused(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c && dlg->focus == index_of(c);
}

int headless_list_count(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c ? static_cast<int>(c->rows.size()) : 0;
}

const char* headless_list_item(dialog_handle dlg, int id, int index) {
    control_window* c = find(dlg, id);
    return c && index >= 0 && index < static_cast<int>(c->rows.size()) ? c->rows[index].c_str()
                                                                       : "";
}

void headless_updown(dialog_handle dlg, int id, int* low, int* high, int* position) {
    control_window* c = find(dlg, id);
    *low = c ? c->low : 0;
    *high = c ? c->high : 0;
    *position = c ? c->position : 0;
}

dialog_rect headless_client_rect(dialog_handle dlg, int id) {
    return control_client_rect(find(dlg, id));
}

uint32_t headless_pixel(dialog_handle dlg, int id, int x, int y) {
    control_window* c = find(dlg, id);
    if (!c || c->pixels.empty() || x < 0 || y < 0 || x >= c->width || y >= c->height)
        return 0xFFFFFFFFu;
    return c->pixels[static_cast<size_t>(y) * c->width + x];
}

int headless_points(dialog_handle dlg, int id, dialog_point* points, int max) {
    control_window* c = find(dlg, id);
    if (!c) return 0;
    int n = c->point_count < max ? c->point_count : max;
    for (int i = 0; i < n; ++i) points[i] = c->points[i];
    return n;
}

bool headless_captured(dialog_handle dlg, int id) {
    control_window* c = find(dlg, id);
    return c && headless.capture == c;
}

cursor_kind headless_cursor() {
    return headless.cursor;
}

#endif
