// kvrac view: a picture and a summary of a print job; the preview of kvrac plot.
#pragma once

#include <string>

extern const char view_help[];

// kvrac view JOB [-o PICTURE.png] [--dpi N] [--page N] [--summary]; argv[0] is "view".
// Returns 0 done, 1 the job was read only in part (the picture holds what came before
// the fault) or the picture cannot be written, 2 bad usage or not a job.
int run_view(int argc, char** argv);

// Renders the job file at job into a PNG at picture with the default size. Returns 0, or
// 1 after reporting why not.
int write_preview(const std::string& job, const std::string& picture);
