// A whole image decoded once and kept for reading in another order than its source
// delivers: columns left to right (a rotated sheet) or rows of an interlaced file.
//
// The source is read in a single pass. When the compact image (bits for one-bit
// images, red-green-blue bytes otherwise) fits the memory budget it is kept whole in
// memory; otherwise it goes through a temporary file (created in a folder the caller
// names, removed on close, on failure and on a stopping signal) laid out band by band,
// so that each band of columns, or of rows, is read back with one seek. No image is
// ever decoded twice, and the work grows linearly with the image's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "images/image_source.h"

// Bytes of decoded pixels an image keeps in memory unless told otherwise.
constexpr size_t image_store_default_budget = size_t{256} << 20;

// How the held band is laid out.
enum class image_store_order {
    columns, // bands of whole columns, top to bottom: bits (bit 7 of a column's first
             // byte is row 0) or 3-byte pixels
    rows,    // bands of whole rows: rows of bits (mono) or of 3-byte pixels, left to right
};

struct image_store {
    int32_t width = 0, height = 0; // the image's size in pixels, >= 1 each
    bool mono = false;             // one bit a pixel, 1 = black; else 3 bytes a pixel
    image_store_order order = image_store_order::columns; // how bands run
    int32_t band_span = 0;     // columns (or rows) a band holds, except perhaps the last
    int32_t b0 = 0, b1 = 0;    // columns (or rows) b0..b1-1 are held in band; b0 == b1: none
    size_t stride = 0;         // bytes from one line of the band to the next: a column of
                               // bits (mono, columns order) or a row (every other case)
    std::vector<uint8_t> band; // the held pixels, laid out as order says
    // The temporary file; null when the whole image is held in memory.
    std::FILE* file = nullptr;
    std::vector<char> file_buffer; // its stdio buffer, alive as long as the file
    std::string path;              // its name; "" = none
    int guard = -1;                // its slot in the signal cleanup, -1 = none
    int64_t staged_bytes = 0;      // interlaced source: bytes of its rows staged at the file's
                              // start (row-major, one full row each) before the bands; 0 = none
    int32_t chunk_rows = 0; // rows taken from the source per write (mono: a multiple of 8)
    std::vector<int64_t> band_offset; // where each band starts in the file
};

// Decodes every row of source (opened, not yet read) into st, ordered for `order`,
// holding at most about budget bytes of pixels in memory; a temporary file in folder
// ("" = the system's temporary folder) takes the rest. Returns 0 with the first band
// held, or -1 with *why saying what failed (the source's error in its own words, or
// the temporary file and the system's reason); st is then closed.
int image_store_fill(image_store& st, image_source& source, image_store_order order, size_t budget,
                     const std::string& folder, std::string* why);

// Makes the band that holds column (columns order) or row (rows order) `at` the held
// one. Returns 0, or -1 with *why naming the temporary file and the system's reason.
int image_store_hold(image_store& st, int32_t at, std::string* why);

// Frees the pixels and removes the temporary file. Harmless on a store closed before
// or never filled.
void image_store_close(image_store& st);

// The most pixels an image may have: four times the largest sheet the driver offers
// at its highest resolution. Larger images are refused before they are decoded.
int64_t image_pixels_limit();

// Says why an image of width x height pixels is refused (its size against the
// limit), or "" when it may be decoded.
std::string image_size_refusal(int64_t width, int64_t height);
