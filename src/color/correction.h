// The tone correction curve: five control values and the 256-entry table built from
// them.
//
// The table is rebuilt a few times per job (configuration, plot start, the colour
// dialog) and read once per source pixel by the raster dither, so lookups are plain
// array reads and the build is a straight loop.
#pragma once

#include <cstdint>

struct correction_state {
    uint8_t table[256]; // corrected output for each grey input 0..255
    int32_t points[5];  // working control values P0..P4: outputs at 0, 64, 128, 192, 255
};

extern correction_state correction;

// Inputs at which the five control values act.
constexpr int correction_inputs[5] = {0, 64, 128, 192, 255};

// Copies the default correction table into the table.
void reset_correction();

// The default control values: the default curve at the five inputs, as the defaults
// path stores them. Reads no state (a host may call it to show the defaults).
void default_correction_points(uint8_t out[5]);

// The table's entry for an input 0..255 (the input's low 8 bits are used).
int correction_at(int input);

// Stores the low 8 bits of value as the entry for an input 0..255.
void set_correction_at(int input, int value);

// The quartic Bezier curve of five control values p at t = i / 255 (i = 0..255),
// evaluated in a fixed order so that the table and the dialog's picture agree.
double bezier_at(const double p[5], int i);

// Fills all 256 entries from the quartic Bezier curve of P0..P4.
void build_correction_table();

// P0..P4 <- the stored correction_points, then build_correction_table.
void load_correction_points();

// The defaults path: reset_correction, P0..P4 from the reset table at the five
// inputs, those values into correction_points, build_correction_table.
void reset_correction_points();
