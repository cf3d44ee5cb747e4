// From drawing operations to the driver's plot messages: placement on the sheet,
// clipping to the printable area, the pen table, and the commands a host sends.
//
// Placement needs the drawing's extents before the first command. Unless the drawing is
// fitted, its scale (and so the flattening tolerance) is known at the start: the reader
// runs once, its operations go to a scratch file while the extents are measured, and the
// file is replayed through the writer. With --fit the reader runs twice (extents, then
// plot). The writer keeps only the current pen, line type and width, so memory stays
// flat whatever the drawing's size.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "drawing/drawing.h"
#include "drawing/pen_table.h"
#include "drawing/script.h"

// A reader's fatal fault (a bad file, an absurd count): the message names the file and
// the line or entity. Readers throw it from inside their sink calls or parse loops.
struct drawing_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class drawing_anchor {
    extents, // the lower left corner of the drawing's extents goes to the origin (CAD)
    origin,  // the drawing's own (0, 0) goes to the origin (plot files are placed)
};

struct placement_options {
    double scale = 0;       // sheet length per drawing length (1:50 is 0.02); 0 = 1:1
    bool fit = false;       // as large as fits the printable area (keeps proportions)
    bool center = false;    // centred on the printable area
    int rotate = 0;         // 0, 90, 180 or 270 degrees anticlockwise
    double origin_x_mm = 0; // the origin on the sheet, from the printable area's
    double origin_y_mm = 0; // lower left corner
    drawing_units units = drawing_units::unknown; // --units when the file says nothing
    drawing_anchor anchor = drawing_anchor::extents;
};

struct sheet_geometry {
    double width_plu, height_plu; // the printable area used, plotter units (x, y)
    double steps_per_inch;        // plotter units per inch
    double dpi;                   // printer dots per inch (flattening within half a dot)
};

// What the plot did, for the user.
struct drawing_summary {
    long paths = 0, fills = 0;          // operations plotted (wholly or in part)
    long cut[4] = {0, 0, 0, 0};         // cut at the left, right, bottom, top edge
    long outside = 0;                   // wholly outside the printable area
    double scale = 0;                   // plotter units per drawing unit used
    double extent_mm[4] = {0, 0, 0, 0}; // placed extents on the sheet, mm (x0, y0, x1, y1)
    size_t missing_glyphs = 0;          // text characters the font lacks
    std::vector<std::string> notes;     // the reader's warnings
};

// Sends one plot command; returns 0, or nonzero to stop (the driver refused).
using plot_emitter = std::function<int(const script_command&)>;

// Runs `read` (which feeds a sink with the whole drawing) twice and sends the placed
// drawing through `emit`. Returns 0; 1 when emit refused (its status); 2 on a reader
// fault or bad placement, with *error set.
int plot_drawing(const std::function<void(drawing_sink&, drawing_report&)>& read,
                 const placement_options& place, const pen_table& pens, const sheet_geometry& sheet,
                 const plot_emitter& emit, drawing_summary* summary, std::string* error);

// Renders a summary as lines for the user ("12 entities cut at the right edge").
std::vector<std::string> summary_lines(const drawing_summary& s);
