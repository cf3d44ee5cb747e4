// PNG files for plot scripts, read row by row with libpng (or, in a build without it,
// with the decoder of png_decode.h).
//
// libpng reports a damaged file by a long jump to the point set with setjmp. Only the
// small functions that call libpng set that point, and they hold nothing but plain
// locals, so the jump never skips a destructor.
#include "images/png_image.h"
#include "images/png_decode.h"

#include <cerrno>
#include <cstring>

#ifdef KVRAC_HAVE_PNG

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <iterator>
#include <new>
#include <png.h>
#include <zlib.h>

namespace {

void on_error(png_structp png, png_const_charp message) {
    auto* r = static_cast<png_reader*>(png_get_error_ptr(png));
    std::snprintf(r->error, sizeof r->error, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

png_structp png_of(const png_reader& r) {
    return static_cast<png_structp>(r.png);
}

png_infop info_of(const png_reader& r) {
    return static_cast<png_infop>(r.info);
}

uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

constexpr uint32_t chunk_IHDR = 0x49484452, chunk_PLTE = 0x504C5445, chunk_tRNS = 0x74524E53,
                   chunk_IDAT = 0x49444154;

// The reader's own view of the chunks as libpng reads their bytes. libpng is lenient
// where the built-in decoder is strict: it skips chunks before IHDR when it does not
// interpret them, takes PLTE after tRNS, and after the last row it may stop short of
// the end of the compressed data and then skip whatever IDAT data follows, unchecked.
// The walk refuses those files as the decoder does: it follows each chunk head, and it
// inflates the image data a second time, output discarded, to check that the
// compressed stream ends where the image ends, with a sound checksum and nothing after
// it. That second inflate costs about as much as libpng's own.
struct chunk_walk {
    uint64_t offset;        // bytes read from the file so far
    uint64_t next_head;     // offset of the next chunk's length and type (8 bytes)
    uint64_t data_start;    // the current chunk's data: from here ..
    uint64_t data_end;      // .. to here (its CRC follows)
    uint8_t head[8];        // the next head as it is read
    uint32_t chunks;        // chunks whose head was read
    uint32_t type;          // the current chunk's type
    bool seen_trns;         // a tRNS chunk came
    bool data_done;         // every row was read: the chunks now read follow the image data
    bool after_data;        // a chunk other than IDAT came after the image data
    uint64_t expected;      // bytes the image data inflates to (filter bytes included)
    uint64_t inflated;      // bytes inflated so far
    bool z_live;            // z was initialised
    bool z_ended;           // the compressed stream has ended
    z_stream z;             // the checking inflate
    uint8_t scratch[65536]; // its discarded output
    char fault[96];         // what was wrong, reported through libpng's error path
};

chunk_walk& walk_of(png_reader& r) {
    return *static_cast<chunk_walk*>(r.walk);
}

// Bytes the image data of a width x height image of `bits` bits a pixel inflates to:
// each row of each pass with its filter byte.
uint64_t image_data_bytes(uint32_t width, uint32_t height, int bits, bool interlaced) {
    static const uint32_t adam7[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                         {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (int p = 0; p < (interlaced ? 7 : 1); ++p) {
        const uint32_t* a = interlaced ? adam7[p] : adam7[6];
        const uint64_t cols =
            interlaced ? (width > a[0] ? (width - a[0] + a[1] - 1) / a[1] : 0) : width;
        const uint64_t rows =
            interlaced ? (height > a[2] ? (height - a[2] + a[3] - 1) / a[3] : 0) : height;
        if (cols > 0) total += rows * (1 + (cols * static_cast<uint64_t>(bits) + 7) / 8);
    }
    return total;
}

// Inflates n bytes of image data. Returns what is wrong with them, or null.
const char* check_image_data(png_reader& r, const uint8_t* bytes, size_t n) {
    chunk_walk& w = walk_of(r);
    if (n == 0) return nullptr;
    if (w.z_ended) return "damaged file: data after the end of the compressed image";
    if (!w.z_live) {
        if (inflateInit(&w.z) != Z_OK) return "out of memory";
        w.z_live = true;
    }
    w.z.next_in = const_cast<uint8_t*>(bytes);
    w.z.avail_in = static_cast<uInt>(n);
    while (w.z.avail_in > 0 && !w.z_ended) {
        w.z.next_out = w.scratch;
        w.z.avail_out = sizeof w.scratch;
        const int got = inflate(&w.z, Z_NO_FLUSH);
        w.inflated += sizeof w.scratch - w.z.avail_out;
        if (w.inflated > w.expected) return "damaged file: more image data than the image holds";
        if (got == Z_STREAM_END)
            w.z_ended = true;
        else if (got == Z_BUF_ERROR && w.z.avail_in == 0)
            break;
        else if (got != Z_OK)
            return "damaged image data";
    }
    if (w.z.avail_in > 0) return "damaged file: data after the end of the compressed image";
    return nullptr;
}

// Looks at the head of a chunk as libpng reads it. Returns what is wrong with the
// chunk at that place, or null.
const char* check_chunk(chunk_walk& w) {
    const uint32_t length = be32(w.head);
    w.type = be32(w.head + 4);
    ++w.chunks;
    if (w.chunks == 1 && w.type != chunk_IHDR) return "damaged file: the first chunk is not IHDR";
    if (w.type == chunk_tRNS) w.seen_trns = true;
    if (w.type == chunk_PLTE && w.seen_trns) return "damaged file: tRNS chunk before PLTE";
    if (w.data_done) {
        if (w.type != chunk_IDAT)
            w.after_data = true;
        else if (w.after_data) // the image data is one run of IDAT chunks
            return "damaged file: data after the end of the compressed image";
    }
    // The chunk's data and CRC follow; lengths past 2^31 are libpng's to refuse.
    w.data_start = w.next_head + 8;
    w.data_end = w.data_start + length;
    w.next_head = w.data_end + 4;
    return nullptr;
}

// libpng's read function: reads from the file, follows the chunk heads that pass and
// checks the image data.
void read_data(png_structp png, png_bytep out, size_t n) {
    auto* r = static_cast<png_reader*>(png_get_io_ptr(png));
    if (std::fread(out, 1, n, r->file) != n) png_error(png, "file ends early");
    chunk_walk& w = walk_of(*r);
    const uint64_t start = w.offset, end = start + n;
    w.offset = end;
    const char* fault = nullptr;
    for (uint64_t at = start; at < end && !fault;) {
        if (at >= w.next_head) { // bytes of the next head
            const uint64_t to = std::min(end, w.next_head + 8);
            std::memcpy(w.head + (at - w.next_head), out + (at - start), to - at);
            at = to;
            if (to == w.next_head + 8) fault = check_chunk(w);
        } else if (at >= w.data_start && at < w.data_end) { // the chunk's data
            const uint64_t to = std::min(end, w.data_end);
            if (w.type == chunk_IDAT) fault = check_image_data(*r, out + (at - start), to - at);
            at = to;
        } else { // its CRC, which libpng checks
            at = std::min(end, w.next_head);
        }
    }
    if (fault) {
        std::snprintf(w.fault, sizeof w.fault, "%s", fault);
        png_error(png, w.fault);
    }
}

// Ancillary chunks that libpng would interpret but the reader has no use for (gamma,
// colour space, text, background...): they are skipped with their CRC checked, as the
// built-in decoder skips them, instead of failing files on chunks that change nothing.
const png_byte ignored_chunks[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
                                  "sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0tIME\0zTXt";

// Reads the chunks before the image data and sets the transforms: one-bit greyscale
// stays packed; indexed images give one index a byte, looked up here; everything else
// becomes 8-bit red, green, blue and perhaps alpha. Interlaced files are read pass by
// pass. Returns libpng's bytes per row, or 0 on a damaged file.
size_t read_header(png_reader* r) {
    png_structp png = png_of(*r);
    png_infop info = info_of(*r);
    if (setjmp(png_jmpbuf(png))) return 0;
    png_set_read_fn(png, r, read_data);
    png_set_sig_bytes(png, 8);
    // Every damage is fatal: CRC errors in any chunk, and what libpng calls benign
    // (chunks out of place, IEND with data, palette indices beyond PLTE...).
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_benign_errors(png, 0);
    png_set_chunk_malloc_max(png, 0); // no chunk length limit below the format's own
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, ignored_chunks,
                                static_cast<int>(sizeof ignored_chunks / 5));
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    if (width > INT32_MAX || height > INT32_MAX) png_error(png, "image too large");
    r->header.width = static_cast<int32_t>(width);
    r->header.height = static_cast<int32_t>(height);
    r->header.mono = depth == 1 && type == PNG_COLOR_TYPE_GRAY;
    r->header.interlaced = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7;
    walk_of(*r).expected =
        image_data_bytes(width, height, depth * png_get_channels(png, info), r->header.interlaced);
    png_bytep alpha = nullptr;
    int alphas = 0;
    png_color_16p key = nullptr;
    const bool trns = png_get_tRNS(png, info, &alpha, &alphas, &key) != 0;
    // libpng only warns about a transparent value the bit depth cannot hold.
    const unsigned top = (1u << depth) - 1;
    if (trns && key && (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_RGB) &&
        (type == PNG_COLOR_TYPE_GRAY ? key->gray > top
                                     : key->red > top || key->green > top || key->blue > top))
        png_error(png, "damaged file: tRNS value beyond the bit depth");
    if (r->header.mono) {
        if (trns && key && key->gray == 0) r->black_transparent = 1;
    } else if (type == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int colours = 0;
        png_get_PLTE(png, info, &palette, &colours);
        r->palette_count = std::min(colours, 256);
        for (int i = 0; i < r->palette_count; ++i) {
            r->palette[i][0] = palette[i].red;
            r->palette[i][1] = palette[i].green;
            r->palette[i][2] = palette[i].blue;
        }
        std::fill(std::begin(r->alpha), std::end(r->alpha), png_byte{255});
        for (int i = 0; trns && alpha && i < alphas && i < 256; ++i) r->alpha[i] = alpha[i];
        png_set_packing(png); // one index a byte
    } else {
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
    }
    png_read_update_info(png, info);
    r->channels = r->palette_count > 0 ? 1 : png_get_channels(png, info);
    return png_get_rowbytes(png, info);
}

int read_row(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return -1;
    png_read_row(png, row, nullptr);
    return 0;
}

// After the last row: the chunks up to IEND, checked by libpng and by the chunk walk.
int read_end(png_reader& r) {
    png_structp png = png_of(r);
    if (setjmp(png_jmpbuf(png))) return -1;
    chunk_walk& w = walk_of(r);
    w.data_done = true;
    png_read_end(png, info_of(r)); // chunks after the data are checked as those before
    if (!w.z_ended || w.inflated != w.expected)
        png_error(png, "damaged file: image data ends early");
    return 0;
}

// Turns the row of count pixels in r.raw into its compact form in r.out. Returns 0, or
// -1 for a palette index without a PLTE entry.
int compact_row(png_reader& r, int32_t count) {
    const uint8_t* in = r.raw.data();
    uint8_t* out = r.out.data();
    if (r.header.mono) {
        // Stored 0 is black; kept 1 is black.
        const size_t n = (static_cast<size_t>(count) + 7) / 8;
        for (size_t i = 0; i < n; ++i)
            out[i] = r.black_transparent ? 0 : static_cast<uint8_t>(~in[i]);
    } else if (r.palette_count > 0) {
        for (int32_t i = 0; i < count; ++i, out += 3) {
            const unsigned k = in[i];
            if (k >= static_cast<unsigned>(r.palette_count)) {
                std::snprintf(r.error, sizeof r.error,
                              "damaged file: colour %u is not in the palette", k);
                return -1;
            }
            for (int c = 0; c < 3; ++c) out[c] = png_over_white(r.palette[k][c], r.alpha[k]);
        }
    } else if (r.channels == 4) {
        for (int32_t i = 0; i < count; ++i, in += 4, out += 3)
            for (int c = 0; c < 3; ++c) out[c] = png_over_white(in[c], in[3]);
    } else {
        std::memcpy(out, in, static_cast<size_t>(count) * 3);
    }
    return 0;
}

// Columns and rows of pass p (the whole image when not interlaced).
void pass_size(const png_reader& r, int p, int32_t* cols, int32_t* rows) {
    const int32_t w = r.header.width, h = r.header.height;
    *rows = r.header.interlaced ? static_cast<int32_t>(PNG_PASS_ROWS(h, p)) : h;
    *cols = r.header.interlaced ? static_cast<int32_t>(PNG_PASS_COLS(w, p)) : w;
}

// Moves r.pass and r.pass_row to the next stored row, past passes without pixels (as
// libpng skips them). Returns false when no row is left.
bool find_row(png_reader& r) {
    const int passes = r.header.interlaced ? 7 : 1;
    for (; r.pass < passes; ++r.pass, r.pass_row = 0) {
        int32_t cols, rows;
        pass_size(r, r.pass, &cols, &rows);
        if (cols > 0 && r.pass_row < rows) return true;
    }
    return false;
}

} // namespace

int png_reader_open(png_reader& r, const std::string& path) {
    png_reader_close(r);
    r.error[0] = '\0';
    r.pass = r.pass_row = 0;
    r.black_transparent = 0;
    r.palette_count = 0;
    r.header = png_header{};
    r.file = std::fopen(path.c_str(), "rb");
    if (!r.file) {
        std::snprintf(r.error, sizeof r.error, "%s", std::strerror(errno));
        return -1;
    }
    uint8_t signature[8];
    if (std::fread(signature, 1, 8, r.file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        std::snprintf(r.error, sizeof r.error, "not a PNG file");
        return -1;
    }
    auto* w = new (std::nothrow) chunk_walk{};
    r.walk = w;
    if (!w) {
        std::snprintf(r.error, sizeof r.error, "out of memory");
        return -1;
    }
    w->offset = w->next_head = 8;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, on_error, on_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    r.png = png;
    r.info = info;
    if (!png || !info) {
        std::snprintf(r.error, sizeof r.error, "out of memory");
        return -1;
    }
    const size_t row_bytes = read_header(&r);
    if (row_bytes == 0) return -1;
    r.raw.assign(row_bytes, 0);
    r.out.assign(r.header.mono ? row_bytes : static_cast<size_t>(r.header.width) * 3, 0);
    return 0;
}

int png_reader_next(png_reader& r, png_row* row) {
    if (!r.png || r.error[0]) return -1;
    if (!find_row(r)) return 0;
    const int p = r.pass;
    int32_t cols, rows;
    pass_size(r, p, &cols, &rows);
    if (read_row(png_of(r), r.raw.data()) < 0) return -1;
    if (compact_row(r, cols) < 0) return -1;
    row->y = r.header.interlaced ? static_cast<int32_t>(PNG_ROW_FROM_PASS_ROW(r.pass_row, p))
                                 : r.pass_row;
    row->x0 = r.header.interlaced ? PNG_PASS_START_COL(p) : 0;
    row->dx = r.header.interlaced ? 1 << PNG_PASS_COL_SHIFT(p) : 1;
    row->count = cols;
    row->pixels = r.out.data();
    ++r.pass_row;
    if (!find_row(r) && read_end(r) < 0) return -1;
    return 1;
}

void png_reader_close(png_reader& r) {
    if (r.png) {
        png_structp png = png_of(r);
        png_infop info = info_of(r);
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    r.png = nullptr;
    r.info = nullptr;
    if (r.walk) {
        chunk_walk* w = static_cast<chunk_walk*>(r.walk);
        if (w->z_live) inflateEnd(&w->z);
        delete w;
    }
    r.walk = nullptr;
    if (r.file) std::fclose(r.file);
    r.file = nullptr;
}

#else // built without libpng: the decoder of png_decode.h

int png_reader_open(png_reader& r, const std::string& path) {
    return png_decode_open(r, path);
}

int png_reader_next(png_reader& r, png_row* row) {
    return png_decode_next(r, row);
}

void png_reader_close(png_reader& r) {
    png_decode_close(r);
}

#endif

int png_probe(const std::string& path, png_header* header, std::string* why) {
    png_reader r{};
    int result = png_reader_open(r, path);
    if (result == 0)
        *header = r.header;
    else
        *why = r.error;
    png_reader_close(r);
    return result;
}
