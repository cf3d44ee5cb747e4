// The colour correction dialog. The user shapes the tone curve by dragging its five
// handles (one per control value) or with the step arrows; the dialog edits the working
// control values correction.points directly and rebuilds the table when it closes.
//
// Screen y grows downwards: a handle's y is the curve area's bottom minus its value
// scaled to the area's height, so value 255 sits at the top. A drag keeps every handle
// at least 4 pixels below the next higher one, so the curve always rises.
#include "color/color_dialog.h"

#include <cassert>

#include "color/correction.h"
#include "ui/dialog_templates.h"

namespace {

struct colour_dialog_state {
    uint8_t* stored;        // the configuration dialog's working copy of correction_points
    dialog_point handle[5]; // handle points in curve-area pixels, from the last drawing
    int area_height;        // curve area height at the last drawing, pixels
    int dragged;            // handle grabbed last, 0..4; -1 before any grab
    int dragging;           // 1 while the left button holds a handle
    int mouse_edited;       // 1 once a drag has moved a handle since the dialog opened
};

colour_dialog_state colour = {nullptr, {}, 0, -1, 0, 0};

constexpr uint32_t handle_red = 0xFF0000;
constexpr uint32_t curve_blue = 0x0000FF;
constexpr int grab_distance = 2;  // pixels either way around a handle's centre
constexpr int handle_spacing = 4; // pixels kept between neighbouring handles

int& point(int k) {
    return correction.points[k];
}

// Paints the curve area: the black square, a red square around each handle and the
// blue curve through the handles as control points, drawn last.
void draw_curve_area(dialog_handle dlg, draw_surface* surface, dialog_rect r) {
    surface_stretch_bitmap(surface, curve_background_bitmap, r);
    colour.area_height = r.bottom - r.top;
    const int sum = r.left + r.right;
    const int x[5] = {r.left, sum / 4, sum / 2, 3 * sum / 4, r.right};
    for (int k = 0; k < 5; ++k) colour.handle[k] = {x[k], r.bottom - (r.bottom * point(k) / 255)};
    for (const dialog_point& h : colour.handle)
        surface_fill_rect(surface, {h.x - 2, h.y - 2, h.x + 2, h.y + 2}, handle_red);
    double px[5], py[5];
    for (int k = 0; k < 5; ++k) {
        px[k] = colour.handle[k].x;
        py[k] = colour.handle[k].y;
    }
    dialog_point curve[256];
    for (int i = 0; i < 256; ++i)
        curve[i] = {static_cast<int>(bezier_at(px, i)), static_cast<int>(bezier_at(py, i))};
    surface_polyline(surface, curve, 256, curve_blue);
    control_publish_points(dlg, idc_curve, colour.handle, 5);
}

void redraw(dialog_handle dlg) {
    control_redraw(dlg, idc_curve, false);
}

// The step arrows: SB_LINEUP and SB_LINEDOWN of the three scroll bars, each acting
// only while its condition holds.
void step(dialog_handle dlg, int id, int code) {
    if (code != sb_lineup && code != sb_linedown) return;
    int* p = correction.points;
    const bool up = code == sb_lineup;
    bool moved = false;
    if (id == idc_saturation) { // steeper or flatter about the middle
        if (up && p[4] < 254 && p[0] > 1) {
            p[0] -= 2, p[1] -= 1, p[3] += 1, p[4] += 2;
            moved = true;
        } else if (!up && p[4] <= 255 && p[0] >= 0 && p[3] - 10 > p[1]) {
            p[0] += 2, p[1] += 1, p[3] -= 1, p[4] -= 2;
            moved = true;
        }
    } else if (id == idc_tint) { // the whole curve up or down
        if (up ? p[4] < 255 : p[0] > 0) {
            for (int k = 0; k < 5; ++k) p[k] += up ? 1 : -1;
            moved = true;
        }
    } else if (id == idc_gamma) { // the middle part up or down
        if (up && p[3] < p[4] && p[2] < p[3]) {
            p[1] += 4, p[2] += 5, p[3] += 4;
            moved = true;
        } else if (!up && p[1] > p[0] && p[1] < p[2]) {
            p[1] -= 4, p[2] -= 5, p[3] -= 4;
            moved = true;
        }
    }
    if (moved) redraw(dlg);
}

// "Valeur predefinie": back to the default curve after a Yes.
void ask_reset(dialog_handle dlg) {
    int answer = message_box(dlg, "R\xE9initialiser aux valeurs initiales ?", "Correction d'image",
                             mb_yes_no | mb_icon_question | mb_foreground);
    if (answer != id_yes) return;
    reset_correction();
    for (int k = 0; k < 5; ++k) {
        point(k) = correction_at(correction_inputs[k]);
        colour.stored[k] = static_cast<uint8_t>(point(k));
    }
    build_correction_table();
    redraw(dlg);
}

// OK. The steps can carry a value just outside 0..255 (Gamma takes P1 to -3 and P3 to
// 258); the stored record has one byte per value, so the values are brought back into
// that range here, and the table is built from exactly what will be stored.
void close_dialog(dialog_handle dlg) {
    for (int k = 0; k < 5; ++k) point(k) = point(k) < 0 ? 0 : point(k) > 255 ? 255 : point(k);
    build_correction_table();
    dialog_end(dlg, 0);
}

// WM_USER from the curve control: the dragged handle's value from its new place.
void take_dragged_value(dialog_handle dlg) {
    const int k = colour.dragged;
    if (colour.mouse_edited && colour.dragging && k >= 0 && colour.area_height > 0)
        point(k) = (colour.area_height - colour.handle[k].y) * 255 / colour.area_height;
    redraw(dlg);
}

void open(dialog_handle dlg, uint8_t* stored) {
    assert(stored);
    colour.stored = stored;
    control_subclass(dlg, idc_curve, curve_control_proc);
    for (int k = 0; k < 5; ++k) point(k) = stored[k];
    build_correction_table();
    colour.mouse_edited = 0;
    colour.dragging = 0;
}

void release_handle() {
    if (!colour.dragging) return;
    colour.dragging = 0;
    mouse_release();
    cursor_show(cursor_kind::arrow);
}

void grab_handle(control_handle ctl, uint32_t packed) {
    const int x = static_cast<int>(packed & 0xFFFF), y = static_cast<int>(packed >> 16);
    for (int k = 0; k < 5; ++k) {
        const int dx = x - colour.handle[k].x, dy = y - colour.handle[k].y;
        if (dx >= -grab_distance && dx <= grab_distance && dy >= -grab_distance &&
            dy <= grab_distance) {
            colour.dragged = k;
            colour.dragging = 1;
            mouse_capture(ctl);
            cursor_show(cursor_kind::cross);
            return;
        }
    }
    release_handle();
}

// The dragged handle follows the mouse vertically, clamped to the area's bottom and
// kept handle_spacing pixels from its neighbours.
void move_handle(control_handle ctl, uint32_t packed) {
    cursor_show(cursor_kind::cross);
    const int high = static_cast<int>(packed >> 16);
    const int y = high >= 0x8000 ? high - 0x10000 : high; // above the area while captured
    const bool above = y < 0;
    const int b = control_client_rect(ctl).bottom;
    const int k = colour.dragged;
    assert(k >= 0 && k < 5);
    const dialog_point* h = colour.handle;
    int to;
    if (k == 4) {
        to = above ? 0 : y > h[3].y - handle_spacing ? h[3].y - handle_spacing : y < b ? y : b;
    } else if (above || y <= h[k + 1].y + handle_spacing) {
        to = h[k + 1].y + handle_spacing;
    } else if (k > 0 && y >= h[k - 1].y - handle_spacing) {
        to = h[k - 1].y - handle_spacing;
    } else {
        to = y < b ? y : b;
    }
    colour.handle[k].y = to;
    colour.mouse_edited = 1;
    dialog_send_user(control_dialog(ctl));
}

} // namespace

int colour_dialog_proc(dialog_handle dlg, const dialog_event& ev) {
    switch (ev.message) {
    case dlg_init:
        open(dlg, reinterpret_cast<uint8_t*>(ev.param));
        return 1;
    case dlg_draw_item:
        if (ev.control == idc_curve) draw_curve_area(dlg, ev.surface, ev.item);
        return 1;
    case dlg_command:
        if (ev.control == idc_curve_reset) {
            ask_reset(dlg);
            return 1;
        }
        if (ev.control == idc_curve_ok) {
            close_dialog(dlg);
            return 1;
        }
        return 0;
    case dlg_vscroll:
        step(dlg, ev.control, ev.code);
        return 1;
    case dlg_notify:
        return 1;
    case dlg_user:
        take_dragged_value(dlg);
        return 1;
    default:
        return 0;
    }
}

int curve_control_proc(control_handle ctl, const control_event& ev) {
    switch (ev.message) {
    case ctl_button_down: // never passed on: the control never shows itself pressed
        grab_handle(ctl, ev.packed);
        return 1;
    case ctl_mouse_move:
        if (!colour.dragging) return 0;
        move_handle(ctl, ev.packed);
        return 1;
    case ctl_button_up:
        release_handle();
        return 1;
    default:
        return 0;
    }
}

int run_colour_dialog(void* module, dialog_handle owner, uint8_t* points) {
    assert(points);
    return dialog_run(module, colour_template, owner, colour_dialog_proc,
                      reinterpret_cast<intptr_t>(points));
}
