// A PNG decoder of our own on zlib's inflate, for builds without libpng (kvrac.exe).
//
// It fills the same png_reader as the libpng reader of png_image.h and delivers the
// same rows, pixel for pixel: one-bit greyscale stays packed (1 = black, all white when
// black is marked transparent), every other kind becomes red, green, blue bytes with
// samples cut to their high 8 bits, low depths scaled up, palettes looked up and any
// transparency composited over white. It reads one row at a time, so memory stays at
// two rows of the file whatever the image size.
//
// Damaged or malformed files are refused with a short reason in r.error: bad
// signature, CRC or chunk order, a missing or misplaced PLTE, an invalid tRNS,
// unknown critical chunks, sizes over 1,000,000 pixels a side, bad filter types,
// damaged or short compressed data, data beyond the image, a missing IEND.
#pragma once

#include <string>

#include "images/png_image.h"

// Opens path, checks the signature and reads every chunk before the image data.
// Returns 0, or -1 with r.error set. r needs no preparation; close it in every case.
int png_decode_open(png_reader& r, const std::string& path);

// Decodes the next stored row into *row (valid until the next call). Returns 1 for a
// row, 0 after the last one, -1 when the file cannot be decoded (r.error says why;
// later calls return -1 too). The call that delivers the last row also checks the rest
// of the file up to IEND and fails instead when it is damaged.
int png_decode_next(png_reader& r, png_row* row);

// Releases the decoder and closes the file. Harmless on a closed reader.
void png_decode_close(png_reader& r);
