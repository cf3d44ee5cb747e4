// Row conversion and dither throughput, in device pixels per second, for rows as wide
// as an A0 sheet at 600 dpi.
#include <benchmark/benchmark.h>

#include <vector>

#include "color/correction.h"
#include "raster/dither.h"

namespace {

constexpr int32_t a0_600dpi = 19900; // device pixels per row
constexpr int32_t rows_held = 256;   // bitmap rows; the image restarts when it is full

// Converts rows of `width` source pixels with replication n; counts device pixels.
// Consecutive rows differ, unless `repeated`: then every row is the same, as the rows
// of an image the host enlarges several times over.
void convert_rows(benchmark::State& state, int32_t mode, int32_t n, int32_t transparent,
                  bool repeated = false) {
    const int32_t width = a0_600dpi / n;
    const int32_t bytes_per_pixel = mode == raster_mode_colour ? 3 : 1;
    std::vector<uint8_t> rows[2];
    uint32_t seed = 12345; // a varied image: tones, colours and white
    for (auto& row : rows) {
        row.resize((size_t)width * bytes_per_pixel);
        for (auto& b : row) {
            seed = seed * 1103515245u + 12345u;
            b = (uint8_t)(seed >> 16);
        }
    }
    size_t next = 0;
    reset_correction();
    page_bitmap page{};
    std::vector<uint8_t> bytes((size_t)rows_held * page_row_bytes(width * n));
    page = {bytes.data(), 0, width * n, 0, rows_held};
    raster_rows_begin(&page, n, transparent, 0, 1, 2);
    for (auto _ : state) {
        if (page.rows + n > page.capacity) raster_rows_begin(&page, n, transparent, 0, 1, 2);
        raster_add_row(width, rows[next].data(), mode, 0, 0, 0);
        if (!repeated) next ^= 1;
        benchmark::DoNotOptimize(bytes.data());
    }
    raster_rows_end();
    state.SetItemsProcessed(state.iterations() * (int64_t)width * n * n);
}

void BM_colour_row(benchmark::State& state) {
    convert_rows(state, raster_mode_colour, 1, 0);
}
void BM_colour_row_repeated(benchmark::State& state) {
    convert_rows(state, raster_mode_colour, 1, 0, true);
}
void BM_colour_row_keyed(benchmark::State& state) {
    convert_rows(state, raster_mode_colour, 1, 1);
}
void BM_colour_row_n2(benchmark::State& state) {
    convert_rows(state, raster_mode_colour, 2, 0);
}
void BM_mono_row(benchmark::State& state) {
    convert_rows(state, raster_mode_mono, 1, 0);
}
void BM_mono_row_n4(benchmark::State& state) {
    convert_rows(state, raster_mode_mono, 4, 0);
}

} // namespace

BENCHMARK(BM_colour_row);
BENCHMARK(BM_colour_row_repeated);
BENCHMARK(BM_colour_row_keyed);
BENCHMARK(BM_colour_row_n2);
BENCHMARK(BM_mono_row);
BENCHMARK(BM_mono_row_n4);
BENCHMARK_MAIN();
