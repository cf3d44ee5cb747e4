// The job's output buffer.
//
// Workload: a job appends many short pieces (an HP-GL/2 instruction or a PE number of
// a few bytes, a KTGL record of 4 to 20 bytes) and only a few large ones (the 8 KB
// pattern download). Appends must be plain copies, and the moves' and draws' pieces
// are stored in place by their callers (out_room, output.h); the host's write
// service is called only when the 2 MB buffer cannot take the next piece and at job
// end, each time in slices of 128 bytes, which is what the host's port driver takes
// per call.
#include "output/output.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "host/host_services.h"
#include "host/settings.h"

// Text slot printed when the host rejects a transfer.
constexpr int transfer_failure_slot = 77;

output_state output = {nullptr, 0, 0};

namespace {

// The refusal rule shared by every write and the flush.
int refuse() {
    output.out_fill = 0;
    output.job_drawn = 0;
    runtime.job_copies = 1;
    return -1;
}

// Hands count bytes to the host in slices. Returns 0, or -1 after a rejected slice,
// with the failure reported and latched.
int transfer(const uint8_t* bytes, int32_t count) {
    for (int32_t done = 0; done < count; done += out_piece_size) {
        int32_t piece = count - done < out_piece_size ? count - done : out_piece_size;
        if (host_write(bytes + done, piece) == 0) {
            host_print_message(transfer_failure_slot);
            host_link.abort_flag = abort_fatal;
            return refuse();
        }
    }
    return 0;
}

// The common path of both writes; bytes holds count >= 0 bytes.
int write_piece(const uint8_t* bytes, int32_t count) {
    if (!output.out_buffer) return 0;
    if (host_link.abort_flag != abort_clear) return refuse();
    if (count == 0) return 0;
    assert(output.out_fill >= 0 && output.out_fill < out_capacity);

    // A piece that alone fills the buffer goes out in whole buffer loads, after what
    // was waiting; the loads are sent straight from the caller's bytes, which gives
    // the host exactly what copying them into the buffer first would.
    if (count >= out_capacity) {
        if (output.out_fill > 0 && out_flush() < 0) return -1;
        while (count >= out_capacity) {
            if (transfer(bytes, out_capacity) < 0) return -1;
            bytes += out_capacity;
            count -= out_capacity;
        }
        if (count == 0) return 0;
    }

    if (output.out_fill + count >= out_capacity) {
        if (output.out_fill > 0 && out_flush() < 0) return -1;
        std::memcpy(output.out_buffer, bytes, static_cast<size_t>(count));
        output.out_fill = count;
    } else {
        std::memcpy(output.out_buffer + output.out_fill, bytes, static_cast<size_t>(count));
        output.out_fill += count;
    }
    assert(output.out_fill < out_capacity);
    return 0;
}

} // namespace

int out_open() {
    out_close();
    output.out_buffer = static_cast<uint8_t*>(std::calloc(1, out_block_size));
    return output.out_buffer ? 0 : -1;
}

void out_close() {
    std::free(output.out_buffer);
    output.out_buffer = nullptr;
    output.out_fill = 0;
}

int out_write_string(const char* text) {
    if (!text) return -1;
    size_t length = std::strlen(text);
    if (length > INT32_MAX) return -1;
    return write_piece(reinterpret_cast<const uint8_t*>(text), static_cast<int32_t>(length));
}

int out_write_bytes(int32_t count, const void* bytes) {
    if (count < 0 || (count > 0 && !bytes)) return -1;
    return write_piece(static_cast<const uint8_t*>(bytes), count);
}

int out_flush() {
    if (!output.out_buffer) return 0;
    if (host_link.abort_flag != abort_clear) return refuse();
    if (transfer(output.out_buffer, output.out_fill) < 0) return -1;
    output.out_fill = 0;
    return 0;
}

int put_be32(int32_t value, uint8_t* dest) {
    uint32_t v = static_cast<uint32_t>(value);
    dest[0] = static_cast<uint8_t>(v >> 24);
    dest[1] = static_cast<uint8_t>(v >> 16);
    dest[2] = static_cast<uint8_t>(v >> 8);
    dest[3] = static_cast<uint8_t>(v);
    return 4;
}

int put_be16(int32_t value, uint8_t* dest) {
    uint32_t v = static_cast<uint32_t>(value);
    dest[0] = static_cast<uint8_t>(v >> 8);
    dest[1] = static_cast<uint8_t>(v);
    return 2;
}

int put_be8(int32_t value, uint8_t* dest) {
    assert(value >= 0 && value <= 255);
    dest[0] = static_cast<uint8_t>(value);
    return 1;
}
