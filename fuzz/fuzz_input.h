// The fuzz input read as a stream of small fields: each read takes the next bytes, and
// once the input is used up every read gives 0, so that any input is a whole sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct fuzz_input {
    const uint8_t* data; // the input
    size_t size;         // its bytes
    size_t at;           // bytes read so far, 0..size

    bool empty() const { return at >= size; }

    uint8_t u8() { return at < size ? data[at++] : 0; }

    uint16_t u16() {
        uint16_t lo = u8();
        return static_cast<uint16_t>(lo | u8() << 8);
    }

    uint32_t u32() {
        uint32_t lo = u16();
        return lo | static_cast<uint32_t>(u16()) << 16;
    }

    // Copies up to n bytes into out; returns how many there were.
    size_t bytes(void* out, size_t n) {
        size_t k = size - at < n ? size - at : n;
        if (k) std::memcpy(out, data + at, k);
        at += k;
        return k;
    }
};
