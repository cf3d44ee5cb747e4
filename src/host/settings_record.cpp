// The settings record's stored form: 40 bytes, little-endian, no padding. Kept apart
// from the rest of the settings module so a host program can decode a store with it.
#include "host/settings.h"
#include "host/wire.h"

// Stored layout: byte offsets of the record's fields.
enum : int {
    at_copies = 0,
    at_media_format = 4,
    at_custom_length = 8,
    at_media_type = 12,
    at_finish_program = 14,
    at_finish_margins = 16,
    at_finish_bin = 18,
    at_red_pen = 20,
    at_reserved = 24,
    at_margin = 26,
    at_plot_flags = 28,
    at_mode_flags = 30,
    at_model_index = 32,
    at_correction = 34,
    at_spare = 39,
};

void settings_to_bytes(const settings_record& rec, uint8_t out[settings_size]) {
    le_put_i32(out, at_copies, rec.copies);
    le_put_i32(out, at_media_format, rec.media_format);
    le_put_i32(out, at_custom_length, rec.custom_length_mm);
    le_put_i16(out, at_media_type, rec.media_type);
    le_put_i16(out, at_finish_program, rec.finish_program);
    le_put_i16(out, at_finish_margins, rec.finish_margins);
    le_put_i16(out, at_finish_bin, rec.finish_bin);
    le_put_i32(out, at_red_pen, rec.red_pen);
    le_put_i16(out, at_reserved, rec.reserved_word);
    le_put_i16(out, at_margin, rec.margin_mm);
    le_put_u16(out, at_plot_flags, rec.plot_flags);
    le_put_u16(out, at_mode_flags, rec.mode_flags);
    le_put_i16(out, at_model_index, rec.model_index);
    for (int i = 0; i < 5; ++i) out[at_correction + i] = rec.correction_points[i];
    out[at_spare] = rec.spare;
}

settings_record settings_from_bytes(const uint8_t in[settings_size]) {
    settings_record rec;
    rec.copies = le_i32(in, at_copies);
    rec.media_format = le_i32(in, at_media_format);
    rec.custom_length_mm = le_i32(in, at_custom_length);
    rec.media_type = le_i16(in, at_media_type);
    rec.finish_program = le_i16(in, at_finish_program);
    rec.finish_margins = le_i16(in, at_finish_margins);
    rec.finish_bin = le_i16(in, at_finish_bin);
    rec.red_pen = le_i32(in, at_red_pen);
    rec.reserved_word = le_i16(in, at_reserved);
    rec.margin_mm = le_i16(in, at_margin);
    rec.plot_flags = le_u16(in, at_plot_flags);
    rec.mode_flags = le_u16(in, at_mode_flags);
    rec.model_index = le_i16(in, at_model_index);
    for (int i = 0; i < 5; ++i) rec.correction_points[i] = in[at_correction + i];
    rec.spare = in[at_spare];
    return rec;
}
