// Reading a print job back: a picture of the sheet and a summary of what the job holds.
//
// The reader takes a job in either output language (PJL + HP-GL/2 + HP-RTL raster, or
// KTGL+MMR) as `kvrac plot` writes it and reads it once, front to back, through a small
// buffer. It keeps only the picture, one raster piece's code and one decoded raster row,
// so memory does not grow with the job's length. Faults are reported with the byte
// offset where they were found; an instruction the reader does not know is counted and
// skipped, and the rest of the job still renders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What to render. dpi 0 picks the resolution that makes the sheet's long side
// long_side pixels.
struct view_request {
    double dpi = 0;                 // picture resolution, dots per inch (0 = from long_side)
    int long_side = 2000;           // pixels along the sheet's long side when dpi is 0
    int page = 1;                   // page to render, from 1
    bool picture = true;            // false: summary only, nothing is drawn
    int64_t max_pixels = 1LL << 30; // larger pictures are refused (use a lower dpi)
    // Called with the bytes read so far each time another megabyte of a file is read.
    void (*progress)(uint64_t bytes_read, void* context) = nullptr;
    void* progress_context = nullptr;
};

// The rendered sheet: one grey byte a pixel, 0 black, 255 white, rows top first.
struct view_picture {
    int width = 0, height = 0;
    double dpi = 0;
    std::vector<uint8_t> grey;
};

// Bytes of the job by kind.
struct job_bytes {
    uint64_t pjl = 0;     // PJL lines and the escapes around them
    uint64_t setup = 0;   // HP-GL/2 set-up, pen colours, KTGL patterns and pen definitions
    uint64_t vectors = 0; // lines and polygons (PE runs, KTGL segments and polygons)
    uint64_t raster = 0;  // raster images (framing and MMR code)
    uint64_t other = 0;   // everything else (pen, width and line-type changes, page records)
};

struct job_summary {
    std::string language;                  // "HP-GL/2 + HP-RTL" or "KTGL+MMR"
    double sheet_w_in = 0, sheet_h_in = 0; // sheet in the drawing's frame, inches
    bool rotated = false;                  // drawing x runs along the paper's length
    int copies = 0;                        // 0 = not stated
    std::string label;                     // job label, if any
    std::vector<std::string> pjl;          // PJL settings (finisher programme, margins, bin, ...)
    bool manual_feed = false;              // KTGL manual-feed record / XF4,1
    int pages = 0;                         // pages ended in the job
    uint64_t lines = 0, polygons = 0, images = 0;
    std::vector<int> pens; // pens that drew or filled, ascending
    bool drawn = false;    // extent below is valid
    double min_x_in = 0, min_y_in = 0, max_x_in = 0, max_y_in = 0; // drawn extent, sheet frame
    job_bytes bytes;
    uint64_t total_bytes = 0;
    std::vector<std::string> unknown; // "XY x3 (first at byte N)", one entry per kind
    std::vector<std::string> warnings;
};

// Reads a job from f (or from memory with read_job_memory). Returns 0 when the whole job
// was read, 1 when it was read in part (a fault was found: error says what and where;
// the picture and summary hold what came before it), 2 when it is not a job at all
// or the picture cannot be made.
int read_job_file(std::FILE* f, const view_request& want, view_picture* picture,
                  job_summary* summary, std::string* error);
int read_job_memory(const uint8_t* data, size_t size, const view_request& want,
                    view_picture* picture, job_summary* summary, std::string* error);

// Writes a picture as an 8-bit greyscale PNG. Returns 0, or -1 with why.
int write_picture_png(const view_picture& picture, const std::string& path, std::string* why);
