// Turning one-bit pixels a quarter turn, eight by eight: how the image store lays
// one-bit images out as columns and the printer application turns portrait pages.
#pragma once

#include <cstdint>

// Turns an 8 x 8 block of one-bit pixels: in[i] is row i (its first pixel in bit 7);
// out[k] receives pixel k of every row, row 0 in bit 7. Three rounds of swapping
// bit groups within one 64-bit word.
inline void turn_bit_block(const uint8_t in[8], uint8_t out[8]) {
    uint64_t x = 0;
    for (int i = 0; i < 8; ++i) x = x << 8 | in[i];
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    for (int k = 7; k >= 0; --k, x >>= 8) out[k] = static_cast<uint8_t>(x);
}
