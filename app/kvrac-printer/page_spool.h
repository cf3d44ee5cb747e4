// One raster page written to a page file as its lines arrive, so that a page is never
// held whole in memory: the page a job's child process plots as an image, read back by
// the page source (page_source.h) with no decoding.
//
// Lines come from PAPPL as 1-bit black (1 = black, first pixel in bit 7) or 8-bit
// grey (0 = black). A bi-level page is stored with 1 bit per dot (8-bit lines are
// thresholded at half grey), any other page as 8-bit grey.
//
// The plot area always has its longer side along x. A page taller than wide is
// therefore stored turned a quarter turn counter-clockwise (its right edge becomes the
// top row), so that its long side lies along the plot's: its lines are gathered in a
// band of a few megabytes, and each full band is turned and written in one piece as a
// tile of the file (a piece of every stored row, one after another), so the page is
// written once and with a few large writes.
//
// The page file, all numbers little-endian:
//   0   8 bytes  page_file_magic
//   8   u32      stored width in dots (pixels per row), >= 1
//   12  u32      stored height in dots (rows), >= 1
//   16  u16      bits per dot: 1 (1 = black, first dot in bit 7, unused bits 0)
//                or 8 (grey, 0 = black)
//   18  u16      page_file_complete once every row is written, else 0
//   20  u32      bytes per row: (width + 7) / 8 for 1 bit per dot, else width
//   24  u32      tile width in dots: 0 when the rows lie whole one after another;
//                else a multiple of 8 for 1 bit per dot, at most the width
//   28  4 bytes  zero
//   32  the rows, top to bottom, each exactly as long as the row size says; or, with
//       a tile width T, the tiles left to right: tile k holds dots kT .. kT + T - 1
//       (fewer in the last) of every row, row after row, each row's piece in whole
//       bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Bytes of page a turn gathers before writing them (unless 8 lines are larger).
constexpr size_t page_turn_budget = 16u << 20;

// First bytes of a page file.
constexpr uint8_t page_file_magic[8] = {0x89, 'K', 'V', 'P', 'A', 'G', 'E', '\n'};
// Header size: where the first row starts.
constexpr size_t page_file_header_size = 32;
// Offsets of the header's fields.
constexpr int page_file_width = 8, page_file_height = 12, page_file_bits = 16, page_file_state = 18,
              page_file_row_bytes = 20, page_file_tile_dots = 24;
// page_file_state of a page whose every row has been written.
constexpr uint16_t page_file_complete = 1;

struct page_spool {
    std::FILE* file;           // the page file being written; null when closed or abandoned
    std::string path;          // the page file
    uint32_t width, height;    // page size in dots, as received
    uint32_t rows_written;     // lines received so far
    unsigned in_bits;          // bits per dot of the lines given: 1 or 8
    bool bilevel;              // stored 1 bit per dot
    bool turned;               // stored turned a quarter turn counter-clockwise
    size_t line_bytes;         // bytes of one received line as stored (before turning)
    size_t row_bytes;          // bytes of one stored row (after turning)
    size_t turn_budget;        // bytes of page a turn gathers per band
    uint32_t band_lines;       // turned: lines a band holds (a multiple of 8 when bi-level)
    uint32_t band_first;       // turned: page line of the band's first line
    std::vector<uint8_t> row;  // one received line in stored form (unturned pages)
    std::vector<char> buffer;  // stdio buffer of an unturned page's file
    std::vector<uint8_t> band; // turned: band_lines lines in stored form
    std::vector<uint8_t> turn; // turned: the band turned, one piece per stored row
    std::string error;         // what went wrong, after a failure
};

// Creates path for a page of width x height dots whose lines have in_bits (1 or 8) bits
// per dot; bilevel stores 1 bit per dot; a page taller than wide is turned, gathering
// turn_budget bytes of it per band. The file's whole size is reserved at once, so a full
// disk is reported here rather than after the page has arrived. Returns 0, or -1 with
// s.error set and nothing left behind.
int page_spool_open(page_spool& s, const std::string& path, uint32_t width, uint32_t height,
                    unsigned in_bits, bool bilevel, size_t turn_budget = page_turn_budget);

// Stores the next line (width dots in the input form). Returns 0, or -1 (disk full,
// write error) with s.error set and the spool abandoned.
int page_spool_write(page_spool& s, const uint8_t* line);

// Stores white lines up to the page's height, writes what a turn still holds, marks the
// file complete and closes it. Returns 0, or -1 with s.error set and the file removed.
int page_spool_close(page_spool& s);

// Closes and removes the file without finishing it (after a failure or a cancel).
void page_spool_abandon(page_spool& s);
