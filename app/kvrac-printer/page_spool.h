// One raster page written to a PNG file as its lines arrive, so that a page is never
// held whole in memory: the page a job's child process plots as an image.
//
// Lines come from PAPPL as 1-bit black (1 = black, first pixel in bit 7) or 8-bit
// grey (0 = black). A bi-level page is stored with 1 bit per dot (8-bit lines are
// thresholded at half grey), any other page as 8-bit grey. Compression is the fastest
// zlib offers, with run-length matching: pages are mostly white.
//
// The plot area always has its longer side along x. A page taller than wide is
// therefore stored turned a quarter turn counter-clockwise (its right edge becomes the
// top row), so that its long side lies along the plot's: its lines go to a raw file
// first, which is then read back in bands of columns (about 16 MB at a time) to write
// the turned PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Bytes of page a turn keeps in memory at a time (unless one column is larger).
constexpr size_t page_turn_budget = 16u << 20;

struct page_spool {
    std::FILE* file;          // the PNG being written (or the raw lines of a turned page)
    void* png;                // libpng's write structure; null until the PNG is begun
    void* info;               // libpng's information structure
    std::string path;         // the PNG
    std::string raw_path;     // the raw lines of a turned page ("" when not turned)
    uint32_t width, height;   // page size in dots, as received
    uint32_t rows_written;    // lines received so far
    unsigned in_bits;         // bits per dot of the lines given: 1 or 8
    bool bilevel;             // stored 1 bit per dot
    bool turned;              // stored turned a quarter turn counter-clockwise
    size_t turn_budget;       // bytes of page a turn reads per band
    std::vector<uint8_t> row; // one stored row (as received)
    std::string error;        // what went wrong, after a failure
};

// Creates path for a page of width x height dots whose lines have in_bits (1 or 8) bits
// per dot; bilevel stores 1 bit per dot; a page taller than wide is turned, reading
// turn_budget bytes of it per band. Returns 0, or -1 with s.error set.
int page_spool_open(page_spool& s, const std::string& path, uint32_t width, uint32_t height,
                    unsigned in_bits, bool bilevel, size_t turn_budget = page_turn_budget);

// Stores the next line (width dots in the input form). Returns 0, or -1 (disk full,
// write error) with s.error set and the spool abandoned.
int page_spool_write(page_spool& s, const uint8_t* line);

// Stores white lines up to the page's height, turns the page when it is to be turned,
// writes the end of the PNG and closes it. Returns 0, or -1 with s.error set.
int page_spool_close(page_spool& s);

// Releases everything without finishing the file (after a failure or a cancel).
void page_spool_abandon(page_spool& s);
