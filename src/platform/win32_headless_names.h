// The headless dialog layer inside the Windows driver.
//
// kvrac.exe runs the configuration dialogs without a person unless asked for them, as
// kvrac does on Linux; for that the Windows driver carries the headless layer beside
// the real one. The build compiles headless_dialogs.cpp with KVRAC_HEADLESS_RENAME
// defined and this header included first, so its control-layer functions take the
// names below; win32_dialogs.cpp implements the control layer under the plain names
// and hands each call to the headless function while a scripted user is armed.
#pragma once

#ifdef KVRAC_HEADLESS_RENAME

#define dialog_run headless_dialog_run
#define dialog_end headless_dialog_end
#define dialog_send_user headless_dialog_send_user
#define message_box headless_message_box
#define control_enable headless_control_enable
#define radio_check headless_radio_check
#define control_set_text headless_control_set_text
#define control_get_text headless_control_get_text
#define control_set_number headless_control_set_number
#define control_get_number headless_control_get_number
#define edit_limit headless_edit_limit
#define edit_select_all headless_edit_select_all
#define control_focus headless_control_focus
#define list_clear headless_list_clear
#define list_insert headless_list_insert
#define list_select headless_list_select
#define list_selection headless_list_selection
#define updown_range headless_updown_range
#define updown_set headless_updown_set
#define updown_get headless_updown_get
#define control_redraw headless_control_redraw
#define control_publish_points headless_control_publish_points
#define control_subclass headless_control_subclass
#define control_dialog headless_control_dialog
#define control_client_rect headless_control_client_rect
#define mouse_capture headless_mouse_capture
#define mouse_release headless_mouse_release
#define cursor_show headless_cursor_show
#define surface_stretch_bitmap headless_surface_stretch_bitmap
#define surface_fill_rect headless_surface_fill_rect
#define surface_polyline headless_surface_polyline

#else

#include "platform/dialog_controls.h"

int headless_dialog_run(void* module, const dialog_template& tmpl, dialog_handle owner,
                        dialog_proc_fn* proc, intptr_t param);
void headless_dialog_end(dialog_handle dlg, int code);
void headless_dialog_send_user(dialog_handle dlg);
int headless_message_box(dialog_handle owner, const char* text, const char* title, unsigned style);
void headless_control_enable(dialog_handle dlg, int id, bool enabled);
void headless_radio_check(dialog_handle dlg, int first, int last, int id);
void headless_control_set_text(dialog_handle dlg, int id, const char* text);
int headless_control_get_text(dialog_handle dlg, int id, char* buffer, int size);
void headless_control_set_number(dialog_handle dlg, int id, unsigned value);
int headless_control_get_number(dialog_handle dlg, int id, unsigned* value);
void headless_edit_limit(dialog_handle dlg, int id, int chars);
void headless_edit_select_all(dialog_handle dlg, int id);
void headless_control_focus(dialog_handle dlg, int id);
void headless_list_clear(dialog_handle dlg, int id);
void headless_list_insert(dialog_handle dlg, int id, int index, const char* text);
void headless_list_select(dialog_handle dlg, int id, int index);
int headless_list_selection(dialog_handle dlg, int id);
void headless_updown_range(dialog_handle dlg, int id, int low, int high);
void headless_updown_set(dialog_handle dlg, int id, int position);
int headless_updown_get(dialog_handle dlg, int id);
void headless_control_redraw(dialog_handle dlg, int id, bool erase);
void headless_control_publish_points(dialog_handle dlg, int id, const dialog_point* points,
                                     int count);
void headless_control_subclass(dialog_handle dlg, int id, control_proc_fn* proc);
dialog_handle headless_control_dialog(control_handle ctl);
dialog_rect headless_control_client_rect(control_handle ctl);
void headless_mouse_capture(control_handle ctl);
void headless_mouse_release();
void headless_cursor_show(cursor_kind cursor);
void headless_surface_stretch_bitmap(draw_surface* surface, const bitmap_resource& bitmap,
                                     dialog_rect to);
void headless_surface_fill_rect(draw_surface* surface, dialog_rect rect, uint32_t rgb);
void headless_surface_polyline(draw_surface* surface, const dialog_point* points, int count,
                               uint32_t rgb);

#endif
