// The job's output buffer and its hand-over to the host's write service.
//
// Every byte of a print job, HP-GL/2 text or KTGL records, is appended here and leaves
// the driver only through host_write. The buffer exists from job start (out_open) to
// job end (out_close); outside a job every write succeeds and drops its bytes. Once the
// abort flag is latched every write and flush is refused (the refusal rule below), so a
// job that failed once ends quietly.
//
// The refusal rule: out_fill <- 0, job_drawn <- 0, runtime.job_copies <- 1, result -1.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>

#include "host/host_services.h"

// Usable capacity of the buffer in bytes; the block holds 8 more that are never written.
constexpr int32_t out_capacity = 0x200000;
constexpr int32_t out_block_size = out_capacity + 8;

// Bytes handed to one call of the host's write service.
constexpr int32_t out_piece_size = 128;

struct output_state {
    uint8_t* out_buffer; // the job's block of out_block_size bytes; null outside a job
    int32_t out_fill;    // bytes waiting in out_buffer, 0..out_capacity-1 between calls
    uint8_t job_drawn;   // 1 once a line or polygon was drawn in this job, else 0
};

extern output_state output;

// Obtains a zero-filled block for a new job (releasing one still held) and empties
// it. Returns 0, or -1 when memory is exhausted (the buffer is then none; the caller
// reports it and latches the abort flag).
int out_open();

// Releases the block, if any, and empties the buffer: out_buffer becomes none and
// out_fill 0. Waiting bytes are discarded; flush first to keep them.
void out_close();

// Appends the bytes of a NUL-terminated string, without the NUL. Returns 0 when the
// bytes were buffered or sent (or dropped because no job is open), -1 when refused
// (abort flag set) or when a transfer failed. The buffer is emptied only when it cannot
// take the whole piece; a piece is split between transfers only when it is
// out_capacity bytes or longer.
int out_write_string(const char* text);

// Appends count bytes from bytes; same results as out_write_string. A negative count,
// or a null pointer with a positive count, is a caller error: -1, nothing changes.
int out_write_bytes(int32_t count, const void* bytes);

// Bytes a caller may store in place at out_room.
constexpr int32_t out_room_short = 16;

// The end of the open buffer, where a caller may store up to out_room_short bytes in
// place and then take count of them with out_commit: the way a move's or draw's few
// bytes are appended, with no copy and no call. Null when they must go through
// out_write_bytes instead: no job open, the abort flag latched, or less room than
// that left (bytes stored past the count committed are ignored).
inline uint8_t* out_room() {
    if (!output.out_buffer || host_link.abort_flag != abort_clear ||
        out_capacity - output.out_fill <= out_room_short)
        return nullptr;
    return output.out_buffer + output.out_fill;
}

// Appends the first count (0..out_room_short) bytes stored at out_room's answer.
inline void out_commit(int32_t count) {
    assert(count >= 0 && count <= out_room_short);
    output.out_fill += count;
    assert(output.out_fill < out_capacity);
}

// Hands the waiting bytes to host_write in pieces of out_piece_size bytes and one
// shorter last piece. Returns 0 when all were accepted (or no job is open), -1 when
// refused or when the host rejected a piece: the transfer-failure text is printed once,
// the abort flag latched at 255, the rest dropped and the refusal rule applied.
int out_flush();

// Big-endian converters for KTGL records. Each stores the value's bytes, most
// significant first, at dest and returns their number (4, 2, 1). Only those bytes are
// stored. put_be16 keeps the low 16 bits of its argument (so -1 gives FF FF);
// put_be8 takes a value in 0..255 and keeps its low 8 bits.
int put_be32(int32_t value, uint8_t* dest);
int put_be16(int32_t value, uint8_t* dest);
int put_be8(int32_t value, uint8_t* dest);
