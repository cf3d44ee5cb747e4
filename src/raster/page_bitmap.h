// The page bitmap: one raster image held whole as 1-bit rows until it is coded.
//
// The raster stream obtains the bytes and declares the image's device width and row
// capacity; the row conversion fixes the row pitch and appends dithered rows; the MMR
// coder reads the rows back. Bits are packed most significant first: pixel 0 of a row
// is bit 7 of the row's first byte, and a set bit is a black dot.
#pragma once

#include <cstdint>

struct page_bitmap {
    uint8_t* bytes;    // capacity rows of row_bytes each; null when absent
    int32_t row_bytes; // S: bytes per row (a multiple of 4), page_row_bytes(width)
    int32_t width;     // W': image pixels per device row, >= 0; later pixels are padding
    int32_t rows;      // R: rows written so far, 0 .. capacity
    int32_t capacity;  // rows the bytes can hold, >= 0
};

// Bytes per page-bitmap row for an image of width device pixels (width >= 0): the
// width rounded up to a multiple of 32 pixels, plus 32 padding pixels, so 32 to 63
// padding pixels always follow the image. The row pitch P in pixels is 8 times this.
inline int32_t page_row_bytes(int32_t width) {
    return (width / 32 + (width % 32 != 0) + 1) * 4;
}
