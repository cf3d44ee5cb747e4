// The plot-time commands: plot a script, show the driver's settings report and the
// line-type legend.
#pragma once

#include <string>
#include <vector>

#include "link/plot_job.h"
#include "settings/dialog_options.h"

struct plot_options {
    std::string script; // script path, "-" = standard input
    std::string output; // job path, "-" = standard output, "" = the script's .prn
    std::string store;  // settings store
    double area_length; // --area: asked sides in inches, 0 = the whole area
    double area_width;
    std::vector<dialog_option> dialog; // options acting on the plot-time dialog
    size_t image_memory = 0;           // --image-memory in bytes; 0 = environment or default
};

// Plots a script into a job file. Returns 0 done, 1 the driver answered a failure,
// 2 bad usage, a bad script or a dialog option the plot-time dialog refused (nothing
// written).
int run_plot(const plot_options& options);

// The plot job's options from the command's; kind is "script" or "drawing".
plot_job_options plot_job_options_of(const plot_options& options, const char* kind);

// Sends 49, 50, 29 and 31: the driver prints its French settings summary.
int run_report(const std::string& store);

// Sends 49, 50 and 15: the driver prints its line-type legend.
int run_legend(const std::string& store);
