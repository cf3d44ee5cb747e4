// Image sources for the formats that need libraries of their own: TIFF (libtiff) and
// JPEG (libjpeg). Programs call image_formats_register() once at start; from then on
// open_image_source() reads these files as it reads PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "images/image_source.h"

// Adds the TIFF and JPEG openers to the image sources. Harmless when called again.
void image_formats_register();

// The openers themselves (image_opener): each claims a file by its first bytes and
// returns null with *why empty for any other.
std::unique_ptr<image_source> open_tiff_source(const std::string& path, const uint8_t* head,
                                               size_t head_size, const image_open_options& options,
                                               std::string* why);
std::unique_ptr<image_source> open_jpeg_source(const std::string& path, const uint8_t* head,
                                               size_t head_size, const image_open_options& options,
                                               std::string* why);

// Largest width or height either source accepts, in pixels: 2^20, beyond any sheet at
// any resolution the printer has, and small enough that a row of 16-bit samples with
// alpha still fits comfortably in memory.
constexpr int64_t image_formats_max_side = int64_t{1} << 20;
