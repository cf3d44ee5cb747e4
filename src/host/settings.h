// The driver's settings record and the run-time values derived from it.
//
// The record is the user's whole configuration: 40 bytes that the host stores on the
// driver's behalf and hands back byte for byte. In memory it is a plain record; it
// crosses the host boundary only through settings_to_bytes and settings_from_bytes.
#pragma once

#include <cstdint>

constexpr int settings_size = 40;

struct settings_record {
    int32_t copies;               // copies per plot, 1..99
    int32_t media_format;         // row of the model's paper formats, from 1, 1..41
    int32_t custom_length_mm;     // length of a custom-length roll format, mm, 1..15000
    int16_t media_type;           // row of the media-type table, 0..3
    int16_t finish_program;       // finisher programme row, 0..20
    int16_t finish_margins;       // finisher margin row, 0..1
    int16_t finish_bin;           // finisher bin row, 0..14
    int32_t red_pen;              // pen printed in red when red printing is on, 1..255
    int16_t reserved_word;        // written by the defaults (2), read by nobody
    int16_t margin_mm;            // margin on all four sides, mm, 0..10
    uint16_t plot_flags;          // plot_* bits below
    uint16_t mode_flags;          // mode_* bits below
    int16_t model_index;          // model the record was saved for (0)
    uint8_t correction_points[5]; // tone curve outputs at inputs 0, 64, 128, 192, 255
    uint8_t spare;                // byte 39, kept as found
};

// plot_flags bits.
enum : uint16_t {
    plot_serial = 0x0001,         // serial port: handshake set-up sent at job start
    plot_handshake_mask = 0x0300, // 0 Xon/Xoff, 0x100 hardware, 0x200/0x300 none
    plot_handshake_hardware = 0x0100,
    plot_halftone = 0x1000,  // halftone fill; clear = solid fill
    plot_pe_base64 = 0x2000, // PE numbers in base 64 ("PE"); clear = base 32 ("PE7")
};

// mode_flags bits.
enum : uint16_t {
    mode_red_pen = 0x0010,
    mode_ktgl = 0x0040, // output language KTGL+MMR; clear = RTL/GL2
    mode_manual_feed = 0x0080,
    mode_res_600 = 0x0100,
    mode_res_400 = 0x0200,
    mode_res_300 = 0x0400,
    mode_res_200 = 0x0800,
    mode_res_mask = 0x0F00,
    mode_rotated = 0x1000, // derived: format width below its length
};

// Run-time values, not stored.
struct settings_runtime {
    int32_t current_model;      // model in use, 0..model_count-1
    int32_t job_copies;         // copies of the current job, 1 at load
    char label_text[65];        // up to 64 printable ASCII characters, NUL-terminated
    double margins[4];          // inches: two along the length, two along the width
    double printable_length;    // inches, longer printable side reported to the host
    double printable_width;     // inches, shorter printable side
    uint8_t paper_unrotated;    // 1 when the format's width is not below its length
    int32_t coordinate_divisor; // power of two keeping coordinates within 16 bits
    double steps_per_inch;      // device steps per inch after the divisor
    double scale_factor;        // device units per plotter unit
};

extern settings_record settings;
extern settings_runtime runtime;

constexpr double mm_to_inch = 0.03937007874015748;

// Writes the record as its 40 stored bytes (little-endian, no padding).
void settings_to_bytes(const settings_record& rec, uint8_t out[settings_size]);

// Reads a record from its 40 stored bytes.
settings_record settings_from_bytes(const uint8_t in[settings_size]);

// Sets the record to the defaults for current_model (resets the correction curve too
// and stores its five default values).
void load_defaults();

// The default resolution bits of a model: 600 dpi when it has the capability.
uint16_t default_resolution(int model);

// Replaces every field that indexes a table or bounds a value, and is out of range,
// by that field's default, so a record from elsewhere can never lead the driver
// outside a table. model_index is left alone (message 21 tests it). Returns the
// number of fields replaced.
int settings_sanitize(settings_record& rec);

// margins <- margin_mm in inches, all four.
void set_margins();
