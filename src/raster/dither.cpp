// Raster row conversion and ordered dither.
//
// Workload: an image arrives one source row at a time, and every row is converted at
// once into n page-bitmap rows (n is the replication factor). A sheet at 600 dpi is up
// to about 20,000 device pixels wide and as many rows long, so a full-page image is
// hundreds of millions of device pixels: the per-pixel work must stay a handful of
// operations. Each row is therefore taken in three passes over plain byte arrays:
//   1. one dither level per source pixel (colour -> grey -> correction), computed once
//      per source pixel even when it is replicated;
//   2. the levels widened n times in place, with white levels for the padding;
//   3. for each of the n device rows, the levels compared with that row's thresholds,
//      eight pixels per output byte, written straight into the page bitmap.
// The correction table is folded into a 256-entry level table when an image starts,
// and the dither matrix is a compile-time table.
//
// An image enlarged by the host (a photo spread over a sheet) arrives with each source
// line repeated over several device rows. A colour row whose bytes equal the previous
// row's has the same levels, so passes 1 and 2 are skipped for it: comparing and
// keeping a row costs a fraction of working out its levels.
#include "raster/dither.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "color/correction.h"

// The 8 x 8 core of the dither matrix, a permutation of 0 .. 63.
static constexpr uint8_t dither_core[8][8] = {
    {0, 52, 8, 60, 18, 38, 26, 46},  {36, 16, 44, 24, 54, 2, 62, 10},
    {48, 4, 56, 12, 34, 22, 42, 30}, {20, 32, 28, 40, 6, 50, 14, 58},
    {27, 47, 19, 39, 9, 61, 1, 53},  {63, 11, 55, 3, 45, 25, 37, 17},
    {43, 31, 35, 23, 57, 13, 49, 5}, {15, 59, 7, 51, 29, 41, 21, 33},
};

struct dither_matrix {
    uint16_t threshold[16][16]; // 1 .. 256, each once: black when level >= threshold
    uint8_t compare[16][16];    // threshold limited to 255, for byte comparisons
};

// Each core entry k spreads over a 2 x 2 set of matrix cells, one per 8 x 8 quarter:
// 4k + 1 in the top-left quarter, 4k + 2 top-right, 4k + 3 bottom-left, 4k + 4
// bottom-right. Limiting 256 to 255 for the comparison keeps every result: a level
// below 255 is never >= 255 or 256, and level 255 is black everywhere.
static constexpr dither_matrix make_dither_matrix() {
    dither_matrix m{};
    for (int r = 0; r < 16; r++) {
        for (int c = 0; c < 16; c++) {
            int t = 4 * dither_core[r % 8][c % 8] + 2 * (r / 8) + c / 8 + 1;
            m.threshold[r][c] = (uint16_t)t;
            m.compare[r][c] = (uint8_t)(t > 255 ? 255 : t);
        }
    }
    return m;
}

static constexpr dither_matrix matrix = make_dither_matrix();

// Row conversion state, one image at a time (between raster_rows_begin and
// raster_rows_end).
struct raster_rows_state {
    page_bitmap* page;          // bitmap the rows go into; null when no image is open
    int32_t n;                  // replication factor, >= 1
    int32_t source_width;       // source pixels accepted per row: page width / n, >= 0
    int32_t transparent;        // 1: pixels of the key colour become white; 0: opaque
    uint8_t key[3];             // key colour: red, green, blue
    uint8_t* levels;            // one device row of dither levels, 8 * row_bytes entries
    uint8_t* last_row;          // the last colour row's pixels, 3 * source_width bytes;
                                // null when it could not be obtained (rows then not compared)
    int32_t last_count;         // pixels of last_row that levels was made from; -1 = levels
                                // holds no colour row's levels
    uint8_t level_of_grey[256]; // dither level for each grey: 255 - correction, 0 = white
};

static raster_rows_state rows;

// Grey level 0 .. 255 of a colour. For red = green = blue the weighted sum is exactly
// 100 times the component, so grey pixels keep their value without a separate test.
static inline uint32_t grey_of(uint32_t red, uint32_t green, uint32_t blue) {
    return (30 * red + 59 * green + 11 * blue) / 100;
}

// Dither level of a colour after the key test (used once per row, for the foreground).
static uint8_t level_of(uint32_t red, uint32_t green, uint32_t blue) {
    bool key =
        rows.transparent && red == rows.key[0] && green == rows.key[1] && blue == rows.key[2];
    return rows.level_of_grey[key ? 255 : grey_of(red, green, blue)];
}

// Levels of count colour pixels (three bytes each) into lev[0 .. count). Opaque images,
// the common case, take a loop without the key test; the keyed loop tests without
// branches. Everything the loops read is copied to locals first, since the byte stores
// could otherwise alias the module state.
static void colour_levels(const uint8_t* px, int32_t count, uint8_t* lev) {
    const uint8_t* level_of_grey = rows.level_of_grey;
    if (!rows.transparent) {
        for (int32_t i = 0; i < count; i++, px += 3)
            lev[i] = level_of_grey[grey_of(px[0], px[1], px[2])];
        return;
    }
    const uint32_t key_red = rows.key[0], key_green = rows.key[1], key_blue = rows.key[2];
    const uint8_t white = level_of_grey[255];
    for (int32_t i = 0; i < count; i++, px += 3) {
        uint32_t red = px[0], green = px[1], blue = px[2];
        uint8_t level = level_of_grey[grey_of(red, green, blue)];
        bool key = (red == key_red) & (green == key_green) & (blue == key_blue);
        lev[i] = key ? white : level;
    }
}

// Levels of count one-byte pixels into lev[0 .. count): nonzero bytes take the
// foreground's level, zero bytes white's.
static void mono_levels(const uint8_t* px, int32_t count, uint8_t fg, uint8_t* lev) {
    const uint8_t bg = level_of(255, 255, 255);
    for (int32_t i = 0; i < count; i++) lev[i] = px[i] ? fg : bg;
}

// Repeats each of lev[0 .. count) n times in place, giving lev[0 .. count * n).
// Works from the end so that no level is overwritten before it is copied.
static void widen_levels(uint8_t* lev, int32_t count, int32_t n) {
    for (int32_t i = count - 1; i >= 0; i--) memset(lev + (size_t)i * n, lev[i], (size_t)n);
}

// Dithers lev[0 .. pixels) as matrix row y into out, pixels / 8 bytes, pixel 0 in the
// most significant bit. pixels is a multiple of 16, so each pair of output bytes
// covers one full matrix row.
static void dither_levels(const uint8_t* lev, int32_t pixels, int32_t y, uint8_t* out) {
    assert(pixels % 16 == 0);
    const uint8_t* t = matrix.compare[y & 15];
    for (int32_t j = 0; j < pixels; j += 16, lev += 16, out += 2) {
        unsigned hi = 0, lo = 0;
        for (int k = 0; k < 8; k++) {
            hi = hi << 1 | (lev[k] >= t[k]);
            lo = lo << 1 | (lev[8 + k] >= t[8 + k]);
        }
        out[0] = (uint8_t)hi;
        out[1] = (uint8_t)lo;
    }
}

// True when the levels held were made from a colour row of `count` pixels with the
// same bytes as pixels.
static bool same_as_last_row(const uint8_t* pixels, int32_t count) {
    return rows.last_count == count &&
           (count == 0 || memcmp(rows.last_row, pixels, (size_t)count * 3) == 0);
}

// Notes the row the levels are now made from: a colour row is kept for the next
// comparison, a mono row leaves no colour levels.
static void keep_row(int32_t mode, const uint8_t* pixels, int32_t count) {
    rows.last_count = -1;
    if (mode != raster_mode_colour || rows.last_row == nullptr) return;
    if (count > 0) memcpy(rows.last_row, pixels, (size_t)count * 3);
    rows.last_count = count;
}

int raster_rows_begin(page_bitmap* page, int32_t n, int32_t transparent, uint8_t key_red,
                      uint8_t key_green, uint8_t key_blue) {
    assert(page != nullptr);
    raster_rows_end();
    if (n < 1 || page->width < 0 || page->capacity < 0) return -1;
    if (page->bytes == nullptr && page->capacity > 0) return -1;
    page->row_bytes = page_row_bytes(page->width);
    page->rows = 0;
    rows.levels = (uint8_t*)malloc((size_t)page->row_bytes * 8);
    if (rows.levels == nullptr) return -1;
    rows.last_row = (uint8_t*)malloc((size_t)(page->width / n) * 3 + 1);
    rows.last_count = -1;
    rows.page = page;
    rows.n = n;
    rows.source_width = page->width / n;
    rows.transparent = transparent != 0;
    rows.key[0] = key_red;
    rows.key[1] = key_green;
    rows.key[2] = key_blue;
    for (int g = 0; g < 256; g++) rows.level_of_grey[g] = (uint8_t)(255 - correction.table[g]);
    return 0;
}

int raster_add_row(int32_t count, const uint8_t* pixels, int32_t mode, uint8_t fg_red,
                   uint8_t fg_green, uint8_t fg_blue) {
    page_bitmap* page = rows.page;
    if (page == nullptr || count < 0 || (pixels == nullptr && count > 0)) return -1;
    if (mode != raster_mode_colour && mode != raster_mode_mono) return -1;

    int32_t used = count < rows.source_width ? count : rows.source_width;
    int32_t device = used * rows.n;
    int32_t pitch = page->row_bytes * 8;
    assert(device <= page->width && page->width < pitch);

    uint8_t* lev = rows.levels;
    // A repeated colour row finds its levels, widened and padded, still in lev.
    if (mode != raster_mode_colour || !same_as_last_row(pixels, used)) {
        if (mode == raster_mode_colour)
            colour_levels(pixels, used, lev);
        else
            mono_levels(pixels, used, level_of(fg_red, fg_green, fg_blue), lev);
        if (rows.n > 1) widen_levels(lev, used, rows.n);
        memset(lev + device, rows.level_of_grey[255], (size_t)(pitch - device));
        keep_row(mode, pixels, used);
    }

    for (int32_t k = 0; k < rows.n; k++) {
        if (page->rows >= page->capacity) return -1;
        uint8_t* out = page->bytes + (size_t)page->rows * page->row_bytes;
        dither_levels(lev, pitch, page->rows, out);
        page->rows++;
    }
    return 0;
}

void raster_rows_end() {
    free(rows.levels);
    free(rows.last_row);
    rows.levels = nullptr;
    rows.last_row = nullptr;
    rows.last_count = -1;
    rows.page = nullptr;
}

int raster_threshold(int row, int col) {
    return matrix.threshold[row & 15][col & 15];
}

int raster_basic_colour(int32_t index, uint8_t rgb[3]) {
    static const uint8_t basic[8][3] = {
        {255, 255, 255}, {255, 0, 0}, {255, 255, 0}, {0, 255, 0},
        {0, 255, 255},   {0, 0, 255}, {255, 0, 255}, {0, 0, 0},
    };
    int32_t i = index < 0 || index > 7 ? 7 : index;
    memcpy(rgb, basic[i], 3);
    return index < 0 ? -1 : 0;
}
