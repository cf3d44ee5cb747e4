// The dialog control layer on Windows: real modal dialogs from the driver's resources,
// their controls, message boxes, the subclassed curve control with mouse capture and
// cursors, and GDI painting of the owner-drawn curve area.
//
// Each call is a thin translation to one or two USER32/GDI32 calls. A dialog is known
// to the procedures by its window handle; the window procedure the system calls looks
// the dialog up in a small stack of open dialogs (at most a main dialog, one nested
// dialog and, from the colour dialog, none further) and hands each message on as one
// dialog_event. The up-down class lives in the common-controls library, which is
// loaded by name at the first dialog, so the driver itself imports nothing beyond
// KERNEL32, USER32, GDI32 and the C runtime.
//
// A drawing host sees the real dialogs. kvrac.exe, unless asked for them, switches the
// driver to headless dialogs, as on Linux: then, and whenever it has handed over a
// scripted user, every call goes to the headless layer instead, for the whole
// top-level dialog and the dialogs it opens.
#include <windows.h>

#include <commctrl.h>

#include <cassert>
#include <cstring>

#include "platform/callconv.h"
#include "platform/headless_dialogs.h"
#include "platform/win32_headless_names.h"

namespace {

constexpr int max_open_dialogs = 8;
constexpr int max_subclassed = 4;

struct open_dialog {
    HWND window;          // the dialog's window; null until WM_INITDIALOG
    dialog_proc_fn* proc; // its procedure
    intptr_t param;       // handed to the procedure with dlg_init
};

struct subclassed_control {
    HWND window;           // the control; null = slot free
    WNDPROC own_proc;      // the control's own window procedure, called for the rest
    control_proc_fn* proc; // the procedure that sees the control's messages first
};

struct win32_dialog_state {
    open_dialog dialogs[max_open_dialogs]; // open dialogs, outermost first
    int dialog_count;                      // 0..max_open_dialogs
    subclassed_control subclassed[max_subclassed];
    HINSTANCE module;           // module whose resources the open dialogs come from
    bool common_controls_ready; // the up-down class is registered
    bool headless;              // every top-level dialog runs headless (kvrac.exe's default)
    bool scripted;              // a scripted user is armed for the next top-level dialog
    int scripted_depth;         // headless dialogs open, 0..max_open_dialogs
};

win32_dialog_state ui = {};

HWND window_of(dialog_handle dlg) {
    return reinterpret_cast<HWND>(dlg);
}

dialog_handle handle_of(HWND window) {
    return reinterpret_cast<dialog_handle>(window);
}

HWND item(dialog_handle dlg, int id) {
    return GetDlgItem(window_of(dlg), id);
}

// An owner-drawn control is painted through the device context of its WM_DRAWITEM,
// handed to the procedure as the opaque surface.
draw_surface* surface_of(HDC dc) {
    return reinterpret_cast<draw_surface*>(dc);
}

HDC dc_of(draw_surface* surface) {
    return reinterpret_cast<HDC>(surface);
}

COLORREF colour_ref(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Registers the common controls once, through the library loaded by name.
void prepare_common_controls() {
    if (ui.common_controls_ready) return;
    HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (!comctl) return;
    using init_ex_fn = BOOL WINAPI(const INITCOMMONCONTROLSEX*);
    using init_fn = void WINAPI();
    FARPROC ex = GetProcAddress(comctl, "InitCommonControlsEx");
    if (ex) {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
        reinterpret_cast<init_ex_fn*>(reinterpret_cast<void*>(ex))(&icc);
    } else if (FARPROC plain = GetProcAddress(comctl, "InitCommonControls")) {
        reinterpret_cast<init_fn*>(reinterpret_cast<void*>(plain))();
    }
    ui.common_controls_ready = true; // the library stays loaded for the process
}

open_dialog* find_dialog(HWND window) {
    for (int i = ui.dialog_count - 1; i >= 0; --i)
        if (ui.dialogs[i].window == window) return &ui.dialogs[i];
    return nullptr;
}

// Turns one window message into the event the procedure sees.
dialog_event event_of(UINT message, WPARAM wparam, LPARAM lparam) {
    dialog_event ev = {};
    ev.message = message;
    switch (message) {
    case WM_COMMAND:
        ev.control = LOWORD(wparam);
        ev.code = HIWORD(wparam);
        break;
    case WM_VSCROLL:
        ev.control = lparam ? GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) : 0;
        ev.code = LOWORD(wparam);
        ev.position = static_cast<short>(HIWORD(wparam));
        break;
    case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lparam);
        ev.control = hdr ? static_cast<int>(hdr->idFrom) : 0;
        ev.code = hdr ? static_cast<int>(hdr->code) : 0;
        break;
    }
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        ev.control = static_cast<int>(wparam);
        ev.surface = surface_of(dis->hDC);
        ev.item = {dis->rcItem.left, dis->rcItem.top, dis->rcItem.right, dis->rcItem.bottom};
        break;
    }
    default:
        break;
    }
    return ev;
}

INT_PTR CALLBACK dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    open_dialog* d = nullptr;
    if (message == WM_INITDIALOG) {
        // The slot index came through DialogBoxParamA; from now on the window finds it.
        const int slot = static_cast<int>(lparam);
        assert(slot >= 0 && slot < ui.dialog_count);
        d = &ui.dialogs[slot];
        d->window = window;
        dialog_event ev = {};
        ev.message = dlg_init;
        ev.param = d->param;
        return d->proc(handle_of(window), ev);
    }
    d = find_dialog(window);
    if (!d) return FALSE;
    return d->proc(handle_of(window), event_of(message, wparam, lparam));
}

subclassed_control* find_subclassed(HWND window) {
    for (subclassed_control& s : ui.subclassed)
        if (s.window && s.window == window) return &s;
    return nullptr;
}

LRESULT CALLBACK control_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    subclassed_control* s = find_subclassed(window);
    if (!s) return DefWindowProcA(window, message, wparam, lparam);
    WNDPROC own = s->own_proc;
    if (message == WM_NCDESTROY) {
        // The window goes away: put its own procedure back and free the slot.
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        *s = {};
        return CallWindowProcA(own, window, message, wparam, lparam);
    }
    control_event ev = {message, static_cast<uint32_t>(lparam)};
    if (s->proc(reinterpret_cast<control_handle>(window), ev)) return 0;
    return CallWindowProcA(own, window, message, wparam, lparam);
}

} // namespace

int dialog_run(void* module, const dialog_template& tmpl, dialog_handle owner, dialog_proc_fn* proc,
               intptr_t param) {
    if (ui.headless || ui.scripted || ui.scripted_depth > 0) {
        // The scripted user acts on this dialog and every dialog it opens; the script
        // is spent when the top-level one ends.
        ui.scripted = false;
        ++ui.scripted_depth;
        int code = headless_dialog_run(module, tmpl, owner, proc, param);
        --ui.scripted_depth;
        return code;
    }
    if (ui.dialog_count == max_open_dialogs) return -1;
    prepare_common_controls();
    // Resource names are looked up without regard to case; the driver asks for its
    // templates by their lower-case names.
    char name[64];
    size_t n = std::strlen(tmpl.name);
    if (n >= sizeof name) return -1;
    for (size_t i = 0; i <= n; ++i)
        name[i] =
            tmpl.name[i] >= 'A' && tmpl.name[i] <= 'Z' ? tmpl.name[i] - 'A' + 'a' : tmpl.name[i];
    const int slot = ui.dialog_count++;
    ui.dialogs[slot] = {nullptr, proc, param};
    HINSTANCE outer_module = ui.module;
    ui.module = static_cast<HINSTANCE>(module);
    INT_PTR code = DialogBoxParamA(ui.module, name, window_of(owner), dialog_window_proc, slot);
    ui.module = outer_module;
    --ui.dialog_count;
    assert(ui.dialog_count == slot);
    return static_cast<int>(code);
}

void dialog_end(dialog_handle dlg, int code) {
    if (ui.scripted_depth > 0) return headless_dialog_end(dlg, code);
    EndDialog(window_of(dlg), code);
}

void dialog_send_user(dialog_handle dlg) {
    if (ui.scripted_depth > 0) return headless_dialog_send_user(dlg);
    SendMessageA(window_of(dlg), WM_USER, 0, 0);
}

int message_box(dialog_handle owner, const char* text, const char* title, unsigned style) {
    if (ui.scripted_depth > 0) return headless_message_box(owner, text, title, style);
    return MessageBoxA(window_of(owner), text, title, style);
}

void control_enable(dialog_handle dlg, int id, bool enabled) {
    if (ui.scripted_depth > 0) return headless_control_enable(dlg, id, enabled);
    if (HWND c = item(dlg, id)) EnableWindow(c, enabled ? TRUE : FALSE);
}

void radio_check(dialog_handle dlg, int first, int last, int id) {
    if (ui.scripted_depth > 0) return headless_radio_check(dlg, first, last, id);
    CheckRadioButton(window_of(dlg), first, last, id);
}

void control_set_text(dialog_handle dlg, int id, const char* text) {
    if (ui.scripted_depth > 0) return headless_control_set_text(dlg, id, text);
    SetDlgItemTextA(window_of(dlg), id, text);
}

int control_get_text(dialog_handle dlg, int id, char* buffer, int size) {
    if (ui.scripted_depth > 0) return headless_control_get_text(dlg, id, buffer, size);
    if (size <= 0) return 0;
    buffer[0] = 0;
    return static_cast<int>(GetDlgItemTextA(window_of(dlg), id, buffer, size));
}

void control_set_number(dialog_handle dlg, int id, unsigned value) {
    if (ui.scripted_depth > 0) return headless_control_set_number(dlg, id, value);
    SetDlgItemInt(window_of(dlg), id, value, FALSE);
}

int control_get_number(dialog_handle dlg, int id, unsigned* value) {
    if (ui.scripted_depth > 0) return headless_control_get_number(dlg, id, value);
    // Read here rather than with GetDlgItemInt, whose handling of blanks and of text
    // after the digits is not the same on every system.
    *value = 0;
    char text[64];
    if (!item(dlg, id)) return 0;
    control_get_text(dlg, id, text, sizeof text);
    return dialog_text_number(text, value);
}

void edit_limit(dialog_handle dlg, int id, int chars) {
    if (ui.scripted_depth > 0) return headless_edit_limit(dlg, id, chars);
    SendDlgItemMessageA(window_of(dlg), id, EM_LIMITTEXT, static_cast<WPARAM>(chars), 0);
}

void edit_select_all(dialog_handle dlg, int id) {
    if (ui.scripted_depth > 0) return headless_edit_select_all(dlg, id);
    SendDlgItemMessageA(window_of(dlg), id, EM_SETSEL, 0, -1);
}

void control_focus(dialog_handle dlg, int id) {
    if (ui.scripted_depth > 0) return headless_control_focus(dlg, id);
    if (HWND c = item(dlg, id))
        SendMessageA(window_of(dlg), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c), TRUE);
}

void list_clear(dialog_handle dlg, int id) {
    if (ui.scripted_depth > 0) return headless_list_clear(dlg, id);
    SendDlgItemMessageA(window_of(dlg), id, CB_RESETCONTENT, 0, 0);
}

void list_insert(dialog_handle dlg, int id, int index, const char* text) {
    if (ui.scripted_depth > 0) return headless_list_insert(dlg, id, index, text);
    SendDlgItemMessageA(window_of(dlg), id, CB_INSERTSTRING, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text));
}

void list_select(dialog_handle dlg, int id, int index) {
    if (ui.scripted_depth > 0) return headless_list_select(dlg, id, index);
    SendDlgItemMessageA(window_of(dlg), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int list_selection(dialog_handle dlg, int id) {
    if (ui.scripted_depth > 0) return headless_list_selection(dlg, id);
    LRESULT sel = SendDlgItemMessageA(window_of(dlg), id, CB_GETCURSEL, 0, 0);
    return sel == CB_ERR ? -1 : static_cast<int>(sel);
}

void updown_range(dialog_handle dlg, int id, int low, int high) {
    if (ui.scripted_depth > 0) return headless_updown_range(dlg, id, low, high);
    SendDlgItemMessageA(window_of(dlg), id, UDM_SETRANGE, 0, MAKELPARAM(high, low));
}

void updown_set(dialog_handle dlg, int id, int position) {
    if (ui.scripted_depth > 0) return headless_updown_set(dlg, id, position);
    SendDlgItemMessageA(window_of(dlg), id, UDM_SETPOS, 0, MAKELPARAM(position, 0));
}

int updown_get(dialog_handle dlg, int id) {
    if (ui.scripted_depth > 0) return headless_updown_get(dlg, id);
    LRESULT r = SendDlgItemMessageA(window_of(dlg), id, UDM_GETPOS, 0, 0);
    return static_cast<short>(LOWORD(r));
}

void control_redraw(dialog_handle dlg, int id, bool erase) {
    if (ui.scripted_depth > 0) return headless_control_redraw(dlg, id, erase);
    if (HWND c = item(dlg, id)) InvalidateRect(c, nullptr, erase ? TRUE : FALSE);
}

void control_publish_points(dialog_handle dlg, int id, const dialog_point* points, int count) {
    if (ui.scripted_depth > 0) return headless_control_publish_points(dlg, id, points, count);
    // A person finds the handles by looking at them.
}

void control_subclass(dialog_handle dlg, int id, control_proc_fn* proc) {
    if (ui.scripted_depth > 0) return headless_control_subclass(dlg, id, proc);
    HWND c = item(dlg, id);
    if (!c) return;
    subclassed_control* slot = find_subclassed(c);
    for (subclassed_control& s : ui.subclassed)
        if (!slot && !s.window) slot = &s;
    assert(slot);
    if (!slot) return;
    if (slot->window == c) {
        slot->proc = proc; // subclassed already: only the procedure changes
        return;
    }
    slot->window = c;
    slot->proc = proc;
    slot->own_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(c, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control_window_proc)));
}

dialog_handle control_dialog(control_handle ctl) {
    if (ui.scripted_depth > 0) return headless_control_dialog(ctl);
    return handle_of(GetParent(reinterpret_cast<HWND>(ctl)));
}

dialog_rect control_client_rect(control_handle ctl) {
    if (ui.scripted_depth > 0) return headless_control_client_rect(ctl);
    RECT r = {0, 0, 0, 0};
    GetClientRect(reinterpret_cast<HWND>(ctl), &r);
    return {r.left, r.top, r.right, r.bottom};
}

void mouse_capture(control_handle ctl) {
    if (ui.scripted_depth > 0) return headless_mouse_capture(ctl);
    SetCapture(reinterpret_cast<HWND>(ctl));
}

void mouse_release() {
    if (ui.scripted_depth > 0) return headless_mouse_release();
    ReleaseCapture();
}

void cursor_show(cursor_kind cursor) {
    if (ui.scripted_depth > 0) return headless_cursor_show(cursor);
    SetCursor(LoadCursorA(nullptr, cursor == cursor_kind::cross ? IDC_CROSS : IDC_ARROW));
}

void surface_stretch_bitmap(draw_surface* surface, const bitmap_resource& bitmap, dialog_rect to) {
    if (ui.scripted_depth > 0) return headless_surface_stretch_bitmap(surface, bitmap, to);
    HBITMAP picture = LoadBitmapA(ui.module, MAKEINTRESOURCEA(bitmap.id));
    if (!picture) return;
    HDC memory = CreateCompatibleDC(dc_of(surface));
    HGDIOBJ previous = SelectObject(memory, picture);
    StretchBlt(dc_of(surface), to.left, to.top, to.right - to.left, to.bottom - to.top, memory, 0,
               0, bitmap.width, bitmap.height, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(picture);
}

void surface_fill_rect(draw_surface* surface, dialog_rect rect, uint32_t rgb) {
    if (ui.scripted_depth > 0) return headless_surface_fill_rect(surface, rect, rgb);
    HBRUSH brush = CreateSolidBrush(colour_ref(rgb));
    RECT r = {rect.left, rect.top, rect.right, rect.bottom};
    FillRect(dc_of(surface), &r, brush);
    DeleteObject(brush);
}

void surface_polyline(draw_surface* surface, const dialog_point* points, int count, uint32_t rgb) {
    if (ui.scripted_depth > 0) return headless_surface_polyline(surface, points, count, rgb);
    if (count < 2) return;
    HPEN pen = CreatePen(PS_SOLID, 1, colour_ref(rgb));
    HGDIOBJ previous = SelectObject(dc_of(surface), pen);
    // Polyline takes POINTs; copy in pieces so any count fits a small buffer.
    POINT buffer[64];
    int done = 0;
    while (done < count - 1) {
        int n = count - done < 64 ? count - done : 64;
        for (int i = 0; i < n; ++i) buffer[i] = {points[done + i].x, points[done + i].y};
        Polyline(dc_of(surface), buffer, n);
        done += n - 1; // the next piece starts at this piece's last point
    }
    SelectObject(dc_of(surface), previous);
    DeleteObject(pen);
}

// ---- The scripted user, for the host program (exported by name, C convention) ----

extern "C" KVRAC_EXPORT void KVRAC_CDECL kvrac_headless_mode(int on) {
    ui.headless = on != 0;
}

extern "C" KVRAC_EXPORT void KVRAC_CDECL kvrac_set_user_actions(const user_action* actions,
                                                                int count, unsigned options) {
    ui.scripted = true;
    dialog_set_user_actions(actions, count, options);
}

extern "C" KVRAC_EXPORT const dialog_outcome* KVRAC_CDECL kvrac_user_outcome() {
    return &dialog_user_outcome();
}
