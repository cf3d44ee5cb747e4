// Little-endian access to host-facing records.
//
// Every record that crosses the host boundary (the driver descriptor, the message
// record, the stored settings, the raster request and result records) is a wire
// format: packed, little-endian, with fields at odd offsets. These helpers read and
// write such fields from and to their bytes in little-endian order, so the same code
// is exact on a 32-bit little-endian Windows host and on a 64-bit Linux host, whatever
// the compiler's struct layout or the machine's byte order.
#pragma once

#include <cstdint>
#include <cstring>

inline uint8_t le_u8(const uint8_t* rec, int off) {
    return rec[off];
}

inline uint16_t le_u16(const uint8_t* rec, int off) {
    return static_cast<uint16_t>(rec[off] | (rec[off + 1] << 8));
}

inline int16_t le_i16(const uint8_t* rec, int off) {
    return static_cast<int16_t>(le_u16(rec, off));
}

inline uint32_t le_u32(const uint8_t* rec, int off) {
    return static_cast<uint32_t>(rec[off]) | static_cast<uint32_t>(rec[off + 1]) << 8 |
           static_cast<uint32_t>(rec[off + 2]) << 16 | static_cast<uint32_t>(rec[off + 3]) << 24;
}

inline int32_t le_i32(const uint8_t* rec, int off) {
    return static_cast<int32_t>(le_u32(rec, off));
}

inline double le_f64(const uint8_t* rec, int off) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | rec[off + i];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline void le_put_u8(uint8_t* rec, int off, uint8_t v) {
    rec[off] = v;
}

// The writers lay out a field's bytes, least significant first, and store them with one
// copy: compilers make that a single store of the field's width, which a following
// read of the field (in the driver, or the host reading a reply) takes straight from
// the store, where separate byte stores would stall it.
inline void le_put_u16(uint8_t* rec, int off, uint16_t v) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    std::memcpy(rec + off, bytes, sizeof bytes);
}

inline void le_put_i16(uint8_t* rec, int off, int v) {
    le_put_u16(rec, off, static_cast<uint16_t>(v));
}

inline void le_put_u32(uint8_t* rec, int off, uint32_t v) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    std::memcpy(rec + off, bytes, sizeof bytes);
}

inline void le_put_i32(uint8_t* rec, int off, int32_t v) {
    le_put_u32(rec, off, static_cast<uint32_t>(v));
}

inline void le_put_f64(uint8_t* rec, int off, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) rec[off + i] = static_cast<uint8_t>(bits >> (8 * i));
}
