// kvrac view: a picture and a summary of a print job; the preview of kvrac plot.
#pragma once

#include <string>

extern const char view_help[];

// What kvrac view JOB [-o PICTURE.png] [--dpi N] [--page N] [--summary] asks, as the
// command line gave it (the values are checked by run_view).
struct view_options {
    std::string job;     // the job file to read
    std::string picture; // -o: the picture to write, "" = not given
    std::string dpi;     // --dpi as typed, "" = the default size
    std::string page;    // --page as typed, "" = page 1
    bool summary;        // --summary: say what the job holds (no picture without -o)
};

// Draws or summarises the job. Returns 0 done, 1 the job was read only in part (the
// picture holds what came before the fault) or the picture cannot be written, 2 bad
// usage or not a job.
int run_view(const view_options& options);

// Renders the job file at job into a PNG at picture with the default size. Returns 0, or
// 1 after reporting why not.
int write_preview(const std::string& job, const std::string& picture);
