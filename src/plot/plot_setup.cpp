// Plot set-up messages. The host sends them once per plot, before the job starts;
// nothing here is hot. The plot area fixed here (sides, steps per inch, divisor, scale)
// is what the job preamble and the encoders read.
#include "plot/plot_setup.h"

#include <cstring>

#include "color/correction.h"
#include "geometry/vector.h"
#include "host/config_handler.h"
#include "host/device_tables.h"
#include "host/host_services.h"
#include "host/messages.h"
#include "host/settings.h"
#include "host/wire.h"
#include "output/output.h"
#include "plot/pens.h"
#include "ui/dialogs.h"

plot_setup_state plot_setup = {0, 0, 0.0, 0.0};

namespace {

void set_status(uint8_t* rec, int status) {
    le_put_i16(rec, 0, status);
}

// Status written by the plot-area messages when they have answered.
constexpr int status_area_answered = 19;

// The model to plot with. Model 0 is the only model with tables; a stored model_index
// naming another one can only come from a record written elsewhere, and plotting with
// the empty tables of a spare slot would describe a page of size zero, so every
// stored value plots with model 0.
int32_t model_of_record() {
    return 0;
}

// The one-line KTGL flag for plot areas that fit 16-bit coordinate words.
void update_small_sheet() {
    if (settings.mode_flags & mode_ktgl)
        vec.small_sheet = fits_signed_range(runtime.printable_length, runtime.printable_width);
}

// Number of non-empty rows in the current model's paper formats.
int format_count() {
    int n = 0;
    for (int row = 1; row <= format_rows; ++row)
        if (media_format_row(runtime.current_model, row).name[0]) ++n;
    return n;
}

void put_max(uint8_t* rec) {
    std::memcpy(rec + 73, "MAX", 4);
}

} // namespace

int plot_identify(uint8_t* rec) {
    plot_setup.area_request_pending = 1;
    host_link.abort_flag = abort_clear;
    output.job_drawn = 0;
    out_close(); // forgets any buffer still held, and its waiting bytes
    runtime.printable_length = 0.0;
    runtime.printable_width = 0.0;
    pens_reset();
    return identify_driver(rec);
}

void begin_plot(uint8_t* rec) {
    if (host_link.abort_flag) {
        set_status(rec, -1);
        return;
    }
    set_status(rec, 0);
    if (le_i16(rec, 4) < 3) {
        host_print_message(1);
        host_link.abort_flag = abort_settings;
        set_status(rec, -1);
        return;
    }
    if (load_settings() != 0) {
        host_print_message(76);
        host_link.abort_flag = abort_settings;
        set_status(rec, -1);
        return;
    }
    runtime.current_model = model_of_record();
    if (settings.copies > 99) settings.copies = 1;
    runtime.job_copies = settings.copies;
    le_put_i16(rec, 4, 3);
    le_put_i16(rec, 6, 0);
    host_link.host_window = le_u32(rec, 11);
    runtime.label_text[0] = '\0';
    load_correction_points();
}

void configure_plot(uint8_t* rec) {
    if (host_link.abort_flag) {
        set_status(rec, -1);
        return;
    }
    set_status(rec, 0);
    plot_setup.host_options = le_u32(rec, 5);
    rec[139] = 2;
    rec[140] = 0;
    open_plot_configuration_dialog();
    set_margins();

    double a, b;
    printable_sides(&a, &b);
    le_put_f64(rec, 9, a);
    le_put_f64(rec, 25, a);
    le_put_f64(rec, 17, b);
    le_put_f64(rec, 33, b);
    set_plot_scale(a, b);
    plot_setup.steps_x = runtime.steps_per_inch;
    plot_setup.steps_y = runtime.steps_per_inch;
    le_put_f64(rec, 41, plot_setup.steps_x);
    le_put_f64(rec, 49, plot_setup.steps_y);
    put_max(rec);
    update_small_sheet();
    set_status(rec, status_area_answered);

    if (save_settings() != 0) {
        host_print_message(75);
        host_link.abort_flag = abort_settings;
        set_status(rec, -1);
    }
}

void set_plot_area(uint8_t* rec) {
    if (host_link.abort_flag) {
        set_status(rec, -1);
        return;
    }
    runtime.printable_length = le_f64(rec, 9);
    runtime.printable_width = le_f64(rec, 17);
    update_small_sheet();
    rec[139] = 2;
    plot_setup.host_options = le_u32(rec, 5);
}

void negotiate_plot_area(uint8_t* rec) {
    if (host_link.abort_flag) {
        set_status(rec, -1);
        return;
    }
    set_status(rec, 0);
    plot_setup.host_options = le_u32(rec, 5);
    if (!plot_setup.area_request_pending) return;
    plot_setup.area_request_pending = 0;
    rec[139] = 2;
    rec[140] = 0;
    if (settings.media_format > format_count()) settings.media_format = 1;
    set_margins();

    double a, b;
    printable_sides(&a, &b);
    le_put_f64(rec, 25, a);
    le_put_f64(rec, 33, b);
    set_plot_scale(a, b);
    plot_setup.steps_x = le_f64(rec, 41);
    plot_setup.steps_y = le_f64(rec, 49);
    if (a <= le_f64(rec, 9) && b <= le_f64(rec, 17)) {
        le_put_f64(rec, 9, a);
        le_put_f64(rec, 17, b);
        put_max(rec);
    }
    runtime.printable_length = le_f64(rec, 9);
    runtime.printable_width = le_f64(rec, 17);
    update_small_sheet();
    set_status(rec, status_area_answered);
}

void select_model(const uint8_t* rec) {
    runtime.current_model = model_of_record();
    pens.line_type_count = rec[8];
}

void report_settings() {
    const int model = runtime.current_model;
    const bool ktgl = settings.mode_flags & mode_ktgl;
    host_print(" %s", message_text(25));
    host_print("%s", reinterpret_cast<const char*>(model_name_field(model)));
    if (model_capability(model, cap_media_types) == 1)
        host_print("\n %s%s ", message_text(58),
                   media_type_name(model, settings.media_type, ktgl ? 1 : 0));
    host_print("\n %s%s ", message_text(26), media_format_row(model, settings.media_format).name);
    host_print("\n %s", message_text(ktgl ? 33 : 34));
    if (model_capability(model, cap_finisher) == 1) {
        host_print("\n %s%s ", message_text(55),
                   finish_program_name(model, settings.finish_program));
        if (settings.finish_program != 0) {
            host_print("\n %s%s ", message_text(56),
                       finish_margins_name(model, settings.finish_margins));
            host_print("\n %s%s ", message_text(57), finish_bin_name(model, settings.finish_bin));
        }
    }
    if (model_capability(model, cap_red_pen) == 1)
        host_print("\n %s", message_text((settings.mode_flags & mode_red_pen) ? 72 : 73));
    if (model_capability(model, cap_manual_feed) == 1)
        host_print("\n %s", message_text((settings.mode_flags & mode_manual_feed) ? 70 : 71));
    host_print("\n %s", message_text((settings.plot_flags & plot_halftone) ? 35 : 36));
    host_print("\n %s", message_text(49));
    switch (settings.mode_flags & mode_res_mask) {
    case mode_res_600:
        host_print("%s", message_text(50));
        break;
    case mode_res_400:
        host_print("%s", message_text(51));
        break;
    case mode_res_300:
        host_print("%s", message_text(52));
        break;
    default:
        host_print("%s", message_text(53));
        break;
    }
    host_print("\n %s%2d ", message_text(27), runtime.job_copies);
    host_print("\n %s", message_text(28));
    host_print("%s", message_text(29));
    host_print("\n");
}
