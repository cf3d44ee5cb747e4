// MMR (two-dimensional coding without end-of-line codes) decoded by libtiff.
//
// The code of one raster piece is wrapped as the single strip of a small TIFF built in
// memory (Group 4 fax, min-is-white, first bit most significant) and read back one
// scanline at a time through TIFFClientOpenExt, so only one decoded row is held. libtiff
// reports faults through handlers bound to this one open file, which keeps two readers
// in one process apart.
#include <tiffio.h>

#include <cstdarg>
#include <cstring>

#include "jobread/reader.h"

namespace {

struct memory_tiff {
    std::vector<uint8_t> bytes; // header, directory, then the code
    uint64_t pos = 0;
    std::string complaint; // libtiff's first error or warning
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<memory_tiff*>(h);
    if (n <= 0 || m->pos >= m->bytes.size()) return 0;
    uint64_t take = std::min<uint64_t>(static_cast<uint64_t>(n), m->bytes.size() - m->pos);
    std::memcpy(buf, m->bytes.data() + m->pos, take);
    m->pos += take;
    return static_cast<tmsize_t>(take);
}
tmsize_t mem_write(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<memory_tiff*>(h);
    if (whence == SEEK_CUR) off += m->pos;
    if (whence == SEEK_END) off += m->bytes.size();
    m->pos = off;
    return off;
}
int mem_close(thandle_t) {
    return 0;
}
toff_t mem_size(thandle_t h) {
    return static_cast<memory_tiff*>(h)->bytes.size();
}
int mem_map(thandle_t, void**, toff_t*) {
    return 0;
}
void mem_unmap(thandle_t, void*, toff_t) {}

int complain(TIFF*, void* data, const char* module, const char* fmt, va_list ap) {
    auto* m = static_cast<memory_tiff*>(data);
    if (m->complaint.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, ap);
        m->complaint = std::string(module ? module : "libtiff") + ": " + text;
    }
    return 1;
}

void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}
// One directory entry of type SHORT (3) or LONG (4) with one value.
void entry(std::vector<uint8_t>& b, uint16_t tag, uint16_t type, uint32_t value) {
    put16(b, tag);
    put16(b, type);
    put32(b, 1);
    if (type == 3) {
        put16(b, static_cast<uint16_t>(value));
        put16(b, 0);
    } else {
        put32(b, value);
    }
}

// A little-endian TIFF of one strip holding code, for an image width x rows.
void build_tiff(memory_tiff& m, const std::vector<uint8_t>& code, int width, int rows) {
    constexpr uint16_t entries = 10;
    const uint32_t code_at = 8 + 2 + entries * 12 + 4;
    std::vector<uint8_t>& b = m.bytes;
    b.clear();
    b.reserve(code_at + code.size());
    b.resize(4);
    b[0] = 'I', b[1] = 'I', b[2] = 42, b[3] = 0; // little-endian TIFF
    put32(b, 8);
    put16(b, entries);
    entry(b, 256, 4, static_cast<uint32_t>(width));       // image width
    entry(b, 257, 4, static_cast<uint32_t>(rows));        // image length
    entry(b, 258, 3, 1);                                  // bits per sample
    entry(b, 259, 3, 4);                                  // compression: Group 4 fax
    entry(b, 262, 3, 0);                                  // photometric: min is white
    entry(b, 266, 3, 1);                                  // fill order: most significant bit first
    entry(b, 273, 4, code_at);                            // strip offset
    entry(b, 277, 3, 1);                                  // samples per pixel
    entry(b, 278, 4, static_cast<uint32_t>(rows));        // rows per strip
    entry(b, 279, 4, static_cast<uint32_t>(code.size())); // strip byte count
    put32(b, 0);                                          // no next directory
    b.insert(b.end(), code.begin(), code.end());
}

} // namespace

int decode_mmr(job_state& j, const std::vector<uint8_t>& code, int width, int rows,
               uint64_t code_at) {
    if (width <= 0 || rows <= 0) return 0;
    if (width % 8 != 0 || width > raster_pitch_limit) {
        warn(j, "raster at byte " + std::to_string(code_at) + " has " + std::to_string(width) +
                    " dots a row, which cannot be drawn");
        return 0;
    }
    memory_tiff m;
    build_tiff(m, code, width, rows);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, complain, &m);
    TIFFOpenOptionsSetWarningHandlerExtR(options, complain, &m);
    TIFF* t = TIFFClientOpenExt("raster", "rm", &m, mem_read, mem_write, mem_seek, mem_close,
                                mem_size, mem_map, mem_unmap, options);
    TIFFOpenOptionsFree(options);
    if (!t) {
        warn(j, "raster at byte " + std::to_string(code_at) + " cannot be decoded: " + m.complaint);
        return 0;
    }
    std::vector<uint8_t> row(static_cast<size_t>(width) / 8);
    int done = 0;
    for (; done < rows; ++done) {
        if (TIFFReadScanline(t, row.data(), static_cast<uint32_t>(done), 0) < 0 ||
            !m.complaint.empty())
            break;
        raster_row(j, row.data(), width, done);
    }
    TIFFClose(t);
    if (done < rows || !m.complaint.empty())
        warn(j, "MMR data at byte " + std::to_string(code_at) + " does not decode after row " +
                    std::to_string(done) + " of " + std::to_string(rows) +
                    (m.complaint.empty() ? "" : " (" + m.complaint + ")"));
    return done;
}
