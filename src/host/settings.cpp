// The settings record, its stored form, its defaults and the run-time values.
#include "host/settings.h"

#include <type_traits>

#include "color/correction.h"
#include "host/device_tables.h"

settings_record settings;
settings_runtime runtime = {0, 1, "", {0.0, 0.0, 0.0, 0.0}, 0.0, 0.0, 0, 1, 1016.0, 1.0};

uint16_t default_resolution(int model) {
    return model_capability(model, cap_600dpi) == 1 ? mode_res_600 : mode_res_400;
}

void load_defaults() {
    settings.copies = 1;
    settings.media_format = 1;
    settings.custom_length_mm = default_custom_length(runtime.current_model, 1);
    settings.media_type = 0;
    settings.finish_program = 0;
    settings.finish_margins = 0;
    settings.finish_bin = 0;
    settings.red_pen = 1;
    settings.reserved_word = 2;
    settings.margin_mm = 0;
    settings.plot_flags = plot_halftone;
    settings.mode_flags = default_resolution(runtime.current_model);
    // model_index is set when saving; the spare byte is kept as found.
    reset_correction_points();
}

int settings_sanitize(settings_record& rec) {
    int fixed = 0;
    auto keep_in = [&fixed](auto& field, int low, int high, int fallback) {
        if (field < low || field > high) {
            field = static_cast<std::remove_reference_t<decltype(field)>>(fallback);
            ++fixed;
        }
    };
    keep_in(rec.copies, 1, 99, 1);
    keep_in(rec.media_format, 1, format_rows, 1);
    keep_in(rec.custom_length_mm, 1, max_custom_length_mm,
            default_custom_length(runtime.current_model, rec.media_format));
    keep_in(rec.media_type, 0, media_type_rows - 1, 0);
    keep_in(rec.finish_program, 0, program_rows - 1, 0);
    keep_in(rec.finish_margins, 0, margin_rows - 1, 0);
    keep_in(rec.finish_bin, 0, bin_rows - 1, 0);
    keep_in(rec.red_pen, 1, 255, 1);
    keep_in(rec.margin_mm, 0, 10, 0);
    uint16_t res = rec.mode_flags & mode_res_mask;
    if (res != mode_res_600 && res != mode_res_400 && res != mode_res_300 && res != mode_res_200) {
        rec.mode_flags = static_cast<uint16_t>((rec.mode_flags & ~mode_res_mask) |
                                               default_resolution(runtime.current_model));
        ++fixed;
    }
    return fixed;
}

void set_margins() {
    double m = settings.margin_mm * mm_to_inch;
    for (double& margin : runtime.margins) margin = m;
}
