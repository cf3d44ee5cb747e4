// The plot message handler fed any sequence of plot messages after a normal job start.
//
// Input: five bytes of stored settings (format, margin, mode flags, plot flags), then
// messages until the input ends. A message is a code byte (an index into the codes the
// handler knows, or a few it does not), a byte n and n bytes stored from +2 of a zeroed
// 2,064-byte record, then fields that make the message's addresses ones the host
// registered (or deliberately not). Raster images are kept to a few thousand plotter
// units a side so that an input costs milliseconds; the row host answers from the
// input too. The record is exactly as long as the host's, so a read past it is caught.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "plot/plot_handler.h"
#include "raster/raster_image.h"
#include "support/fake_host.h"

namespace {

// What the host's row functions answer for the current image.
struct row_host {
    int32_t count_mode;  // 0: the line's length; 1: 0; 2: huge; 3: negative
    int32_t end_at;      // row answered with the end flag, -1 none
    int32_t error_at;    // row answered with the error flag, -1 none
    bool pixels_unknown; // the pixel address is one nobody registered
    bool no_result;      // get_rows answers a null record
    uint8_t result[16];
};

row_host rows;
uint8_t pixels[1 << 16];
uint8_t vertices[4 * 1024];
host_addr pixels_addr, vertices_addr;

const uint8_t* KVRAC_CDECL get_rows(uint8_t* request) {
    if (rows.no_result) return nullptr;
    const int32_t r = le_i32(request, 4) | le_i32(request, 0);
    const int32_t length =
        le_i32(request, 8) - le_i32(request, 0) + le_i32(request, 12) - le_i32(request, 4) + 1;
    const int32_t counts[4] = {length * 3, 0, 0x7FFFFFFF, -5};
    std::memset(rows.result, 0, sizeof rows.result);
    le_put_u32(rows.result, 0, rows.pixels_unknown ? 0x7FFFFF01u : pixels_addr);
    le_put_i32(rows.result, 4, counts[rows.count_mode & 3]);
    if (r == rows.end_at) le_put_i16(rows.result, 12, 1);
    if (r == rows.error_at) le_put_i16(rows.result, 14, 1);
    return rows.result;
}

void KVRAC_CDECL release_rows(const uint8_t*) {}

// The plot codes, and a few the handler does not know.
const int16_t codes[] = {2,  3,  4,  5,  7,  8,  9,  15, 29, 30, 31, 33, 36,
                         41, 43, 46, 47, 48, 49, 50, 52, 54, 0,  1,  -1, 100};

void send(std::vector<uint8_t>& rec) {
    plot_handler(rec.data());
}

std::vector<uint8_t> fresh(int code) {
    return record(code, plot_record_size);
}

// 49 (identify), 50 (texts), 29 (begin plot), 46 (plot area) and 30 (job start), as a
// host starts every job.
void start_job() {
    auto rec = fresh(49);
    le_put_i16(rec.data(), 4, 1);
    rec[7] = 2;
    send(rec);
    rec = fresh(50);
    send(rec);
    rec = fresh(29);
    le_put_i16(rec.data(), 4, 3);
    send(rec);
    rec = fresh(46);
    send(rec);
    rec = fresh(30);
    send(rec);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input in{data, size, 0};
    fake_host_install();
    if (!pixels_addr) {
        for (size_t i = 0; i < sizeof pixels; ++i) pixels[i] = static_cast<uint8_t>(i * 37);
        pixels_addr = host_addr_of(pixels);
        vertices_addr = host_addr_of(vertices);
    }
    const int format = in.u8() % 40;
    const int margin = in.u8() % 60;
    const uint16_t mode = in.u16();
    const uint16_t plot_flags = in.u16();
    fake_store_record(format, margin, mode, plot_flags);
    start_job();

    for (int messages = 0; !in.empty() && messages < 2000; ++messages) {
        const int16_t code = codes[in.u8() % (sizeof codes / sizeof codes[0])];
        auto rec = fresh(code);
        const size_t n = in.u8() % 80;
        in.bytes(rec.data() + 2, n);
        if (code == 52) {
            const uint8_t how = in.u8();
            le_put_u32(rec.data(), 4, how & 1 ? 0x7FFFFF02u : host_addr_of_fn(&get_rows));
            le_put_u32(rec.data(), 8, how & 2 ? 0 : host_addr_of_fn(&release_rows));
            for (int off = 16; off <= 28; off += 4) // corners within a few thousand units
                le_put_i32(rec.data(), off, static_cast<int16_t>(in.u16()) / 8);
            le_put_i32(rec.data(), 36, static_cast<int8_t>(in.u8()));
            le_put_i32(rec.data(), 40, static_cast<int8_t>(in.u8()));
            rows.count_mode = how >> 2 & 3;
            rows.pixels_unknown = (how & 16) != 0;
            rows.no_result = (how & 32) != 0;
            rows.end_at = how & 64 ? in.u8() : -1;
            rows.error_at = how & 128 ? in.u8() : -1;
        } else if (code == 54) {
            const uint8_t how = in.u8();
            in.bytes(vertices, in.u8() * 4u);
            // The host's array holds the count it gives; an unknown address is refused.
            le_put_u32(rec.data(), 8, how & 1 ? 0x7FFFFF03u : vertices_addr);
            const int16_t count = le_i16(rec.data(), 6);
            if (count > 1024) le_put_i16(rec.data(), 6, static_cast<int16_t>(count % 1025));
        }
        send(rec);
    }
    auto end = fresh(2);
    send(end);
    return 0;
}
