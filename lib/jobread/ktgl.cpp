// KTGL+MMR: the printer's binary language.
//
// Most records are an opcode byte, a count n and n big-endian 16-bit words; long records
// (polygons) are 0xFF, the opcode and a 16-bit count; job and raster records are 0x9B,
// a command byte, a 16-bit length and the payload (the coded data a 32-bit length).
// The reset block of a page opening or closing is a run of 0x18 records of one word
// each whose last one has no word. Coordinates are 1/400 inch from the sheet's lower
// left corner; the job opens with two zero-length segments at the sheet's corners.
#include <algorithm>
#include <cmath>

#include "jobread/reader.h"

namespace {

constexpr double units = 400; // KTGL units per inch

struct ktgl_state {
    int marks = 0;                 // corner marks seen (the first two zero-length segments)
    double mark_x = 0, mark_y = 0; // the sheet's far corner, KTGL units
    double end_x = -1, end_y = -1; // where the last segment ended
    bool transparent = false;      // the last 9B 5E record asked for a transparent image
    int resolution = 400;          // dots per inch of raster data
    long long place[6] = {};       // last image placement: x, y, source w, h, destination w, h
};

void add_bytes(job_state& j, uint64_t job_bytes::*kind, uint64_t from) {
    if (j.summary) j.summary->bytes.*kind += src_offset(j.src) - from;
}

// Reads n bytes; false (and a fault naming the record) when the job ends first.
bool take(job_state& j, std::vector<uint8_t>& out, size_t n, uint64_t at, const char* what) {
    out.clear();
    if (src_read(j.src, out, n) == n) return true;
    char text[120];
    std::snprintf(text, sizeof text, "truncated %s at byte %llu", what,
                  static_cast<unsigned long long>(at));
    fail(j, text);
    return false;
}

int16_t s16(const uint8_t* p) {
    return static_cast<int16_t>(p[0] << 8 | p[1]);
}
uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
int32_t s32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
                                p[3]);
}

// Pattern length of a line type: a hundredth of the sheet's diagonal for types 1 and
// 2, two hundredths for the others (the job does not carry it).
void pattern_for(job_state& j, ktgl_state& k) {
    const double diagonal = std::hypot(k.mark_x, k.mark_y) / units;
    set_pattern(j, (j.line_type <= 2 ? 0.01 : 0.02) * diagonal);
}

void segment(job_state& j, ktgl_state& k, double sx, double sy, double dx, double dy) {
    if (dx == 0 && dy == 0 && k.marks < 2) {
        // The sheet's corner marks, (0, 0) then the far corner.
        if (++k.marks == 2) {
            // The far mark stands at the sheet's size times half the coordinate divisor,
            // and the divisor is the power of two that keeps the sheet within 65532 steps
            // of 1/800 inch: a far mark up to 16383 means divisor 1, up to 65532 divisor 2,
            // beyond that 4.
            const double far = std::max(sx, sy);
            const double to_sheet = far <= 16383 ? 2 : far <= 65532 ? 1 : 0.5;
            sx *= to_sheet;
            sy *= to_sheet;
            k.mark_x = sx;
            k.mark_y = sy;
            set_sheet(j, std::max(sx, sy) / units, std::min(sx, sy) / units, sx > sy);
            outline_printable(j, 0, 0, std::max(sx, sy), std::min(sx, sy));
            pattern_for(j, k);
        }
        return;
    }
    // A segment that does not start where the last one ended follows a pen-up move: the
    // dash pattern starts again, as it does after a move in HP-GL/2.
    if (sx != k.end_x || sy != k.end_y) restart_pattern(j);
    k.end_x = sx + dx;
    k.end_y = sy + dy;
    draw_line(j, sx, sy, sx + dx, sy + dy);
}

void polygon(job_state& j, const std::vector<uint8_t>& w, bool wide) {
    const size_t step = wide ? 4 : 2, n = w.size() / (2 * step);
    if (n < 2) return;
    std::vector<double> xy;
    xy.reserve(2 * n);
    double x = 0, y = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &w[2 * step * i];
        const double a = wide ? s32(p) : (i == 0 ? u16(p) : s16(p));
        const double b = wide ? s32(p + step) : (i == 0 ? u16(p + step) : s16(p + step));
        x = i == 0 ? a : x + a;
        y = i == 0 ? b : y + b;
        xy.push_back(x);
        xy.push_back(y);
    }
    fill_polygon(j, xy, j.pen_grey[j.area_pen]);
}

// Raster placement on the sheet: rows step along x on a rotated sheet (dots along +y),
// else along y (dots along -x from the placement point).
void image(job_state& j, ktgl_state& k, const std::vector<uint8_t>& code, uint64_t at) {
    const long long* p = k.place;
    if (p[2] <= 0 || p[3] <= 0) {
        warn(j, "raster data at byte " + std::to_string(at) + " has no placement");
        return;
    }
    const bool fill = p[2] == 32 && p[3] == 1; // the white area painted before an image
    if (!fill && j.summary) ++j.summary->images;
    raster_frame f;
    f.ox = p[0] / units;
    f.oy = p[1] / units;
    const double along = (p[4] > 0 ? p[4] : p[2]) / double(p[2]) / units;
    const double across = (p[5] > 0 ? p[5] : p[3]) / double(p[3]) / units;
    const bool rotated = j.summary ? j.summary->rotated : true;
    if (rotated) {
        f.row_dx = across;
        f.dot_dy = along;
    } else {
        f.row_dy = across;
        f.dot_dx = -along;
    }
    f.opaque = !k.transparent;
    if (p[2] > raster_pitch_limit || p[3] > (1 << 24)) {
        warn(j, "raster at byte " + std::to_string(at) + " is too large to draw");
        return;
    }
    raster_start(j, f, static_cast<int>(p[2]));
    const int rows = decode_mmr(j, code, static_cast<int>(p[2]), static_cast<int>(p[3]), at);
    raster_stop(j, static_cast<int>(p[2]), fill ? 0 : rows);
}

// A 0x9B record (the 0x9B already read).
void job_record(job_state& j, ktgl_state& k, uint64_t at) {
    std::vector<uint8_t> head, body;
    if (!take(j, head, 1, at, "KTGL record")) return;
    const int cmd = head[0];
    if (cmd == 0x5C) {
        if (!take(j, head, 4, at, "KTGL raster")) return;
        const uint32_t n = static_cast<uint32_t>(s32(head.data()));
        if (n > raster_code_limit) {
            if (src_skip(j.src, n) < n) {
                fail(j, "truncated KTGL raster at byte " + std::to_string(at));
                return;
            }
            warn(j, "raster data of " + std::to_string(n) + " bytes at byte " + std::to_string(at) +
                        " is too large to draw");
            add_bytes(j, &job_bytes::raster, at);
            return;
        }
        if (!take(j, body, n, at, "KTGL raster")) return;
        image(j, k, body, at + 6);
        add_bytes(j, &job_bytes::raster, at);
        return;
    }
    if (!take(j, head, 2, at, "KTGL record")) return;
    if (!take(j, body, u16(head.data()), at, "KTGL record")) return;
    uint64_t job_bytes::*kind = &job_bytes::other;
    const int v = body.size() >= 2 ? u16(body.data()) : -1;
    switch (cmd) {
    case 0x5E: // job begin (2), image end / transparent image (1), job end (0)
        if (v == 0) {
            if (j.summary) ++j.summary->pages;
            ++j.page;
        }
        k.transparent = v == 1;
        break;
    case 0x4E: // copies, two hexadecimal digits
        if (j.summary && body.size() == 2)
            j.summary->copies = static_cast<int>(
                std::strtol(std::string(body.begin(), body.end()).c_str(), nullptr, 16));
        break;
    case 0x62: // manual feed
        if (j.summary) j.summary->manual_feed = true;
        break;
    case 0x52: // raster resolution
        k.resolution = v == 0 ? 200 : 400;
        kind = &job_bytes::raster;
        break;
    case 0x5D: // image mode on / off
        kind = &job_bytes::raster;
        break;
    case 0x5F: // image placement
        if (body.size() >= 24)
            for (int i = 0; i < 6; ++i) k.place[i] = s32(&body[4 * i]);
        kind = &job_bytes::raster;
        break;
    default:
        note_unknown(j, "KTGL 9B " + std::to_string(cmd), at);
    }
    add_bytes(j, kind, at);
}

// A short record: opcode, count, words (both bytes read).
void short_record(job_state& j, ktgl_state& k, int op, const std::vector<uint8_t>& w, uint64_t at) {
    const size_t n = w.size() / 2;
    auto word = [&](size_t i) { return i < n ? u16(&w[2 * i]) : 0; };
    uint64_t job_bytes::*kind = &job_bytes::other;
    switch (op) {
    case 0x64: // segment, 16-bit: start x, y, dx, dy
        if (n >= 4) segment(j, k, word(0), word(1), s16(&w[4]), s16(&w[6]));
        kind = &job_bytes::vectors;
        break;
    case 0x6B: // segment, 32-bit
        if (n >= 8) segment(j, k, s32(&w[0]), s32(&w[4]), s32(&w[8]), s32(&w[12]));
        kind = &job_bytes::vectors;
        break;
    case 0x41: // line pen
        j.line_pen = word(0) & 255;
        break;
    case 0x47: // area pen
        j.area_pen = word(0) & 255;
        break;
    case 0x40: // line width, 1/400 inch
        j.width_in = word(0) / units;
        break;
    case 0x43: // line type
        j.line_type = std::min<int>(word(0), 8);
        pattern_for(j, k);
        break;
    case 0x30: // pen definition: pen, grey (0xFFFF: printed in red)
        if (n >= 2) j.pen_grey[word(0) & 255] = word(1) > 255 ? 76 : static_cast<uint8_t>(word(1));
        kind = &job_bytes::setup;
        break;
    case 0x32: // halftone pattern: number, 16, 16, sixteen row words
        if (n >= 19 && word(0) < 256)
            for (int r = 0; r < 16; ++r) j.halftone[word(0)][r] = word(3 + r);
        kind = &job_bytes::setup;
        break;
    case 0x36: // line type definition: type, dash, gap, ... in percent
        if (n >= 2 && word(0) >= 1 && word(0) <= 8) {
            j.dash[word(0)].clear();
            for (size_t i = 1; i < n; ++i) j.dash[word(0)].push_back(word(i));
        }
        kind = &job_bytes::setup;
        break;
    case 0x18:
    case 0xF2:
    case 0xF3:
    case 0x20:
    case 0x23:
    case 0x42:
    case 0x44:
    case 0x45:
    case 0x39:
    case 0x48:
    case 0x50:
        kind = &job_bytes::setup; // page blocks and drawing settings: nothing to draw
        break;
    default:
        note_unknown(j, "KTGL " + std::to_string(op), at);
    }
    add_bytes(j, kind, at);
}

} // namespace

void read_ktgl_job(job_state& j) {
    if (j.summary) j.summary->language = "KTGL+MMR";
    j.units_per_inch = units;
    ktgl_state k;
    std::vector<uint8_t> w;
    while (!j.fatal) {
        const uint64_t at = src_offset(j.src);
        const int op = src_get(j.src);
        if (op < 0) break;
        if (op == 0x9B) {
            job_record(j, k, at);
            continue;
        }
        if (op == 0x14) { // label: words, length, text
            if (!take(j, w, 3, at, "KTGL label")) break;
            const int len = u16(&w[1]);
            if (!take(j, w, static_cast<size_t>(len + (len & 1)), at, "KTGL label")) break;
            if (j.summary) j.summary->label.assign(w.begin(), w.begin() + len);
            add_bytes(j, &job_bytes::setup, at);
            continue;
        }
        if (op == 0xFF) { // long record: opcode, 16-bit count, words
            if (!take(j, w, 3, at, "KTGL polygon")) break;
            const int lop = w[0];
            const size_t n = u16(&w[1]);
            if (!take(j, w, 2 * n, at, "KTGL polygon")) break;
            if (lop == 0x7C || lop == 0x83)
                polygon(j, w, lop == 0x83);
            else
                note_unknown(j, "KTGL long " + std::to_string(lop), at);
            add_bytes(j, &job_bytes::vectors, at);
            continue;
        }
        const int count = src_get(j.src);
        if (count < 0) {
            fail(j, "truncated KTGL record at byte " + std::to_string(at));
            break;
        }
        // The reset block's last record (0x18 0x02) carries no word: the page block's
        // next record follows at once.
        size_t words = op == 0x18 ? 1 : static_cast<size_t>(count);
        if (op == 0x18 && (src_peek(j.src) == 0xF2 || src_peek(j.src) == 0xF3)) words = 0;
        if (!take(j, w, 2 * words, at, "KTGL record")) break;
        short_record(j, k, op, w, at);
    }
}
