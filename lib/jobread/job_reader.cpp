// The job reader's common steps: the byte source, the sheet and its picture, lines with
// their dash patterns, polygon fills, raster rows laid onto the picture, and the
// summary. The language readers (hpgl.cpp, ktgl.cpp) call these as they meet the
// instructions.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <memory>

#include "geometry/halftone.h"
#include "jobread/reader.h"

namespace {

constexpr size_t source_chunk = 1 << 20;

// Dash patterns of line types 1..8: dash, gap, dash, ... in percent of the pattern.
const std::vector<int> default_dashes[9] = {
    {},
    {0, 100, 0},
    {25, 50, 25},
    {35, 30, 35},
    {40, 10, 0, 10, 40},
    {35, 10, 10, 10, 35},
    {25, 10, 10, 10, 10, 10, 25},
    {35, 10, 0, 10, 0, 10, 35},
    {25, 10, 0, 10, 10, 10, 0, 10, 25},
};

} // namespace

int src_peek(byte_source& s) {
    if (s.pos < s.end) return s.buffer[s.pos];
    if (!s.file) {
        return s.base + s.pos < s.mem_size ? s.mem[s.base + s.pos] : -1;
    }
    s.base += s.end;
    s.buffer.resize(source_chunk);
    s.end = std::fread(s.buffer.data(), 1, source_chunk, s.file);
    s.pos = 0;
    if (s.progress && s.end) s.progress(s.base + s.end, s.progress_context);
    return s.end ? s.buffer[0] : -1;
}

int src_get(byte_source& s) {
    int c = src_peek(s);
    if (c >= 0) ++s.pos;
    return c;
}

uint64_t src_offset(const byte_source& s) {
    return s.base + s.pos;
}

uint64_t src_skip(byte_source& s, uint64_t n) {
    uint64_t done = 0;
    while (done < n) {
        if (!s.file) {
            const uint64_t take = std::min<uint64_t>(s.mem_size - (s.base + s.pos), n - done);
            s.pos += take;
            return done + take;
        }
        if (s.pos >= s.end && src_peek(s) < 0) break;
        const uint64_t take = std::min<uint64_t>(s.end - s.pos, n - done);
        s.pos += take;
        done += take;
    }
    return done;
}

size_t src_read(byte_source& s, std::vector<uint8_t>& out, size_t n) {
    size_t got = 0;
    while (got < n) {
        if (!s.file) {
            size_t left = s.mem_size - (s.base + s.pos);
            size_t take = std::min(left, n - got);
            out.insert(out.end(), s.mem + s.base + s.pos, s.mem + s.base + s.pos + take);
            s.pos += take;
            return got + take;
        }
        if (s.pos >= s.end && src_peek(s) < 0) break;
        size_t take = std::min(s.end - s.pos, n - got);
        out.insert(out.end(), s.buffer.begin() + s.pos, s.buffer.begin() + s.pos + take);
        s.pos += take;
        got += take;
    }
    return got;
}

void note_unknown(job_state& j, const std::string& name, uint64_t at) {
    auto [it, fresh] = j.unknown.try_emplace(name, 0, at);
    ++it->second.first;
    (void)fresh;
}

void fail(job_state& j, const std::string& what) {
    if (j.error.empty()) j.error = what;
    j.fatal = true;
}

void warn(job_state& j, const std::string& what) {
    if (j.summary && j.summary->warnings.size() < 20) j.summary->warnings.push_back(what);
}

void set_sheet(job_state& j, double w_in, double h_in, bool rotated) {
    if (j.summary) {
        j.summary->sheet_w_in = w_in;
        j.summary->sheet_h_in = h_in;
        j.summary->rotated = rotated;
    }
    if (j.sheet_known || !j.picture || !j.want.picture) {
        j.sheet_known = true;
        return;
    }
    j.sheet_known = true;
    if (!(w_in > 0 && h_in > 0 && w_in < 1e5 && h_in < 1e5)) {
        fail(j, "the sheet size is not usable");
        return;
    }
    double dpi = j.want.dpi > 0 ? j.want.dpi : j.want.long_side / std::max(w_in, h_in);
    double w = std::ceil(w_in * dpi), h = std::ceil(h_in * dpi);
    if (w * h > static_cast<double>(j.want.max_pixels)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "a picture of %.0f x %.0f pixels is too large: choose a lower --dpi", w, h);
        fail(j, text);
        return;
    }
    j.picture->dpi = dpi;
    canvas_init(j.cv, static_cast<int>(w), static_cast<int>(h));
}

// Job units to canvas pixels.
static double px(const job_state& j, double x) {
    return (x + j.origin_x) / j.units_per_inch * j.picture->dpi;
}
static double py(const job_state& j, double y) {
    return j.cv.height - (y + j.origin_y) / j.units_per_inch * j.picture->dpi;
}

void outline_printable(job_state& j, double x0, double y0, double x1, double y1) {
    if (!j.drawing_page()) return;
    canvas_frame(j.cv, px(j, x0), py(j, y0), px(j, x1), py(j, y1), 200);
}

void grow_extent(job_state& j, double x, double y) {
    grow_extent_in(j, (x + j.origin_x) / j.units_per_inch, (y + j.origin_y) / j.units_per_inch);
}

void grow_extent_in(job_state& j, double xi, double yi) {
    if (!j.summary) return;
    job_summary& s = *j.summary;
    if (!s.drawn) {
        s.drawn = true;
        s.min_x_in = s.max_x_in = xi;
        s.min_y_in = s.max_y_in = yi;
        return;
    }
    s.min_x_in = std::min(s.min_x_in, xi);
    s.max_x_in = std::max(s.max_x_in, xi);
    s.min_y_in = std::min(s.min_y_in, yi);
    s.max_y_in = std::max(s.max_y_in, yi);
}

void set_pattern(job_state& j, double length_in) {
    j.pattern_in = length_in;
    restart_pattern(j);
}

void restart_pattern(job_state& j) {
    j.dash_piece = 0;
    j.dash_pos = 0;
}

void draw_line(job_state& j, double x0, double y0, double x1, double y1) {
    if (j.summary) ++j.summary->lines;
    j.pens_used[j.line_pen & 255] = true;
    grow_extent(j, x0, y0);
    grow_extent(j, x1, y1);
    if (!j.drawing_page()) return;
    const double dpi = j.picture->dpi;
    const double w = j.width_in * dpi;
    const uint8_t grey = j.pen_grey[j.line_pen & 255];
    const std::vector<int>& d = j.dash[std::clamp(j.line_type, 0, 8)];
    const double ax = px(j, x0), ay = py(j, y0), bx = px(j, x1), by = py(j, y1);
    const double len_px = std::hypot(bx - ax, by - ay);
    const double pattern_px = j.pattern_in * dpi;
    if (j.line_type <= 0 || d.empty() || !(pattern_px > 0.5)) {
        canvas_line(j.cv, ax, ay, bx, by, w, grey);
        return;
    }
    // Walk the pattern along the segment: even entries are dashes (0 = a dot), odd gaps.
    double sum = 0;
    for (int v : d) sum += v;
    if (sum <= 0) {
        canvas_line(j.cv, ax, ay, bx, by, w, grey);
        return;
    }
    // Walk the pattern along the segment piece by piece: even pieces are dashes (length 0:
    // a dot), odd ones gaps. Each step ends a piece or the segment, so the walk always
    // advances. Only the part of the segment near the picture is walked; the pattern
    // skips over the rest, so a line that runs far off the sheet costs no more than one
    // across it.
    const double ux = len_px > 0 ? (bx - ax) / len_px : 0, uy = len_px > 0 ? (by - ay) / len_px : 0;
    size_t k = j.dash_piece % d.size();
    double into = j.dash_pos * dpi; // pixels into piece k
    auto skip = [&](double length) {
        double p = into;
        for (size_t i = 0; i < k; ++i) p += d[i] / sum * pattern_px;
        p = std::fmod(p + length, pattern_px);
        double start = 0;
        for (k = 0; k + 1 < d.size(); ++k) {
            const double piece = d[k] / sum * pattern_px;
            if (p < start + piece) break;
            start += piece;
        }
        into = p - start;
    };
    // The segment's part within the picture and a margin, as distances along it.
    double t0 = 0, t1 = len_px;
    const double margin = w / 2 + 2;
    const double lo[2] = {-margin, -margin}, hi[2] = {j.cv.width + margin, j.cv.height + margin};
    const double from[2] = {ax, ay}, dir[2] = {ux, uy};
    for (int axis = 0; axis < 2; ++axis) {
        if (dir[axis] == 0) {
            if (from[axis] < lo[axis] || from[axis] > hi[axis]) t1 = -1;
            continue;
        }
        double a = (lo[axis] - from[axis]) / dir[axis], b = (hi[axis] - from[axis]) / dir[axis];
        if (a > b) std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
    }
    if (t1 < t0) {
        skip(len_px);
        j.dash_piece = k;
        j.dash_pos = into / dpi;
        return;
    }
    if (t0 > 0) skip(t0);
    double at = t0; // pixels along the segment
    for (;;) {
        const double piece = d[k] / sum * pattern_px;
        if (into >= piece) {
            if (piece == 0 && k % 2 == 0)
                canvas_line(j.cv, ax + ux * at, ay + uy * at, ax + ux * at, ay + uy * at, w, grey);
            k = (k + 1) % d.size();
            into = 0;
            continue;
        }
        if (at >= t1) break;
        const double step = std::min(piece - into, t1 - at);
        if (k % 2 == 0)
            canvas_line(j.cv, ax + ux * at, ay + uy * at, ax + ux * (at + step),
                        ay + uy * (at + step), w, grey);
        into += step;
        at += step;
    }
    if (t1 < len_px) skip(len_px - t1);
    j.dash_piece = k;
    j.dash_pos = into / dpi;
}

void fill_polygon(job_state& j, const std::vector<double>& xy, int grey) {
    if (j.summary) ++j.summary->polygons;
    j.pens_used[j.area_pen & 255] = true;
    for (size_t i = 0; i + 1 < xy.size(); i += 2) grow_extent(j, xy[i], xy[i + 1]);
    if (!j.drawing_page()) return;
    std::vector<double> p(xy.size());
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
        p[i] = px(j, xy[i]);
        p[i + 1] = py(j, xy[i + 1]);
    }
    canvas_polygon(j.cv, p, j.halftone[std::clamp(grey, 0, 255)]);
}

void raster_start(job_state& j, const raster_frame& f, int pitch) {
    j.lay = raster_lay{};
    j.frame = f;
    if (!j.drawing_page() || pitch <= 0 || pitch > raster_pitch_limit) return;
    const double dpi = j.picture->dpi, H = j.cv.height;
    // Canvas coordinates of the frame: x grows with sheet x, y shrinks with sheet y.
    const double cox = f.ox * dpi, coy = H - f.oy * dpi;
    const double rdx = f.row_dx * dpi, rdy = -f.row_dy * dpi;
    const double ddx = f.dot_dx * dpi, ddy = -f.dot_dy * dpi;
    j.lay.along_x = ddx != 0;
    j.lay.a0 = j.lay.along_x ? coy : cox;
    j.lay.ap = j.lay.along_x ? rdy : rdx;
    j.lay.b0 = j.lay.along_x ? cox : coy;
    j.lay.bp = j.lay.along_x ? ddx : ddy;
    if (j.lay.bp == 0 || j.lay.ap == 0) return;
    j.lay.pitch = pitch;
    const int extent = j.lay.along_x ? j.cv.width : j.cv.height;
    double e0 = j.lay.b0, e1 = j.lay.b0 + pitch * j.lay.bp;
    j.lay.k0 = std::max(0, to_int(std::floor(std::min(e0, e1))));
    j.lay.k1 = std::min(extent, to_int(std::ceil(std::max(e0, e1))));
    if (j.lay.k0 >= j.lay.k1) return;
    j.lay.total.assign(j.lay.k1 - j.lay.k0, 0);
    j.lay.black.assign(j.lay.k1 - j.lay.k0, 0);
    j.lay.acc.assign(j.lay.k1 - j.lay.k0, 0);
    // Dots per along pixel: a pixel takes the dots whose centre lies in it, or, when
    // dots are larger than pixels, the dot under its centre.
    if (std::fabs(j.lay.bp) < 1) {
        for (int c = 0; c < pitch; ++c) {
            int k = to_int(std::floor(j.lay.b0 + (c + 0.5) * j.lay.bp));
            if (k >= j.lay.k0 && k < j.lay.k1) ++j.lay.total[k - j.lay.k0];
        }
    } else {
        for (int k = j.lay.k0; k < j.lay.k1; ++k) {
            double c = std::floor((k + 0.5 - j.lay.b0) / j.lay.bp);
            if (c >= 0 && c < pitch) j.lay.total[k - j.lay.k0] = 1;
        }
    }
    j.lay.active = true;
}

namespace {

// Paints canvas line `line` from black dot counts out of total * rows dots.
void paint_line(job_state& j, int line, const std::vector<uint32_t>& black, int rows) {
    const int extent = j.lay.along_x ? j.cv.height : j.cv.width;
    if (line < 0 || line >= extent) return;
    for (int k = j.lay.k0; k < j.lay.k1; ++k) {
        const uint32_t t = j.lay.total[k - j.lay.k0] * rows;
        if (!t) continue;
        const double dark = static_cast<double>(black[k - j.lay.k0]) / t;
        uint8_t& p = j.lay.along_x ? j.cv.grey[static_cast<size_t>(line) * j.cv.width + k]
                                   : j.cv.grey[static_cast<size_t>(k) * j.cv.width + line];
        const double base = j.frame.opaque ? 255.0 : p;
        p = static_cast<uint8_t>(std::lround(base * (1 - dark)));
    }
}

} // namespace

void raster_row(job_state& j, const uint8_t* bits, int pitch, int row) {
    if (!j.lay.active || pitch != j.lay.pitch) return;
    std::fill(j.lay.black.begin(), j.lay.black.end(), 0);
    const int bytes = pitch / 8;
    if (std::fabs(j.lay.bp) < 1) {
        for (int i = 0; i < bytes; ++i) {
            if (!bits[i]) continue;
            for (int b = 0; b < 8; ++b) {
                if (!(bits[i] >> (7 - b) & 1)) continue;
                int c = i * 8 + b;
                int k = to_int(std::floor(j.lay.b0 + (c + 0.5) * j.lay.bp));
                if (k >= j.lay.k0 && k < j.lay.k1) ++j.lay.black[k - j.lay.k0];
            }
        }
    } else {
        for (int k = j.lay.k0; k < j.lay.k1; ++k) {
            double c = std::floor((k + 0.5 - j.lay.b0) / j.lay.bp);
            if (c >= 0 && c < pitch) {
                int ci = static_cast<int>(c);
                j.lay.black[k - j.lay.k0] = bits[ci >> 3] >> (7 - (ci & 7)) & 1;
            }
        }
    }
    const double from = j.lay.a0 + row * j.lay.ap, to = from + j.lay.ap;
    const double lo = std::min(from, to), hi = std::max(from, to);
    if (std::fabs(j.lay.ap) >= 1) {
        // A row at least a pixel thick paints every canvas line whose centre it covers.
        const int extent = j.lay.along_x ? j.cv.height : j.cv.width;
        const int last = std::min(extent - 1, to_int(std::ceil(hi - 0.5)) - 1);
        for (int line = std::max(0, to_int(std::ceil(lo - 0.5))); line <= last; ++line)
            paint_line(j, line, j.lay.black, 1);
        return;
    }
    // Thin rows gather into the canvas line holding their centre.
    const int line = to_int(std::floor((lo + hi) / 2));
    if (line != j.lay.acc_line && j.lay.acc_rows) {
        paint_line(j, j.lay.acc_line, j.lay.acc, j.lay.acc_rows);
        std::fill(j.lay.acc.begin(), j.lay.acc.end(), 0);
        j.lay.acc_rows = 0;
    }
    j.lay.acc_line = line;
    for (size_t k = 0; k < j.lay.acc.size(); ++k) j.lay.acc[k] += j.lay.black[k];
    ++j.lay.acc_rows;
}

void raster_stop(job_state& j, int pitch, int rows) {
    const raster_frame& f = j.frame;
    if (pitch > 0 && rows > 0) {
        grow_extent_in(j, f.ox, f.oy);
        grow_extent_in(j, f.ox + rows * f.row_dx + pitch * f.dot_dx,
                       f.oy + rows * f.row_dy + pitch * f.dot_dy);
    }
    if (j.lay.active && j.lay.acc_rows) paint_line(j, j.lay.acc_line, j.lay.acc, j.lay.acc_rows);
    j.lay = raster_lay{};
}

namespace {

void init_state(job_state& j) {
    std::memset(j.pen_grey, 0, sizeof j.pen_grey);
    for (int g = 0; g < 256; ++g)
        for (int r = 0; r < halftone_rows; ++r) j.halftone[g][r] = halftone_row(g, r);
    for (int t = 0; t < 9; ++t) j.dash[t] = default_dashes[t];
}

int read_job(job_state& j, std::string* error) {
    init_state(j);
    const int first = src_peek(j.src);
    if (first == 0x1B) {
        read_hpgl_job(j);
    } else if (first == 0x9B) {
        read_ktgl_job(j);
    } else {
        if (error) *error = "not a job: no PJL or KTGL header at byte 0";
        return 2;
    }
    if (j.summary) {
        job_summary& s = *j.summary;
        s.total_bytes = src_offset(j.src);
        for (int p = 1; p < 256; ++p)
            if (j.pens_used[p]) s.pens.push_back(p);
        for (auto& [name, v] : j.unknown)
            s.unknown.push_back(name + " x" + std::to_string(v.first) + " (first at byte " +
                                std::to_string(v.second) + ")");
    }
    if (j.picture && j.cv.width > 0) {
        j.picture->width = j.cv.width;
        j.picture->height = j.cv.height;
        j.picture->grey = std::move(j.cv.grey);
    }
    if (j.picture && j.want.picture && j.picture->width == 0 && j.error.empty())
        j.error = "the job never sets up a sheet: nothing to draw";
    if (error) *error = j.error;
    if (j.picture && j.want.picture && j.picture->width == 0) return 2;
    return j.error.empty() ? 0 : 1;
}

} // namespace

int read_job_file(std::FILE* f, const view_request& want, view_picture* picture,
                  job_summary* summary, std::string* error) {
    auto j = std::make_unique<job_state>();
    j->src.file = f;
    j->src.progress = want.progress;
    j->src.progress_context = want.progress_context;
    j->want = want;
    j->picture = picture;
    j->summary = summary;
    return read_job(*j, error);
}

int read_job_memory(const uint8_t* data, size_t size, const view_request& want,
                    view_picture* picture, job_summary* summary, std::string* error) {
    auto j = std::make_unique<job_state>();
    j->src.mem = data;
    j->src.mem_size = size;
    j->want = want;
    j->picture = picture;
    j->summary = summary;
    return read_job(*j, error);
}
