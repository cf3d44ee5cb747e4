// kvrac plot of drawings: DXF files and HP-GL/2 plot files, placed on the sheet.
#pragma once

#include <string>

#include "drawing/plot_writer.h"
#include "kvrac/plot_cmd.h"

struct drawing_options {
    placement_options place;
    std::string pens;   // pen table file, "" = the built-in defaults
    bool given = false; // any placement or pen option was given
};

// Takes the placement options at argv[i] (--scale 1:N, --fit, --center, --rotate DEG,
// --origin X,Y, --units mm|in, --pens FILE), advancing i past a value. Returns 1 when
// one was taken, 0 when argv[i] is none of them, 2 after reporting a bad value.
int take_drawing_option(int argc, char** argv, int& i, drawing_options& d);

// Whether `kvrac plot` should read path as a drawing rather than a plot script.
bool is_drawing_file(const std::string& path);

// Plots a drawing into a job file, as run_plot does for scripts. Returns 0 done, 1 the
// driver answered a failure, 2 bad usage, a bad drawing (reported with its file and line
// or entity) or a refused dialog value; no job is written then.
int run_plot_drawing(const plot_options& o, const drawing_options& d);

extern const char drawing_options_help[];
