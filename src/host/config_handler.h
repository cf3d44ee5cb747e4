// The configuration message handler and the plot-area computations it shares with the
// plot handler.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// Handles one configuration message in a host-owned record of at least 2,064 bytes.
// Returns 0, or -1 for a failed identification (message 49).
int KVRAC_CDECL config_handler(uint8_t* record);

// Smallest power of two that keeps both lengths (inches) within 65,532 device steps of
// the current output language (1016 steps per inch in RTL/GL2, 800 in KTGL+MMR).
int coordinate_divisor(double a, double b);

// 1 when both lengths (inches) are below 40.9575 (32,766 steps at 800 per inch).
int fits_signed_range(double a, double b);

// Answers message 49 (shared by both handlers): clears the abort flag, copies the
// identification and checks the caller. Returns 0 or -1.
int identify_driver(uint8_t* record);

// Printable sides of the chosen format: patches a custom row's length with
// custom_length_mm, sets mode_flags bit 12 and paper_unrotated from the format's
// orientation, and returns in *a the side along the paper's length when the paper is
// rotated (else along its width) and in *b the other, each less its two margins.
// runtime.margins must be current (set_margins).
void printable_sides(double* a, double* b);

// Coordinate divisor, steps per inch and scale factor for a plot area of a x b inches
// in the current output language, kept in `runtime`.
void set_plot_scale(double a, double b);
