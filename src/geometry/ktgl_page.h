// The fixed KTGL blocks of a job: page opening and closing, pen definitions and the
// drawing set-up.
//
// The job preamble writes the page opening, then the pattern download, the pen
// definitions (the pen module chooses each pen's grey) and the drawing set-up; the end
// of the plot writes the page closing. A raster image is framed by a page closing
// before it and a page opening and drawing set-up after it. The printer keeps patterns
// and pen definitions for the job.
#pragma once

#include <cstdint>

// Sizes of the page blocks in bytes.
constexpr int ktgl_page_opening_size = 84;
constexpr int ktgl_page_closing_size = 74;

// Writes the page opening: the reset block, the model identification record of the
// current model, and the two records 20 00 and 23 00. Stops at the first failed write.
// Returns 0 or -1.
int write_ktgl_page_opening();

// Writes the page closing: the reset block and F3 01 00 01. Returns 0 or -1.
int write_ktgl_page_closing();

// Writes the definition of one pen: grey level 0..255 (its halftone pattern), or the red
// definition when grey is negative. Returns 0 or -1 as out_write_bytes.
int write_ktgl_pen_definition(int pen, int grey);

// Writes the drawing set-up: line pen 7, area pen 7, the eight line-type definitions
// and six one-word settings. Stops at the first failed write. Returns 0 or -1.
int write_ktgl_drawing_setup();
