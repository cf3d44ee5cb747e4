// A fake drawing host for tests: a service table whose entries record what the driver
// prints, sends and writes, and a settings store in memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/entry.h"
#include "host/host_services.h"
#include "host/wire.h"
#include "platform/host_address.h"

struct fake_host_state {
    uint8_t table[256];
    std::string printed;          // every host_print text, in order
    std::string sent;             // every host_send_text text and written byte, in order
    std::vector<int> write_sizes; // byte count of each host_write call
    int write_result = 1;         // what host_write answers
    bool stored = false;          // the store holds a record
    uint8_t store[40] = {};       // the stored record
    int save_result = 0;          // what host_save_config answers
    int loads = 0, saves = 0;
    std::vector<std::pair<int, int>> calls_192; // arguments of each host service 192 call
};

inline fake_host_state fake;

inline void KVRAC_CDECL fake_print(const char* text) {
    fake.printed += text;
}
inline void KVRAC_CDECL fake_send_text(const char* text) {
    fake.sent += text;
}
inline int KVRAC_CDECL fake_write(int, int, const void* bytes, int count, int) {
    fake.write_sizes.push_back(count);
    if (fake.write_result) fake.sent.append(static_cast<const char*>(bytes), count);
    return fake.write_result;
}
inline int KVRAC_CDECL fake_load(int count, void* buffer) {
    ++fake.loads;
    if (!fake.stored || count != 40) return 1;
    std::memcpy(buffer, fake.store, 40);
    return 0;
}
inline int KVRAC_CDECL fake_save(int count, const void* bytes) {
    ++fake.saves;
    if (fake.save_result != 0 || count != 40) return fake.save_result ? fake.save_result : 1;
    std::memcpy(fake.store, bytes, 40);
    fake.stored = true;
    return 0;
}
inline int KVRAC_CDECL fake_192(int a, int b) {
    fake.calls_192.emplace_back(a, b);
    return 5;
}

// Resets the fake host, hands its table to the driver through PLADI and returns the
// descriptor.
inline const uint8_t* fake_host_install() {
    fake = fake_host_state{};
    std::memset(fake.table, 0, sizeof fake.table);
    le_put_u32(fake.table, host_print_offset, host_addr_of_fn(&fake_print));
    le_put_u32(fake.table, host_send_text_offset, host_addr_of_fn(&fake_send_text));
    le_put_u32(fake.table, host_write_offset, host_addr_of_fn(&fake_write));
    le_put_u32(fake.table, host_load_config_offset, host_addr_of_fn(&fake_load));
    le_put_u32(fake.table, host_save_config_offset, host_addr_of_fn(&fake_save));
    le_put_u32(fake.table, host_service_192_offset, host_addr_of_fn(&fake_192));
    return PLADI(fake.table, 0);
}

// A zeroed message record of the given size carrying a code.
inline std::vector<uint8_t> record(int code, size_t size = 2064) {
    std::vector<uint8_t> r(size, 0);
    le_put_i16(r.data(), 0, code);
    return r;
}

// Puts the default settings record in the fake store, written out field by field, with
// a format, margin and mode chosen by the test.
inline void fake_store_record(int format = 1, int margin_mm = 0, uint16_t mode = 0x0100,
                              uint16_t plot_flags = 0x1000, int copies = 1) {
    uint8_t* s = fake.store;
    std::memset(s, 0, 40);
    le_put_i32(s, 0, copies);
    le_put_i32(s, 4, format);
    le_put_i32(s, 8, 396);
    le_put_i32(s, 20, 1);
    le_put_i16(s, 24, 2);
    le_put_i16(s, 26, margin_mm);
    le_put_u16(s, 28, plot_flags);
    le_put_u16(s, 30, mode);
    const uint8_t points[5] = {0, 123, 187, 228, 255};
    std::memcpy(s + 34, points, 5);
    fake.stored = true;
}
