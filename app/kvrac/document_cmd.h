// kvrac plot of documents: PDF pages and image files (PNG, TIFF, JPEG), each page one
// plot in a job file of its own.
#pragma once

#include <string>

#include "kvrac/drawing_cmd.h"

struct document_options {
    int32_t page = 1;       // --page N
    bool all_pages = false; // --pages all
    bool given = false;     // --page or --pages was given
};

// Takes --page N or --pages all at argv[i], advancing i past the value. Returns 1 when
// taken, 0 when argv[i] is neither, 2 after reporting a bad value.
int take_document_option(int argc, char** argv, int& i, document_options& d);

// Plots the asked pages of a document. One page goes to the job named as for any plot;
// several pages go to one job each, named after it with -pN before its extension
// (plan.prn: plan-p1.prn, plan-p2.prn, ...). Returns 0 done, 1 the driver answered a
// failure or a job could not be written, 2 bad usage, a bad file or page (reported
// with file and page) or a refused dialog value; the failing page's job is not written
// (earlier pages' jobs stay).
int run_plot_document(const plot_options& o, const drawing_options& d, const document_options& p);

extern const char document_options_help[];
