// The configuration handler: identification, the host version check, the model list,
// configuring the device (settings, installation dialog, printable area), the constant
// capability replies and saving the settings.
//
// The host sends these messages a few times per session, one at a time; nothing here
// is hot. Each message reads and writes only the record offsets it defines, so an
// unknown code leaves the host's record untouched.
#include "host/config_handler.h"

#include <cstring>

#include "color/correction.h"
#include "host/device_tables.h"
#include "host/host_services.h"
#include "host/messages.h"
#include "host/settings.h"
#include "host/wire.h"
#include "ui/dialogs.h"

namespace {

struct config_state {
    char language[9]; // message-table language from message 50 ("FRE"), kept only
};

config_state config;

enum : int { status_ok = 0, status_failed = -1 };

void set_status(uint8_t* rec, int status) {
    le_put_i16(rec, 0, status);
}

// Message 11: the host must speak interface level 3 or later.
void check_host_version(uint8_t* rec) {
    set_status(rec, status_ok);
    if (le_i16(rec, 4) >= 3) {
        le_put_i16(rec, 4, 3);
        le_put_i16(rec, 6, 0);
        host_link.host_window = le_u32(rec, 11);
        return;
    }
    host_print_message(1);
    host_link.abort_flag = abort_settings;
    set_status(rec, status_failed);
}

// Message 20: one model; loads the stored record for message 21 to test.
void list_models(uint8_t* rec) {
    load_settings();
    runtime.current_model = 0;
    le_put_i16(rec, 6, 0);
    le_put_i16(rec, 4, 1);
    std::memcpy(rec + 8, model_name_field(runtime.current_model), 32);
    set_status(rec, status_ok);
    le_put_i16(rec, 2, 40);
}

// Message 21: settings (stored or defaults), installation dialog, printable area.
void configure_device(uint8_t* rec) {
    if (le_i16(rec, 6) == 1 || settings.model_index != runtime.current_model ||
        load_settings() != 0)
        load_defaults();

    // Line parameters.
    le_put_i16(rec, 40, 395);
    le_put_i16(rec, 48, (settings.plot_flags & plot_serial) ? 1 : 2);
    le_put_i16(rec, 56, 1);
    le_put_i16(rec, 52, 0);
    le_put_i16(rec, 54, 8);
    le_put_i16(rec, 50, 9600);
    le_put_u8(rec, 58, 0);

    open_installation_dialog();
    le_put_i16(rec, 2, 59);
    set_margins();

    double a, b;
    printable_sides(&a, &b);
    le_put_f64(rec, 8, a);
    le_put_f64(rec, 16, b);
    set_plot_scale(a, b);
    le_put_f64(rec, 24, runtime.steps_per_inch);
    le_put_f64(rec, 32, runtime.steps_per_inch);

    le_put_i16(rec, 42, 255);
    le_put_i16(rec, 44, 1);
    le_put_i16(rec, 46, 7);
    load_correction_points();
    set_status(rec, status_ok);
}

// Messages 22, 23, 25: constant 256-entry capability tables.
void capability_table(uint8_t* rec, int code) {
    set_status(rec, status_ok);
    le_put_i16(rec, 2, 262);
    le_put_i16(rec, 4, code == 22 ? 7 : 255);
    for (int i = 0; i < 256; ++i) {
        uint8_t v = code == 22 ? 0 : code == 23 ? 1 : static_cast<uint8_t>(i == 0 ? 1 : i);
        rec[6 + i] = v;
    }
}

// Message 40: device options.
void device_options(uint8_t* rec) {
    set_status(rec, status_ok);
    rec[4] = 1;
    rec[139] = 2;
    rec[140] = 0;
    le_put_u32(rec, 5, le_u32(rec, 5) | 0x00080000u);
}

// Message 44: 256 pens of width 0.00278 inch.
void pen_width_table(uint8_t* rec) {
    set_status(rec, status_ok);
    le_put_i16(rec, 2,
               static_cast<uint16_t>(le_u32(rec, 8) + static_cast<uint16_t>(le_i16(rec, 12))));
    le_put_u32(rec, 4, 255);
    for (int i = 0; i < 256; ++i) le_put_f64(rec, 16 + 8 * i, 0.00278);
}

// Message 47: save the settings for the current model.
void save_device_settings(uint8_t* rec) {
    set_status(rec, status_ok);
    settings.model_index = static_cast<int16_t>(runtime.current_model);
    if (save_settings() != 0) {
        host_print_message(75);
        host_link.abort_flag = abort_settings;
        set_status(rec, status_failed);
    }
}

// Message 50: remembers the language and fills the active message table.
void load_messages(const uint8_t* rec) {
    std::memcpy(config.language, rec + 8, 8);
    config.language[8] = '\0';
    load_message_texts();
}

bool guarded(int code) {
    return code == 11 || code == 21 || code == 40 || code == 47;
}

} // namespace

int identify_driver(uint8_t* rec) {
    host_link.abort_flag = abort_clear;
    le_put_i16(rec, 10, 0);
    le_put_i16(rec, 12, 0);
    std::memcpy(rec + 86, descriptor() + desc_ident, 81);
    if (le_i16(rec, 4) != 1) {
        host_print_message(0);
        le_put_i16(rec, 10, -3);
        host_link.abort_flag = abort_settings;
        return -1;
    }
    if (rec[7] < 2) {
        host_print_message(1);
        le_put_i16(rec, 10, -5);
        host_link.abort_flag = abort_settings;
        return -1;
    }
    return 0;
}

int coordinate_divisor(double a, double b) {
    // Each threshold is 65,532 undivided steps times the divisor. RTL/GL2 stops at 16,
    // where every format fits; KTGL+MMR goes on doubling past 4 so that its longest
    // custom roll (15,000 mm, about 590 inches) still fits in 16 bits.
    const bool ktgl = settings.mode_flags & mode_ktgl;
    const double limit = ktgl ? 81.915 : 64.5;
    int d = 1;
    while (d < 16 && (a > limit * d || b > limit * d)) d *= 2;
    return d;
}

int fits_signed_range(double a, double b) {
    return a < 40.9575 && b < 40.9575 ? 1 : 0;
}

void printable_sides(double* a, double* b) {
    const int model = runtime.current_model;
    patch_custom_length(model, settings.media_format, settings.custom_length_mm);
    format_row f = media_format_row(model, settings.media_format);
    const double* m = runtime.margins;
    if (f.width < f.length) {
        *a = f.length - (m[0] + m[1]);
        settings.mode_flags |= mode_rotated;
        *b = f.width - (m[2] + m[3]);
        runtime.paper_unrotated = 0;
    } else {
        *a = f.width - (m[2] + m[3]);
        settings.mode_flags &= static_cast<uint16_t>(~mode_rotated);
        *b = f.length - (m[0] + m[1]);
        runtime.paper_unrotated = 1;
    }
    runtime.printable_length = *a;
    runtime.printable_width = *b;
}

void set_plot_scale(double a, double b) {
    int d = coordinate_divisor(a, b);
    runtime.coordinate_divisor = d;
    if (settings.mode_flags & mode_ktgl) {
        runtime.steps_per_inch = 800.0 / d;
        runtime.scale_factor = d * 0.5;
    } else {
        runtime.steps_per_inch = 1016.0 / d;
        runtime.scale_factor = d;
    }
}

int KVRAC_CDECL config_handler(uint8_t* rec) {
    if (!rec) return -1;
    host_link.message = rec;
    const int code = le_i16(rec, 0);
    if (guarded(code) && host_link.abort_flag != abort_clear) {
        set_status(rec, status_failed);
        return 0;
    }
    int result = 0;
    switch (code) {
    case 11:
        check_host_version(rec);
        break;
    case 20:
        list_models(rec);
        break;
    case 21:
        configure_device(rec);
        break;
    case 22:
    case 23:
    case 25:
        capability_table(rec, code);
        break;
    case 40:
        device_options(rec);
        break;
    case 44:
        pen_width_table(rec);
        break;
    case 47:
        save_device_settings(rec);
        break;
    case 49:
        result = identify_driver(rec);
        break;
    case 50:
        load_messages(rec);
        break;
    default:
        break; // 2 and every unknown code: nothing
    }
    host_link.message = nullptr;
    return result;
}
