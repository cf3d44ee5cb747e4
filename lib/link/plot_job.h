// One plot job, from the command line's options to the job file: the steps every kind
// of plot (a script, a drawing) takes around its own drawing commands.
//
//   plot_job_setup   dialog options, the driver, the store (configured with the
//                    defaults when nothing is stored), the job's name, 49/50/29, the
//                    plot-time dialog and the area asked with --area
//   plot_job_start   the job output opened safely (system/files.h), 47/36/30
//   ...              the caller sends its drawing commands (plot_send)
//   plot_job_end     2: the trailer; a failed job write is reported
//   plot_job_close   the job committed under its name, or discarded
//
// A job file is written under a unique temporary name beside it and moved into place
// only by plot_job_close after a plot that succeeded, so a failed, refused or
// interrupted plot never leaves a partial job under the asked name; a device, a FIFO
// or standard output takes the bytes as they come. Every message names the file and
// says why.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "link/plot_sequence.h"
#include "settings/dialog_options.h"
#include "system/files.h"

// What the command line asks of a plot.
struct plot_job_options {
    std::string input;      // the script or drawing plotted, "-" = standard input
    const char* input_kind; // "script" or "drawing", for messages
    std::string output;     // job path, "-" = standard output, "" = the input's .prn
    std::string store;      // settings store
    double area_length;     // --area: asked sides in inches, 0 = the whole area
    double area_width;
    std::vector<dialog_option> dialog; // options acting on the plot-time dialog
    bool keep_store = false;           // what the plot-time dialog saves is for this job only: the
                                       // store is left as it was (session.keep_store)
    size_t image_memory = 0; // documents: bytes a decoded image may keep in memory (turned,
                             // or on a rotated sheet); 0 = KVRAC_IMAGE_MEMORY or the default
};

// A plot job under way.
struct plot_job {
    std::string out_path; // the job's name: the asked one, or the input's .prn
    bool to_stdout;       // the job goes to standard output ("-")
    output_file out;      // the job output once started; out.stream is null before
    plot_area area;       // the printable area the dialog settled on
    double side_a;        // the area used, inches: --area, else the printable area
    double side_b;
};

// Runs the set-up up to the plot-time dialog and checks --area against its printable
// area. Returns 0 with the plot begun: whatever happens next, the caller ends it with
// plot_job_end and plot_job_close. Otherwise nothing was written and the plot is
// ended: 1 when the driver answered a failure; 2 for a refused dialog option, a job
// that would overwrite its input, or an --area larger than the printable area or
// smaller than one plotter unit a side (reported).
int plot_job_setup(const plot_job_options& options, plot_job& job);

// Opens the job output and sends 47, 36 and 30 for the area used: the driver writes
// its preamble there. Returns 0; 2 when the output cannot be opened (reported); 1 when
// the job could not start.
int plot_job_start(plot_job& job);

// The folder a job's scratch files go to (an image store too large for memory): the
// job file's own folder ("." for a name without one), or "" (the system's temporary
// folder) for a job written straight to a device, a pipe or standard output.
std::string plot_job_scratch_folder(const plot_job& job);

// Sends 2 (end of plot) and detaches the output. When `status` is 0 and a write to the
// job failed, says which file and why and returns 1; otherwise returns `status`.
int plot_job_end(plot_job& job, int status);

// Finishes the output: with `status` 0 and `keep`, commits the job under its name (a
// failure is reported and gives 1); otherwise discards it, leaving the named file as it
// was. Standard output is only flushed. Returns the plot's final status.
int plot_job_close(plot_job& job, int status, bool keep);
