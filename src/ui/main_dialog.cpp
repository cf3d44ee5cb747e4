// The main configuration dialog: media type, paper format, margin, custom length, fill,
// resolution, red pen, copies, output language and, at plot time, the label.
//
// One procedure serves both variants. It works on a copy of the settings record and
// writes it back only on OK; the model's capability words decide which groups are
// offered. Invalid input never closes the dialog: the field goes back to the last
// accepted value and a warning names the allowed range.
#include "ui/main_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "color/color_dialog.h"
#include "color/correction.h"
#include "host/device_tables.h"
#include "host/settings.h"
#include "ui/dialog_templates.h"
#include "ui/options_dialog.h"

namespace {

struct main_dialog_state {
    settings_record work;      // working copy of the settings record
    int16_t opened_media_type; // media type when the dialog opened, 0..3
    int variant;               // 0 installation, 1 plot-time (main_variant)
    void* module;              // module handle the nested dialogs are opened from
    int filling;               // >0 while the dialog writes a number field itself
    char text[160];            // the warning being shown, formatted
};

main_dialog_state main_dialog = {};

constexpr int label_max = 64; // characters of label_text

int capability(int word) {
    return model_capability(runtime.current_model, word);
}

bool plot_time() {
    return main_dialog.variant == static_cast<int>(main_variant::plot_time);
}

void warn(dialog_handle dlg, const char* title, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A warning owned by the dialog: exclamation icon, OK button.
void warn(dialog_handle dlg, const char* title, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(main_dialog.text, sizeof main_dialog.text, format, args);
    va_end(args);
    message_box(dlg, main_dialog.text, title, mb_ok | mb_icon_exclamation);
}

// Writes a number field. Setting an edit's text makes it report a change, as typing
// does; the dialog does not read back what it wrote itself, so a value out of range
// can never set off a warning that rewrites the field, which reports a change, and so
// on without end.
void show_number(dialog_handle dlg, int id, int value) {
    ++main_dialog.filling;
    control_set_number(dlg, id, static_cast<unsigned>(value));
    --main_dialog.filling;
}

void set_resolution(uint16_t bits) {
    settings_record& w = main_dialog.work;
    w.mode_flags = static_cast<uint16_t>((w.mode_flags & ~mode_res_mask) | bits);
}

// The media-type list in the current language's half of the table.
void fill_media_list(dialog_handle dlg, int selected) {
    const int language = main_dialog.work.mode_flags & mode_ktgl ? 1 : 0;
    list_clear(dlg, idc_media_list);
    for (int row = 0; row < media_type_rows; ++row) {
        const char* name = media_type_name(runtime.current_model, row, language);
        if (!name[0]) break;
        list_insert(dlg, idc_media_list, row, name);
    }
    list_select(dlg, idc_media_list, selected);
}

// Custom lengths reach 15000 mm (5 digits) on the wide models, 4 digits elsewhere.
void limit_length_field(dialog_handle dlg) {
    const char* name = reinterpret_cast<const char*>(model_name_field(runtime.current_model));
    const bool wide = name && (std::strncmp(name, "Vantrell9270", 12) == 0 ||
                               std::strncmp(name, "9270/9250 Wide", 14) == 0);
    edit_limit(dlg, idc_length, wide ? 5 : 4);
}

void show_resolution(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    const uint16_t res = w.mode_flags & mode_res_mask;
    int checked;
    if (w.mode_flags & mode_ktgl) { // only 400 and 200 dpi exist in that language
        if (res == mode_res_200) {
            checked = idc_res_200;
        } else {
            set_resolution(mode_res_400);
            checked = idc_res_400;
        }
        control_enable(dlg, idc_res_600, false);
        control_enable(dlg, idc_res_300, false);
    } else if (capability(cap_600dpi) == 1) {
        checked = res == mode_res_600   ? idc_res_600
                  : res == mode_res_400 ? idc_res_400
                  : res == mode_res_300 ? idc_res_300
                                        : idc_res_200;
    } else {
        if (res == mode_res_400 || res == mode_res_300 || res == mode_res_200) {
            checked = res == mode_res_400   ? idc_res_400
                      : res == mode_res_300 ? idc_res_300
                                            : idc_res_200;
        } else {
            set_resolution(mode_res_400);
            checked = idc_res_400;
        }
        control_enable(dlg, idc_res_600, false);
    }
    radio_check(dlg, idc_res_600, idc_res_200, checked);
}

void open(dialog_handle dlg, int variant) {
    main_dialog_state& st = main_dialog;
    settings_record& w = st.work;
    const int model = runtime.current_model;
    st.variant = variant;
    w = settings;
    st.opened_media_type = w.media_type;

    list_clear(dlg, idc_format_list);
    for (int row = 1; row <= format_rows; ++row) {
        const char* name = media_format_row(model, row).name;
        if (!name[0]) break;
        list_insert(dlg, idc_format_list, row - 1, name);
    }
    list_select(dlg, idc_format_list, w.media_format - 1);

    if (capability(cap_media_types) == 1) {
        fill_media_list(dlg, w.media_type);
    } else {
        control_enable(dlg, idc_media_label, false);
        control_enable(dlg, idc_media_list, false);
    }

    radio_check(dlg, idc_fill_solid, idc_fill_halftone,
                w.plot_flags & plot_halftone ? idc_fill_halftone : idc_fill_solid);
    show_resolution(dlg);

    if (capability(cap_red_pen) == 1) {
        radio_check(dlg, idc_red_yes, idc_red_no,
                    w.mode_flags & mode_red_pen ? idc_red_yes : idc_red_no);
    } else {
        for (int id : {idc_colour_group, idc_red_group, idc_red_yes, idc_red_no})
            control_enable(dlg, id, false);
    }

    if (capability(cap_ktgl) != 0) {
        radio_check(dlg, idc_language_rtl, idc_language_ktgl,
                    w.mode_flags & mode_ktgl ? idc_language_ktgl : idc_language_rtl);
    } else { // RTL/GL2 is the only language of this model
        w.mode_flags &= static_cast<uint16_t>(~mode_ktgl);
        radio_check(dlg, idc_language_rtl, idc_language_ktgl, idc_language_rtl);
        for (int id : {idc_language_group, idc_language_rtl, idc_language_ktgl})
            control_enable(dlg, id, false);
    }

    edit_limit(dlg, idc_copies, 2);
    updown_range(dlg, idc_copies_arrows, 1, 99);
    updown_set(dlg, idc_copies_arrows, w.copies);
    show_number(dlg, idc_copies, w.copies);

    edit_limit(dlg, idc_margin, 2);
    updown_range(dlg, idc_margin_arrows, 0, 10);
    updown_set(dlg, idc_margin_arrows, w.margin_mm);
    show_number(dlg, idc_margin, w.margin_mm);

    if (capability(cap_red_pen) == 1 && (w.mode_flags & mode_red_pen)) {
        edit_limit(dlg, idc_red_pen, 3);
        show_number(dlg, idc_red_pen, w.red_pen);
    } else {
        control_enable(dlg, idc_red_pen_label, false);
        control_enable(dlg, idc_red_pen, false);
    }

    if (media_format_row(model, w.media_format).custom) {
        limit_length_field(dlg);
        show_number(dlg, idc_length, w.custom_length_mm);
    } else {
        control_enable(dlg, idc_length_label, false);
        control_enable(dlg, idc_length, false);
    }

    if (plot_time()) {
        if (capability(cap_label) == 1) {
            edit_limit(dlg, idc_label, label_max);
            control_set_text(dlg, idc_label, runtime.label_text);
        } else {
            for (int id : {idc_label_caption, idc_label_hint, idc_label})
                control_enable(dlg, id, false);
        }
    }
}

// A new paper format; a custom-length format starts from its default length. Only a
// change of selection does this: the list gaining or losing the focus, or opening and
// closing, leaves a length the user typed alone.
void choose_format(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    const int index = list_selection(dlg, idc_format_list);
    if (index < 0) return;
    w.media_format = index + 1;
    const format_row row = media_format_row(runtime.current_model, w.media_format);
    if (row.custom) {
        w.custom_length_mm = default_custom_length(runtime.current_model, w.media_format);
        limit_length_field(dlg);
        show_number(dlg, idc_length, w.custom_length_mm);
        control_enable(dlg, idc_length_label, true);
        control_enable(dlg, idc_length, true);
    } else {
        control_enable(dlg, idc_length_label, false);
        control_enable(dlg, idc_length, false);
    }
}

void read_copies(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    unsigned v;
    if (control_get_number(dlg, idc_copies, &v)) {
        if (v >= 1 && v <= 99) {
            w.copies = static_cast<int32_t>(v);
        } else {
            show_number(dlg, idc_copies, w.copies);
            warn(dlg, "Nombre de copies",
                 "D\xE9"
                 "finir le nombre de copies dans la plage de 1 \xE0 99.");
        }
    }
    updown_set(dlg, idc_copies_arrows, w.copies);
}

void read_margin(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    unsigned v;
    if (control_get_number(dlg, idc_margin, &v)) {
        if (v <= 10) {
            w.margin_mm = static_cast<int16_t>(v);
        } else {
            show_number(dlg, idc_margin, w.margin_mm);
            warn(dlg,
                 "D\xE9"
                 "finir la marge",
                 "D\xE9"
                 "finir la marge dans la plage de 0 \xE0 10.");
        }
    }
    updown_set(dlg, idc_margin_arrows, w.margin_mm);
}

// The custom length; an empty or unreadable field reads 0 and is ignored.
void read_length(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    unsigned v;
    control_get_number(dlg, idc_length, &v);
    const unsigned most = static_cast<unsigned>(
        media_format_row(runtime.current_model, w.media_format).max_length_mm);
    if (v >= 1 && v <= most) {
        w.custom_length_mm = static_cast<int32_t>(v);
    } else if (v > most) {
        show_number(dlg, idc_length, w.custom_length_mm);
        warn(dlg, "Longueur du format personnalis\xE9",
             "D\xE9"
             "finir la longueur \xE0 %d ou moins.",
             static_cast<int>(most));
    }
}

void read_red_pen(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    unsigned v;
    control_get_number(dlg, idc_red_pen, &v);
    if (v >= 1 && v <= 255) {
        w.red_pen = static_cast<int32_t>(v);
    } else if (v > 255) {
        show_number(dlg, idc_red_pen, w.red_pen);
        warn(dlg,
             "Num\xE9ro de plume rouge sp\xE9"
             "cifi\xE9"
             "e",
             "D\xE9"
             "finir le nombre de plumes \xE0 255 ou moins.");
    }
}

void choose_red_pen(dialog_handle dlg, int id) {
    settings_record& w = main_dialog.work;
    if (capability(cap_red_pen) != 1) return;
    radio_check(dlg, idc_red_yes, idc_red_no, id);
    if (id == idc_red_no) {
        w.mode_flags &= static_cast<uint16_t>(~mode_red_pen);
        control_enable(dlg, idc_red_pen_label, false);
        control_enable(dlg, idc_red_pen, false);
    } else {
        w.mode_flags |= mode_red_pen;
        control_enable(dlg, idc_red_pen_label, true);
        control_enable(dlg, idc_red_pen, true);
        edit_limit(dlg, idc_red_pen, 3);
        show_number(dlg, idc_red_pen, w.red_pen);
    }
}

// After a language switch the media-type list shows the language's names with the type
// the dialog opened with selected; the working copy takes that type too, so that what
// the list shows is what OK stores.
void refill_media_list(dialog_handle dlg) {
    if (capability(cap_media_types) != 1) return;
    fill_media_list(dlg, main_dialog.opened_media_type);
    main_dialog.work.media_type = main_dialog.opened_media_type;
}

void choose_language(dialog_handle dlg, int id) {
    settings_record& w = main_dialog.work;
    radio_check(dlg, idc_language_rtl, idc_language_ktgl, id);
    if (id == idc_language_rtl) {
        w.mode_flags &= static_cast<uint16_t>(~mode_ktgl);
        if (capability(cap_600dpi) == 1) control_enable(dlg, idc_res_600, true);
        control_enable(dlg, idc_res_300, true);
    } else {
        w.mode_flags |= mode_ktgl;
        const uint16_t res = w.mode_flags & mode_res_mask;
        if (res == mode_res_600 || res == mode_res_300) {
            set_resolution(mode_res_400);
            radio_check(dlg, idc_res_600, idc_res_200, idc_res_400);
        }
        control_enable(dlg, idc_res_600, false);
        control_enable(dlg, idc_res_300, false);
    }
    refill_media_list(dlg);
}

// The label is printable ASCII. A double quote is refused too: the label travels inside
// a quoted HP-GL/2 string, which a quote would end early.
bool label_acceptable(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p >= 0x80 || *p < 0x20 || *p == 0x7F || *p == '"') return false;
    return true;
}

// The label is taken when the field loses the focus.
void read_label(dialog_handle dlg) {
    char text[label_max + 1];
    control_get_text(dlg, idc_label, text, sizeof text);
    if (!text[0]) {
        runtime.label_text[0] = '\0';
    } else if (label_acceptable(text)) {
        std::snprintf(runtime.label_text, sizeof runtime.label_text, "%s", text);
    } else {
        control_set_text(dlg, idc_label, "");
        control_focus(dlg, idc_label);
        warn(dlg, "\xC9tiquette",
             "Entrer un message seulement en caract\xE8res alphanum\xE9riques ASCII.");
    }
}

void open_colour_dialog(dialog_handle dlg) {
    settings_record& w = main_dialog.work;
    run_colour_dialog(main_dialog.module, dlg, w.correction_points);
    for (int k = 0; k < 5; ++k) w.correction_points[k] = static_cast<uint8_t>(correction.points[k]);
}

int command(dialog_handle dlg, int id, int code) {
    settings_record& w = main_dialog.work;
    switch (id) {
    case idc_ok:
        settings = w;
        runtime.job_copies = w.copies;
        dialog_end(dlg, 0);
        return 1;
    case idc_cancel:
        dialog_end(dlg, 5);
        return 1;
    case idc_format_list:
        if (code == cbn_selchange) choose_format(dlg);
        return 1;
    case idc_media_list:
        if (code == cbn_selchange && list_selection(dlg, id) >= 0)
            w.media_type = static_cast<int16_t>(list_selection(dlg, id));
        return 1;
    case idc_copies:
        if (!main_dialog.filling) read_copies(dlg);
        return 1;
    case idc_margin:
        if (!main_dialog.filling) read_margin(dlg);
        return 1;
    case idc_length:
        if (!main_dialog.filling) read_length(dlg);
        return 1;
    case idc_fill_solid:
    case idc_fill_halftone:
        radio_check(dlg, idc_fill_solid, idc_fill_halftone, id);
        if (id == idc_fill_halftone)
            w.plot_flags |= plot_halftone;
        else
            w.plot_flags &= static_cast<uint16_t>(~plot_halftone);
        return 1;
    case idc_res_600:
    case idc_res_400:
    case idc_res_300:
    case idc_res_200:
        radio_check(dlg, idc_res_600, idc_res_200, id);
        set_resolution(static_cast<uint16_t>(mode_res_600 << (id - idc_res_600)));
        return 1;
    case idc_red_yes:
    case idc_red_no:
        choose_red_pen(dlg, id);
        return 1;
    case idc_red_pen:
        if (!main_dialog.filling) read_red_pen(dlg);
        return 1;
    case idc_language_rtl:
    case idc_language_ktgl:
        choose_language(dlg, id);
        return 1;
    case idc_label:
        if (!plot_time()) return 0;
        if (code == en_killfocus) read_label(dlg);
        return 1;
    case idc_version:
        run_about_box(main_dialog.module, dlg);
        return 1;
    case idc_options:
        run_options_dialog(main_dialog.module, dlg,
                           plot_time() ? options_plot_template : options_install_template, &w);
        return 1;
    case idc_image_correction:
        open_colour_dialog(dlg);
        return 1;
    default:
        return 0;
    }
}

// The up-down arrows beside the copies and margin fields.
void arrows(dialog_handle dlg, int id) {
    settings_record& w = main_dialog.work;
    if (id == idc_copies_arrows) {
        w.copies = updown_get(dlg, id);
        show_number(dlg, idc_copies, w.copies);
        edit_select_all(dlg, idc_copies);
    } else if (id == idc_margin_arrows) {
        w.margin_mm = static_cast<int16_t>(updown_get(dlg, id));
        show_number(dlg, idc_margin, w.margin_mm);
        edit_select_all(dlg, idc_margin);
    }
}

} // namespace

int main_dialog_proc(dialog_handle dlg, const dialog_event& ev) {
    switch (ev.message) {
    case dlg_init:
        open(dlg, static_cast<int>(ev.param));
        return 1;
    case dlg_command:
        return command(dlg, ev.control, ev.code);
    case dlg_vscroll:
        arrows(dlg, ev.control);
        return 1;
    case dlg_draw_item:
    case dlg_notify:
        return 1;
    default:
        return 0;
    }
}

int run_main_dialog(void* module, main_variant variant) {
    main_dialog.module = module;
    const dialog_template& tmpl =
        variant == main_variant::plot_time ? plot_time_template : installation_template;
    return dialog_run(module, tmpl, nullptr, main_dialog_proc, static_cast<intptr_t>(variant));
}
