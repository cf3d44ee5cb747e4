// Pens, grey levels, line types and widths.
//
// The printer prints black, greys and on some models one red: every host pen that is
// not the red pen is drawn with the black pen, and the pen table of the job holds grey
// levels. This module keeps the pen state of the job and writes the pen, line-type and
// width instructions (HP-GL/2 text in RTL/GL2, one-word records in KTGL+MMR). Each
// instruction first closes an open PE run (close_vector_run). The last pen, line-type
// and width instruction written is kept, so that it can be written again after a raster
// image.
#pragma once

#include <cstdint>

// Pens of the palette; pen 0 is never selected.
constexpr int pen_count = 256;

// Highest line type that has a pattern.
constexpr int line_type_max = 8;

// A kept instruction: HP-GL/2 text (without NUL) or a KTGL record.
struct kept_instruction {
    uint8_t bytes[16]; // the instruction as written
    int32_t length;    // bytes used, 0 = never written in this job
};

struct pen_state {
    int16_t current_pen;        // pen of the last selection, 1..255; 1 at job start
    int16_t black_pen;          // pen that draws every non-red colour, 0..255; 7 at reset
    uint8_t reselect_pending;   // 1 after a polygon fill: the next move selects current_pen
    int32_t line_type_count;    // highest line type the host may ask for (messages 36, 43)
    kept_instruction pen;       // last pen selection (KTGL: the line pen record)
    kept_instruction area_pen;  // KTGL: last area pen record of a pen selection
    kept_instruction width;     // last pen width
    kept_instruction line_type; // last line type
};

extern pen_state pens;

// Identification (message 49): black pen 7, no pending reselection.
void pens_reset();

// Job start: current pen 1, kept instructions forgotten.
void pens_job_start();

// The palette colour of a pen as 0xRRGGBB (0 for a pen out of 0..255).
uint32_t pen_rgb(int pen);

// Grey level of a pen, 0 (black) .. 255 (white): the common value of a grey colour,
// else (30 r + 59 g + 11 b) / 100. 0 for a pen out of 0..255.
int pen_grey(int pen);

// 1 when the red pen prints red: the model can print red and red printing is on.
int red_printing_applies();

// The pen actually selected for host pen p: the red pen when red printing applies and
// p is the red pen, else the black pen.
int effective_pen(int p);

// Formats the RTL/GL2 colour instruction of pen 1..255 ("PC%d,255,0,0" for the red pen
// when red printing applies, else "PC%d,%d,%d,%d" with the grey level thrice) into
// out, which holds 32 bytes. Returns the text's length. Changes no state.
int pen_colour_text(int pen, char* out);

// RTL/GL2 job preamble: the colour instructions of pens 1..255 in rising order; on a
// red-capable model each pen of grey 0 becomes the black pen. Stops at the first
// failed write. Returns 0 or -1.
int write_pen_colours();

// KTGL+MMR job preamble: the 256 pen definitions, pen i carrying its grey level (the
// red pen, when red printing applies, its red definition), and makes the last pen of
// grey 0 the black pen. Runs to the end; returns -1 when any write failed, else 0.
int define_ktgl_pens();

// Message 5: closes the PE run, current_pen <- effective_pen(p), writes "SP%d"
// (KTGL: line pen record with current_pen, then area pen record with p). Returns 0 or
// -1.
int select_pen(int p);

// Before a move: when a reselection is pending, clears it and selects current_pen again
// (";SP%d", KTGL the line pen record). An open PE run is closed first, so the move that
// follows opens a new one. Safe in any vector state; nothing when none is pending.
// Returns 0 or -1.
int reselect_pen_if_pending();

// Message 7: closes the PE run and writes line type t: "LT-%d,%.1lf" with its pattern
// length (KTGL the line-type record) for 1 <= t <= line_type_count and t <= 8, else the
// solid line ("LT", KTGL line type 0). Returns 0 or -1.
int set_line_type(int t);

// Message 41: closes the PE run and writes width w inches: "PW%1.3lf" in millimetres,
// limited to 297 (KTGL: 40 01 and 1/400 inch, 1..511). A negative or non-finite width
// gives the largest width. Returns 0 or -1.
int set_pen_width(double w);

// Message 15: prints the legend of line types 0..7 through the host.
void list_line_types();
