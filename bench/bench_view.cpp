// Reading an image job back: the job reader's decode and render of every raster piece
// against libtiff alone decoding the same MMR code, in the same run.
//
//   KVRAC_VIEW_JOB=job.prn bench_view      (bench/view_e2e.sh makes an A0 600 dpi job)
//
// The reader's figure includes the PJL/HP-GL/2 parsing, libtiff's decoding through the
// reader's in-memory TIFF, and laying every decoded row onto a 2000-pixel picture; the
// libtiff figure decodes each piece's code into a whole strip in memory and nothing more.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if KVRAC_HAVE_JOBREAD && KVRAC_HAVE_TIFF
#include <dlfcn.h>
#include <tiffio.h>

#include <algorithm>

#include "jobread/canvas.h"
#include "jobread/job_reader.h"

namespace {

const std::string& job() {
    static std::string bytes = [] {
        const char* path = std::getenv("KVRAC_VIEW_JOB");
        if (!path) return std::string();
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

struct piece {
    int pitch, rows;
    const uint8_t* code;
    size_t size;
};

// The HP-RTL raster pieces of the job: "\e*r%dS\e*r%dT\e*r1A\e*b8M\e*b%dW", the pitch as
// four bytes, the code.
std::vector<piece> pieces() {
    std::vector<piece> out;
    const std::string& s = job();
    for (size_t at = s.find("\x1B*r"); at != std::string::npos; at = s.find("\x1B*r", at + 1)) {
        int pitch = 0, rows = 0, bytes = 0;
        if (std::sscanf(s.c_str() + at, "\x1B*r%dS\x1B*r%dT\x1B*r1A\x1B*b8M\x1B*b%dW", &pitch,
                        &rows, &bytes) != 3)
            continue;
        size_t data = s.find('W', at) + 1 + 4;
        out.push_back({pitch, rows, reinterpret_cast<const uint8_t*>(s.data() + data),
                       static_cast<size_t>(bytes - 4)});
    }
    return out;
}

struct memory {
    std::vector<uint8_t> bytes;
    uint64_t pos = 0;
};
tmsize_t rd(thandle_t h, void* b, tmsize_t n) {
    auto* m = static_cast<memory*>(h);
    uint64_t left = m->pos < m->bytes.size() ? m->bytes.size() - m->pos : 0;
    uint64_t take = std::min<uint64_t>(left, static_cast<uint64_t>(n));
    std::memcpy(b, m->bytes.data() + m->pos, take);
    m->pos += take;
    return static_cast<tmsize_t>(take);
}
tmsize_t wr(thandle_t h, void* b, tmsize_t n) {
    auto* m = static_cast<memory*>(h);
    if (m->pos + n > m->bytes.size()) m->bytes.resize(m->pos + n);
    std::memcpy(m->bytes.data() + m->pos, b, n);
    m->pos += n;
    return n;
}
toff_t sk(thandle_t h, toff_t o, int w) {
    auto* m = static_cast<memory*>(h);
    m->pos = w == SEEK_SET ? o : w == SEEK_CUR ? m->pos + o : m->bytes.size() + o;
    return m->pos;
}
int cl(thandle_t) {
    return 0;
}
toff_t sz(thandle_t h) {
    return static_cast<memory*>(h)->bytes.size();
}
int mp(thandle_t, void**, toff_t*) {
    return 0;
}
void um(thandle_t, void*, toff_t) {}

// Each piece wrapped once as a one-strip Group 4 TIFF in memory (outside the timing).
std::vector<memory> wrapped() {
    std::vector<memory> out;
    for (const piece& p : pieces()) {
        memory m;
        TIFF* t = TIFFClientOpen("w", "w", &m, rd, wr, sk, cl, sz, mp, um);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.pitch));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.rows));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(p.rows));
        TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(p.code), static_cast<tmsize_t>(p.size));
        TIFFClose(t);
        out.push_back(std::move(m));
    }
    return out;
}

void BM_ReaderDecodeAndRender(benchmark::State& state) {
    const std::string& s = job();
    if (s.empty()) {
        state.SkipWithError("set KVRAC_VIEW_JOB to a job file");
        return;
    }
    for (auto _ : state) {
        view_picture pic;
        job_summary sum;
        std::string error;
        int rc = read_job_memory(reinterpret_cast<const uint8_t*>(s.data()), s.size(),
                                 view_request{}, &pic, &sum, &error);
        if (rc != 0) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(pic.grey.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.size()));
}
BENCHMARK(BM_ReaderDecodeAndRender)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibtiffDecodeOnly(benchmark::State& state) {
    std::vector<memory> files = wrapped();
    if (files.empty()) {
        state.SkipWithError("no raster pieces: set KVRAC_VIEW_JOB to an HP-RTL image job");
        return;
    }
    std::vector<uint8_t> strip;
    for (auto _ : state) {
        for (memory& m : files) {
            m.pos = 0;
            TIFF* t = TIFFClientOpen("r", "rm", &m, rd, wr, sk, cl, sz, mp, um);
            strip.resize(static_cast<size_t>(TIFFStripSize(t)));
            TIFFReadEncodedStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
            TIFFClose(t);
            benchmark::DoNotOptimize(strip.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(job().size()));
}
BENCHMARK(BM_LibtiffDecodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// The rasterizer against cairo on the same strokes: a million short steps of a random
// walk (a plot's typical content) on a 2000 x 1500 picture, 1-pixel and 5-pixel lines.
// cairo is loaded at run time (libcairo.so.2) so the build needs nothing more; it draws
// on an 8-bit alpha surface, one path of 1000 steps per stroke (a single long path
// slows it down badly), without and with anti-aliasing.
std::vector<double> walk() {
    std::vector<double> xy;
    uint32_t seed = 7;
    auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    double x = 1000, y = 750;
    for (int i = 0; i < 1000000; ++i) {
        x = std::clamp(x + static_cast<int>(next() % 13) - 6, 0.0, 1999.0);
        y = std::clamp(y + static_cast<int>(next() % 13) - 6, 0.0, 1499.0);
        xy.push_back(x);
        xy.push_back(y);
    }
    return xy;
}

void BM_CanvasLines(benchmark::State& state) {
    const std::vector<double> xy = walk();
    canvas c;
    for (auto _ : state) {
        canvas_init(c, 2000, 1500);
        for (size_t i = 2; i < xy.size(); i += 2)
            canvas_line(c, xy[i - 2], xy[i - 1], xy[i], xy[i + 1], state.range(0), 0);
        benchmark::DoNotOptimize(c.grey.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(xy.size() / 2));
}
BENCHMARK(BM_CanvasLines)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

struct cairo_api {
    void* (*surface_create)(int, int, int);
    void* (*create)(void*);
    void (*set_line_width)(void*, double);
    void (*set_antialias)(void*, int);
    void (*move_to)(void*, double, double);
    void (*line_to)(void*, double, double);
    void (*stroke)(void*);
    void (*destroy)(void*);
    void (*surface_destroy)(void*);
    bool ok = false;
};

const cairo_api& cairo() {
    static cairo_api api = [] {
        cairo_api a{};
        void* lib = dlopen("libcairo.so.2", RTLD_NOW);
        if (!lib) return a;
        auto get = [&](const char* name) { return dlsym(lib, name); };
        a.surface_create =
            reinterpret_cast<void* (*)(int, int, int)>(get("cairo_image_surface_create"));
        a.create = reinterpret_cast<void* (*)(void*)>(get("cairo_create"));
        a.set_line_width = reinterpret_cast<void (*)(void*, double)>(get("cairo_set_line_width"));
        a.set_antialias = reinterpret_cast<void (*)(void*, int)>(get("cairo_set_antialias"));
        a.move_to = reinterpret_cast<void (*)(void*, double, double)>(get("cairo_move_to"));
        a.line_to = reinterpret_cast<void (*)(void*, double, double)>(get("cairo_line_to"));
        a.stroke = reinterpret_cast<void (*)(void*)>(get("cairo_stroke"));
        a.destroy = reinterpret_cast<void (*)(void*)>(get("cairo_destroy"));
        a.surface_destroy = reinterpret_cast<void (*)(void*)>(get("cairo_surface_destroy"));
        a.ok = a.surface_create && a.create && a.set_line_width && a.set_antialias && a.move_to &&
               a.line_to && a.stroke && a.destroy && a.surface_destroy;
        return a;
    }();
    return api;
}

void BM_CairoLines(benchmark::State& state) {
    const cairo_api& k = cairo();
    if (!k.ok) {
        state.SkipWithError("libcairo.so.2 not found");
        return;
    }
    const std::vector<double> xy = walk();
    constexpr int format_a8 = 2, antialias_none = 1, antialias_default = 0;
    for (auto _ : state) {
        void* surface = k.surface_create(format_a8, 2000, 1500);
        void* cr = k.create(surface);
        k.set_line_width(cr, static_cast<double>(state.range(0)));
        k.set_antialias(cr, state.range(1) ? antialias_default : antialias_none);
        for (size_t i = 2; i < xy.size(); i += 2) {
            if (i % 2000 == 2) k.move_to(cr, xy[i - 2], xy[i - 1]);
            k.line_to(cr, xy[i], xy[i + 1]);
            if (i % 2000 == 0) k.stroke(cr);
        }
        k.stroke(cr);
        k.destroy(cr);
        k.surface_destroy(surface);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(xy.size() / 2));
}
BENCHMARK(BM_CairoLines)
    ->Args({1, 0})
    ->Args({5, 0})
    ->Args({1, 1})
    ->Args({5, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace

#endif

BENCHMARK_MAIN();
