// The pen table: how a drawing's colours and line weights become the driver's pens and
// widths, as a CAD plot style table does.
//
// A small text file, one rule a line, '#' starts a comment:
//
//     # colour  pen  [width]  [force]
//     1         1    0.50mm
//     8         8
//     *         7    0.25mm
//
// COLOUR is a colour number 1..255 (the DXF colour index, or the plot file's pen) or
// '*' for every colour without a rule of its own; PEN is the driver's pen 1..255; WIDTH
// (mm, or in with "in") is the width for lines that carry no weight of their own;
// "force" makes it override the drawing's own weight. Without any rule, colour N plots
// with pen N, and lines without a weight are 0.25 mm wide.
#pragma once

#include <string>
#include <vector>

#include "drawing/drawing.h"

struct pen_rule {
    int colour;      // 1..255, 0 for '*'
    int pen;         // 1..255
    double width_mm; // < 0: not given
    bool force;      // the width overrides the drawing's own weight
};

struct pen_table {
    std::vector<pen_rule> rules;
    double default_width_mm = 0.25; // lines with no weight and no rule width
};

// Reads a pen table. Returns 0, or 2 with *error as "FILE:LINE: what".
int pen_table_load(const std::string& path, pen_table* table, std::string* error);

struct pen_choice {
    int pen;           // 1..255
    double width_inch; // > 0
};

pen_choice pen_for(const pen_table& table, const drawing_style& style);
