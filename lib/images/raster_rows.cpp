// The host's side of raster images: row requests answered from image files.
//
// Workload: one request per device line of the image, some 20,000 for a sheet at
// 600 dpi, each for up to 28,000 pixels. A request costs a pass over its line, which
// reads cached pixels. The image is decoded once into an image store (image_store.h),
// in memory or through a temporary file: columns of a rotated sheet are asked left to
// right, each read from the image's bottom row up; rows of an unrotated sheet are asked
// from the image's bottom row, each laid from its right end; so every line is read
// from the store, never straight from the file. An image enlarged onto the sheet is
// asked for each source line several times running: the line answered last is kept
// and handed out again without sampling it anew.
#include "images/raster_rows.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

#include "host/wire.h"
#include "images/image_source.h"
#include "images/image_store.h"
#include "platform/host_address.h"
#include "raster/raster_image.h"

namespace {

// Longest line the host answers, in pixels; a longer request is answered as an error.
constexpr int32_t line_max = 1 << 26;

// One announced image.
struct image_slot {
    int32_t id;                           // host value at +12 of message 52; 0 = slot free
    script_image image;                   // as the script gave it
    std::unique_ptr<image_source> source; // the file being read, kept open between bands
    image_store store;                    // the image decoded whole, once store_filled
    bool store_filled;                    // store holds the image (and source is closed)
    std::vector<uint8_t> line;            // the answer's pixel bytes
    int64_t runs_n;                       // one-bit lines: source length runs are for
    int32_t runs_L;                       // and line length; 0 = not worked out
    std::vector<uint8_t> flipped;         // one-bit line read from its far end (reverse_bits)
    std::vector<int32_t> runs;            // (first pixel, first source pixel, count) of
                                          // each stretch where the source steps by one;
                                          // empty when stretches are short
    host_addr line_addr;                  // host address of line's bytes; 0 = not registered
    int32_t line_fixed;                   // the source column (rotated) or row line holds
    int32_t line_L;                       // and its length; 0 = line holds no answer
    bool line_rotated;                    // line answered a column of a rotated sheet
    uint8_t result[raster_result_size];   // the answer's result record
    bool failed;                          // the file could not be decoded: every answer is an error
    int64_t lines_done;                   // requests answered
    int32_t last_line, lines_all;         // progress: last line asked and the estimated total
    int32_t percent_shown;                // progress percentage on the terminal; -1 = none shown
};

struct raster_rows_state {
    image_slot slots[2];                        // the pending image and the one being sent, at most
    int32_t next_id;                            // host value of the next image, from 1
    size_t store_budget;                        // bytes of an image store kept in memory
    std::string store_folder;                   // where store files go; "" = system's
    std::string failure;                        // why the first failed image failed
    long failed_line;                           // its script line; 0 = none
    uint8_t unknown_result[raster_result_size]; // answer to a request for no known image
};

raster_rows_state rows_state = {{}, 1, image_store_default_budget, {}, {}, 0, {}};

void release_slot(image_slot& s) {
    s.source.reset();
    image_store_close(s.store);
    s.store_filled = false;
    if (s.line_addr) host_addr_forget(s.line_addr);
    s.line_addr = 0;
    std::vector<uint8_t>().swap(s.line);
    s.line_L = 0;
    s.id = 0;
}

image_slot* slot_of(int32_t id) {
    for (image_slot& s : rows_state.slots)
        if (id != 0 && s.id == id) return &s;
    return nullptr;
}

// floor(a * n / d) limited to 0 .. n - 1; 0 when d is 0.
int32_t scale_index(int64_t a, int64_t n, int64_t d) {
    if (d == 0) return 0;
    if (d < 0) a = -a, d = -d;
    int64_t p = a * n;
    int64_t q = p / d;
    if (p % d != 0 && p < 0) --q;
    return static_cast<int32_t>(std::clamp<int64_t>(q, 0, n - 1));
}

bool bit_at(const uint8_t* bits, int64_t i) {
    return bits[i / 8] >> (7 - i % 8) & 1;
}

// Marks the slot failed, every later answer an error, and keeps the first failure of
// the plot with its script line. Returns -1.
int fail_source(image_slot& s, const std::string& why) {
    s.failed = true;
    if (rows_state.failed_line == 0) {
        rows_state.failed_line = s.image.line;
        rows_state.failure = "image " + s.image.path + " cannot be decoded: " + why;
    }
    s.source.reset();
    return -1;
}

// How the script's image is to be opened: its page, window and turn, and for a drawn
// page the resolution it is rendered with.
image_open_options open_options(const script_image& img) {
    image_open_options options;
    options.page = img.page;
    options.render_dpi = img.render_dpi;
    options.crop = img.crop;
    options.turned = img.turned;
    // A raster image turned is kept in a store of its own, with the same budget.
    options.store_budget = rows_state.store_budget;
    options.store_folder = rows_state.store_folder;
    return options;
}

// Opens the slot's file unless it is open. Returns 0, or -1 (the slot then fails).
int open_source(image_slot& s) {
    if (s.source) return 0;
    std::string why;
    s.source = open_image_source(s.image.path, open_options(s.image), &why);
    if (!s.source) return fail_source(s, why);
    return 0;
}

// Decodes the image once into the slot's store, ordered for columns or rows, and holds
// the band with line `at`. A store of the other order is dropped first. Returns 0 or
// -1 (the slot then fails).
int store_line(image_slot& s, image_store_order order, int32_t at) {
    std::string why;
    if (s.store_filled && s.store.order != order) {
        image_store_close(s.store);
        s.store_filled = false;
    }
    if (!s.store_filled) {
        if (open_source(s) < 0) return -1;
        // Every read from the store trusts the size and kind the image was announced
        // with: a file replaced since then is not decoded at all.
        const image_info& info = s.source->info();
        if (info.width != s.image.width || info.height != s.image.height ||
            info.mono != s.image.mono)
            return fail_source(s, "the file changed while the plot ran");
        if (image_store_fill(s.store, *s.source, order, rows_state.store_budget,
                             rows_state.store_folder, &why) < 0)
            return fail_source(s, why);
        s.source.reset();
        s.store_filled = true;
    }
    if (image_store_hold(s.store, at, &why) < 0) return fail_source(s, why);
    return 0;
}

// One output byte per pixel from count bits starting at bits[0]'s bit 7: 1 for a set
// bit, 0 for a clear one.
void expand_bits(uint8_t* out, const uint8_t* bits, int32_t count) {
    struct expansions {
        uint8_t of[256][8];
        constexpr expansions() : of{} {
            for (int v = 0; v < 256; ++v)
                for (int k = 0; k < 8; ++k) of[v][k] = static_cast<uint8_t>(v >> (7 - k) & 1);
        }
    };
    static constexpr expansions table;
    const int32_t whole = count / 8;
    for (int32_t i = 0; i < whole; ++i) std::memcpy(out + i * 8, table.of[bits[i]], 8);
    for (int32_t i = whole * 8; i < count; ++i) out[i] = table.of[bits[i / 8]][i % 8];
}

// Works out the slot's runs for lines of L pixels over n source pixels (the sampling
// of get_rows, with the same stepping), or leaves them empty when they would average
// fewer than 16 pixels: a line is then taken pixel by pixel.
void plan_runs(image_slot& s, int64_t n, int32_t L) {
    if (s.runs_n == n && s.runs_L == L) return;
    s.runs_n = n, s.runs_L = L;
    s.runs.clear();
    const int64_t whole = n / L, part = n % L;
    if (whole > 1) return;
    int64_t along = 0, rest = 0, expected = -1;
    for (int32_t i = 0; i < L; ++i) {
        if (along != expected) {
            if (s.runs.size() / 3 * 16 > static_cast<size_t>(L)) {
                s.runs.clear();
                return;
            }
            s.runs.insert(s.runs.end(), {i, static_cast<int32_t>(along), 0});
        }
        ++s.runs.back();
        expected = along + 1;
        along += whole;
        if ((rest += part) >= L) rest -= L, ++along;
    }
}

// One output byte per pixel for count bits of bits from bit `from` on.
void expand_run(uint8_t* out, const uint8_t* bits, int64_t from, int32_t count) {
    for (; count > 0 && from % 8 != 0; --count, ++from) *out++ = bit_at(bits, from) ? 1 : 0;
    expand_bits(out, bits + from / 8, count);
}

// Puts the n bits at bits (from bit 7 of the first byte) into out in reverse order:
// out's bit p is bits' bit n - 1 - p. Each output byte joins two input bytes, each
// reversed by table, shifted by the bits that pad the input's last byte.
void reverse_bits(std::vector<uint8_t>& out, const uint8_t* bits, int64_t n) {
    struct reversals {
        uint8_t of[256];
        constexpr reversals() : of{} {
            for (int v = 0; v < 256; ++v)
                for (int k = 0; k < 8; ++k)
                    if (v >> k & 1) of[v] = static_cast<uint8_t>(of[v] | 0x80 >> k);
        }
    };
    static constexpr reversals table;
    const size_t bytes = static_cast<size_t>((n + 7) / 8);
    const unsigned pad = static_cast<unsigned>(bytes * 8 - static_cast<size_t>(n));
    out.resize(bytes);
    uint8_t* o = out.data();
    const uint8_t* last = bits + bytes - 1; // its low pad bits lie beyond the line
    for (size_t k = 0; k + 1 < bytes; ++k) {
        const unsigned hi = table.of[last[-static_cast<ptrdiff_t>(k)]];
        const unsigned lo = table.of[last[-static_cast<ptrdiff_t>(k) - 1]];
        o[k] = static_cast<uint8_t>((hi << 8 | lo) >> (8 - pad));
    }
    o[bytes - 1] = static_cast<uint8_t>(table.of[bits[0]] << pad);
}

// A line of a one-bit image: L pixels sampled from the n bits at bits.
void sample_bits(image_slot& s, uint8_t* out, const uint8_t* bits, int64_t n, int32_t L) {
    plan_runs(s, n, L);
    if (!s.runs.empty()) {
        for (size_t r = 0; r < s.runs.size(); r += 3)
            expand_run(out + s.runs[r], bits, s.runs[r + 1], s.runs[r + 2]);
        return;
    }
    const int64_t whole = n / L, part = n % L;
    int64_t along = 0, rest = 0;
    for (int32_t i = 0; i < L; ++i) {
        out[i] = bit_at(bits, along) ? 1 : 0;
        along += whole;
        if ((rest += part) >= L) rest -= L, ++along;
    }
}

// Shows how far the image has come, when standard error is a terminal.
void show_progress(image_slot& s, int32_t r, int64_t end, int64_t c1, int64_t c2) {
    s.last_line = r;
    if (end > c1)
        s.lines_all = static_cast<int32_t>(std::llround((r + 1.0) * (c2 - c1) / (end - c1)));
    if (!isatty(STDERR_FILENO) || s.lines_all <= 0) return;
    const int32_t percent =
        static_cast<int32_t>(std::min<int64_t>(100, (r + 1) * 100LL / s.lines_all));
    if (percent == s.percent_shown) return;
    s.percent_shown = percent;
    std::fprintf(stderr, "\rkvrac: image %s: %d of %d rows", s.image.path.c_str(), r + 1,
                 s.lines_all);
    std::fflush(stderr);
}

void answer_error(image_slot* s, uint8_t* result) {
    std::memset(result, 0, raster_result_size);
    le_put_i16(result, 14, 1); // error flag
    if (s) ++s->lines_done;
}

// The answer to request q: the slot's line of `bytes` bytes.
const uint8_t* answer_line(image_slot& s, const uint8_t* q, bool rotated, int32_t bytes) {
    std::memset(s.result, 0, sizeof s.result);
    le_put_u32(s.result, 0, s.line_addr);
    le_put_i32(s.result, 4, bytes);
    ++s.lines_done;
    const script_image& img = s.image;
    if (rotated)
        show_progress(s, le_i32(q, raster_request_first_x), le_i32(q, raster_request_end_x), img.x1,
                      img.x2);
    else
        show_progress(s, le_i32(q, raster_request_first_y), le_i32(q, raster_request_end_y), img.y1,
                      img.y2);
    return s.result;
}

// get_raster_rows: the line the request asks for, sampled nearest from the PNG.
const uint8_t* KVRAC_CDECL get_rows(uint8_t* q) {
    image_slot* s = slot_of(le_i32(q, raster_request_host_value));
    if (!s) {
        answer_error(nullptr, rows_state.unknown_result);
        return rows_state.unknown_result;
    }
    const int32_t fx = le_i32(q, raster_request_first_x), fy = le_i32(q, raster_request_first_y);
    const int32_t lx = le_i32(q, raster_request_last_x), ly = le_i32(q, raster_request_last_y);
    // A line along y is a column of the sheet; a single pixel tells by the request's
    // orientation word.
    const bool rotated = fx == lx && (fy != ly || le_i32(q, 40) == 7);
    const int64_t length = rotated ? int64_t{ly} - fy + 1 : int64_t{lx} - fx + 1;
    if (s->failed || length < 1 || length > line_max) {
        answer_error(s, s->result);
        return s->result;
    }
    const int32_t L = static_cast<int32_t>(length);
    const script_image& img = s->image;
    const int64_t w = img.width, h = img.height;
    const size_t bpp = img.mono ? 1 : 3;
    if (s->line.size() < static_cast<size_t>(L) * bpp) {
        if (s->line_addr) host_addr_forget(s->line_addr);
        s->line.assign(static_cast<size_t>(L) * bpp, 0);
        s->line_addr = host_addr_of(s->line.data());
        s->line_L = 0;
    }
    // The source column (rotated) or row from where the line starts on the sheet. The
    // image stands upright on the sheet: its top row lies along y2, its bottom row
    // along y1, where the driver's rows begin; so rows are counted from the bottom.
    const int32_t fixed =
        rotated
            ? scale_index(le_i32(q, raster_request_start_x) - img.x1, w, int64_t{img.x2} - img.x1)
            : static_cast<int32_t>(h - 1 -
                                   scale_index(le_i32(q, raster_request_start_y) - img.y1, h,
                                               int64_t{img.y2} - img.y1));
    // Cache the whole source line from the store: a column of a rotated sheet, else a
    // row (asked bottom row first, so the image is decoded whole once before).
    const int cached =
        store_line(*s, rotated ? image_store_order::columns : image_store_order::rows, fixed);
    if (cached < 0) {
        answer_error(s, s->result);
        return s->result;
    }
    if (s->line_L == L && s->line_fixed == fixed && s->line_rotated == rotated)
        return answer_line(*s, q, rotated, L * static_cast<int32_t>(bpp));
    s->line_L = 0; // line is being rewritten
    // Pixel i takes source pixel floor(i n / L) along the line, stepped without division.
    const int64_t n = rotated ? h : w;
    const int64_t whole = n / L, part = n % L;
    int64_t along = 0, rest = 0;
    uint8_t* out = s->line.data();
    const image_store& st = s->store;
    if (rotated) {
        assert(s->store_filled && fixed >= st.b0 && fixed < st.b1);
        const uint8_t* band = st.band.data();
        const size_t stride = st.stride;
        const int32_t col = fixed - st.b0;
        // Pixel i along the sheet's column takes the image's row n - 1 - floor(i n / L):
        // the column is read from the image's bottom up.
        if (img.mono) {
            reverse_bits(s->flipped, band + static_cast<size_t>(col) * stride, n);
            sample_bits(*s, out, s->flipped.data(), n, L);
        } else {
            const uint8_t* pixels = band + static_cast<size_t>(col) * stride;
            for (int32_t i = 0; i < L; ++i) {
                std::memcpy(out + static_cast<size_t>(i) * 3,
                            pixels + static_cast<size_t>(n - 1 - along) * 3, 3);
                along += whole;
                if ((rest += part) >= L) rest -= L, ++along;
            }
        }
    } else {
        assert(s->store_filled && st.order == image_store_order::rows);
        assert(fixed >= st.b0 && fixed < st.b1);
        const uint8_t* row = st.band.data() + static_cast<size_t>(fixed - st.b0) * st.stride;
        // On an unrotated sheet the printer lays a row from the rectangle's x2 edge (where
        // the driver puts the pen) towards x1: pixel i takes the image's column
        // n - 1 - floor(i n / L), the row read from its right end.
        if (img.mono) {
            reverse_bits(s->flipped, row, n);
            sample_bits(*s, out, s->flipped.data(), n, L);
        } else {
            for (int32_t i = 0; i < L; ++i) {
                std::memcpy(out + static_cast<size_t>(i) * 3,
                            row + static_cast<size_t>(n - 1 - along) * 3, 3);
                along += whole;
                if ((rest += part) >= L) rest -= L, ++along;
            }
        }
    }
    s->line_fixed = fixed, s->line_L = L, s->line_rotated = rotated;
    return answer_line(*s, q, rotated, L * static_cast<int32_t>(bpp));
}

// release_raster_rows: the line buffer is kept for the next request.
void KVRAC_CDECL release_rows(const uint8_t*) {}

} // namespace

int32_t raster_rows_announce(const script_image& img, uint8_t* rec) {
    image_slot* s = nullptr;
    for (image_slot& slot : rows_state.slots)
        if (slot.id == 0) s = &slot;
    if (!s) { // both taken: the older one has had its message
        s = rows_state.slots[0].id < rows_state.slots[1].id ? &rows_state.slots[0]
                                                            : &rows_state.slots[1];
        release_slot(*s);
    }
    if (rows_state.next_id <= 0) rows_state.next_id = 1;
    s->id = rows_state.next_id++;
    s->image = img;
    s->store_filled = false;
    s->line_L = 0;
    s->runs_n = 0, s->runs_L = 0;
    s->failed = false;
    s->lines_done = 0;
    s->last_line = s->lines_all = 0;
    s->percent_shown = -1;

    le_put_u32(rec, raster_header_get_rows, host_addr_of_fn(&get_rows));
    le_put_u32(rec, raster_header_release, host_addr_of_fn(&release_rows));
    le_put_i32(rec, raster_header_host_value, s->id);
    le_put_i32(rec, raster_header_x1, img.x1);
    le_put_i32(rec, raster_header_y1, img.y1);
    le_put_i32(rec, raster_header_x2, img.x2);
    le_put_i32(rec, raster_header_y2, img.y2);
    le_put_i32(rec, raster_header_kind, img.mono ? 0 : 1);
    le_put_i32(rec, raster_header_width, img.width);
    le_put_i32(rec, raster_header_height, img.height);
    le_put_i16(rec, raster_header_transparent, img.transparent ? 1 : 0);
    le_put_i16(rec, raster_header_bits, img.mono ? 1 : 8);
    le_put_i16(rec, raster_header_colour, static_cast<int>(img.colour));
    return s->id;
}

void raster_rows_settle(int32_t keep) {
    for (image_slot& s : rows_state.slots) {
        if (s.id == 0 || s.id == keep) continue;
        if (s.percent_shown >= 0) {
            std::fprintf(stderr, "\rkvrac: image %s: %d of %d rows\n", s.image.path.c_str(),
                         s.last_line + 1, std::max(s.lines_all, s.last_line + 1));
            std::fflush(stderr);
        }
        release_slot(s);
    }
}

long raster_rows_failed_line() {
    return rows_state.failed_line;
}

const std::string& raster_rows_failure() {
    return rows_state.failure;
}

int64_t raster_rows_env_budget() {
    const char* text = std::getenv("KVRAC_IMAGE_MEMORY");
    if (!text || !*text) return 0;
    char* end = nullptr;
    errno = 0;
    const long long mb = std::strtoll(text, &end, 10);
    if (errno || *end || mb < 1 || mb > (1 << 20)) return -1;
    return mb << 20;
}

void raster_rows_store(size_t memory_budget, const std::string& folder) {
    if (memory_budget) rows_state.store_budget = memory_budget;
    rows_state.store_folder = folder;
}

void raster_rows_reset() {
    for (image_slot& s : rows_state.slots) release_slot(s);
    const int64_t env = raster_rows_env_budget();
    rows_state.store_budget = env > 0 ? static_cast<size_t>(env) : image_store_default_budget;
    rows_state.store_folder.clear();
    rows_state.failure.clear();
    rows_state.failed_line = 0;
}
