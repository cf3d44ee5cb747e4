// KTGL record framing shared by the encoders.
//
// A short KTGL record is an opcode byte, a byte giving the number of 16-bit words that
// follow, and those words, most significant byte first. Many set-up records carry one
// word; these helpers build and write them.
#pragma once

#include <cstdint>

#include "output/output.h"

// Bytes of a one-word record.
constexpr int ktgl_word_record_size = 4;

// Builds the one-word record (opcode, 1, word) into out, which holds 4 bytes; keeps
// the low 16 bits of word. Returns 4.
inline int ktgl_word_record(uint8_t opcode, int32_t word, uint8_t* out) {
    out[0] = opcode;
    out[1] = 1;
    return 2 + put_be16(word, out + 2);
}

// Writes the one-word record (opcode, 1, word) to the output buffer. Returns 0 or -1
// as out_write_bytes.
inline int write_ktgl_word_record(uint8_t opcode, int32_t word) {
    uint8_t record[ktgl_word_record_size];
    return out_write_bytes(ktgl_word_record(opcode, word, record), record);
}

// KTGL opcodes of the one-word set-up records.
enum : uint8_t {
    ktgl_line_width = 0x40, // line width in 1/400 inch
    ktgl_line_pen = 0x41,   // pen for lines
    ktgl_line_type = 0x43,  // line type 0..8
    ktgl_area_pen = 0x47,   // pen (and so halftone pattern) for filled areas
};
