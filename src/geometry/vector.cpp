// The vector encoder.
//
// Workload: a drawing is tens of thousands to millions of moves and draws, most of
// them short lines a few device units long, in runs that pen, line-type and width
// changes interrupt now and then. Each move or draw must cost a transform, a couple of
// PE numbers formatted into a small scratch area and one append to the output buffer;
// nothing is allocated. Filled polygons are rarer and follow the same path per vertex.
#include "geometry/vector.h"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "geometry/ktgl.h"
#include "host/host_services.h"
#include "host/settings.h"
#include "host/wire.h"
#include "output/output.h"

vector_state vec = {vec_idle, vec_idle, {0, 0}, {0, 0}, -1, -1, "PE7", 0, 1, 0, 0};

namespace {

// Device coordinates are kept within +-2^30 so that a displacement always fits in 32
// bits, whatever scale factor the host negotiated.
constexpr double device_limit = 1073741824.0;

// KTGL opcodes written here.
enum : uint8_t {
    ktgl_segment_16 = 0x64, // one line: start x, y and dx, dy as 16-bit words
    ktgl_segment_32 = 0x6B, // the same with 32-bit values
    ktgl_long = 0xFF,       // introduces a record whose word count is a 16-bit word
    ktgl_polygon_16 = 0x7C, // filled polygon: vertex 0, then displacements, 16-bit
    ktgl_polygon_32 = 0x83, // the same, 32-bit
};

// Bytes of one PE number at most: 33 bits of folded value, 5 per digit in base 32.
constexpr int pe_number_max = 7;

bool ktgl_mode() {
    return (settings.mode_flags & mode_ktgl) != 0;
}

// trunc(v * scale factor), limited to the device range (NaN gives 0).
int32_t to_device(int32_t v) {
    double d = v * runtime.scale_factor;
    if (!(d > -device_limit)) return d != d ? 0 : static_cast<int32_t>(-device_limit);
    if (d > device_limit) return static_cast<int32_t>(device_limit);
    return static_cast<int32_t>(d);
}

// How many digits in base 2^bits a folded value of `width` significant bits takes.
template <int bits> struct pe_digit_counts {
    uint8_t of_width[65];
    constexpr pe_digit_counts() : of_width{} {
        for (int w = 0; w <= 64; ++w)
            of_width[w] = static_cast<uint8_t>(w <= bits ? 1 : (w + bits - 1) / bits);
    }
};
template <int bits> constexpr pe_digit_counts<bits> pe_counts;

// A PE number as it is written: its digits as the bytes of a word, the first digit in
// the lowest byte, and how many there are (bytes above them are meaningless).
struct pe_number {
    uint64_t digits;
    int count;
};

// The digits of a folded value b in base 2^bits (5 or 6): continuation digits (b's
// groups of bits, least significant first, plus 63) and a last digit (the top group
// plus last). They are made in a register: the groups spread to a byte each in three
// steps, 63 added to each, the last one lifted into the last-digit range; no byte can
// carry into the next. The count, looked up from b's width, varies at random from
// number to number and costs no branch.
template <int bits, int last> [[gnu::always_inline]] constexpr pe_number pe_encode_in(uint64_t b) {
    // Groups 0-3 stay, 4-7 go to bit 32; then in each half the upper two groups go up
    // 16 bits; then in each 16-bit lane the upper group goes up 8: group i at bit 8i.
    constexpr uint64_t pairs = ((1ull << (2 * bits)) - 1) * 0x0000000100000001ull;
    constexpr uint64_t ones = ((1ull << bits) - 1) * 0x0001000100010001ull;
    uint64_t spread = (b & ((1ull << (4 * bits)) - 1)) | (b >> (4 * bits)) << 32;
    spread = (spread & pairs) | ((spread >> (2 * bits)) & pairs) << 16;
    spread = (spread & ones) | ((spread >> bits) & ones) << 8;
    const int count = pe_counts<bits>.of_width[std::bit_width(b | 1)];
    const uint64_t lift = static_cast<uint64_t>(last - 63) << (8 * (count - 1));
    return {spread + 0x003F3F3F3F3F3F3Full + lift, count};
}

// The PE numbers of the folded values below 1024 (displacements of up to 511 device
// units, nearly every one a drawing has), made once when the library is built: two
// digits at most, in the low 16 bits, and their count above.
constexpr uint64_t pe_short_limit = 1024;
template <int bits, int last> struct pe_short_numbers {
    uint32_t of[pe_short_limit];
    constexpr pe_short_numbers() : of{} {
        for (uint64_t b = 0; b < pe_short_limit; ++b) {
            const pe_number pe = pe_encode_in<bits, last>(b);
            of[b] = static_cast<uint32_t>(pe.digits & 0xFFFF) | static_cast<uint32_t>(pe.count)
                                                                    << 16;
        }
    }
};
template <int bits, int last> constexpr pe_short_numbers<bits, last> pe_short;
static_assert(pe_short<5, 95>.of[pe_short_limit - 1] >> 16 == 2 &&
              pe_short<6, 191>.of[pe_short_limit - 1] >> 16 == 2);

template <int bits, int last> [[gnu::always_inline]] inline pe_number pe_encode_folded(uint64_t b) {
    if (b < pe_short_limit) {
        const uint32_t e = pe_short<bits, last>.of[b];
        return {e & 0xFFFF, static_cast<int>(e >> 16)};
    }
    return pe_encode_in<bits, last>(b);
}

// The PE number of n: the sign goes to bit 0 of the folded value, digits follow least
// significant first; continuation digits lie in 63..94 (63..126 in base 64), the last
// digit in 95..126 (191..254).
[[gnu::always_inline]] inline pe_number pe_encode(int32_t n) {
    const int64_t sign = static_cast<int64_t>(n) >> 63; // 0 or -1
    const uint64_t magnitude = static_cast<uint64_t>((static_cast<int64_t>(n) ^ sign) - sign);
    const uint64_t b = 2 * magnitude + static_cast<uint64_t>(sign & 1);
    const pe_number pe = vec.pe_base64 ? pe_encode_folded<6, 191>(b) : pe_encode_folded<5, 95>(b);
    assert(pe.count >= 1 && pe.count <= pe_number_max);
    return pe;
}

// Stores the eight bytes of a PE number's word at dest, first digit first.
void put_pe_word(uint8_t* dest, uint64_t digits) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(digits >> (8 * i));
    std::memcpy(dest, bytes, sizeof bytes);
}

// A message point in device units: trunc(v * scale factor). The plot area's scale
// factor is at most 16, so every point of 0..65535 lies far inside the device range
// and takes no limit. The factors it sets are whole numbers of halves: those take an
// integer product, which a drawing's millions of points wait on less than a product
// in floating point; the factor is checked each time, so a change is never missed.
int32_t point_to_device(uint16_t v) {
    const double factor = runtime.scale_factor;
    assert(factor >= 0 && factor <= 16);
    if (factor != vec.scale_seen) {
        vec.scale_seen = factor;
        const double halves = 2 * factor;
        vec.scale_halves =
            halves >= 1 && halves == std::floor(halves) ? static_cast<int32_t>(halves) : 0;
    }
    if (vec.scale_halves) return (int32_t{v} * vec.scale_halves) >> 1;
    return static_cast<int32_t>(v * factor);
}

// Moves the point registers to the transformed (x, y); returns the displacement.
[[gnu::always_inline]] inline device_point advance(uint16_t x, uint16_t y) {
    vec.last_in_x = x;
    vec.last_in_y = y;
    vec.previous = vec.current;
    vec.current = {point_to_device(x), point_to_device(y)};
    return {vec.current.x - vec.previous.x, vec.current.y - vec.previous.y};
}

// Appends x and y as 16-bit words (small sheet) or 32-bit values at out; returns the
// bytes stored.
int put_pair(int32_t x, int32_t y, uint8_t* out) {
    if (vec.small_sheet) {
        int used = put_be16(x, out);
        return used + put_be16(y, out + used);
    }
    int used = put_be32(x, out);
    return used + put_be32(y, out + used);
}

// Writes one segment record: start point and displacement.
int write_segment(device_point start, device_point delta) {
    uint8_t record[18];
    record[0] = vec.small_sheet ? ktgl_segment_16 : ktgl_segment_32;
    record[1] = vec.small_sheet ? 4 : 8;
    int used = 2 + put_pair(start.x, start.y, record + 2);
    used += put_pair(delta.x, delta.y, record + used);
    assert(used == (vec.small_sheet ? 10 : 18));
    return out_write_bytes(used, record);
}

// A move or draw that repeats the last input point while the state has not changed
// since the message before is dropped; a draw after a move to that point is a dot and
// stays.
bool repeats_last_point(uint16_t x, uint16_t y, bool draw) {
    return vec.state == vec.previous_state && vec.state != vec_idle && x == vec.last_in_x &&
           y == vec.last_in_y && !(draw && vec.state == vec_moved);
}

// Selects a pen for the area fill: "SP%d" (KTGL: the area pen record).
int select_fill_pen(int pen) {
    if (ktgl_mode()) return write_ktgl_word_record(ktgl_area_pen, pen);
    char text[16];
    std::snprintf(text, sizeof text, "SP%d", pen); // select pen
    return out_write_string(text);
}

// The RTL/GL2 outline of a polygon in polygon mode, filled.
int write_polygon_text(int n, const uint8_t* vertices) {
    char text[16];
    std::snprintf(text, sizeof text, "%s<", vec.pe_opener); // pen-up move to vertex 0
    if (out_write_string(text) < 0) return -1;
    vec.previous_state = vec_idle;
    vec.state = vec_moved;
    if (put_point_text(le_u16(vertices, 0), le_u16(vertices, 2)) < 0) return -1;
    std::snprintf(text, sizeof text, ";PM0%s", vec.pe_opener); // enter polygon mode, new run
    if (out_write_string(text) < 0) return -1;
    vec.state = vec_drawing;
    for (int i = 1; i < n; ++i)
        if (put_point_text(le_u16(vertices, 4 * i), le_u16(vertices, 4 * i + 2)) < 0) return -1;
    if (put_point_text(le_u16(vertices, 0), le_u16(vertices, 2)) < 0) return -1; // close
    return out_write_string(";PM2FP"); // close polygon mode and fill it
}

// The KTGL polygon record: head with vertex 0, then one displacement per vertex.
int write_polygon_record(int n, const uint8_t* vertices) {
    vec.previous_state = vec.state;
    vec.state = vec_drawing;
    if (put_polygon_head(le_u16(vertices, 0), le_u16(vertices, 2), n) < 0) return -1;
    for (int i = 1; i < n; ++i)
        if (put_polygon_vertex(le_u16(vertices, 4 * i), le_u16(vertices, 4 * i + 2)) < 0) return -1;
    return 0;
}

// put_point_text, inlined where moves and draws call it.
[[gnu::always_inline]] inline int point_text(uint16_t x, uint16_t y) {
    if (host_link.abort_flag != abort_clear) return -1;
    device_point delta = advance(x, y);
    const pe_number px = pe_encode(delta.x);
    const pe_number py = pe_encode(delta.y);
    const int32_t count = px.count + py.count;
    // Both words stored in place, the second over the first one's meaningless bytes.
    static_assert(2 * pe_number_max <= out_room_short && pe_number_max + 8 <= out_room_short);
    if (uint8_t* dest = out_room()) {
        put_pe_word(dest, px.digits);
        put_pe_word(dest + px.count, py.digits);
        out_commit(count);
        return 0;
    }
    uint8_t digits[out_room_short];
    put_pe_word(digits, px.digits);
    put_pe_word(digits + px.count, py.digits);
    return out_write_bytes(count, digits);
}

} // namespace

void vector_job_start() {
    vec.state = vec_idle;
    vec.previous_state = vec_idle;
    vec.current = {0, 0};
    vec.previous = {0, 0};
    vec.last_in_x = -1;
    vec.last_in_y = -1;
    vec.pe_base64 = (settings.plot_flags & plot_pe_base64) != 0;
    std::strcpy(vec.pe_opener, vec.pe_base64 ? "PE" : "PE7");
}

int encode_pe_number(int32_t n) {
    const pe_number pe = pe_encode(n);
    uint8_t digits[8];
    put_pe_word(digits, pe.digits);
    return out_write_bytes(pe.count, digits);
}

int put_point_text(uint16_t x, uint16_t y) {
    return point_text(x, y);
}

int put_segment(uint16_t x, uint16_t y) {
    if (host_link.abort_flag != abort_clear) return -1;
    device_point delta = advance(x, y);
    if (vec.state != vec_drawing) return 0;
    return write_segment(vec.previous, delta);
}

int put_mark(int32_t x, int32_t y) {
    if (host_link.abort_flag != abort_clear) return -1;
    return write_segment({to_device(x), to_device(y)}, {0, 0});
}

int put_polygon_head(uint16_t x, uint16_t y, int n) {
    if (host_link.abort_flag != abort_clear) return -1;
    advance(x, y);
    if (vec.state != vec_drawing) return 0;
    int words = (vec.small_sheet ? 2 : 4) * n;
    assert(n > 0 && words <= 0xFFFF);
    uint8_t record[12];
    record[0] = ktgl_long;
    record[1] = vec.small_sheet ? ktgl_polygon_16 : ktgl_polygon_32;
    int used = 2 + put_be16(words, record + 2);
    used += put_pair(vec.current.x, vec.current.y, record + used);
    return out_write_bytes(used, record);
}

int put_polygon_vertex(uint16_t x, uint16_t y) {
    if (host_link.abort_flag != abort_clear) return -1;
    device_point delta = advance(x, y);
    if (vec.state != vec_drawing) return 0;
    uint8_t record[8];
    return out_write_bytes(put_pair(delta.x, delta.y, record), record);
}

int close_vector_run() {
    if (!ktgl_mode() && vec.state != vec_idle && out_write_string(";") < 0) return -1; // end PE
    vec.previous_state = vec.state;
    vec.state = vec_idle;
    return 0;
}

int vector_move_to(uint16_t x, uint16_t y) {
    if (repeats_last_point(x, y, false)) return 0;
    vec.previous_state = vec.state;
    if (ktgl_mode()) {
        vec.state = vec_moved;
        return put_segment(x, y);
    }
    if (vec.state == vec_idle) {
        char text[8];
        std::snprintf(text, sizeof text, "%s<", vec.pe_opener); // open a run, pen up
        if (out_write_string(text) < 0) return -1;
    } else if (vec.state != vec_lift_pending) {
        if (out_write_string("<") < 0) return -1; // next pair is a pen-up move
    }
    vec.state = vec_moved;
    return point_text(x, y);
}

int vector_draw_to(uint16_t x, uint16_t y) {
    if (repeats_last_point(x, y, true)) return 0;
    vec.previous_state = vec.state;
    if (ktgl_mode()) {
        vec.state = vec_drawing;
        if (put_segment(x, y) < 0) return -1;
        output.job_drawn = 1;
        return 0;
    }
    if (vec.state == vec_idle) {
        if (out_write_string(vec.pe_opener) < 0) return -1; // open a run, pen down
        vec.state = vec_drawing;
    } else if (vec.state == vec_lift_pending) {
        // A zero pen-up move uses up the "<" already written.
        if (encode_pe_number(0) < 0 || encode_pe_number(0) < 0) return -1;
        vec.state = vec_moved;
    } else {
        vec.state = vec_drawing;
    }
    if (point_text(x, y) < 0) return -1;
    output.job_drawn = 1;
    return 0;
}

int vector_lift_pen() {
    if (vec.state != vec_drawing && vec.state != vec_moved) return 0;
    if (!ktgl_mode() && out_write_string("<") < 0) return -1; // next pair is a pen-up move
    vec.previous_state = vec.state;
    vec.state = vec_lift_pending;
    return 0;
}

int vector_fill_polygon(int fill_pen, int restore_pen, int n, const uint8_t* vertices) {
    if (n <= 1) return 0;
    assert(vertices);
    bool ktgl = ktgl_mode();
    if (ktgl && n > (vec.small_sheet ? ktgl_polygon_max_vertices_16 : ktgl_polygon_max_vertices_32))
        return -1;

    if (!ktgl && vec.state != vec_idle && out_write_string(";") < 0) return -1; // end PE
    vec.previous_state = vec.state;
    vec.state = vec_idle;

    if (select_fill_pen(fill_pen) < 0) return -1;
    if ((ktgl ? write_polygon_record(n, vertices) : write_polygon_text(n, vertices)) < 0) return -1;
    if (restore_pen >= 0 && select_fill_pen(restore_pen) < 0) return -1;

    vec.previous_state = vec.state;
    vec.state = vec_idle;
    output.job_drawn = 1;
    return 0;
}

device_point vector_current_point() {
    return vec.current;
}

void vector_set_current_point(device_point p) {
    vec.current = p;
}
