// The plotter's stroke font: text as pen strokes.
//
// Glyphs come from a font file in the Hershey format (Debian's hershey-fonts-data,
// read at run time from /usr/share/hershey-fonts or $KVRAC_FONT_DIR). Those fonts cover
// printable ASCII; French accented letters (é è ê ë à â ä ç î ï ô ö ù û ü ÿ æ œ, their
// capitals, « » ° ± €) are composed from the base letter's strokes and accent strokes
// drawn to the same grid.
#pragma once

#include <string>
#include <vector>

#include "drawing/drawing.h"

// One glyph in font units: x from the glyph's centre, y upward from the baseline.
struct stroke_glyph {
    double left, right;                              // side bearings (left < 0 < right)
    std::vector<std::vector<drawing_point>> strokes; // pen-down polylines
};

struct stroke_font {
    std::string path;                 // the file it was read from
    std::vector<stroke_glyph> glyphs; // codes 32..126, index code - 32
};

// Capital height, descender and x-height of the Hershey grid, in font units.
constexpr double font_cap_height = 21;
constexpr double font_descent = 7;

// Reads a Hershey font file. Returns 0, or 2 with *error naming the file and why.
int stroke_font_load(const std::string& path, stroke_font* font, std::string* error);

// The default font (rowmans, simplex roman), read once for the process. Returns null
// with *error saying which file is missing and how to get it.
const stroke_font* stroke_font_default(std::string* error);

// Strokes a text run into polylines in drawing units (appended to out). Returns how many
// characters the font cannot show (drawn as '?').
size_t stroke_text(const stroke_font& font, const text_run& run,
                   std::vector<std::vector<drawing_point>>& out);

// The run's advance width in drawing units (the longest line), for layout and tests.
double stroke_text_width(const stroke_font& font, const text_run& run);
