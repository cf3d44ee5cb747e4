// MMR coder throughput against libtiff's CCITT Group 4 encoder, on the same bitmaps in
// the same run: an A0 sheet at 600 dpi (19,900 x 28,100 pixels) of CAD-like content
// (thin lines, circles, text-like strokes, large blanks) and the same sheet filled with
// ordered-dither greys. Both coders work band by band, with the bands the raster
// stream uses for a sheet this size (896 rows). Throughput is in page-bitmap bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "raster/dither.h"
#include "raster/mmr.h"
#include "raster/page_bitmap.h"

#ifdef KVRAC_HAVE_TIFF
#include <tiffio.h>
#endif

namespace {

constexpr int32_t sheet_width = 19900; // pixels
constexpr int32_t sheet_rows = 28100;
constexpr int32_t band_rows = 896; // 32 x ceil((28,100 / 32) / 32)

struct sheet {
    int32_t pitch;  // P, pixels
    int32_t stride; // S, bytes
    std::vector<uint8_t> bytes;
};

void plot(sheet& s, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= sheet_width || y >= sheet_rows) return;
    s.bytes[static_cast<size_t>(y) * s.stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

void dot(sheet& s, int32_t x, int32_t y, int32_t pen) {
    for (int32_t dy = 0; dy < pen; ++dy)
        for (int32_t dx = 0; dx < pen; ++dx) plot(s, x + dx, y + dy);
}

void line(sheet& s, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t pen) {
    int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
    for (;;) {
        dot(s, x0, y0, pen);
        if (x0 == x1 && y0 == y1) break;
        int32_t e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
}

void circle(sheet& s, int32_t cx, int32_t cy, int32_t r, int32_t pen) {
    int32_t steps = std::max(16, static_cast<int32_t>(6.3 * r));
    for (int32_t i = 0; i < steps; ++i) {
        double a = 6.283185307179586 * i / steps;
        dot(s, cx + static_cast<int32_t>(r * std::cos(a)),
            cy + static_cast<int32_t>(r * std::sin(a)), pen);
    }
}

sheet blank_sheet() {
    sheet s;
    s.stride = page_row_bytes(sheet_width);
    s.pitch = s.stride * 8;
    s.bytes.assign(static_cast<size_t>(s.stride) * sheet_rows, 0);
    return s;
}

// A drawing: frame and title block, a part drawn with long lines, circles and hatching,
// dimension lines, and blocks of text-like glyph strokes; most of the sheet is blank.
sheet cad_sheet() {
    sheet s = blank_sheet();
    std::mt19937 rng(2024);
    auto rnd = [&](int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(rng() % (hi - lo)); };
    const int32_t w = sheet_width, h = sheet_rows;
    for (int32_t k = 0; k < 8; k += 7) { // frame, two pens
        line(s, 240 + k, 240 + k, w - 240 - k, 240 + k, 4);
        line(s, w - 240 - k, 240 + k, w - 240 - k, h - 240 - k, 4);
        line(s, w - 240 - k, h - 240 - k, 240 + k, h - 240 - k, 4);
        line(s, 240 + k, h - 240 - k, 240 + k, 240 + k, 4);
    }
    for (int32_t i = 0; i < 6; ++i) // title block
        line(s, w - 5200, h - 2400 + i * 360, w - 250, h - 2400 + i * 360, 3);
    for (int32_t i = 0; i < 900; ++i) { // construction and outline lines
        int32_t x = rnd(400, w - 400), y = rnd(400, h - 400), len = rnd(200, 6000);
        int32_t pen = rnd(1, 5);
        switch (i % 3) {
        case 0:
            line(s, x, y, std::min(w - 400, x + len), y, pen);
            break;
        case 1:
            line(s, x, y, x, std::min(h - 400, y + len), pen);
            break;
        default:
            line(s, x, y, x + rnd(-len, len), y + rnd(-len, len), pen);
            break;
        }
    }
    for (int32_t i = 0; i < 250; ++i)
        circle(s, rnd(800, w - 800), rnd(800, h - 800), rnd(20, 1500), rnd(1, 4));
    for (int32_t i = 0; i < 12; ++i) { // hatched areas
        int32_t x = rnd(1000, w - 4000), y = rnd(1000, h - 4000), size = rnd(800, 3000);
        for (int32_t d = 0; d < 2 * size; d += 40)
            line(s, x + std::max(0, d - size), y + std::min(d, size), x + std::min(d, size),
                 y + std::max(0, d - size), 2);
    }
    for (int32_t block = 0; block < 140; ++block) { // notes and dimensions: text lines
        int32_t x0 = rnd(400, w - 4000), y0 = rnd(400, h - 600);
        int32_t lines = rnd(1, 6), chars = rnd(8, 60);
        for (int32_t l = 0; l < lines; ++l)
            for (int32_t c = 0; c < chars; ++c) {
                int32_t gx = x0 + c * 30, gy = y0 + l * 56;
                if (gx + 24 >= w) break;
                for (int32_t k = rnd(2, 6); k > 0; --k)
                    line(s, gx + rnd(0, 24), gy + rnd(0, 36), gx + rnd(0, 24), gy + rnd(0, 36), 3);
            }
    }
    return s;
}

// Greys through the 16 x 16 ordered-dither matrix: smooth ramps and a few flat tones.
sheet dither_sheet() {
    int threshold[16][16];
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) threshold[r][c] = raster_threshold(r, c);
    sheet s = blank_sheet();
    std::vector<int> level(sheet_width);
    for (int32_t y = 0; y < sheet_rows; ++y) {
        if (y % 4 == 0) { // the tone changes slowly: a level per 4 x 4 pixels
            double fy = static_cast<double>(y) / sheet_rows;
            for (int32_t x = 0; x < sheet_width; x += 4) {
                double fx = static_cast<double>(x) / sheet_width;
                double g =
                    0.5 + 0.35 * std::sin(9.0 * fx + 4.0 * fy) * std::cos(5.0 * fy - 2.0 * fx);
                if ((x / 3000 + y / 4000) % 5 == 0) g = 0.25 * (1 + (x / 3000) % 3); // flat tones
                int v = std::clamp(static_cast<int>(g * 255), 0, 255);
                for (int32_t k = x; k < std::min(x + 4, sheet_width); ++k) level[k] = v;
            }
        }
        uint8_t* row = &s.bytes[static_cast<size_t>(y) * s.stride];
        const int* t = threshold[y % 16];
        for (int32_t x = 0; x < sheet_width; ++x)
            if (level[x] >= t[x % 16]) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    return s;
}

const sheet& cad() {
    static const sheet s = cad_sheet();
    return s;
}

const sheet& dithered() {
    static const sheet s = dither_sheet();
    return s;
}

// Codes the sheet band by band as the raster stream does; returns the coded bytes.
void mmr_sheet(benchmark::State& state, const sheet& s) {
    std::vector<int32_t> lists(2 * static_cast<size_t>(mmr_list_entries(s.pitch)));
    int64_t capacity = std::max<int64_t>(4LL * band_rows * (s.stride + 100),
                                         mmr_worst_case_bytes(band_rows, s.pitch));
    std::vector<uint8_t> coded(capacity);
    int64_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (int32_t y = 0; y < sheet_rows; y += band_rows) {
            int32_t rows = std::min(band_rows, sheet_rows - y);
            int32_t c =
                mmr_code_piece(&s.bytes[static_cast<size_t>(y) * s.stride], rows, s.stride, s.pitch,
                               lists.data(), coded.data(), static_cast<int32_t>(capacity));
            if (c < 0) state.SkipWithError("coded buffer too small");
            total += c;
        }
        benchmark::DoNotOptimize(coded.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.bytes.size()));
    state.counters["coded_bytes"] = static_cast<double>(total);
}

void BM_mmr_cad(benchmark::State& state) {
    mmr_sheet(state, cad());
}
void BM_mmr_dither(benchmark::State& state) {
    mmr_sheet(state, dithered());
}

#ifdef KVRAC_HAVE_TIFF

// A TIFF written to memory; the vector keeps its capacity from one run to the next.
struct memory_file {
    std::vector<uint8_t> data;
    uint64_t pos = 0;
    uint64_t size = 0;
};

tmsize_t mem_read(thandle_t, void*, tmsize_t) {
    return 0;
}
tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<memory_file*>(h);
    if (f->pos + n > f->data.size())
        f->data.resize(std::max<uint64_t>(f->pos + n, 2 * f->data.size()));
    std::memcpy(f->data.data() + f->pos, buf, n);
    f->pos += n;
    f->size = std::max(f->size, f->pos);
    return n;
}
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<memory_file*>(h);
    f->pos = whence == SEEK_CUR ? f->pos + off : whence == SEEK_END ? f->size + off : off;
    return f->pos;
}
int mem_close(thandle_t) {
    return 0;
}
toff_t mem_size(thandle_t h) {
    return static_cast<memory_file*>(h)->size;
}
int mem_map(thandle_t, void**, toff_t*) {
    return 0;
}
void mem_unmap(thandle_t, void*, toff_t) {}

void tiff_sheet(benchmark::State& state, const sheet& s) {
    memory_file f;
    f.data.resize(64 << 20);
    for (auto _ : state) {
        f.pos = f.size = 0;
        TIFF* t = TIFFClientOpen("memory", "w", &f, mem_read, mem_write, mem_seek, mem_close,
                                 mem_size, mem_map, mem_unmap);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(s.pitch));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(sheet_rows));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(band_rows));
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        for (int32_t y = 0, strip = 0; y < sheet_rows; y += band_rows, ++strip) {
            int32_t rows = std::min(band_rows, sheet_rows - y);
            tmsize_t n = static_cast<tmsize_t>(rows) * s.stride;
            // The fax encoder only reads its input (1-bit, no predictor, no swapping).
            uint8_t* rows_in = const_cast<uint8_t*>(&s.bytes[static_cast<size_t>(y) * s.stride]);
            if (TIFFWriteEncodedStrip(t, strip, rows_in, n) < 0)
                state.SkipWithError("libtiff failed");
        }
        TIFFClose(t);
        benchmark::DoNotOptimize(f.data.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.bytes.size()));
    state.counters["file_bytes"] = static_cast<double>(f.size);
}

void BM_libtiff_cad(benchmark::State& state) {
    tiff_sheet(state, cad());
}
void BM_libtiff_dither(benchmark::State& state) {
    tiff_sheet(state, dithered());
}

#endif

} // namespace

BENCHMARK(BM_mmr_cad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_mmr_dither)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef KVRAC_HAVE_TIFF
BENCHMARK(BM_libtiff_cad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_libtiff_dither)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

BENCHMARK_MAIN();
