// The 40-byte settings record from anywhere: read from its bytes, made safe, written
// back, kept in and loaded from a store file, and then used for a whole job.
//
// Checked beyond the sanitizers: the bytes survive a read and a write unchanged;
// making a record safe twice changes nothing the second time; the store reads a file
// of exactly 40 bytes and nothing else; and a job under the loaded record never leaves
// a table (AddressSanitizer would stop it).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_input.h"
#include "host/settings.h"
#include "plot/plot_handler.h"
#include "settings/store.h"
#include "support/fake_host.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "settings: %s\n", what);
    std::abort();
}

void send(int code, std::vector<uint8_t> rec = {}) {
    if (rec.empty()) rec = record(code);
    plot_handler(rec.data());
}

std::vector<uint8_t> point(int code, uint16_t x, uint16_t y) {
    auto rec = record(code);
    le_put_u16(rec.data(), 4, x);
    le_put_u16(rec.data(), 6, y);
    return rec;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t bytes[settings_size] = {};
    std::memcpy(bytes, data, size < settings_size ? size : settings_size);

    settings_record rec = settings_from_bytes(bytes);
    uint8_t again[settings_size];
    settings_to_bytes(rec, again);
    check(std::memcmp(bytes, again, settings_size) == 0, "bytes changed by a read and a write");
    settings_sanitize(rec);
    settings_record safe = rec;
    check(settings_sanitize(safe) == 0, "a safe record was changed again");
    uint8_t safe_bytes[settings_size], safe_again[settings_size];
    settings_to_bytes(rec, safe_bytes);
    settings_to_bytes(safe, safe_again);
    check(std::memcmp(safe_bytes, safe_again, settings_size) == 0, "sanitize is not stable");

    // The store takes a file of exactly 40 bytes, and only that.
    static const std::string path = "/tmp/kvrac-fuzz-settings-" + std::to_string(getpid()) + ".bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    uint8_t loaded[settings_size];
    std::memset(loaded, 0xA5, sizeof loaded);
    const int result = store_load(path, loaded, settings_size);
    if (size == settings_size) {
        check(result == 0, "a 40-byte store was not read");
        check(std::memcmp(loaded, data, settings_size) == 0, "the store read other bytes");
    } else {
        check(result != 0, "a store of another size was read");
        for (uint8_t b : loaded) check(b == 0xA5, "a refused store wrote the buffer");
    }

    // A job under the record as the host hands it over.
    fake_host_install();
    std::memcpy(fake.store, bytes, settings_size);
    fake.stored = true;
    auto id = record(49);
    le_put_i16(id.data(), 4, 1);
    id[7] = 2;
    send(49, id);
    send(50);
    auto begin = record(29);
    le_put_i16(begin.data(), 4, 3);
    send(29, begin);
    send(46);
    send(30);
    fuzz_input in{data, size, 0};
    in.at = size < settings_size ? size : settings_size;
    send(3, point(3, 10, 10));
    send(4, point(4, in.u16(), in.u16()));
    auto pen = record(5);
    le_put_u16(pen.data(), 4, in.u16());
    send(5, pen);
    auto polygon = record(33);
    le_put_i16(polygon.data(), 6, static_cast<int16_t>(in.u16()));
    le_put_i16(polygon.data(), 10, 3);
    for (int i = 0; i < 6; ++i) le_put_u16(polygon.data(), 12 + 2 * i, in.u16());
    send(33, polygon);
    send(2);
    return 0;
}
