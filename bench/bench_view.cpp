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
#include <tiffio.h>

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
        if (std::sscanf(s.c_str() + at, "\x1B*r%dS\x1B*r%dT\x1B*r1A\x1B*b8M\x1B*b%dW", &pitch, &rows,
                        &bytes) != 3)
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

} // namespace

#endif

BENCHMARK_MAIN();
