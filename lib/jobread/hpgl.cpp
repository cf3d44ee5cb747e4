// HP-GL/2 with encoded polylines, and the HP-RTL raster between them.
//
// The text is read instruction by instruction: two letters, then parameters up to the
// next letter, ';' or escape. PE runs carry most of a job's bytes (a small step costs a
// byte or two per axis), so they are decoded in one tight loop without building
// strings. Coordinates are plotter units (1016 per inch) from P1, the lower left corner
// of the printable area; the pen position is kept in the same units.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "jobread/reader.h"

namespace {

struct gl_state {
    double x = 0, y = 0;   // pen position, plotter units from P1
    bool relative = false; // PR in force (PU/PD coordinates are relative)
    bool pen_down = false;
    double p1x = 0, p1y = 0, p2x = 0, p2y = 0; // IP corners, plotter units
    bool ip = false;
    bool polygon = false;                  // PM0 .. PM2: points go to the polygon buffer
    std::vector<double> ring;              // polygon points, plotter units
    bool transparent = false;              // TR1
    int resolution = 300;                  // raster dots per inch (\e*t#R)
    int raster_width = 0, raster_rows = 0; // \e*r#S, \e*r#T
    bool raster_on = false;                // between \e*r1A and \e*rC
    int raster_row = 0;                    // rows placed since \e*r1A
    double raster_x = 0, raster_y = 0;     // pen position when RTL was entered
};

constexpr size_t polygon_limit = 1 << 22; // points; a larger polygon is not filled

void add_bytes(job_state& j, uint64_t job_bytes::*kind, uint64_t from) {
    if (j.summary) j.summary->bytes.*kind += src_offset(j.src) - from;
}

// Moves or draws the pen to (x, y), plotter units.
void pen_to(job_state& j, gl_state& g, double x, double y, bool down) {
    if (g.polygon) {
        if (g.ring.size() < polygon_limit) {
            if (g.ring.empty()) g.ring.insert(g.ring.end(), {g.x, g.y});
            g.ring.insert(g.ring.end(), {x, y});
        }
    } else if (down) {
        draw_line(j, g.x, g.y, x, y);
    } else {
        restart_pattern(j);
    }
    g.x = x;
    g.y = y;
}

// Parameters of a text instruction: numbers separated by ',' or blanks, up to the next
// letter, ';' or escape. A quoted string is kept in text.
void read_params(job_state& j, std::vector<double>& nums, std::string* text) {
    nums.clear();
    std::string num;
    auto end_num = [&] {
        if (!num.empty()) {
            char* e = nullptr;
            double v = std::strtod(num.c_str(), &e);
            if (e && *e == 0 && std::isfinite(v)) nums.push_back(v);
            num.clear();
        }
    };
    for (;;) {
        int c = src_peek(j.src);
        if (c < 0 || c == 0x1B || c == ';' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            break;
        src_get(j.src);
        if (c == '"') {
            std::string s;
            while ((c = src_get(j.src)) >= 0 && c != '"')
                if (s.size() < 1024) s += static_cast<char>(c);
            if (text) *text = s;
        } else if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
            if (num.size() < 40) num += static_cast<char>(c);
        } else {
            end_num();
        }
    }
    end_num();
}

// Reports a PE run that the job ends inside of (it began at byte `at`).
void fail_pe_cut(job_state& j, uint64_t at) {
    char text[96];
    std::snprintf(text, sizeof text, "PE run cut at byte %llu (it began at byte %llu)",
                  static_cast<unsigned long long>(src_offset(j.src)),
                  static_cast<unsigned long long>(at));
    fail(j, text);
}

// Decodes a PE run after the letters "PE", up to its ';'.
void read_pe(job_state& j, gl_state& g, uint64_t at) {
    bool base64 = true, up = false, absolute = false;
    double pair[2];
    int have = 0;
    for (;;) {
        int c = src_peek(j.src);
        if (c < 0) {
            fail_pe_cut(j, at);
            return;
        }
        if (c == ';' || c == 0x1B) break;
        if (have == 0 && (c == '<' || c == '=' || c == '7' || c == '>' || c == ':')) {
            src_get(j.src);
            if (c == '<') up = true;
            if (c == '=') absolute = true;
            if (c == '7') base64 = false;
            if (c == '>' || c == ':') note_unknown(j, std::string("PE flag ") + char(c), at);
            continue;
        }
        // One number, least significant digit first.
        uint64_t folded = 0;
        int shift = 0;
        for (;;) {
            c = src_get(j.src);
            if (c < 0) {
                fail_pe_cut(j, at);
                return;
            }
            const bool last = base64 ? c >= 191 && c <= 254 : c >= 95 && c <= 126;
            const bool more = base64 ? c >= 63 && c <= 126 : c >= 63 && c <= 94;
            if (!last && !more) {
                char text[96];
                std::snprintf(text, sizeof text, "bad byte 0x%02X in a PE run at byte %llu", c,
                              static_cast<unsigned long long>(src_offset(j.src) - 1));
                warn(j, text);
                while ((c = src_peek(j.src)) >= 0 && c != ';' && c != 0x1B) src_get(j.src);
                return;
            }
            if (shift < 60)
                folded |= static_cast<uint64_t>(c - (last ? (base64 ? 191 : 95) : 63)) << shift;
            shift += base64 ? 6 : 5;
            if (last) break;
        }
        const double v =
            folded & 1 ? -static_cast<double>(folded >> 1) : static_cast<double>(folded >> 1);
        pair[have++] = v;
        if (have == 2) {
            const double x = absolute ? pair[0] : g.x + pair[0];
            const double y = absolute ? pair[1] : g.y + pair[1];
            pen_to(j, g, x, y, !up);
            up = absolute = false;
            have = 0;
        }
    }
    if (have) {
        char text[80];
        std::snprintf(text, sizeof text, "half a coordinate pair in the PE run at byte %llu",
                      static_cast<unsigned long long>(at));
        warn(j, text);
    }
}

void start_sheet(job_state& j, const std::vector<double>& n) {
    if (n.size() < 2) return;
    const double a = n[0], b = n[1];
    set_sheet(j, std::max(a, b) / 1016, std::min(a, b) / 1016, a > b);
}

// One HP-GL/2 instruction whose two letters are in name.
void instruction(job_state& j, gl_state& g, const char name[3], uint64_t at) {
    std::vector<double> n;
    std::string text;
    const std::string op(name);
    if (op == "PE") {
        read_pe(j, g, at);
        add_bytes(j, &job_bytes::vectors, at);
        return;
    }
    read_params(j, n, &text);
    uint64_t job_bytes::*kind = &job_bytes::other;
    if (op == "PU" || op == "PD" || op == "PA" || op == "PR") {
        if (op == "PA") g.relative = false;
        if (op == "PR") g.relative = true;
        if (op == "PU") g.pen_down = false;
        if (op == "PD") g.pen_down = true;
        for (size_t i = 0; i + 1 < n.size(); i += 2) {
            double x = g.relative ? g.x + n[i] : n[i], y = g.relative ? g.y + n[i + 1] : n[i + 1];
            pen_to(j, g, x, y, g.pen_down);
        }
        kind = &job_bytes::vectors;
    } else if (op == "SP") {
        j.line_pen = j.area_pen = n.empty() ? 0 : to_int(n[0]) & 255;
    } else if (op == "PW") {
        j.width_in = n.empty() ? 0.35 / 25.4 : std::clamp(n[0], 0.0, 1000.0) / 25.4;
    } else if (op == "LT") {
        const double diagonal =
            g.ip ? std::hypot(g.p2x - g.p1x, g.p2y - g.p1y) / 1016 : 0; // inches
        j.line_type = n.empty() ? 0 : std::min(8, to_int(std::fabs(n[0])));
        if (n.size() > 1 && j.line_type > 0 && to_int(std::fabs(n[0])) > 8)
            note_unknown(j, "LT type above 8", at);
        set_pattern(j,
                    n.size() > 1 ? std::clamp(n[1], 0.0, 100.0) / 100 * diagonal : 0.04 * diagonal);
    } else if (op == "PC") {
        if (n.size() >= 4) {
            int pen = to_int(n[0]) & 255;
            int r = std::clamp(to_int(n[1]), 0, 255);
            int gg = std::clamp(to_int(n[2]), 0, 255);
            int b = std::clamp(to_int(n[3]), 0, 255);
            j.pen_grey[pen] = static_cast<uint8_t>(
                r == gg && gg == b ? r : std::min(255, (30 * r + 59 * gg + 11 * b) / 100));
        }
        kind = &job_bytes::setup;
    } else if (op == "PS") {
        start_sheet(j, n);
        kind = &job_bytes::setup;
    } else if (op == "IP") {
        if (n.size() >= 4) {
            g.p1x = n[0], g.p1y = n[1], g.p2x = n[2], g.p2y = n[3], g.ip = true;
            j.origin_x = g.p1x;
            j.origin_y = g.p1y;
            outline_printable(j, 0, 0, g.p2x - g.p1x, g.p2y - g.p1y);
        }
        kind = &job_bytes::setup;
    } else if (op == "SC") {
        if (n.size() >= 4 && g.ip &&
            (std::fabs((n[1] - n[0]) - (g.p2x - g.p1x)) > 1 ||
             std::fabs((n[3] - n[2]) - (g.p2y - g.p1y)) > 1))
            warn(j, "SC scales user units; the picture draws them as plotter units");
        kind = &job_bytes::setup;
    } else if (op == "BP") {
        if (j.summary) {
            if (!text.empty()) j.summary->label = text;
            if (!n.empty()) j.summary->copies = to_int(n.back());
        }
        kind = &job_bytes::setup;
    } else if (op == "XF") {
        if (n.size() >= 2 && n[0] == 4 && j.summary) j.summary->manual_feed = n[1] != 0;
        kind = &job_bytes::setup;
    } else if (op == "TR") {
        g.transparent = n.empty() || n[0] != 0;
    } else if (op == "PM") {
        const int m = n.empty() ? 0 : to_int(n[0]);
        if (m == 0) {
            g.polygon = true;
            g.ring.clear();
        } else if (m == 2) {
            g.polygon = false;
        }
        kind = &job_bytes::vectors;
    } else if (op == "FP") {
        if (g.ring.size() >= polygon_limit)
            warn(j, "a polygon too large to fill was left out");
        else if (g.ring.size() >= 6)
            fill_polygon(j, g.ring, j.pen_grey[j.area_pen]);
        g.ring.clear();
        kind = &job_bytes::vectors;
    } else if (op == "PG") {
        if (j.summary) ++j.summary->pages;
        ++j.page;
    } else if (op == "IN" || op == "IW" || op == "LA" || op == "RF" || op == "NP" || op == "CR" ||
               op == "MT") {
        kind = &job_bytes::setup;
    } else {
        note_unknown(j, op, at);
    }
    add_bytes(j, kind, at);
}

// Raster placement for rows starting at the pen position where RTL was entered: rows
// step along x on a rotated sheet (dots along +y), else along y (dots along -x, from
// the image's right edge).
void begin_raster(job_state& j, gl_state& g) {
    raster_frame f;
    const double dot = 1.0 / g.resolution;
    f.ox = (g.raster_x + j.origin_x) / 1016;
    f.oy = (g.raster_y + j.origin_y) / 1016;
    const bool rotated = j.summary ? j.summary->rotated : true;
    if (rotated) {
        f.row_dx = dot;
        f.dot_dy = dot;
    } else {
        f.row_dy = dot;
        f.dot_dx = -dot;
    }
    f.opaque = !g.transparent;
    raster_start(j, f, g.raster_width);
    g.raster_row = 0;
}

// A transfer block of n bytes: the pitch as 4 bytes, then the MMR code.
void raster_block(job_state& j, gl_state& g, long long n, uint64_t at) {
    std::vector<uint8_t> block;
    if (n < 0 || static_cast<uint64_t>(n) > raster_code_limit) {
        if (n < 0 || src_skip(j.src, static_cast<uint64_t>(n)) < static_cast<uint64_t>(n)) {
            fail(j, "truncated RTL raster at byte " + std::to_string(at));
            return;
        }
        warn(j, "raster block of " + std::to_string(n) + " bytes at byte " + std::to_string(at) +
                    " is too large to draw");
        return;
    }
    size_t got = src_read(j.src, block, static_cast<size_t>(n));
    if (got < static_cast<size_t>(n)) {
        char text[64];
        std::snprintf(text, sizeof text, "truncated RTL raster at byte %llu",
                      static_cast<unsigned long long>(at));
        fail(j, text);
    }
    if (block.size() < 4) return;
    const int pitch = static_cast<int>(
        (uint32_t{block[0]} << 24 | uint32_t{block[1]} << 16 | uint32_t{block[2]} << 8 | block[3]) &
        0x7FFFFFFF);
    if (pitch != g.raster_width) {
        warn(j, "raster block at byte " + std::to_string(at) + " declares " +
                    std::to_string(pitch) + " dots a row, the raster " +
                    std::to_string(g.raster_width));
        g.raster_width = pitch;
    }
    if (j.summary) ++j.summary->images;
    begin_raster(j, g);
    block.erase(block.begin(), block.begin() + 4);
    const int rows = decode_mmr(j, block, pitch, g.raster_rows, at + 4);
    raster_stop(j, pitch, rows);
}

// One escape sequence (the ESC is next in the source); in_gl tells whether HP-GL/2
// instructions follow it.
void escape(job_state& j, gl_state& g, bool& in_gl) {
    const uint64_t at = src_offset(j.src);
    src_get(j.src);
    const int group = src_get(j.src);
    if (group == '%') {
        // \e%-12345X universal exit, \e%#B HP-GL/2, \e%#A raster.
        std::string v;
        int c;
        while ((c = src_peek(j.src)) >= 0 && ((c >= '0' && c <= '9') || c == '-') && v.size() < 8)
            v += static_cast<char>(src_get(j.src));
        c = src_get(j.src);
        if (c == 'X') {
            add_bytes(j, &job_bytes::pjl, at);
            in_gl = false;
            read_pjl(j);
        } else if (c == 'B') {
            in_gl = true;
            add_bytes(j, &job_bytes::setup, at);
        } else if (c == 'A') {
            in_gl = false;
            g.raster_x = g.x;
            g.raster_y = g.y;
            add_bytes(j, &job_bytes::raster, at);
        } else {
            note_unknown(j, "escape %" + v + (c >= 0 ? std::string(1, char(c)) : ""), at);
        }
        return;
    }
    if (group == '.') {
        // Device set-up escapes: \e.R, \e.@;0:, \e.I81;0;17:, \e.N10;19:
        int c = src_get(j.src);
        if (c != 'R') {
            int k = 0;
            while ((c = src_peek(j.src)) >= 0 && c != ':' && c != 0x1B && ++k < 64) src_get(j.src);
            if (c == ':') src_get(j.src);
        }
        add_bytes(j, &job_bytes::setup, at);
        return;
    }
    if (group == '*' || group == '&') {
        // Parameterised: \e*r1A, \e*t600R, \e*b8M, \e*b2440W, \e&a0N.
        const int kind = src_get(j.src);
        for (;;) {
            std::string v;
            int c;
            while ((c = src_peek(j.src)) >= 0 &&
                   ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') && v.size() < 16)
                v += static_cast<char>(src_get(j.src));
            c = src_get(j.src);
            if (c < 0) {
                char text[64];
                std::snprintf(text, sizeof text, "escape cut at byte %llu",
                              static_cast<unsigned long long>(at));
                fail(j, text);
                return;
            }
            const long long value = v.empty() ? 0 : std::atoll(v.c_str());
            const int letter = c & ~0x20;
            const std::string name = std::string(1, char(group)) + char(kind) + char(letter);
            if (name == "*rS")
                g.raster_width = static_cast<int>(std::clamp(value, 0LL, 1LL << 24));
            else if (name == "*rT")
                g.raster_rows = static_cast<int>(std::clamp(value, 0LL, 1LL << 24));
            else if (name == "*tR")
                g.resolution = value > 0 && value <= 2400 ? int(value) : 300;
            else if (name == "*rA")
                g.raster_on = true;
            else if (name == "*rC")
                g.raster_on = false;
            else if (name == "*bW") {
                add_bytes(j, &job_bytes::raster, at);
                const uint64_t data = src_offset(j.src);
                raster_block(j, g, value, at);
                add_bytes(j, &job_bytes::raster, data);
                return;
            } else if (name != "*bM" && name != "&aN")
                note_unknown(j, "escape " + name, at);
            if (c >= 'A' && c <= 'Z') break; // upper case ends the sequence
        }
        add_bytes(j, &job_bytes::raster, at);
        return;
    }
    note_unknown(j, "escape " + std::string(1, group >= 0 ? char(group) : '?'), at);
}

} // namespace

void read_hpgl_job(job_state& j) {
    if (j.summary) j.summary->language = "HP-GL/2 + HP-RTL";
    gl_state g;
    bool in_gl = false;
    while (!j.fatal) {
        const int c = src_peek(j.src);
        if (c < 0) break;
        if (c == 0x1B) {
            escape(j, g, in_gl);
            continue;
        }
        const uint64_t at = src_offset(j.src);
        if (!in_gl) {
            // Bytes outside HP-GL/2 and outside any escape.
            src_get(j.src);
            note_unknown(j, "stray byte outside HP-GL/2", at);
            add_bytes(j, &job_bytes::other, at);
            continue;
        }
        if (c == ';' || c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == ',') {
            src_get(j.src);
            add_bytes(j, &job_bytes::other, at);
            continue;
        }
        char name[3] = {static_cast<char>(src_get(j.src)), 0, 0};
        const int d = src_peek(j.src);
        const bool letters =
            std::isalpha(static_cast<unsigned char>(name[0])) && d >= 0 && std::isalpha(d);
        if (!letters) {
            note_unknown(j, "stray byte in HP-GL/2", at);
            add_bytes(j, &job_bytes::other, at);
            continue;
        }
        name[1] = static_cast<char>(src_get(j.src));
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        name[1] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[1])));
        instruction(j, g, name, at);
    }
}
