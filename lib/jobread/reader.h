// The job reader's state, shared by its parts: the byte source, the sheet, the pen and
// the picture. One record per job read; nothing is kept between jobs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "jobread/canvas.h"
#include "jobread/job_reader.h"

// A forward-only byte source over a file or a memory block, read through a buffer.
struct byte_source {
    std::FILE* file = nullptr;    // null: mem below
    const uint8_t* mem = nullptr; // memory block when file is null
    size_t mem_size = 0;
    std::vector<uint8_t> buffer;                 // file bytes [base, base + end)
    size_t pos = 0, end = 0;                     // read position and fill of buffer
    uint64_t base = 0;                           // job offset of buffer[0]
    void (*progress)(uint64_t, void*) = nullptr; // told of each refill (file only)
    void* progress_context = nullptr;
};

// Next byte, or -1 at the end. peek does not advance.
int src_get(byte_source& s);
int src_peek(byte_source& s);
uint64_t src_offset(const byte_source& s);
// Passes over up to n bytes; returns how many were there.
uint64_t src_skip(byte_source& s, uint64_t n);
// Appends up to n bytes to out; returns how many were there.
size_t src_read(byte_source& s, std::vector<uint8_t>& out, size_t n);

// Raster placement: where dot (row r, column c) of the current raster goes, in inches of
// the sheet frame: origin + r * row_step + c * dot_step (each a 2-D vector, one of its
// components zero).
struct raster_frame {
    double ox = 0, oy = 0;
    double row_dx = 0, row_dy = 0;
    double dot_dx = 0, dot_dy = 0;
    bool opaque = true;
};

// The raster being laid onto the picture: the sheet is drawn in canvas pixels, a raster
// row lies along one canvas axis ("along") and rows step along the other ("across").
struct raster_lay {
    bool active = false;
    bool along_x = true;   // the row runs along canvas x
    double a0 = 0, ap = 0; // canvas across coordinate of row r's start: a0 + r * ap
    double b0 = 0, bp = 0; // canvas along coordinate of dot c's start: b0 + c * bp
    int pitch = 0;
    int k0 = 0, k1 = 0;                 // along pixels touched, [k0, k1)
    std::vector<uint32_t> total, black; // dots per along pixel, black dots in the row
    std::vector<uint32_t> acc;          // black dots gathered for one thin canvas line
    int acc_line = -1, acc_rows = 0;
};
struct job_state {
    byte_source src;
    view_request want;
    view_picture* picture = nullptr; // null: summary only
    job_summary* summary = nullptr;
    canvas cv; // the picture being drawn (empty until the sheet is known)
    bool sheet_known = false;
    int page = 1; // page being read, from 1
    bool drawing_page() const { return page == want.page && cv.width > 0; }

    // Sheet frame: inches from the lower left corner of the sheet, x along the drawing's x.
    double units_per_inch = 1016;      // job coordinate units per inch
    double origin_x = 0, origin_y = 0; // job coordinate origin on the sheet, units

    // Pens: grey level by pen number, and the pens in use.
    uint8_t pen_grey[256];
    int line_pen = 7, area_pen = 7;
    double width_in = 0;        // line width, inches (0 = thinnest)
    int line_type = 0;          // 0 solid, 1..8 patterns
    std::vector<int> dash[9];   // per line type: dash, gap, dash, ... in percent
    double pattern_in = 0;      // pattern length of the current line type, inches
    size_t dash_piece = 0;      // piece of the dash pattern the pen is in
    double dash_pos = 0;        // distance into that piece, inches
    uint16_t halftone[256][16]; // fill pattern by grey level (row words, MSB leftmost)
    bool pens_used[256] = {};

    // Unknown instructions: name -> (count, first offset).
    std::map<std::string, std::pair<uint64_t, uint64_t>> unknown;
    std::string error;  // first fault, with its offset
    bool fatal = false; // stop reading

    // The current raster.
    raster_frame frame;
    raster_lay lay;
};

// Shared steps (job_reader.cpp).
void set_sheet(job_state& j, double w_in, double h_in, bool rotated);
void outline_printable(job_state& j, double x0, double y0, double x1, double y1);
void note_unknown(job_state& j, const std::string& name, uint64_t at);
void fail(job_state& j, const std::string& what);
void warn(job_state& j, const std::string& what);
void set_pattern(job_state& j, double length_in);
// The dash pattern starts again at its first piece (after a pen-up move).
void restart_pattern(job_state& j);
// Drawing in job units (converted with units_per_inch and origin).
void draw_line(job_state& j, double x0, double y0, double x1, double y1);
void fill_polygon(job_state& j, const std::vector<double>& xy, int grey);
void grow_extent(job_state& j, double x, double y);
// The same in inches of the sheet frame.
void grow_extent_in(job_state& j, double x_in, double y_in);
// Raster rows: row_bits rows of pitch dots, 1 = black.
// Dots a raster row may have (4,194,304: 582 feet at 600 dpi); wider rasters are not drawn.
constexpr int raster_pitch_limit = 1 << 22;
// Bytes of code one raster piece may hold (the driver codes pieces of about 10 MB); a
// larger piece is passed over, not held.
constexpr uint64_t raster_code_limit = 256u << 20;
void raster_start(job_state& j, const raster_frame& f, int pitch);
void raster_row(job_state& j, const uint8_t* bits, int pitch, int row);
// Ends the raster; rows of pitch dots were decoded (they join the drawn extent).
void raster_stop(job_state& j, int pitch, int rows);

// The two languages.
void read_hpgl_job(job_state& j); // hpgl.cpp: from the first byte, PJL and HP-GL/2 + RTL
void read_ktgl_job(job_state& j); // ktgl.cpp: from the first byte
// PJL lines after a universal exit (pjl.cpp); returns at "\e%" or end of job.
void read_pjl(job_state& j);
// MMR code of one raster piece (mmr_decode.cpp): decodes rows of width dots and hands
// each to raster_row. Returns the rows decoded; a fault is warned with code_at.
int decode_mmr(job_state& j, const std::vector<uint8_t>& code, int width, int rows,
               uint64_t code_at);
