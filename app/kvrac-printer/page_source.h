// The page file (page_spool.h) as an image source: how a job's child process reads
// the page it plots, with no decoding and no copy of the page.
//
// Rows are read from the file a block at a time and handed out as they lie there for a
// one-bit page (its stored form is the raster host's compact form), or widened to red,
// green and blue for a grey page, as a grey PNG of the same dots would give them.
// Starting again (a rotated sheet reads the image once per band of columns) rereads the
// file, which is then in the system's cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "images/image_source.h"

// The page file opener for image_sources_add: a source for path when its first bytes
// are a page file's, null with *why empty when they are not, null with *why set when
// the file is a page file that is damaged, unfinished or short.
std::unique_ptr<image_source> open_page_source(const std::string& path, const uint8_t* head,
                                               size_t head_size, const image_open_options& options,
                                               std::string* why);
