// The plot script's text command:
//
//     text X Y HEIGHT [ANGLE] "TEXT" [left|center|right]
//
// X, Y and HEIGHT (the capital height) are in the script's unit, ANGLE in degrees
// anticlockwise. The text is UTF-8 between double quotes (\" and \\ inside stand for
// a quote and a backslash; \n starts a new line); a '#' after the closing quote starts
// a comment. It is drawn with the stroke font as moves and draws.
#pragma once

#include <string>
#include <string_view>

struct script_reader;

struct script_text {
    double x, y;      // the justification point, plotter units
    double height;    // capital height, plotter units
    double angle_deg; // baseline direction
    int halign;       // 0 left, 1 centre, 2 right
    std::string utf8; // the text
};

// Parses what follows the word "text" on a script line (comments not yet removed).
// Checks that the stroked text lies inside the plot range. Returns 0, or 2 with
// r.error set ("NAME:LINE: what").
int script_parse_text(script_reader& r, std::string_view rest, script_text* t);
