// The host's side of raster images: a script's image announced to the driver by
// message 52, and the driver's row requests answered from the PNG file.
//
// The driver asks for one line of the image at a time, during the plot message that
// follows message 52: a row of the sheet, or a column when the paper is rotated. Each
// line is sampled nearest from the PNG, from the sheet position in the request. The
// PNG is decoded into a band of pixels kept in compact form (one bit per pixel for
// one-bit images, three bytes for colour) and never held whole when it is larger than
// the band budget: rows advance through the file in one pass, columns take one pass
// per band of columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drawing/script.h"

// Bytes of decoded pixels one image keeps at most (unless a single row or column of
// the band is larger).
constexpr size_t raster_band_budget = 16u << 20;

// Fills the message 52 record for img: the host's row functions, the image's host
// value, corners, size, kind (0 and 1 bit per pixel for a one-bit PNG, else 1 and 8),
// transparency and colour index. Keeps the image ready to answer requests until
// raster_rows_settle releases it. Returns the image's host value (never 0).
int32_t raster_rows_announce(const script_image& img, uint8_t* record);

// After a plot message: ends the progress line of any image sent during it and
// releases every image but the one whose host value is keep (0 = release all).
void raster_rows_settle(int32_t keep);

// The first image that could not be decoded: its script line (0 = none) and why.
long raster_rows_failed_line();
const std::string& raster_rows_failure();

// Forgets every image and failure and sets the band budget in bytes (for tests;
// raster_band_budget otherwise).
void raster_rows_reset(size_t band_budget);
