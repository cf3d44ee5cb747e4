// The raster stream: one raster image from start escape to end escape.
//
// The image is held whole as a page bitmap (filled row by row by raster_add_row,
// raster/dither.h), then MMR-coded in one piece or, when the code could outgrow about
// 10 MiB, in bands of a multiple of 32 rows, and framed for the output language:
// HP-RTL raster graphics with compression method 8 in RTL/GL2 mode, KTGL raster
// records in KTGL+MMR mode. Every byte goes straight to the host's write service
// (host_write), not through the output buffer; the caller has flushed that first.
//
// Calling order for one image: select_resolution, raster_begin,
// raster_add_row for every source row, raster_finish, raster_end. raster_end may also
// come without raster_finish, when the caller gives up fetching rows.
#pragma once

#include <cstdint>

// Largest estimated code, 4 x rows x (row bytes + 100), sent as one piece.
constexpr int64_t raster_piece_limit = 10485760;

// Sets the raster resolution from bits 8..11 of mode_flags: 0x100 = 600, 0x200 = 400,
// 0x400 = 300, 0x800 = 200 dpi. Any other value keeps the resolution in force, and
// before any was chosen gives 600 dpi in RTL/GL2 mode (ktgl == 0) and 400 dpi in
// KTGL+MMR mode. In RTL/GL2 mode the resolution escape sent at each stream start
// becomes that resolution's "\e*t<dpi>R". Returns the resolution in dpi, never 0.
int32_t select_resolution(uint16_t mode_flags, int32_t ktgl);

// Rows per band for an image of `rows` rows: 32 x ceil(q / 32) with q = rows / 32,
// and never 0: an image of fewer than 32 rows is one band of all its rows.
int32_t raster_band_rows(int32_t rows);

// Opens the stream of an image of width x height source pixels, each becoming an
// n x n block of device pixels (W' = width x n, H' = height x n): sends the stream
// start (RTL: "\e%1A", "\e&a0N", the resolution escape; KTGL: the 400 or 200 dpi
// resolution record), obtains the page bitmap for H' rows and starts the row
// conversion with the transparency key. ktgl selects KTGL+MMR framing; band_axis 1
// lays bands along x, else along y; (ktgl_x, ktgl_y) place the image in KTGL mode.
// A previous image still open is dropped silently. When the page bitmap cannot be
// obtained (or the sizes are unusable: n < 1, negative sizes, over 2 GiB), the memory
// message is printed and the image is dropped: rows are refused, raster_finish sends
// nothing, raster_end still closes the stream. Returns 0.
int raster_begin(int32_t width, int32_t height, int32_t n, int32_t ktgl, int32_t band_axis,
                 int32_t ktgl_x, int32_t ktgl_y, int32_t transparent, uint8_t key_red,
                 uint8_t key_green, uint8_t key_blue);

// 1 when the open image was given up (no memory for its bitmap or unusable sizes):
// the caller stops fetching its rows, which would only be thrown away. 0 otherwise.
int raster_image_dropped();

// Codes and sends the rows held: one piece when 4 x R x (S + 100) <= raster_piece_limit,
// else bands of raster_band_rows(R) rows, each an independent MMR image, with a band
// move before every band but the first. Sends nothing when no row is held or the
// image was dropped. A piece whose code outgrows its buffer is coded again into a
// buffer of the worst-case size; if memory runs out the memory message is printed and
// the remaining pieces are dropped. Returns 0.
int raster_finish();

// Closes the stream (RTL: "\e*rC", "\e%0B"; KTGL: image mode off and the 400 dpi
// resolution record) when one is open, ends the row conversion and releases every
// buffer. Harmless when no stream is open.
void raster_end();
