// One raster page written to a PNG file as its lines arrive, so that a page is never
// held whole in memory: the page a job's child process plots as an image.
//
// Lines come from PAPPL as 1-bit black (1 = black, first pixel in bit 7) or 8-bit
// grey (0 = black). A bi-level page is stored with 1 bit per dot (8-bit lines are
// thresholded at half grey), any other page as 8-bit grey. Compression is the fastest
// zlib offers, with run-length matching: pages are mostly white.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct page_spool {
    std::FILE* file;          // the PNG being written; null when closed
    void* png;                // libpng's write structure
    void* info;               // libpng's information structure
    uint32_t width, height;   // page size in dots
    uint32_t rows_written;    // lines written so far
    unsigned in_bits;         // bits per dot of the lines given: 1 or 8
    bool bilevel;             // stored 1 bit per dot
    std::vector<uint8_t> row; // one stored row
    std::string error;        // what went wrong, after a failure
};

// Creates path for a page of width x height dots whose lines have in_bits (1 or 8) bits
// per dot; bilevel stores 1 bit per dot. Returns 0, or -1 with s.error set.
int page_spool_open(page_spool& s, const std::string& path, uint32_t width, uint32_t height,
                    unsigned in_bits, bool bilevel);

// Writes the next line (width dots in the input form). Returns 0, or -1 (disk full,
// write error) with s.error set.
int page_spool_write(page_spool& s, const uint8_t* line);

// Writes white lines up to the page's height, the end of the PNG, and closes the file.
// Returns 0, or -1 with s.error set. Harmless on a closed spool.
int page_spool_close(page_spool& s);

// Releases everything without finishing the file (after a failure or a cancel).
void page_spool_abandon(page_spool& s);
