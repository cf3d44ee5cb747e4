// The model record and the device tables, held in the driver descriptor.
//
// The descriptor is the block PLADI hands to the host; its tables (paper formats,
// media types, finisher programmes, margins and bins) are the only copy of that data,
// so what the host reads and what the driver uses can never differ. Lookups read the
// descriptor bytes with the little-endian helpers and never leave a table: a row out
// of range yields an empty row.
#pragma once

#include <cstdint>

constexpr int model_count = 2;     // slots per table; only model 0 exists
constexpr int format_rows = 41;    // paper formats per model (rows 1..41)
constexpr int media_type_rows = 4; // media types per model (rows 0..3)
constexpr int program_rows = 21;   // finisher programmes (rows 0..20)
constexpr int margin_rows = 2;     // finisher margin modes (rows 0..1)
constexpr int bin_rows = 15;       // finisher bins (rows 0..14)
constexpr int max_custom_length_mm = 15000;

// Descriptor layout (byte offsets).
enum : int {
    desc_ident = 0,            // identification string, 408 bytes
    desc_config_handler = 410, // u32 host address of the configuration handler
    desc_plot_handler = 414,   // u32 host address of the plot handler
    desc_model = 504,          // model record of model 0, 54 bytes
    desc_media_sizes = 560,    // 2 models x 42 rows x 80 bytes
    media_size_stride = 80,
    media_size_table_rows = 42,
    desc_media_types = desc_media_sizes + model_count * media_size_table_rows * media_size_stride,
    media_type_stride = 240,
    media_type_table_rows = 5,
    desc_programs = desc_media_types + model_count * media_type_table_rows * media_type_stride,
    finisher_stride = 122,
    program_table_rows = 22,
    desc_margins = desc_programs + model_count * program_table_rows * finisher_stride,
    margin_table_rows = 3,
    desc_bins = desc_margins + model_count * margin_table_rows * finisher_stride,
    bin_table_rows = 16,
    descriptor_size = desc_bins + model_count * bin_table_rows * finisher_stride,
};

// Model record capability words (byte offsets within the 54-byte record).
enum : int {
    cap_finisher = 32,
    cap_media_types = 34,
    cap_label = 42,
    cap_red_pen = 44,
    cap_manual_feed = 48,
    cap_600dpi = 50,
    cap_ktgl = 52,
};

extern const char ident_string[]; // "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 "

// The descriptor block, built on first use. Writable only through
// patch_custom_length.
const uint8_t* descriptor();

// Capability word of a model (0 for a model out of range).
int model_capability(int model, int word_offset);

// The model's 32-byte name field (null for a model out of range).
const uint8_t* model_name_field(int model);

struct format_row {
    const char* name;  // blank-padded name as stored, "" for a row out of range
    double length;     // inches
    double width;      // inches
    int custom;        // 1 = custom-length roll format
    int max_length_mm; // 15000 on custom rows, 0 elsewhere
};

// Row 1..41 of the model's paper formats; an empty row (all zero) when out of range.
format_row media_format_row(int model, int row);

// Overwrites the length of a custom row with custom_length_mm in inches (the only
// write into the tables). Does nothing for a fixed row or a row out of range.
void patch_custom_length(int model, int row, int custom_length_mm);

// Default custom length of a format row in mm: 396 for a fixed row, else by name.
int default_custom_length(int model, int row);

// Media type display name and HP-GL/2 command for a language (0 RTL/GL2, 1 KTGL+MMR);
// "" when out of range.
const char* media_type_name(int model, int row, int language);
const char* media_type_command(int model, int row, int language);

// Finisher rows: display name and PJL line ("" when out of range).
const char* finish_program_name(int model, int row);
const char* finish_program_pjl(int model, int row);
const char* finish_margins_name(int model, int row);
const char* finish_margins_pjl(int model, int row);
const char* finish_bin_name(int model, int row);
const char* finish_bin_pjl(int model, int row);

// Stores the two handler addresses at descriptor offsets 410 and 414.
void descriptor_set_handlers(uint32_t config_handler, uint32_t plot_handler);
