// Test helper: the first HP-RTL raster piece in a job, decoded by libtiff.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "raster/tiff_t6.h"

struct rtl_piece {
    int pitch = 0, rows = 0;   // raster width in pixels and rows, as the piece declares
    std::vector<uint8_t> bits; // rows of pitch / 8 bytes, first pixel in bit 7, 1 = black
    bool black(int row, int x) const { return bits[row * (pitch / 8) + x / 8] >> (7 - x % 8) & 1; }
};

// Finds the first piece at or after `from` ("\e*r%dS\e*r%dT\e*r1A\e*b8M\e*b%dW", the
// pitch as 4 bytes, the MMR code) and decodes it; a test fails when there is none or
// the code does not decode (without libtiff the bits stay empty).
inline rtl_piece decode_rtl_piece(const std::string& s, size_t from = 0) {
    rtl_piece p;
    size_t at = s.find("\x1B*r", from);
    int code_bytes = 0;
    if (at == std::string::npos ||
        std::sscanf(s.c_str() + at, "\x1B*r%dS\x1B*r%dT\x1B*r1A\x1B*b8M\x1B*b%dW", &p.pitch,
                    &p.rows, &code_bytes) != 3) {
        ADD_FAILURE() << "no raster piece";
        return p;
    }
#ifdef KVRAC_HAVE_TIFF
    size_t data = s.find('W', at) + 1 + 4; // after the block's first word, the pitch
    EXPECT_EQ(t6::decode(reinterpret_cast<const uint8_t*>(s.data() + data), code_bytes - 4, p.pitch,
                         p.rows, p.bits),
              "");
#endif
    return p;
}
