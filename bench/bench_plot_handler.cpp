// Cost of one move or draw message through the plot handler, as the host sends it: a
// fresh zeroed 2,064-byte record per message, the dispatch, the pending-pen test and
// the encoder, with the output buffer emptying into a host that accepts everything.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "host/entry.h"
#include "host/host_services.h"
#include "host/wire.h"
#include "platform/host_address.h"
#include "plot/plot_handler.h"

namespace {

int KVRAC_CDECL accept_write(int, int, const void*, int, int) {
    return 1;
}
void KVRAC_CDECL quiet(const char*) {}
uint8_t store[40];
bool stored = false;
int KVRAC_CDECL load(int n, void* b) {
    if (!stored || n != 40) return 1;
    std::memcpy(b, store, 40);
    return 0;
}
int KVRAC_CDECL save(int n, const void* b) {
    std::memcpy(store, b, n);
    stored = true;
    return 0;
}
int KVRAC_CDECL service_192(int, int) {
    return 0;
}

uint8_t table[256];
uint8_t rec[2064];

void send(int code, void (*fill)(uint8_t*) = nullptr) {
    std::memset(rec, 0, sizeof rec);
    le_put_i16(rec, 0, code);
    if (fill) fill(rec);
    plot_handler(rec);
}

// Configures with the defaults (language by mode), then starts a job.
void start_job(uint16_t mode_flags) {
    le_put_u32(table, host_print_offset, host_addr_of_fn(&quiet));
    le_put_u32(table, host_send_text_offset, host_addr_of_fn(&quiet));
    le_put_u32(table, host_write_offset, host_addr_of_fn(&accept_write));
    le_put_u32(table, host_load_config_offset, host_addr_of_fn(&load));
    le_put_u32(table, host_save_config_offset, host_addr_of_fn(&save));
    le_put_u32(table, host_service_192_offset, host_addr_of_fn(&service_192));
    PLADI(table, 0);
    // A default record in the chosen language, A0 format.
    std::memset(store, 0, sizeof store);
    le_put_i32(store, 0, 1);
    le_put_i32(store, 4, 11);
    le_put_i32(store, 8, 396);
    le_put_i32(store, 20, 1);
    le_put_u16(store, 28, 0x1000);
    le_put_u16(store, 30, mode_flags);
    stored = true;
    send(49, [](uint8_t* r) {
        le_put_i16(r, 4, 1);
        r[7] = 2;
    });
    send(50);
    send(29, [](uint8_t* r) { le_put_i16(r, 4, 3); });
    send(46);
    send(30);
}

void moves_and_draws(benchmark::State& state, uint16_t mode_flags) {
    start_job(mode_flags);
    uint32_t seed = 12345, x = 20000, y = 20000;
    long i = 0;
    for (auto _ : state) {
        seed = seed * 1103515245 + 12345;
        x = (x + (seed >> 16) % 301 - 150) & 0x7FFF;
        y = (y + (seed >> 8) % 301 - 150) & 0x7FFF;
        std::memset(rec, 0, sizeof rec);
        le_put_i16(rec, 0, i++ % 8 == 0 ? 3 : 4);
        le_put_u16(rec, 4, static_cast<uint16_t>(x));
        le_put_u16(rec, 6, static_cast<uint16_t>(y));
        plot_handler(rec);
        benchmark::DoNotOptimize(rec[0]);
    }
    state.SetItemsProcessed(state.iterations());
    send(2);
}

void BM_plot_handler_rtl(benchmark::State& state) {
    moves_and_draws(state, 0x0100);
}
void BM_plot_handler_ktgl(benchmark::State& state) {
    moves_and_draws(state, 0x0140);
}

BENCHMARK(BM_plot_handler_rtl);
BENCHMARK(BM_plot_handler_ktgl);

} // namespace

BENCHMARK_MAIN();
