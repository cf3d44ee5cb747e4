// The raster stream: page bitmap, MMR pieces and their framing for the printer.
//
// One image at a time. Its rows are all held before anything is coded, so that each
// piece is coded in one pass over contiguous rows; an A0 sheet at 600 dpi is some
// 70 MB of bitmap and is sent in 32 bands of about 900 rows. The host is called a
// dozen times per piece for the framing and once for the code itself.
//
// Pieces are coded straight from the page bitmap: a band is a run of its rows, so no
// band copy is needed. A piece's code normally fits in 4 x rows x (S + 100) bytes;
// one that does not (dense detail on very wide rows) is coded again into a buffer of
// the coder's worst-case size rather than sent cut short.
#include "raster/raster_stream.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host_services.h"
#include "host/messages.h"
#include "host/settings.h"
#include "output/output.h"
#include "raster/dither.h"
#include "raster/mmr.h"
#include "raster/page_bitmap.h"

namespace {

constexpr int resolution_escape_size = 22;
constexpr int64_t largest_buffer = 0x7FFFFF00; // bytes: sizes, and a block's C + 4, are 32-bit
constexpr int memory_message_slot = 2;

struct raster_stream_state {
    int32_t device_width;      // W' = W x n, device pixels, 0..INT32_MAX
    int32_t device_height;     // H' = H x n, device rows, 0..INT32_MAX
    int32_t ktgl;              // 1: KTGL+MMR framing; 0: HP-RTL
    int32_t band_axis;         // 1: bands follow each other along x; 0: along y
    int32_t ktgl_x;            // KTGL placement of the next piece, KTGL units
    int32_t ktgl_y;            //   (advanced by each band move)
    int32_t transparent;       // 1: no white fill under KTGL pieces; 0: opaque image
    int32_t raster_resolution; // dpi: 600, 400, 300 or 200; 0 until first chosen
    // "\e*t<dpi>R", NUL-ended; blank at load, and written before it is first sent
    char resolution_escape[resolution_escape_size] = "                     ";
    int32_t open;           // 1 between the stream start and its close
    int32_t dropped;        // 1 when the image was given up for want of memory
    page_bitmap page;       // the image's rows; bytes null when absent
    int32_t* run_lists;     // two run lists for the coder; null when absent
    uint8_t* coded;         // code of the piece being sent; null when absent
    int32_t coded_capacity; // bytes of coded, >= 0
};

raster_stream_state stream{};

// KTGL raster records (0x9B, command, 16-bit payload length, payload).
const uint8_t ktgl_resolution_400[6] = {0x9B, 0x52, 0x00, 0x02, 0x00, 0x01};
const uint8_t ktgl_resolution_200[6] = {0x9B, 0x52, 0x00, 0x02, 0x00, 0x00};
const uint8_t ktgl_image_mode_on[6] = {0x9B, 0x5D, 0x00, 0x02, 0x02, 0x07};
const uint8_t ktgl_image_mode_off[6] = {0x9B, 0x5D, 0x00, 0x02, 0x02, 0x00};
const uint8_t ktgl_image_end[6] = {0x9B, 0x5E, 0x00, 0x02, 0x00, 0x01};

// MMR code of one all-white row 32 pixels wide and the end-of-block code.
const uint8_t white_row_code[4] = {0x80, 0x08, 0x00, 0x80};

// ---------------------------------------------------------------------------------
// Sending.

void send(const void* bytes, int32_t count) {
    host_write(bytes, count);
}

void send_text(const char* text) {
    send(text, static_cast<int32_t>(std::strlen(text)));
}

__attribute__((format(printf, 1, 2))) void send_format(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    assert(n > 0 && n < static_cast<int>(sizeof text));
    send(text, n);
}

void set_resolution_escape(int32_t dpi) {
    std::snprintf(stream.resolution_escape, resolution_escape_size, "\x1b*t%dR", dpi);
}

// The resolution in force, choosing the default of the language if none was chosen.
int32_t resolution_in_force() {
    if (stream.raster_resolution == 0) select_resolution(0, stream.ktgl);
    return stream.raster_resolution;
}

// RTL: enter HP-RTL, set the raster resolution.
void send_rtl_start() {
    send_text("\x1b%1A");  // leave HP-GL/2 for HP-RTL, keeping the pen position
    send_text("\x1b&a0N"); // negative motion setting 0: motion back up the page allowed
    if (stream.resolution_escape[0] != '\x1b') set_resolution_escape(resolution_in_force());
    send_text(stream.resolution_escape); // raster resolution in dpi
}

// KTGL: the resolution record, for the two resolutions that have one.
void send_ktgl_resolution() {
    int32_t dpi = resolution_in_force();
    if (dpi == 400) send(ktgl_resolution_400, 6); // images at 400 dpi
    if (dpi == 200) send(ktgl_resolution_200, 6); // images at 200 dpi
}

// KTGL image placement: where the image goes, its source and destination sizes.
void send_ktgl_placement(int32_t src_width, int32_t src_height, int32_t dst_width,
                         int32_t dst_height) {
    uint8_t record[30] = {0x9B, 0x5F, 0x00, 0x1A};
    int n = 4;
    n += put_be32(stream.ktgl_x, record + n);
    n += put_be32(stream.ktgl_y, record + n);
    n += put_be32(src_width, record + n);
    n += put_be32(src_height, record + n);
    n += put_be32(dst_width, record + n);
    n += put_be32(dst_height, record + n);
    record[n++] = 0x00;
    record[n++] = 0x01;
    assert(n == 30);
    send(record, n);
}

// KTGL coded data: the MMR code of one image.
void send_ktgl_code(const uint8_t* code, int32_t count) {
    uint8_t head[6] = {0x9B, 0x5C};
    put_be32(count, head + 2);
    send(head, 6);
    send(code, count);
}

// KTGL: paints the piece's area white, so that white pixels hide what lies beneath:
// a 32 x 1 white image stretched over the width and the piece's rows.
void send_ktgl_white_fill(int32_t rows) {
    send_ktgl_placement(32, 1, stream.device_width, rows);
    send(ktgl_image_mode_on, 6);
    send_ktgl_code(white_row_code, 4);
    send(ktgl_image_mode_off, 6);
    send(ktgl_image_end, 6); // the fill is complete
    send_ktgl_resolution();  // the image proper at the stream's resolution
}

// Frames and sends one coded piece of `rows` rows, `count` code bytes.
void send_piece(int32_t rows, int32_t count) {
    int32_t pitch = stream.page.row_bytes * 8;
    if (!stream.ktgl) {
        // HP-RTL raster graphics with one transfer block.
        send_format("\x1b*r%dS", pitch); // raster width: the padded row pitch
        send_format("\x1b*r%dT", rows);  // raster height: rows of this piece
        send_text("\x1b*r1A");           // start raster graphics at the pen position
        send("\x1b", 1);
        send("*b8M", 4); // compression method 8: MMR
        send("\x1b", 1);
        send_format("*b%dW", count + 4); // transfer block: the pitch, then the code
        uint8_t head[4];
        put_be32(pitch, head);
        send(head, 4);
        send(stream.coded, count);
        return;
    }
    // KTGL: white fill under opaque images, placement, image mode, the code.
    if (!stream.transparent) send_ktgl_white_fill(rows);
    int32_t scale = resolution_in_force() == 200 ? 2 : 1; // 200 dpi doubles each pixel
    send_ktgl_placement(pitch, rows, scale * pitch, scale * rows);
    send(ktgl_image_mode_on, 6); // the records that follow are image data
    send_ktgl_code(stream.coded, count);
}

// Moves the printer's raster origin past the band just sent, `advance` rows long.
void send_band_move(int32_t advance) {
    if (!stream.ktgl) {
        send_text("\x1b*rC"); // end raster graphics
        send_text("\x1b%0B"); // back to HP-GL/2
        // Relative pen move by the band's length in plotter units (1016 per inch).
        int32_t units =
            static_cast<int32_t>(static_cast<double>(advance) / resolution_in_force() * 1016.0);
        if (stream.band_axis == 1)
            send_format("PR%d,0", units);
        else
            send_format("PR0,%d", units);
        send_rtl_start();
        return;
    }
    send(ktgl_image_mode_off, 6); // end of this band's image
    // The next band's place (wrapping like the 32-bit field that carries it).
    int32_t& along = stream.band_axis == 1 ? stream.ktgl_x : stream.ktgl_y;
    along = static_cast<int32_t>(static_cast<uint32_t>(along) + static_cast<uint32_t>(advance));
    send_ktgl_resolution();
}

// ---------------------------------------------------------------------------------
// Buffers.

// Heap block of `size` bytes (at least 1), or null when it is larger than the
// stream's sizes allow or memory is exhausted.
void* obtain(int64_t size) {
    if (size < 0 || size > largest_buffer) return nullptr;
    return std::malloc(static_cast<size_t>(size < 1 ? 1 : size));
}

void release_buffers() {
    raster_rows_end();
    std::free(stream.page.bytes);
    std::free(stream.run_lists);
    std::free(stream.coded);
    stream.page = page_bitmap{nullptr, 0, 0, 0, 0};
    stream.run_lists = nullptr;
    stream.coded = nullptr;
    stream.coded_capacity = 0;
}

// Gives up the image: tells the user once, releases the buffers. The stream stays
// open so that raster_end closes it as usual.
void drop_image() {
    host_print("\n%s", message_text(memory_message_slot));
    release_buffers();
    stream.dropped = 1;
}

// Makes the coded buffer hold at least `capacity` bytes. Returns 0, or -1 when the
// memory cannot be obtained.
int ensure_coded(int64_t capacity) {
    if (stream.coded && stream.coded_capacity >= capacity) return 0;
    std::free(stream.coded);
    stream.coded = static_cast<uint8_t*>(obtain(capacity));
    stream.coded_capacity = stream.coded ? static_cast<int32_t>(capacity) : 0;
    return stream.coded ? 0 : -1;
}

// Codes `rows` rows from row `first` of the page bitmap into the coded buffer.
// Returns the byte count, or -1 when memory for a larger buffer ran out.
int32_t code_piece(int32_t first, int32_t rows) {
    const page_bitmap& page = stream.page;
    const uint8_t* start = page.bytes + static_cast<size_t>(first) * page.row_bytes;
    int32_t pitch = page.row_bytes * 8;
    int32_t count = mmr_code_piece(start, rows, page.row_bytes, pitch, stream.run_lists,
                                   stream.coded, stream.coded_capacity);
    if (count >= 0) return count;
    if (ensure_coded(mmr_worst_case_bytes(rows, pitch)) < 0) return -1;
    count = mmr_code_piece(start, rows, page.row_bytes, pitch, stream.run_lists, stream.coded,
                           stream.coded_capacity);
    assert(count >= 0);
    return count;
}

} // namespace

// ---------------------------------------------------------------------------------
// Operations.

int32_t select_resolution(uint16_t mode_flags, int32_t ktgl) {
    int32_t dpi;
    switch (mode_flags & mode_res_mask) {
    case mode_res_600:
        dpi = 600;
        break;
    case mode_res_400:
        dpi = 400;
        break;
    case mode_res_300:
        dpi = 300;
        break;
    case mode_res_200:
        dpi = 200;
        break;
    default:
        dpi = stream.raster_resolution ? stream.raster_resolution : ktgl ? 400 : 600;
        break;
    }
    stream.raster_resolution = dpi;
    if (!ktgl) set_resolution_escape(dpi);
    return dpi;
}

int32_t raster_band_rows(int32_t rows) {
    assert(rows >= 0);
    int32_t q = rows / 32;
    int32_t band = 32 * ((q + 31) / 32);
    return band > 0 ? band : rows;
}

int raster_begin(int32_t width, int32_t height, int32_t n, int32_t ktgl, int32_t band_axis,
                 int32_t ktgl_x, int32_t ktgl_y, int32_t transparent, uint8_t key_red,
                 uint8_t key_green, uint8_t key_blue) {
    release_buffers();
    stream.open = 0;
    stream.dropped = 0;
    stream.ktgl = ktgl != 0;
    stream.band_axis = band_axis;
    stream.ktgl_x = ktgl_x;
    stream.ktgl_y = ktgl_y;
    stream.transparent = transparent != 0;

    int64_t device_width = static_cast<int64_t>(width) * n;
    int64_t device_height = static_cast<int64_t>(height) * n;
    bool usable = n >= 1 && width >= 0 && height >= 0 && device_width <= largest_buffer &&
                  device_height <= largest_buffer;
    stream.device_width = usable ? static_cast<int32_t>(device_width) : 0;
    stream.device_height = usable ? static_cast<int32_t>(device_height) : 0;

    if (stream.ktgl)
        send_ktgl_resolution();
    else
        send_rtl_start();
    stream.open = 1;

    if (usable) {
        int64_t bytes = (device_width / 8 + 100) * device_height;
        stream.page.bytes = static_cast<uint8_t*>(obtain(bytes));
        stream.page.width = stream.device_width;
        stream.page.capacity = stream.device_height;
    }
    if (!stream.page.bytes ||
        raster_rows_begin(&stream.page, n, transparent, key_red, key_green, key_blue) < 0) {
        drop_image();
        return 0;
    }
    assert(static_cast<int64_t>(stream.page.row_bytes) * stream.page.capacity <=
           (static_cast<int64_t>(stream.device_width) / 8 + 100) * stream.device_height);
    return 0;
}

int raster_image_dropped() {
    return stream.open && stream.dropped ? 1 : 0;
}

int raster_finish() {
    if (!stream.open || stream.dropped || !stream.page.bytes) return 0;
    int32_t rows = stream.page.rows;
    int32_t row_bytes = stream.page.row_bytes;
    if (rows == 0) return 0;
    assert(rows <= stream.page.capacity && row_bytes % 4 == 0);

    int32_t pitch = row_bytes * 8;
    stream.run_lists = static_cast<int32_t*>(
        obtain(2LL * mmr_list_entries(pitch) * static_cast<int64_t>(sizeof(int32_t))));

    int64_t estimate = 4LL * rows * (row_bytes + 100);
    int32_t band = estimate <= raster_piece_limit ? rows : raster_band_rows(rows);
    assert(band >= 1);
    if (!stream.run_lists || ensure_coded(4LL * band * (row_bytes + 100)) < 0) {
        drop_image();
        return 0;
    }
    for (int32_t first = 0; first < rows; first += band) {
        // Every band before this one held `band` rows: move past it.
        if (first > 0) send_band_move(band);
        int32_t piece_rows = rows - first < band ? rows - first : band;
        int32_t count = code_piece(first, piece_rows);
        if (count < 0) {
            drop_image();
            return 0;
        }
        send_piece(piece_rows, count);
    }
    return 0;
}

void raster_end() {
    if (stream.open) {
        if (stream.ktgl) {
            send(ktgl_image_mode_off, 6);
            send(ktgl_resolution_400, 6); // back to the 400 dpi the vector pages use
        } else {
            send_text("\x1b*rC"); // end raster graphics
            send_text("\x1b%0B"); // back to HP-GL/2
        }
        stream.open = 0;
    }
    release_buffers();
    stream.dropped = 0;
}
