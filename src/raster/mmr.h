// MMR coder: ITU-T T.6 two-dimensional coding of 1-bit page-bitmap rows.
//
// A piece is a run of consecutive page-bitmap rows coded as one independent MMR image:
// fresh bit writer, an all-white reference line above the first row, every row coded
// against the one above it, and the end-of-facsimile-block code at the end. Rows are
// packed most significant bit first (pixel 0 is bit 7 of the row's first byte), 1 is
// black; rows are never byte-aligned in the code.
//
// Calling order for a piece: mmr_reset, mmr_white_line on the reference list,
// mmr_code_rows, mmr_end_block, to_transmission_order (mmr_code_piece does all five).
// The coded buffer is bounded: a code that would not fit stops being stored and the
// piece reports failure instead of writing past the buffer.
#pragma once

#include <cstdint>

// One code of the T.4/T.6 tables, left-aligned in 32 bits (first bit is bit 31).
struct mmr_code {
    uint32_t bits;  // the code, left-aligned; bits below the code are 0
    int32_t length; // number of code bits, 1..13
};

// Run-length code tables, one per colour: index = run for runs 0..63 (terminating
// codes), 63 + run / 64 for the make-up codes of 64..2560 (multiples of 64).
constexpr int mmr_run_table_size = 104;
extern const mmr_code mmr_white_codes[mmr_run_table_size];
extern const mmr_code mmr_black_codes[mmr_run_table_size];

// Mode codes: 0 = V0, 1..3 = VR1..VR3 (a1 right of b1), 4..6 = VL1..VL3 (a1 left of b1).
extern const mmr_code mmr_vertical_codes[7];
extern const mmr_code mmr_pass_code;       // 0001
extern const mmr_code mmr_horizontal_code; // 001
extern const mmr_code mmr_eol_code;        // 000000000001

// Number of int32 entries one run list of a row of `width` pixels may need (count,
// pairs, closing pair and two trailing copies of the width that the coder reads as
// sentinels). width >= 1.
int32_t mmr_list_entries(int32_t width);

// Builds the run list of one row: list[0] = number of pairs including the closing
// pair, then the pairs (start, end) of the row's black runs (end exclusive), then the
// closing pair (width, width) and two more copies of width. Only the first `width`
// pixels of the row are read (ceil(width / 8) bytes); bits beyond are ignored. The
// list must hold mmr_list_entries(width) entries. Returns the pair count.
int32_t mmr_row_runs(const uint8_t* row, int32_t width, int32_t* list);

// Sets a run list to the all-white line of `width` pixels: the single pair (width,
// width) and its sentinels.
void mmr_white_line(int32_t* list, int32_t width);

// Starts a piece: the bit writer empties and will store 32-bit words at `coded`, never
// beyond `capacity` bytes. width is the coded width P in pixels (>= 1; need not be a
// multiple of 32).
void mmr_reset(uint8_t* coded, int32_t capacity, int32_t width);

// Codes `rows` rows starting at first_row, each `stride` bytes after the previous one,
// against the reference list (which the caller sets, normally with mmr_white_line).
// current and reference each hold mmr_list_entries(width) entries; the two swap roles
// after every row. Requires stride * 8 >= width. Returns 0, or -1 when the arguments
// are unusable (negative rows, too short a stride: nothing is read) or the code has
// outgrown the coded buffer.
int mmr_code_rows(const uint8_t* first_row, int32_t rows, int32_t stride, int32_t* current,
                  int32_t* reference);

// Writes the end-of-facsimile-block code (two end-of-line codes) and flushes the last
// word: a partly filled word is stored whole (low bits 0) and counts 2 bytes when it
// held fewer than 16 code bits, else 4. Returns the byte count of the piece (always
// even), or -1 when some word did not fit in the coded buffer.
int32_t mmr_end_block();

// Appends `length` (1..32) bits of a left-aligned code. Returns 0, -1 once the coded
// buffer is full (the bits are then dropped).
int mmr_put_bits(uint32_t code, int32_t length);

// Appends the code of a run (>= 0) from a colour's table: make-up codes while the run
// is 64 or more (2560 for runs of 2624 or more), then the terminating code. Returns as
// mmr_put_bits.
int mmr_put_run(const mmr_code* table, int32_t run);

// Puts the stored words in transmission order: every word touched by `count` bytes
// (including the last, partly counted one) is rewritten most significant byte first.
void to_transmission_order(uint8_t* coded, int32_t count);

// Codes one piece in the order above into `coded` (capacity bytes) with lists holding
// 2 * mmr_list_entries(width) entries. Returns the byte count C of the transmission-
// ordered code, or -1 when the code did not fit or the arguments are unusable.
int32_t mmr_code_piece(const uint8_t* first_row, int32_t rows, int32_t stride, int32_t width,
                       int32_t* lists, uint8_t* coded, int32_t capacity);

// Bytes that always suffice for the code of `rows` rows of `width` pixels: no coding
// step spends more than 7 bits per pixel it advances over, plus a few codes per row
// and the end-of-block. Saturates at INT32_MAX.
int64_t mmr_worst_case_bytes(int32_t rows, int32_t width);
