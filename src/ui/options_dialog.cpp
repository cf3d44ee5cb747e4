// The finisher options dialog (folding programme, finisher margins, output bin, manual
// feed) and the about box. The options dialog works on its own copy of the main
// dialog's working copy, so its choices reach the settings record only when both
// dialogs are closed with OK.
#include "ui/options_dialog.h"

#include <cassert>
#include <cstring>

#include "host/device_tables.h"
#include "ui/dialog_templates.h"

namespace {

struct options_state {
    settings_record copy;     // the options copy, edited by the controls
    settings_record* working; // the main dialog's working copy it came from
};

options_state options = {};

constexpr int about_text_bytes = 81; // of the identification string shown

int capability(int word) {
    return model_capability(runtime.current_model, word);
}

using row_name_fn = const char*(int model, int row);

// Fills a list with a finisher table's display names, in table order up to the first
// empty name, and selects `selected`.
void fill_list(dialog_handle dlg, int id, row_name_fn* name_of, int selected) {
    list_clear(dlg, id);
    for (int row = 0;; ++row) {
        const char* name = name_of(runtime.current_model, row);
        if (!name[0]) break;
        list_insert(dlg, id, row, name);
    }
    list_select(dlg, id, selected);
}

// The manual folder ("bypass") programme has no finisher margins and no bin: their
// labels and lists are disabled while it is selected.
void apply_bypass_rule(dialog_handle dlg) {
    const int row = list_selection(dlg, idc_program_list);
    const char* pjl = finish_program_pjl(runtime.current_model, row);
    const bool on = std::strcmp(pjl, "@PJL DEFAULT FINISHPROGID=BYPASS\r\n") != 0;
    control_enable(dlg, idc_fmargin_label, on);
    control_enable(dlg, idc_fmargin_list, on);
    control_enable(dlg, idc_bin_label, on);
    control_enable(dlg, idc_bin_list, on);
}

void open_options(dialog_handle dlg, settings_record* working) {
    assert(working);
    options.working = working;
    options.copy = *working;
    if (capability(cap_finisher) == 1) {
        fill_list(dlg, idc_program_list, finish_program_name, options.copy.finish_program);
        fill_list(dlg, idc_fmargin_list, finish_margins_name, options.copy.finish_margins);
        fill_list(dlg, idc_bin_list, finish_bin_name, options.copy.finish_bin);
        apply_bypass_rule(dlg);
    }
    if (capability(cap_manual_feed) == 1) {
        radio_check(dlg, idc_feed_yes, idc_feed_no,
                    options.copy.mode_flags & mode_manual_feed ? idc_feed_yes : idc_feed_no);
    } else {
        control_enable(dlg, idc_feed_group, false);
        control_enable(dlg, idc_feed_yes, false);
        control_enable(dlg, idc_feed_no, false);
    }
}

int16_t selected_row(dialog_handle dlg, int id, int16_t current) {
    const int row = list_selection(dlg, id);
    return row >= 0 ? static_cast<int16_t>(row) : current;
}

int options_command(dialog_handle dlg, int id, int code) {
    settings_record& c = options.copy;
    switch (id) {
    case idc_ok:
        *options.working = c;
        dialog_end(dlg, 0);
        return 1;
    case idc_cancel:
        dialog_end(dlg, 5);
        return 1;
    case idc_fmargin_list:
        if (code == cbn_selchange) c.finish_margins = selected_row(dlg, id, c.finish_margins);
        return 1;
    case idc_bin_list:
        if (code == cbn_selchange) c.finish_bin = selected_row(dlg, id, c.finish_bin);
        return 1;
    case idc_program_list:
        if (code == cbn_selchange) c.finish_program = selected_row(dlg, id, c.finish_program);
        apply_bypass_rule(dlg);
        return 1;
    case idc_feed_yes:
    case idc_feed_no:
        if (capability(cap_manual_feed) == 1) {
            radio_check(dlg, idc_feed_yes, idc_feed_no, id);
            if (id == idc_feed_yes)
                c.mode_flags |= mode_manual_feed;
            else
                c.mode_flags &= static_cast<uint16_t>(~mode_manual_feed);
        }
        apply_bypass_rule(dlg);
        return 1;
    default:
        return 0;
    }
}

} // namespace

int options_dialog_proc(dialog_handle dlg, const dialog_event& ev) {
    switch (ev.message) {
    case dlg_init:
        open_options(dlg, reinterpret_cast<settings_record*>(ev.param));
        return 1;
    case dlg_command:
        return options_command(dlg, ev.control, ev.code);
    case dlg_draw_item:
    case dlg_vscroll:
        return 1;
    default:
        return 0;
    }
}

int about_box_proc(dialog_handle dlg, const dialog_event& ev) {
    if (ev.message == dlg_init) {
        char text[about_text_bytes + 1];
        std::memcpy(text, descriptor() + desc_ident, about_text_bytes);
        text[about_text_bytes] = '\0';
        control_set_text(dlg, idc_about_text, text);
        return 1;
    }
    if (ev.message == dlg_command && ev.control == idc_ok) {
        dialog_end(dlg, 0);
        return 1;
    }
    return 0;
}

int run_options_dialog(void* module, dialog_handle owner, const dialog_template& tmpl,
                       settings_record* working) {
    assert(working);
    return dialog_run(module, tmpl, owner, options_dialog_proc,
                      reinterpret_cast<intptr_t>(working));
}

int run_about_box(void* module, dialog_handle owner) {
    return dialog_run(module, about_template, owner, about_box_proc, 0);
}
