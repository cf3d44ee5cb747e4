// Cost of one move or draw through the vector encoder into the output buffer, in both
// output languages. The host's write service accepts everything, so buffer flushes are
// included at their real rate (one per 2 MB).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "geometry/vector.h"
#include "host/host_services.h"
#include "host/settings.h"
#include "host/wire.h"
#include "platform/host_address.h"
#include "output/output.h"
#include "plot/pens.h"

namespace {

int KVRAC_CDECL accept_write(int, int, const void*, int, int) {
    return 1;
}

uint8_t service_table[host_service_table_size];

void start_job(uint16_t mode_flags, uint16_t plot_flags) {
    le_put_u32(service_table, host_write_offset, host_addr_of_fn(&accept_write));
    host_link.service_table = service_table;
    host_link.abort_flag = abort_clear;
    settings.mode_flags = mode_flags;
    settings.plot_flags = plot_flags;
    runtime.scale_factor = mode_flags & mode_ktgl ? 0.5 : 1.0;
    vec.small_sheet = 1;
    out_open();
    pens_reset();
    pens_job_start();
    vector_job_start();
}

// A drawing of short lines: a move every eighth point, draws between, steps of a few
// units to a few hundred, as a typical plot of text and hatching produces.
std::vector<uint16_t> drawing_points() {
    std::vector<uint16_t> xy;
    uint32_t seed = 12345, x = 20000, y = 20000;
    for (int i = 0; i < 4096; ++i) {
        seed = seed * 1103515245 + 12345;
        x = (x + (seed >> 16) % 301 - 150) & 0x7FFF;
        y = (y + (seed >> 8) % 301 - 150) & 0x7FFF;
        xy.push_back(static_cast<uint16_t>(x));
        xy.push_back(static_cast<uint16_t>(y));
    }
    return xy;
}

void run(benchmark::State& state, uint16_t mode_flags, uint16_t plot_flags) {
    start_job(mode_flags, plot_flags);
    std::vector<uint16_t> xy = drawing_points();
    size_t n = xy.size() / 2, i = 0;
    for (auto _ : state) {
        uint16_t x = xy[2 * i], y = xy[2 * i + 1];
        int result = i % 8 == 0 ? vector_move_to(x, y) : vector_draw_to(x, y);
        benchmark::DoNotOptimize(result);
        if (++i == n) i = 0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    out_close();
}

void BM_rtl_base32(benchmark::State& state) {
    run(state, 0, 0);
}
void BM_rtl_base64(benchmark::State& state) {
    run(state, 0, plot_pe_base64);
}
void BM_ktgl(benchmark::State& state) {
    run(state, mode_ktgl, 0);
}

BENCHMARK(BM_rtl_base32);
BENCHMARK(BM_rtl_base64);
BENCHMARK(BM_ktgl);

} // namespace

BENCHMARK_MAIN();
