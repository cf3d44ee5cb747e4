// A stand-in host for tests: a service table whose write service records every piece
// it is handed and can be told to fail, and whose print service collects the text.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "host/wire.h"
#include "platform/host_address.h"

namespace capture {

struct host_log {
    std::vector<uint8_t> bytes; // everything written, in order
    std::vector<int> pieces;    // size of each write call
    std::string printed;        // everything printed
    long accept = -1;           // write calls still accepted; -1 = all
    bool bad_arguments = false; // a write call without the (1, 0, ..., 0) frame
};

inline host_log log;
inline uint8_t table[host_service_table_size];

inline int KVRAC_CDECL write_service(int one, int zero, const void* bytes, int count, int zero2) {
    if (one != 1 || zero != 0 || zero2 != 0) log.bad_arguments = true;
    if (log.accept == 0) return 0;
    if (log.accept > 0) --log.accept;
    log.pieces.push_back(count);
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    log.bytes.insert(log.bytes.end(), p, p + count);
    return 1;
}
inline void KVRAC_CDECL print_service(const char* text) {
    log.printed += text;
}
inline void KVRAC_CDECL send_text_service(const char*) {}
inline int KVRAC_CDECL load_service(int, void*) {
    return 1;
}
inline int KVRAC_CDECL save_service(int, const void*) {
    return 1;
}
inline int KVRAC_CDECL service_192(int, int) {
    return -1;
}

// Installs the table and empties the log.
inline void install() {
    log = host_log{};
    std::memset(table, 0, sizeof table);
    le_put_u32(table, host_print_offset, host_addr_of_fn(&print_service));
    le_put_u32(table, host_send_text_offset, host_addr_of_fn(&send_text_service));
    le_put_u32(table, host_write_offset, host_addr_of_fn(&write_service));
    le_put_u32(table, host_load_config_offset, host_addr_of_fn(&load_service));
    le_put_u32(table, host_save_config_offset, host_addr_of_fn(&save_service));
    le_put_u32(table, host_service_192_offset, host_addr_of_fn(&service_192));
    host_link.service_table = table;
    host_link.abort_flag = abort_clear;
}

} // namespace capture
