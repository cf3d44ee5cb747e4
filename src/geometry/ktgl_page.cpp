// The fixed KTGL blocks of a job.
//
// Written a few times per job (once per page, and around each raster image), so the
// blocks are plain data written as they stand.
#include "geometry/ktgl_page.h"

#include <cassert>

#include "geometry/ktgl.h"
#include "host/device_tables.h"
#include "host/settings.h"
#include "output/output.h"

namespace {

// Resets the printer's page state: five rounds of 18 01 / 18 02 records counting down
// from FFFF, then a final round cut short after its last opcode and count.
constexpr uint8_t reset_block[] = {
    0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02, 0xFF, 0xFF, //
    0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02, 0xFF, 0xFE, //
    0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02, 0xFF, 0xFD, //
    0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02, 0xFF, 0xFC, //
    0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02, 0xFF, 0xFB, //
    0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02,
};
static_assert(sizeof reset_block == 70);

// Model identification of the one model this driver carries: F2 with 4 words, the
// word 0802 and the printer's name. The row is 12 bytes; the first 10 are the record.
constexpr uint8_t model_ident_row[12] = {0xF2, 0x04, 0x08, 0x02, 'V', 'T',
                                         '9',  '2',  '7',  '0',  0,   0};
constexpr int model_ident_size = 2 * 4 + 2;

// Starts the page's graphics (20 00) and its vector drawing (23 00).
constexpr uint8_t page_start[] = {0x20, 0x00, 0x23, 0x00};

// Ends the page and prints it: F3 with the word 1.
constexpr uint8_t page_end[] = {0xF3, 0x01, 0x00, 0x01};

static_assert(sizeof reset_block + model_ident_size + sizeof page_start == ktgl_page_opening_size);
static_assert(sizeof reset_block + sizeof page_end == ktgl_page_closing_size);

// Line-type definitions (opcode 36): word count, line type, then dash and gap lengths
// in percent of the pattern length. Each row is 24 bytes; 2 + 2 * count are written.
constexpr uint8_t line_type_defs[8][24] = {
    {0x36, 4, 0, 1, 0, 0, 0, 100, 0, 0},
    {0x36, 4, 0, 2, 0, 25, 0, 50, 0, 25},
    {0x36, 4, 0, 3, 0, 35, 0, 30, 0, 35},
    {0x36, 6, 0, 4, 0, 40, 0, 10, 0, 0, 0, 10, 0, 40},
    {0x36, 6, 0, 5, 0, 35, 0, 10, 0, 10, 0, 10, 0, 35},
    {0x36, 8, 0, 6, 0, 25, 0, 10, 0, 10, 0, 10, 0, 10, 0, 10, 0, 25},
    {0x36, 8, 0, 7, 0, 35, 0, 10, 0, 0, 0, 10, 0, 0, 0, 10, 0, 35},
    {0x36, 10, 0, 8, 0, 25, 0, 10, 0, 0, 0, 10, 0, 10, 0, 10, 0, 0, 0, 10, 0, 25},
};

// One-word drawing settings that follow the line types (opcode, word); their meaning
// is the printer's.
constexpr uint8_t drawing_settings[6][2] = {
    {0x42, 1}, {0x44, 2}, {0x45, 3}, {0x39, 0}, {0x48, 2}, {0x50, 1},
};

// KTGL pen definition: opcode, word count, then pen, grey and three colour words.
constexpr uint8_t ktgl_pen_definition = 0x30;
constexpr int pen_definition_words = 5;
constexpr int pen_definition_size = 2 + 2 * pen_definition_words;

} // namespace

int write_ktgl_page_opening() {
    if (out_write_bytes(sizeof reset_block, reset_block) < 0) return -1;
    if (out_write_bytes(model_ident_size, model_ident_row) < 0) return -1;
    return out_write_bytes(sizeof page_start, page_start);
}

int write_ktgl_page_closing() {
    if (out_write_bytes(sizeof reset_block, reset_block) < 0) return -1;
    return out_write_bytes(sizeof page_end, page_end);
}

int write_ktgl_pen_definition(int pen, int grey) {
    uint8_t record[pen_definition_size];
    record[0] = ktgl_pen_definition;
    record[1] = pen_definition_words;
    put_be16(pen, record + 2);
    if (grey < 0) {
        put_be16(0xFFFF, record + 4); // red pen: no grey,
        put_be16(0xFFFF, record + 6);
        put_be16(0x0000, record + 8); // printed in red
        put_be16(0xFFFF, record + 10);
    } else {
        put_be16(grey, record + 4); // grey level, halftone pattern of that number
        put_be16(0xFFFF, record + 6);
        put_be16(0xFFFF, record + 8);
        put_be16(0xFFFF, record + 10);
    }
    return out_write_bytes(pen_definition_size, record);
}

int write_ktgl_drawing_setup() {
    if (write_ktgl_word_record(ktgl_line_pen, 7) < 0) return -1;
    if (write_ktgl_word_record(ktgl_area_pen, 7) < 0) return -1;
    for (const uint8_t* def : line_type_defs)
        if (out_write_bytes(2 + 2 * def[1], def) < 0) return -1;
    for (const uint8_t* setting : drawing_settings)
        if (write_ktgl_word_record(setting[0], setting[1]) < 0) return -1;
    return 0;
}
