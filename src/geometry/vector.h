// The vector encoder: moves, draws, lifts and filled polygons in either output
// language.
//
// RTL/GL2: HP-GL/2 text in which every run of coordinates is one PE (polyline encoded)
// instruction with relative coordinates, numbers in base 32 (opener "PE7") or base 64
// (opener "PE"). KTGL+MMR: one binary segment record per drawn line and one long
// polygon record per filled polygon.
//
// A small state machine (vec.state) tells whether a PE run is open and what its last
// coordinate pair was. Anything that writes an instruction of its own (pen, line type,
// width, raster) first calls close_vector_run, so that instruction follows a ";".
//
// Coordinates: message points are plotter units (u16); device point = trunc(point *
// runtime.scale_factor) on each axis. Every write goes through the output buffer; a
// failed write ends the operation with -1 and leaves the state where it got to.
//
// Use by the plot handler: job start calls vector_job_start (with out_open and
// pens_job_start); message 3 writes any pending pen reselection and then calls
// vector_move_to; message 4 vector_draw_to; message 8 vector_lift_pen; messages 33
// and 54 choose the fill pen and call vector_fill_polygon. Message 2 sets the state to
// idle before its trailer, whose text begins with ";". The encoder knows nothing of
// host pens or message records: it writes the pens and points it is given.
#pragma once

#include <cstdint>

// Vector states.
enum : int16_t {
    vec_idle = 1,         // no PE run open
    vec_lift_pending = 2, // pen lifted; in RTL/GL2 the "<" flag is already written
    vec_drawing = 4,      // last coordinate pair was pen-down
    vec_moved = 8,        // last coordinate pair was a pen-up move
};

struct device_point {
    int32_t x; // device units
    int32_t y; // device units
};

struct vector_state {
    int16_t state;          // vec_idle, vec_lift_pending, vec_drawing or vec_moved
    int16_t previous_state; // state before the last transition, same values
    device_point current;   // last point written, device units; (0, 0) at job start
    device_point previous;  // current before the last coordinate, device units
    int32_t last_in_x;      // last message point, plotter units 0..65535; -1 at job start
    int32_t last_in_y;      // as last_in_x
    char pe_opener[4];      // "PE7" (base 32) or "PE" (base 64), fixed at job start
    uint8_t pe_base64;      // 1: PE numbers in base 64; 0: base 32; matches pe_opener
    int32_t small_sheet;    // KTGL: 1 = 16-bit coordinate words, 0 = 32-bit; set by the
                            // plot-area messages, 1 at load
    double scale_seen;      // runtime.scale_factor when scale_halves was worked out
    int32_t scale_halves;   // that factor in halves when it is a whole number of them
                            // (every factor the plot area sets), else 0
};

extern vector_state vec;

// Largest polygon vertex count a KTGL polygon record can hold: its word count (2 words
// per vertex in the 16-bit form, 4 in the 32-bit form) is a 16-bit field.
constexpr int ktgl_polygon_max_vertices_16 = 32767;
constexpr int ktgl_polygon_max_vertices_32 = 16383;

// Job start: idle state, device points (0, 0), last input point (-1, -1), and the PE
// opener and base from settings.plot_flags (plot_pe_base64).
void vector_job_start();

// Writes n as one PE number in the job's base. Returns 0 or -1.
int encode_pe_number(int32_t n);

// RTL/GL2: transforms (x, y), updates the point registers and writes the displacement
// from the old current point as two PE numbers, x first. Returns 0 or -1; with the
// abort flag set returns -1 at once, changing nothing.
int put_point_text(uint16_t x, uint16_t y);

// KTGL: transforms and updates as put_point_text; when the state is drawing writes one
// segment record from the previous to the new current point. Returns 0 or -1.
int put_segment(uint16_t x, uint16_t y);

// KTGL: writes a zero-length segment record at the transformed (x, y) whatever the
// state, changing no register (the preamble marks the page corners with it).
// Returns 0 or -1.
int put_mark(int32_t x, int32_t y);

// KTGL: transform and update as put_segment; when the state is drawing the head writes
// the polygon record's head for n vertices with (x, y) absolute, and each vertex call
// one displacement. The caller keeps n within the record's limit. Returns 0 or -1.
int put_polygon_head(uint16_t x, uint16_t y, int n);
int put_polygon_vertex(uint16_t x, uint16_t y);

// Ends an open PE run: in RTL/GL2 writes ";" unless idle; in both languages then
// previous state <- state, state <- idle. Returns 0 or -1 (state unchanged on -1).
int close_vector_run();

// Message 3: pen-up move to (x, y). The caller writes any pending pen reselection
// first. Dropped (0, nothing written) when it repeats the last input point with the
// state unchanged since the message before. Returns 0 or -1.
int vector_move_to(uint16_t x, uint16_t y);

// Message 4: pen-down line to (x, y); sets output.job_drawn. A draw to the point the
// pen was just moved to is a dot and is never dropped; other repeats are, as for
// moves. Returns 0 or -1.
int vector_draw_to(uint16_t x, uint16_t y);

// Message 8: ends the pen-down run (RTL/GL2 writes "<"); nothing from idle or lift
// pending. Returns 0 or -1.
int vector_lift_pen();

// Fills the polygon of n vertices (n pairs of little-endian u16 x, y at vertices):
// closes an open PE run, selects fill_pen for the area ("SP%d"; KTGL the area pen
// record), writes the outline in polygon mode and fills it (KTGL: one polygon record)
// and then, when restore_pen is 0 or more, selects restore_pen the same way. n of 1 or
// less writes nothing and returns 0. Returns -1 without writing anything when n exceeds
// what a KTGL polygon record holds, else 0 or -1 from the writes. Sets
// output.job_drawn; the caller then asks for the line pen to be reselected.
int vector_fill_polygon(int fill_pen, int restore_pen, int n, const uint8_t* vertices);

// The current device point, saved by the raster step around an image, and its restore.
device_point vector_current_point();
void vector_set_current_point(device_point p);
