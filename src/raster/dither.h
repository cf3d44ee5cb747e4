// Raster row conversion: source rows from the host to 1-bit page-bitmap rows.
//
// Each source row is enlarged by the replication factor, cleared where it matches the
// transparency key, turned into grey levels through the colour-correction table and
// dithered with a fixed 16 x 16 ordered-dither matrix into the page bitmap.
#pragma once

#include <cstdint>

#include "raster/page_bitmap.h"

// Source row formats.
enum : int32_t {
    raster_mode_colour = 0, // three bytes per pixel: red, green, blue
    raster_mode_mono = 1,   // one byte per pixel: 0 = background, else foreground colour
};

// Starts the conversion of one image into page. The caller has set page->bytes,
// page->width (device pixels per row, the source width times n) and page->capacity,
// and the bytes hold at least capacity * page_row_bytes(width) bytes. Sets
// page->row_bytes to page_row_bytes(width) and page->rows to 0. n is the replication
// factor (each source pixel becomes n x n device pixels); when transparent is nonzero,
// pixels whose colour equals (key_red, key_green, key_blue) are made white. Reads the
// colour-correction table now: changes to it take effect at the next image.
// Returns 0, or -1 (nothing started) when n < 1, the width or capacity is negative,
// the bytes are absent while capacity > 0, or memory cannot be obtained.
int raster_rows_begin(page_bitmap* page, int32_t n, int32_t transparent, uint8_t key_red,
                      uint8_t key_green, uint8_t key_blue);

// Converts one source row of count pixels (in colour mode the row's byte count divided
// by 3; trailing bytes of an incomplete pixel are never read) and appends n rows to the
// page bitmap, dithered with consecutive matrix rows counted from the image's first
// device row. In mono mode nonzero bytes take the colour (fg_red, fg_green, fg_blue)
// and zero bytes white; in colour mode the foreground is ignored. Pixels beyond the
// image's declared source width are dropped; a shorter row, including one of 0 pixels,
// is completed with white, so every row keeps its place. Returns 0 when all n rows were
// added; -1 when no image is open, count < 0, pixels is null while count > 0 or mode is
// unknown (nothing added), or when the bitmap was full (the rows that fit are added).
int raster_add_row(int32_t count, const uint8_t* pixels, int32_t mode, uint8_t fg_red,
                   uint8_t fg_green, uint8_t fg_blue);

// Ends the image's conversion and releases the row conversion's own memory. The page
// bitmap is left to its owner. Harmless when no image is open.
void raster_rows_end();

// Entry (row, col) of the 16 x 16 ordered-dither matrix, both taken modulo 16: each of
// 1 .. 256 appears once. A pixel of grey level L (0 = white, 255 = black) in matrix
// position (row, col) is black when L >= the entry, and always when L = 255.
int raster_threshold(int row, int col);

// Sets rgb to the basic colour of a one-bit image's colour index: 0 white, 1 red,
// 2 yellow, 3 green, 4 cyan, 5 blue, 6 magenta, 7 black; 8 or more is black. Returns 0,
// or -1 for a negative index, which is invalid and is also given black so the image
// stays visible.
int raster_basic_colour(int32_t index, uint8_t rgb[3]);
