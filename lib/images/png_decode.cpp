// A PNG decoder of our own on zlib's inflate (see png_decode.h).
//
// Workload: the same as the libpng reader's. Images can be 20,000 x 28,000 pixels, read
// top to bottom in one pass, or several times over for rotated sheets and interlaced
// files. Each row is inflated straight into a row buffer, unfiltered against the row
// before it and turned into the compact form; nothing larger than a row is kept.
//
// Files come from users and are not trusted: every length read from the file is
// checked before it is used, rows are decoded into buffers sized from the header that
// was checked, and the deflate stream is never asked for more than one row at a time.
#include "images/png_decode.h"

#include <cerrno>
#include <cstring>

#ifdef KVRAC_HAVE_ZLIB

#include <algorithm>
#include <cassert>
#include <cstdarg>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

// Largest width or height taken, the limit libpng applies by default.
constexpr uint32_t side_max = 1000000;

// Largest chunk length a PNG file may state.
constexpr uint32_t chunk_length_max = 0x7FFFFFFFu;

constexpr uint32_t chunk_code(const char (&name)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(name[3]));
}

constexpr uint32_t chunk_IHDR = chunk_code("IHDR");
constexpr uint32_t chunk_PLTE = chunk_code("PLTE");
constexpr uint32_t chunk_tRNS = chunk_code("tRNS");
constexpr uint32_t chunk_IDAT = chunk_code("IDAT");
constexpr uint32_t chunk_IEND = chunk_code("IEND");

// The Adam7 passes: first column, column step, first row, row step.
constexpr int32_t adam7[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                 {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};

// Colour types.
enum : int { grey = 0, rgb = 2, indexed = 3, grey_alpha = 4, rgb_alpha = 6 };

// The state of one open file; png_reader::png points to it.
struct png_decoder {
    uint32_t width, height;     // pixels, 1 .. side_max
    int depth;                  // bits per sample: 1, 2, 4, 8 or 16
    int colour;                 // colour type: grey, rgb, indexed, grey_alpha, rgb_alpha
    int pixel_bits;             // bits per pixel in the file, 1 .. 64
    int filter_step;            // bytes back to the same byte of the pixel on the left, 1 .. 8
    int palette_count;          // PLTE entries, 0 (none read) .. 2^depth
    uint8_t palette[256][3];    // PLTE entries: red, green, blue
    uint8_t alpha[256];         // tRNS opacity of each palette entry; 255 past those given
    bool have_trns;             // a tRNS chunk was read
    bool have_key;              // grey or rgb: tRNS names a transparent sample value
    uint16_t key[3];            // that value (grey in key[0]), within the bit depth
    uint32_t chunk_left;        // data bytes of the current IDAT chunk not read yet
    uint32_t crc;               // CRC of the current chunk's type and data read so far
    z_stream z;                 // inflate's state over the IDAT data
    bool z_live;                // z was initialised and needs inflateEnd
    bool z_ended;               // inflate has reported the end of the compressed stream
    std::vector<uint8_t> prior; // filter byte and bytes of the pass's previous row
    uint8_t in[16384];          // compressed bytes read from the current IDAT chunk
};

png_decoder& decoder_of(png_reader& r) {
    assert(r.png);
    return *static_cast<png_decoder*>(r.png);
}

// Sets r.error from a printf-style format. Returns -1, for `return fail(...)`.
int fail(png_reader& r, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(r.error, sizeof r.error, format, args);
    va_end(args);
    return -1;
}

uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// The chunk type as its four letters, for messages.
struct chunk_name {
    char text[5];
};

chunk_name name_of(uint32_t type) {
    chunk_name n;
    for (int i = 0; i < 4; ++i) n.text[i] = static_cast<char>(type >> (24 - 8 * i));
    n.text[4] = '\0';
    return n;
}

// Reads n bytes of the file. Returns 0 or -1.
int read_exact(png_reader& r, uint8_t* out, size_t n) {
    if (std::fread(out, 1, n, r.file) == n) return 0;
    if (std::ferror(r.file)) return fail(r, "read error: %s", std::strerror(errno));
    return fail(r, "file ends early");
}

// Reads the length and type of the next chunk and starts its CRC. Returns 0, or -1
// when the file ends, the type is not four letters or the length is out of range.
int chunk_start(png_reader& r, uint32_t* length, uint32_t* type) {
    png_decoder& d = decoder_of(r);
    uint8_t head[8];
    if (read_exact(r, head, 8) < 0) return -1;
    for (int i = 4; i < 8; ++i) {
        const uint8_t c = head[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return fail(r, "damaged file: invalid chunk type");
    }
    *length = be32(head);
    *type = be32(head + 4);
    if (*length > chunk_length_max)
        return fail(r, "damaged file: %s chunk length out of range", name_of(*type).text);
    d.crc = static_cast<uint32_t>(crc32(0, head + 4, 4));
    return 0;
}

// Reads n data bytes of the current chunk into out, adding them to its CRC.
int chunk_read(png_reader& r, uint8_t* out, uint32_t n) {
    png_decoder& d = decoder_of(r);
    if (read_exact(r, out, n) < 0) return -1;
    d.crc = static_cast<uint32_t>(crc32(d.crc, out, n));
    return 0;
}

// Reads the CRC that ends the current chunk and compares it with the data read.
int chunk_finish(png_reader& r, uint32_t type) {
    uint8_t stored[4];
    if (read_exact(r, stored, 4) < 0) return -1;
    if (be32(stored) != decoder_of(r).crc)
        return fail(r, "damaged file: CRC error in %s chunk", name_of(type).text);
    return 0;
}

// Reads past a chunk of no interest, checking its CRC.
int chunk_skip(png_reader& r, uint32_t type, uint32_t length) {
    png_decoder& d = decoder_of(r);
    while (length > 0) {
        const uint32_t n = std::min<uint32_t>(length, sizeof d.in);
        if (chunk_read(r, d.in, n) < 0) return -1;
        length -= n;
    }
    return chunk_finish(r, type);
}

// A chunk the decoder does not know: skipped when ancillary (lower-case first letter),
// refused when critical.
int unknown_chunk(png_reader& r, uint32_t type, uint32_t length) {
    if ((type & 0x20000000u) == 0) return fail(r, "unknown critical chunk %s", name_of(type).text);
    return chunk_skip(r, type, length);
}

// Reads IHDR's 13 bytes (the first chunk) and checks them.
int read_ihdr(png_reader& r) {
    png_decoder& d = decoder_of(r);
    uint32_t length, type;
    if (chunk_start(r, &length, &type) < 0) return -1;
    if (type != chunk_IHDR) return fail(r, "damaged file: the first chunk is not IHDR");
    if (length != 13) return fail(r, "damaged file: IHDR chunk of %u bytes", length);
    uint8_t h[13];
    if (chunk_read(r, h, 13) < 0 || chunk_finish(r, type) < 0) return -1;
    d.width = be32(h);
    d.height = be32(h + 4);
    d.depth = h[8];
    d.colour = h[9];
    if (d.width == 0 || d.height == 0) return fail(r, "damaged file: image without pixels");
    if (d.width > side_max || d.height > side_max)
        return fail(r, "image of %u x %u pixels: more than %u pixels a side", d.width, d.height,
                    side_max);
    const int dp = d.depth;
    bool ok = false;
    switch (d.colour) {
    case grey:
        ok = dp == 1 || dp == 2 || dp == 4 || dp == 8 || dp == 16;
        break;
    case indexed:
        ok = dp == 1 || dp == 2 || dp == 4 || dp == 8;
        break;
    case rgb:
    case grey_alpha:
    case rgb_alpha:
        ok = dp == 8 || dp == 16;
        break;
    }
    if (!ok) return fail(r, "invalid colour type %d with bit depth %d", d.colour, dp);
    if (h[10] != 0) return fail(r, "unknown compression method %d", h[10]);
    if (h[11] != 0) return fail(r, "unknown filter method %d", h[11]);
    if (h[12] > 1) return fail(r, "unknown interlace method %d", h[12]);
    static const int samples[7] = {1, 0, 3, 1, 2, 0, 4};
    d.pixel_bits = dp * samples[d.colour];
    d.filter_step = std::max(1, d.pixel_bits / 8);
    r.header.width = static_cast<int32_t>(d.width);
    r.header.height = static_cast<int32_t>(d.height);
    r.header.mono = d.colour == grey && dp == 1;
    r.header.interlaced = h[12];
    return 0;
}

int read_plte(png_reader& r, uint32_t length) {
    png_decoder& d = decoder_of(r);
    if (d.palette_count > 0) return fail(r, "damaged file: a second PLTE chunk");
    if (d.colour == grey || d.colour == grey_alpha)
        return fail(r, "damaged file: PLTE chunk in a greyscale image");
    if (d.have_trns) return fail(r, "damaged file: tRNS chunk before PLTE");
    if (length == 0 || length % 3 != 0 || length > 3 * 256)
        return fail(r, "damaged file: PLTE chunk of %u bytes", length);
    uint8_t bytes[3 * 256];
    if (chunk_read(r, bytes, length) < 0 || chunk_finish(r, chunk_PLTE) < 0) return -1;
    // Entries beyond what the bit depth can index are never used; they are dropped.
    int n = static_cast<int>(length / 3);
    if (d.colour == indexed) n = std::min(n, 1 << d.depth);
    std::memcpy(d.palette, bytes, static_cast<size_t>(n) * 3);
    d.palette_count = n;
    return 0;
}

int read_trns(png_reader& r, uint32_t length) {
    png_decoder& d = decoder_of(r);
    if (d.have_trns) return fail(r, "damaged file: a second tRNS chunk");
    uint8_t bytes[256];
    if (d.colour == indexed) {
        if (d.palette_count == 0) return fail(r, "damaged file: tRNS chunk before PLTE");
        if (length == 0 || length > static_cast<uint32_t>(d.palette_count))
            return fail(r, "damaged file: tRNS chunk of %u bytes for %d colours", length,
                        d.palette_count);
        if (chunk_read(r, bytes, length) < 0 || chunk_finish(r, chunk_tRNS) < 0) return -1;
        std::memcpy(d.alpha, bytes, length);
    } else if (d.colour == grey || d.colour == rgb) {
        const uint32_t want = d.colour == grey ? 2 : 6;
        if (length != want) return fail(r, "damaged file: tRNS chunk of %u bytes", length);
        if (chunk_read(r, bytes, length) < 0 || chunk_finish(r, chunk_tRNS) < 0) return -1;
        const unsigned top = (1u << d.depth) - 1;
        for (uint32_t i = 0; i < want / 2; ++i) {
            d.key[i] = be16(bytes + 2 * i);
            if (d.key[i] > top) return fail(r, "damaged file: tRNS value beyond the bit depth");
        }
        d.have_key = true;
        r.black_transparent = r.header.mono && d.key[0] == 0;
    } else {
        return fail(r, "damaged file: tRNS chunk in an image with an alpha channel");
    }
    d.have_trns = true;
    return 0;
}

// Reads the chunks from the signature to the first IDAT chunk's data.
int read_chunks(png_reader& r) {
    png_decoder& d = decoder_of(r);
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t sig[8];
    if (std::fread(sig, 1, 8, r.file) != 8 || std::memcmp(sig, signature, 8) != 0)
        return fail(r, "not a PNG file");
    if (read_ihdr(r) < 0) return -1;
    for (;;) {
        uint32_t length, type;
        if (chunk_start(r, &length, &type) < 0) return -1;
        int got = 0;
        if (type == chunk_IDAT) {
            if (d.colour == indexed && d.palette_count == 0)
                return fail(r, "damaged file: no PLTE chunk before the image data");
            d.chunk_left = length;
            return 0;
        } else if (type == chunk_PLTE) {
            got = read_plte(r, length);
        } else if (type == chunk_tRNS) {
            got = read_trns(r, length);
        } else if (type == chunk_IHDR) {
            got = fail(r, "damaged file: a second IHDR chunk");
        } else if (type == chunk_IEND) {
            got = fail(r, "damaged file: no image data");
        } else {
            got = unknown_chunk(r, type, length);
        }
        if (got < 0) return -1;
    }
}

// Gives inflate more compressed bytes: the rest of the current IDAT chunk, then the
// IDAT chunks that follow it. Returns 0, or -1 when another chunk comes first (the
// image data ends early) or the file is damaged.
int feed(png_reader& r) {
    png_decoder& d = decoder_of(r);
    while (d.chunk_left == 0) {
        if (chunk_finish(r, chunk_IDAT) < 0) return -1;
        uint32_t type;
        if (chunk_start(r, &d.chunk_left, &type) < 0) return -1;
        if (type != chunk_IDAT) return fail(r, "damaged file: image data ends early");
    }
    const uint32_t n = std::min<uint32_t>(d.chunk_left, sizeof d.in);
    if (chunk_read(r, d.in, n) < 0) return -1;
    d.chunk_left -= n;
    d.z.next_in = d.in;
    d.z.avail_in = n;
    return 0;
}

int inflate_failed(png_reader& r, int code) {
    const char* why = decoder_of(r).z.msg;
    if (code == Z_NEED_DICT) why = "preset dictionary";
    if (code == Z_MEM_ERROR) return fail(r, "out of memory");
    return fail(r, "damaged image data (%s)", why ? why : "inflate failed");
}

// Inflates exactly n bytes into out. Returns 0, or -1 when the data is damaged or ends
// first.
int inflate_exact(png_reader& r, uint8_t* out, size_t n) {
    png_decoder& d = decoder_of(r);
    d.z.next_out = out;
    d.z.avail_out = static_cast<uInt>(n);
    while (d.z.avail_out > 0) {
        if (d.z_ended) return fail(r, "damaged file: image data ends early");
        if (d.z.avail_in == 0 && feed(r) < 0) return -1;
        const int got = inflate(&d.z, Z_NO_FLUSH);
        if (got == Z_STREAM_END)
            d.z_ended = true;
        else if (got != Z_OK)
            return inflate_failed(r, got);
    }
    return 0;
}

// After the last row: the compressed stream must end there with its checksum, the
// IDAT chunks hold nothing more, and the chunks after them are sound up to IEND.
int finish_file(png_reader& r) {
    png_decoder& d = decoder_of(r);
    uint8_t spare[64];
    while (!d.z_ended) {
        if (d.z.avail_in == 0 && feed(r) < 0) return -1;
        d.z.next_out = spare;
        d.z.avail_out = sizeof spare;
        const int got = inflate(&d.z, Z_NO_FLUSH);
        if (got == Z_STREAM_END)
            d.z_ended = true;
        else if (got != Z_OK)
            return inflate_failed(r, got);
        if (d.z.avail_out != sizeof spare)
            return fail(r, "damaged file: more image data than the image holds");
    }
    if (d.z.avail_in > 0 || d.chunk_left > 0)
        return fail(r, "damaged file: data after the end of the compressed image");
    if (chunk_finish(r, chunk_IDAT) < 0) return -1;
    bool in_idat = true; // no other chunk since the image data
    for (;;) {
        uint32_t length, type;
        if (chunk_start(r, &length, &type) < 0) return -1;
        int got = 0;
        if (type == chunk_IEND) {
            if (length != 0) return fail(r, "damaged file: IEND chunk of %u bytes", length);
            return chunk_finish(r, type);
        } else if (type == chunk_IDAT) {
            // Empty IDAT chunks right after the data are harmless.
            if (length != 0 || !in_idat)
                return fail(r, "damaged file: data after the end of the compressed image");
            got = chunk_finish(r, type);
        } else if (type == chunk_IHDR || type == chunk_PLTE || type == chunk_tRNS) {
            got = fail(r, "damaged file: %s chunk after the image data", name_of(type).text);
        } else {
            in_idat = false;
            got = unknown_chunk(r, type, length);
        }
        if (got < 0) return -1;
    }
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes the filter of a row of n bytes in place: row[0] is its filter type, row[1..n]
// its bytes; prior is the pass's previous row in the same layout (zeros for its first
// row). Returns 0, or -1 for an unknown filter type.
int unfilter(png_reader& r, uint8_t* row, const uint8_t* prior, size_t n, int32_t y) {
    const size_t step = static_cast<size_t>(decoder_of(r).filter_step);
    uint8_t* x = row + 1;
    const uint8_t* b = prior + 1;
    switch (row[0]) {
    case 0: // none
        break;
    case 1: // sub: plus the byte on the left
        for (size_t i = step; i < n; ++i) x[i] = static_cast<uint8_t>(x[i] + x[i - step]);
        break;
    case 2: // up: plus the byte above
        for (size_t i = 0; i < n; ++i) x[i] = static_cast<uint8_t>(x[i] + b[i]);
        break;
    case 3: // average of left and above
        for (size_t i = 0; i < n; ++i) {
            const unsigned left = i >= step ? x[i - step] : 0;
            x[i] = static_cast<uint8_t>(x[i] + ((left + b[i]) >> 1));
        }
        break;
    case 4: // Paeth predictor of left, above and upper left
        for (size_t i = 0; i < n; ++i) {
            const int left = i >= step ? x[i - step] : 0, up_left = i >= step ? b[i - step] : 0;
            x[i] = static_cast<uint8_t>(x[i] + paeth(left, b[i], up_left));
        }
        break;
    default:
        return fail(r, "damaged file: unknown filter type %d in row %d", row[0], y);
    }
    return 0;
}

// Sample i of a row of packed samples of `depth` bits (1, 2, 4 or 8).
unsigned packed_sample(const uint8_t* x, uint32_t i, int depth) {
    const uint32_t bit = i * static_cast<uint32_t>(depth);
    return x[bit / 8] >> (8 - depth - bit % 8) & ((1u << depth) - 1);
}

// Turns count pixels of an unfiltered row x into their compact form in r.out. Returns
// 0, or -1 for a palette index without a PLTE entry.
int compact(png_reader& r, const uint8_t* x, uint32_t count) {
    png_decoder& d = decoder_of(r);
    uint8_t* out = r.out.data();
    if (r.header.mono) {
        // Stored 0 is black; kept 1 is black. The bits past the last pixel are set.
        const size_t n = (static_cast<size_t>(count) + 7) / 8;
        if (r.black_transparent) {
            std::memset(out, 0, n);
            return 0;
        }
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(~x[i]);
        if (count % 8) out[n - 1] |= static_cast<uint8_t>(0xFF >> (count % 8));
        return 0;
    }
    const int wide = d.depth == 16 ? 2 : 1; // bytes per sample; the first is the high one
    switch (d.colour) {
    case grey:
        for (uint32_t i = 0; i < count; ++i, out += 3) {
            unsigned v, g;
            if (d.depth >= 8) {
                v = wide == 2 ? be16(x + 2 * i) : x[i];
                g = x[i * wide];
            } else {
                v = packed_sample(x, i, d.depth);
                g = v * (255 / ((1u << d.depth) - 1));
            }
            if (d.have_key && v == d.key[0]) g = 255;
            out[0] = out[1] = out[2] = static_cast<uint8_t>(g);
        }
        break;
    case rgb:
        for (uint32_t i = 0; i < count; ++i, out += 3) {
            const uint8_t* p = x + static_cast<size_t>(i) * 3 * wide;
            bool clear = d.have_key;
            for (int c = 0; c < 3; ++c) {
                const unsigned v = wide == 2 ? be16(p + 2 * c) : p[c];
                clear = clear && v == d.key[c];
                out[c] = p[c * wide];
            }
            if (clear) out[0] = out[1] = out[2] = 255;
        }
        break;
    case indexed:
        for (uint32_t i = 0; i < count; ++i, out += 3) {
            const unsigned k = d.depth == 8 ? x[i] : packed_sample(x, i, d.depth);
            if (k >= static_cast<unsigned>(d.palette_count))
                return fail(r, "damaged file: colour %u is not in the palette", k);
            for (int c = 0; c < 3; ++c) out[c] = png_over_white(d.palette[k][c], d.alpha[k]);
        }
        break;
    case grey_alpha:
        for (uint32_t i = 0; i < count; ++i, out += 3) {
            const uint8_t* p = x + static_cast<size_t>(i) * 2 * wide;
            out[0] = out[1] = out[2] = png_over_white(p[0], p[wide]);
        }
        break;
    case rgb_alpha:
        for (uint32_t i = 0; i < count; ++i, out += 3) {
            const uint8_t* p = x + static_cast<size_t>(i) * 4 * wide;
            for (int c = 0; c < 3; ++c) out[c] = png_over_white(p[c * wide], p[3 * wide]);
        }
        break;
    }
    return 0;
}

// Columns and rows of pass p of the image (the whole image when not interlaced).
void pass_size(const png_reader& r, int p, uint32_t* cols, uint32_t* rows) {
    const uint32_t w = static_cast<uint32_t>(r.header.width);
    const uint32_t h = static_cast<uint32_t>(r.header.height);
    if (!r.header.interlaced) {
        *cols = w, *rows = h;
        return;
    }
    const int32_t* a = adam7[p];
    const uint32_t x0 = static_cast<uint32_t>(a[0]), dx = static_cast<uint32_t>(a[1]);
    const uint32_t y0 = static_cast<uint32_t>(a[2]), dy = static_cast<uint32_t>(a[3]);
    *cols = w > x0 ? (w - x0 + dx - 1) / dx : 0;
    *rows = h > y0 ? (h - y0 + dy - 1) / dy : 0;
}

// Moves r.pass and r.pass_row to the next stored row, past passes without pixels.
// Returns false when no row is left.
bool find_row(png_reader& r) {
    const int passes = r.header.interlaced ? 7 : 1;
    for (; r.pass < passes; ++r.pass, r.pass_row = 0) {
        uint32_t cols, rows;
        pass_size(r, r.pass, &cols, &rows);
        if (cols > 0 && static_cast<uint32_t>(r.pass_row) < rows) return true;
    }
    return false;
}

} // namespace

int png_decode_open(png_reader& r, const std::string& path) {
    png_decode_close(r);
    r.error[0] = '\0';
    r.pass = r.pass_row = 0;
    r.black_transparent = 0;
    r.header = png_header{};
    r.info = nullptr;
    r.file = std::fopen(path.c_str(), "rb");
    if (!r.file) return fail(r, "%s", std::strerror(errno));
    png_decoder* d = new (std::nothrow) png_decoder{};
    if (!d) return fail(r, "out of memory");
    r.png = d;
    std::fill(std::begin(d->alpha), std::end(d->alpha), uint8_t{255});
    if (read_chunks(r) < 0) return -1;
    r.channels = d->colour == grey_alpha || d->colour == rgb_alpha || d->have_trns ? 4 : 3;
    if (inflateInit(&d->z) != Z_OK) return fail(r, "out of memory");
    d->z_live = true;
    // Every row of every pass fits in the buffers of a full-width row.
    const size_t row_bytes = (static_cast<size_t>(d->width) * d->pixel_bits + 7) / 8;
    r.raw.assign(row_bytes + 1, 0);
    d->prior.assign(row_bytes + 1, 0);
    r.out.assign(r.header.mono ? row_bytes : static_cast<size_t>(d->width) * 3, 0);
    return 0;
}

int png_decode_next(png_reader& r, png_row* row) {
    if (!r.png || r.error[0]) return -1;
    png_decoder& d = decoder_of(r);
    if (!find_row(r)) return 0;
    uint32_t cols, rows;
    pass_size(r, r.pass, &cols, &rows);
    const size_t n = (static_cast<size_t>(cols) * d.pixel_bits + 7) / 8;
    assert(n + 1 <= r.raw.size() && n + 1 <= d.prior.size());
    if (r.pass_row == 0) std::fill(d.prior.begin(), d.prior.begin() + n + 1, uint8_t{0});
    const int32_t* a = adam7[r.header.interlaced ? r.pass : 6];
    const int32_t y = r.header.interlaced ? a[2] + r.pass_row * a[3] : r.pass_row;
    if (inflate_exact(r, r.raw.data(), n + 1) < 0) return -1;
    if (unfilter(r, r.raw.data(), d.prior.data(), n, y) < 0) return -1;
    if (compact(r, r.raw.data() + 1, cols) < 0) return -1;
    row->y = y;
    row->x0 = r.header.interlaced ? a[0] : 0;
    row->dx = r.header.interlaced ? a[1] : 1;
    row->count = static_cast<int32_t>(cols);
    row->pixels = r.out.data();
    std::swap(r.raw, d.prior);
    ++r.pass_row;
    if (!find_row(r) && finish_file(r) < 0) return -1;
    return 1;
}

void png_decode_close(png_reader& r) {
    if (r.png) {
        png_decoder* d = static_cast<png_decoder*>(r.png);
        if (d->z_live) inflateEnd(&d->z);
        delete d;
    }
    r.png = nullptr;
    r.info = nullptr;
    if (r.file) std::fclose(r.file);
    r.file = nullptr;
}

#else // built without zlib

int png_decode_open(png_reader& r, const std::string&) {
    r.file = nullptr;
    r.png = r.info = nullptr;
    std::snprintf(r.error, sizeof r.error, "this kvrac was built without zlib");
    return -1;
}

int png_decode_next(png_reader&, png_row*) {
    return -1;
}

void png_decode_close(png_reader& r) {
    r.file = nullptr;
}

#endif
