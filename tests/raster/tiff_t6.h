// Test helper: decodes an MMR (CCITT T.6) code with libtiff, an independent decoder.
//
// The code is wrapped as the single strip of an in-memory TIFF (CCITT Group 4,
// min-is-white, most significant bit first) and read back with TIFFReadEncodedStrip.
// Any error or warning libtiff reports counts as a failed decode.
#pragma once

#ifdef KVRAC_HAVE_TIFF

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace t6 {

struct memory_file {
    std::vector<uint8_t> data;
    uint64_t pos = 0;
};

inline memory_file* file_of(thandle_t h) {
    return static_cast<memory_file*>(h);
}

inline tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
    memory_file* f = file_of(h);
    if (f->pos >= f->data.size()) return 0;
    uint64_t avail = f->data.size() - f->pos;
    uint64_t take = static_cast<uint64_t>(n) < avail ? static_cast<uint64_t>(n) : avail;
    std::memcpy(buf, f->data.data() + f->pos, take);
    f->pos += take;
    return static_cast<tmsize_t>(take);
}

inline tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
    memory_file* f = file_of(h);
    if (f->pos + n > f->data.size()) f->data.resize(f->pos + n);
    std::memcpy(f->data.data() + f->pos, buf, n);
    f->pos += n;
    return n;
}

inline toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    memory_file* f = file_of(h);
    if (whence == SEEK_CUR) off += f->pos;
    if (whence == SEEK_END) off += f->data.size();
    f->pos = off;
    return off;
}

inline int mem_close(thandle_t) {
    return 0;
}
inline toff_t mem_size(thandle_t h) {
    return file_of(h)->data.size();
}
inline int mem_map(thandle_t, void**, toff_t*) {
    return 0;
}
inline void mem_unmap(thandle_t, void*, toff_t) {}

inline std::string& last_complaint() {
    static std::string text;
    return text;
}

inline void complain(const char* module, const char* fmt, va_list ap) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    last_complaint() += std::string(module ? module : "") + ": " + buf + "\n";
}

inline TIFF* open_memory(memory_file& f, const char* mode) {
    TIFFSetErrorHandler(complain);
    TIFFSetWarningHandler(complain);
    f.pos = 0;
    return TIFFClientOpen("memory", mode, &f, mem_read, mem_write, mem_seek, mem_close, mem_size,
                          mem_map, mem_unmap);
}

// Decodes `count` bytes of T.6 code for an image of width x rows into rows of
// ceil(width / 8) bytes. Returns an empty string on success, else what went wrong.
inline std::string decode(const uint8_t* code, int count, int width, int rows,
                          std::vector<uint8_t>& out) {
    last_complaint().clear();
    memory_file f;
    TIFF* t = open_memory(f, "w");
    if (!t) return "cannot create TIFF";
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(code), count) != count) {
        TIFFClose(t);
        return "cannot write strip: " + last_complaint();
    }
    TIFFClose(t);

    last_complaint().clear();
    t = open_memory(f, "r");
    if (!t) return "cannot reopen TIFF: " + last_complaint();
    tmsize_t row_bytes = (width + 7) / 8;
    out.assign(static_cast<size_t>(row_bytes) * rows, 0xAA);
    tmsize_t got = TIFFReadEncodedStrip(t, 0, out.data(), static_cast<tmsize_t>(out.size()));
    TIFFClose(t);
    if (got != static_cast<tmsize_t>(out.size()))
        return "decoded " + std::to_string(got) + " bytes: " + last_complaint();
    if (!last_complaint().empty()) return last_complaint();
    return "";
}

} // namespace t6

#endif
