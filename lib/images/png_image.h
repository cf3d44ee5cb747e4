// PNG files for plot scripts, read row by row with libpng or, in builds without it,
// with the decoder of png_decode.h; both give the same rows.
//
// Images on a sheet can be large (a 600-dpi A0 scan is about 20,000 x 28,000 pixels),
// so nothing here holds a whole image: a reader hands out one stored row at a time,
// already in the compact form the raster host keeps (bits for one-bit greyscale
// images, red-green-blue bytes composited over white for every other kind). An
// interlaced file delivers its seven passes in turn; each row says which image pixels
// it carries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "images/image_source.h"

// What the header of a PNG file says.
struct png_header {
    int32_t width;      // pixels per row, >= 1
    int32_t height;     // rows, >= 1
    uint8_t mono;       // 1: one-bit greyscale, sent as a one-bit image; 0: colour
    uint8_t interlaced; // 1: Adam7 passes; 0: rows top to bottom
};

// One row as a reader delivers it (see image_source.h).
using png_row = image_row;

// A PNG file being decoded. Fields are the reader's own; use the functions below.
struct png_reader {
    std::FILE* file;           // the open file; null when closed
    void* png;                 // libpng's read structure, or the decoder's state; null = closed
    void* info;                // libpng's information structure (null for the decoder)
    png_header header;         // the file's header
    int32_t pass;              // pass being read, 0..6 (always 0 when not interlaced)
    int32_t pass_row;          // next row within the pass
    int32_t channels;          // colour: 4 with transparency to composite, else 3
    uint8_t black_transparent; // mono: the file marks black as transparent (all white)
    std::vector<uint8_t> raw;  // one row as decoded, before its compact form
    std::vector<uint8_t> out;  // the same row in compact form
    char error[200];           // what went wrong, after a failure
    void* walk;                // libpng reader only: its own check of the file's chunks
    uint8_t palette[256][3];   // libpng reader, indexed images: the PLTE entries
    uint8_t alpha[256];        // their opacities from tRNS, 255 past those given
    int32_t palette_count;     // PLTE entries the bit depth can index; 0 when not indexed
};

// A colour sample c (0 .. 255) with opacity a (0 .. 255) composited over white,
// rounded: how both readers turn pixels with transparency into plain colour.
inline uint8_t png_over_white(unsigned c, unsigned a) {
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// Opens path and reads the header and every chunk before the image data. Returns 0,
// or -1 with r.error set (file missing or unreadable, not a PNG, damaged header,
// sizes beyond 2^31). r needs no preparation; close it in every case.
int png_reader_open(png_reader& r, const std::string& path);

// Decodes the next stored row into *row (valid until the next call). Returns 1 for a
// row, 0 after the last one, -1 when the data cannot be decoded (r.error says why;
// later calls return -1 too). The call that delivers the last row also reads the rest
// of the file up to IEND and fails instead when it is damaged, so that both readers
// accept and refuse the same files.
int png_reader_next(png_reader& r, png_row* row);

// Releases the decoder and closes the file. Harmless on a closed reader.
void png_reader_close(png_reader& r);

// Reads just the header of path into *header. Returns 0, or -1 with *why set.
int png_probe(const std::string& path, png_header* header, std::string* why);
