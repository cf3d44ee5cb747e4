// Halftone patterns for KTGL+MMR fills.
//
// In KTGL+MMR mode the driver renders grey itself: each pen is filled with one of 256
// nested 16 x 16 dot patterns, pattern 0 solid black, pattern 255 white. The patterns
// come from one threshold matrix (a dot is black in pattern k when its step number
// exceeds k) and are held expanded as row words, most significant bit the leftmost dot.
#pragma once

#include <cstdint>

constexpr int halftone_patterns = 256;
constexpr int halftone_rows = 16;
constexpr int halftone_pattern_bytes = 2 * halftone_rows;

// Row word r (0..15) of pattern k (0..255).
uint16_t halftone_row(int k, int r);

// The tone curve: a grey level 0..255 to a lighter one 0..255, non-decreasing.
int tone_curve(int grey);

// Stores the 16 row words of pattern k (0..255), most significant byte first, in the
// 32 bytes at dest.
void expand_pattern(int k, uint8_t* dest);

// Writes the 256 KTGL pattern records: record i carries pattern T(T(T(i))) for grey
// level i (the tone curve applied three times). Runs to the end; returns -1 when any
// write failed, else 0.
int download_halftone_patterns();
