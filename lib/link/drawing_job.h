// A drawing plotted in a plot job: the reader chosen for its file, placed on the printable
// area by the drawing pipeline and sent as plot messages. `kvrac plot` and the printer
// application's job process both plot drawings through here, so a drawing gives the same
// job bytes whichever of them plots it.
#pragma once

#include <functional>
#include <string>

#include "drawing/drawing_format.h"
#include "drawing/plot_writer.h"
#include "link/plot_sequence.h"

// A drawing file ready for the pipeline: its reader and where its corner goes.
struct drawing_input {
    std::string path;
    drawing_format format = drawing_format::hpgl;
    std::function<void(drawing_sink&, drawing_report&)> read;
    drawing_anchor anchor = drawing_anchor::origin; // a CAD drawing is placed by its extents
};

// An HP-GL/2 plot file as pipeline input. Returns 0, or 2 with *error naming the file
// when it is missing or is no regular file (a folder, a device).
int hpgl_input(const std::string& path, drawing_input* in, std::string* error);

// The settings record the plot runs with: the one the plot-time dialog kept aside for
// this job when the session keeps the store untouched, else the store's (the dialog may
// have changed it). Returns false when there is none.
bool plot_settings_in_force(uint8_t* record, size_t size);

// Printer dots per inch of the settings in force (the raster resolution): what image
// rectangles are sampled at.
double plot_settings_dpi();

// Reads the drawing and sends it into the plot job that plot_start_job began: placed by
// `place` (its anchor is the input's) on side_a x side_b inches of the printable area,
// curves flattened within half a dot at the resolution of the settings in force.
// Returns 0; 1 when the driver refused a command; 2 on a reader fault or bad placement,
// with *error naming the file and line or entity.
int plot_drawing_job(const drawing_input& in, const placement_options& place, const pen_table& pens,
                     const plot_area& area, double side_a, double side_b, drawing_summary* summary,
                     std::string* error);
