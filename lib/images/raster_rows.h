// The host's side of raster images: a script's image announced to the driver by
// message 52, and the driver's row requests answered from the image file.
//
// The driver asks for one line of the image at a time, during the plot message that
// follows message 52: a row of the sheet, or a column when the paper is rotated. Each
// line is sampled nearest from the image, from the sheet position in the request; the
// image stands upright on the sheet (its top row along the rectangle's y2 edge). Rows
// and columns come from an image store the file is decoded into once, kept in memory
// up to a budget and beyond it in a temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drawing/script.h"

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

// Forgets every image and failure. The image store's memory budget goes back to the
// environment's KVRAC_IMAGE_MEMORY (megabytes, a whole number from 1), else 256 MB,
// and its temporary files to the system's temporary folder.
void raster_rows_reset();

// Bytes of decoded pixels an image stored for columns may keep in memory (0 = leave
// as it is), and the folder its temporary file goes to when it needs one ("" = the
// system's temporary folder). Holds until the next raster_rows_reset.
void raster_rows_store(size_t memory_budget, const std::string& folder);

// The store budget KVRAC_IMAGE_MEMORY asks for, in bytes: 0 when it is not set, -1
// when it is not a whole number of megabytes from 1 to 1048576.
int64_t raster_rows_env_budget();
