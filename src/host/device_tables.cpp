// The driver descriptor and the device tables it carries.
//
// The tables are written here once, as data, and laid into the descriptor block on
// first use; every lookup afterwards reads the descriptor, which is what the host
// sees. Names are stored blank-padded as the host displays them; PJL lines end in
// CR LF. Texts are Windows-1252.
#include "host/device_tables.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "host/wire.h"

const char ident_string[] = "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 ";

namespace {

struct descriptor_state {
    uint8_t bytes[descriptor_size]; // the block handed to the host
    bool built;                     // tables laid in
};

descriptor_state desc;

// A fixed paper format: name, length and width in inches.
struct fixed_format {
    const char* name;
    double length;
    double width;
};

const fixed_format fixed_formats[22] = {
    {"E-arch(36po)", 48.0, 36.0},
    {"D-arch(24po)", 36.0, 24.0},
    {"C-arch(18po)", 24.0, 17.973},
    {"B-arch(12po)", 17.973, 12.0},
    {"A-arch(9po)", 12.0, 8.96},
    {"E-ANSI(34po)", 44.0, 34.0},
    {"D-ANSI(22po)", 34.0, 22.0},
    {"C-ANSI(17po)", 22.0, 17.0},
    {"B-ANSI(11po)", 17.0, 11.0},
    {"A-ANSI(8,5po)", 11.0, 8.5},
    {"A0", 46.773, 33.12},
    {"A1", 33.12, 23.36},
    {"A2", 23.36, 16.533},
    {"A3", 16.533, 11.68},
    {"A4", 11.68, 8.266},
    {"Sp. A0 880 x 1230", 48.426, 34.613},
    {"Sp. A1 625 x 880", 34.613, 24.586},
    {"Sp. A1 620 x 871", 34.293, 24.373},
    {"Sp. A2 440 x 625", 24.586, 17.333},
    {"Sp. A2 435 x 620", 24.373, 17.12},
    {"Sp. A3 312 x 440", 17.333, 12.266},
    {"Sp. A3 310 x 435", 17.12, 12.16},
};

// Custom-length roll formats: the base name after "Format perso. largeur " and width.
struct custom_format {
    const char* base;
    double width;
};

const custom_format custom_formats[19] = {
    {"E-arch(36po)", 36.0},
    {"D-arch(24po)", 24.0},
    {"C-arch(18po)", 17.973},
    {"B-arch(12po)", 12.0},
    {"A-arch(9po)", 8.96},
    {"E-ANSI(34po)", 34.0},
    {"D-ANSI(22po)", 22.0},
    {"C-ANSI(17po)", 17.0},
    {"B-ANSI(11po)", 11.0},
    {"A-ANSI(8,5po)", 8.5},
    {"A0", 33.12},
    {"A1", 23.36},
    {"A2", 16.533},
    {"A3", 11.68},
    {"Sp. A0 880mm", 34.613},
    {"Sp. A1 625mm", 24.586},
    {"Sp. A1 620mm", 24.373},
    {"Sp. A2 440mm", 17.333},
    {"Sp. A2 435mm", 17.12},
};

const char custom_prefix[] = "Format perso. largeur ";
constexpr int custom_prefix_len = 22;
constexpr double custom_placeholder_length = 118.11;

// Default lengths of the custom rows, by the first characters of the base name.
struct custom_default {
    const char* prefix;
    int length_mm;
};

const custom_default custom_defaults[] = {
    {"A0", 1189},         {"A1", 841},         {"A2", 594},         {"A3", 420},
    {"Sp. A0 880", 1230}, {"Sp. A1 625", 880}, {"Sp. A1 620", 871}, {"Sp. A2 440", 625},
    {"Sp. A2 435", 620},  {"E-arch", 1219},    {"D-arch", 914},     {"C-arch", 609},
    {"B-arch", 457},      {"A-arch", 304},     {"E-ANSI", 1117},    {"D-ANSI", 863},
    {"C-ANSI", 558},      {"B-ANSI", 431},     {"A-ANSI", 279},
};

// Media types, RTL/GL2 half: display name and HP-GL/2 media-type instruction.
const char* const media_type_names[media_type_rows] = {
    "Bond", "Film", "Utiliser le param\xE8tre du traceur", "Vellum"};
const char* const media_type_commands[media_type_rows] = {"MT0;", "MT1;", "MT2;", "MT4;"};

// Model 0's record: name and the eleven capability words at record offsets 32..52.
const char model_name[] = "9270/9250 Wide Format";
const int16_t model_capabilities[11] = {1, 1, 0, 0, 0, 1, 0, 0, 1, 1, 0};

// Field layout inside the rows.
enum : int {
    format_name = 0,
    format_name_size = 56,
    format_length = 56,
    format_width = 64,
    format_custom = 72,
    format_max = 74,
    media_half_size = 120,
    media_name_size = 60,
    media_command = 60,
    finisher_name_size = 60,
    finisher_pjl = 60,
    finisher_pjl_size = 62,
    model_record_size = 54,
};

// Copies text into a field, blank-padded to `padded` characters; the rest stays 0.
void put_text(uint8_t* field, int field_size, const char* text, int padded) {
    int n = static_cast<int>(std::strlen(text));
    assert(n < field_size && padded < field_size);
    (void)field_size;
    std::memcpy(field, text, n);
    for (int i = n; i < padded; ++i) field[i] = ' ';
}

uint8_t* format_row_bytes(int model, int row) {
    return desc.bytes + desc_media_sizes +
           (model * media_size_table_rows + row - 1) * media_size_stride;
}

void put_finisher_row(int table, int table_rows, int row, const char* name, int padded,
                      const char* pjl) {
    uint8_t* r = desc.bytes + table + row * finisher_stride;
    assert(row < table_rows - 1);
    (void)table_rows;
    put_text(r, finisher_name_size, name, padded);
    put_text(r + finisher_pjl, finisher_pjl_size, pjl, 0);
}

void build_descriptor() {
    uint8_t* d = desc.bytes;
    put_text(d + desc_ident, 408, ident_string, 0);
    le_put_u16(d, 408, 0);
    le_put_u16(d, 418, 4);
    le_put_u16(d, 432, 3);
    put_text(d + 434, 15, "$ACADPLNAME$", 0);
    put_text(d + 449, 32, "Microsoft Windows Win32", 0);
    le_put_u16(d, 481, 6);
    put_text(d + 483, 21, "14.0-1", 0);

    put_text(d + desc_model, 32, model_name, 0);
    for (int i = 0; i < 11; ++i) le_put_i16(d, desc_model + 32 + 2 * i, model_capabilities[i]);

    for (int i = 0; i < 22; ++i) {
        uint8_t* r = format_row_bytes(0, i + 1);
        put_text(r + format_name, format_name_size, fixed_formats[i].name, 17);
        le_put_f64(r, format_length, fixed_formats[i].length);
        le_put_f64(r, format_width, fixed_formats[i].width);
    }
    for (int i = 0; i < 19; ++i) {
        uint8_t* r = format_row_bytes(0, 23 + i);
        char name[format_name_size];
        std::snprintf(name, sizeof name, "%s%s", custom_prefix, custom_formats[i].base);
        int row = 23 + i;
        put_text(r + format_name, format_name_size, name, row >= 33 && row <= 36 ? 25 : 35);
        le_put_f64(r, format_length, custom_placeholder_length);
        le_put_f64(r, format_width, custom_formats[i].width);
        le_put_i16(r, format_custom, 1);
        le_put_i16(r, format_max, max_custom_length_mm);
    }

    for (int i = 0; i < media_type_rows; ++i) {
        uint8_t* r = d + desc_media_types + i * media_type_stride;
        put_text(r, media_name_size, media_type_names[i], 33);
        put_text(r + media_command, media_name_size, media_type_commands[i], 0);
    }

    char name[32], pjl[64];
    put_finisher_row(desc_programs, program_table_rows, 0, "Plieuse manuelle", 17,
                     "@PJL DEFAULT FINISHPROGID=BYPASS\r\n");
    for (int i = 1; i < program_rows; ++i) {
        std::snprintf(name, sizeof name, "Programme %d", i);
        std::snprintf(pjl, sizeof pjl, "@PJL DEFAULT FINISHPROGID=PROGRAM%d\r\n", i);
        put_finisher_row(desc_programs, program_table_rows, i, name, 17, pjl);
    }
    put_finisher_row(desc_margins, margin_table_rows, 0, "Utiliser param. Prog.", 22,
                     "@PJL DEFAULT FINISHMARGINS=USEPROGRAM\r\n");
    put_finisher_row(desc_margins, margin_table_rows, 1, "Toujours d\xE9sactiv\xE9", 22,
                     "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n");
    put_finisher_row(desc_bins, bin_table_rows, 0, "Sans importance", 18,
                     "@PJL DEFAULT FINISHBIN=DONTCARE\r\n");
    put_finisher_row(desc_bins, bin_table_rows, 1, "R\xE9\x63. Pli \xE9ventail", 18,
                     "@PJL DEFAULT FINISHBIN=FANFOLD\r\n");
    for (int i = 2; i < bin_rows; ++i) {
        std::snprintf(name, sizeof name, "Bac %d", i - 1);
        std::snprintf(pjl, sizeof pjl, "@PJL DEFAULT FINISHBIN=BIN_%d\r\n", i - 1);
        put_finisher_row(desc_bins, bin_table_rows, i, name, 18, pjl);
    }
    desc.built = true;
}

uint8_t* descriptor_bytes() {
    if (!desc.built) build_descriptor();
    return desc.bytes;
}

bool model_ok(int model) {
    return model >= 0 && model < model_count;
}

// Text field of a table row, or "" for a row outside the table's entries.
const char* row_text(int table, int stride, int table_rows, int model, int row, int field) {
    if (!model_ok(model) || row < 0 || row >= table_rows - 1) return "";
    return reinterpret_cast<const char*>(descriptor_bytes() + table +
                                         (model * table_rows + row) * stride + field);
}

} // namespace

const uint8_t* descriptor() {
    return descriptor_bytes();
}

void descriptor_set_handlers(uint32_t config_handler, uint32_t plot_handler) {
    uint8_t* d = descriptor_bytes();
    le_put_u32(d, desc_config_handler, config_handler);
    le_put_u32(d, desc_plot_handler, plot_handler);
}

int model_capability(int model, int word_offset) {
    // Only model 0 has a record in the descriptor; the spare model has no capabilities.
    if (model != 0 || word_offset < 32 || word_offset > 52) return 0;
    return le_i16(descriptor_bytes(), desc_model + word_offset);
}

const uint8_t* model_name_field(int model) {
    static const uint8_t empty_name[32] = {};
    return model == 0 ? descriptor_bytes() + desc_model : model_ok(model) ? empty_name : nullptr;
}

format_row media_format_row(int model, int row) {
    if (!model_ok(model) || row < 1 || row > format_rows) return {"", 0.0, 0.0, 0, 0};
    const uint8_t* r = format_row_bytes(model, row);
    descriptor_bytes();
    return {reinterpret_cast<const char*>(r + format_name), le_f64(r, format_length),
            le_f64(r, format_width), le_i16(r, format_custom), le_i16(r, format_max)};
}

void patch_custom_length(int model, int row, int custom_length_mm) {
    if (!model_ok(model) || row < 1 || row > format_rows) return;
    descriptor_bytes();
    uint8_t* r = format_row_bytes(model, row);
    if (le_i16(r, format_custom) != 1) return;
    le_put_f64(r, format_length, custom_length_mm * 0.03937007874015748);
}

int default_custom_length(int model, int row) {
    format_row f = media_format_row(model, row);
    if (f.custom != 1) return 396;
    const char* base = f.name + custom_prefix_len;
    for (const custom_default& c : custom_defaults)
        if (std::strncmp(base, c.prefix, std::strlen(c.prefix)) == 0) return c.length_mm;
    return 396; // every custom row of the table matches; a blank row does not
}

const char* media_type_name(int model, int row, int language) {
    if (language != 0 && language != 1) return "";
    return row_text(desc_media_types, media_type_stride, media_type_table_rows, model, row,
                    language * media_half_size);
}

const char* media_type_command(int model, int row, int language) {
    if (language != 0 && language != 1) return "";
    return row_text(desc_media_types, media_type_stride, media_type_table_rows, model, row,
                    language * media_half_size + media_command);
}

const char* finish_program_name(int model, int row) {
    return row_text(desc_programs, finisher_stride, program_table_rows, model, row, 0);
}
const char* finish_program_pjl(int model, int row) {
    return row_text(desc_programs, finisher_stride, program_table_rows, model, row, finisher_pjl);
}
const char* finish_margins_name(int model, int row) {
    return row_text(desc_margins, finisher_stride, margin_table_rows, model, row, 0);
}
const char* finish_margins_pjl(int model, int row) {
    return row_text(desc_margins, finisher_stride, margin_table_rows, model, row, finisher_pjl);
}
const char* finish_bin_name(int model, int row) {
    return row_text(desc_bins, finisher_stride, bin_table_rows, model, row, 0);
}
const char* finish_bin_pjl(int model, int row) {
    return row_text(desc_bins, finisher_stride, bin_table_rows, model, row, finisher_pjl);
}
