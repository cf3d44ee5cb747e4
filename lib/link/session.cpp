// Host services for the driver.
//
// The driver prints French texts in Windows-1252: they reach standard error in UTF-8.
// Job bytes (device escapes and written bytes) go to the job output in call order.
// The settings live in the store file (kvrac/store.h).
#include "link/session.h"

#include <cerrno>
#include <cstring>

#include "host/wire.h"
#include "link/driver_link.h"
#include "platform/host_address.h"
#include "settings/store.h"
#include "system/files.h"
#include "system/text.h"

host_session session;

namespace {

void KVRAC_CDECL service_print(const char* text) {
    std::string out = cp1252_to_utf8(text);
    std::FILE* to = session.print_to_stdout ? stdout : stderr;
    std::fwrite(out.data(), 1, out.size(), to);
    std::fflush(to);
}

// How many bytes of a job go to the system before it is asked to write them to disk.
constexpr size_t write_behind_bytes = 8 << 20;

bool job_put(const void* bytes, size_t count) {
    if (!session.job || count == 0) return true;
    if (!session.job_write_failed && std::fwrite(bytes, 1, count, session.job) != count) {
        session.job_write_failed = true;
        session.job_errno = errno;
    }
    session.job_unsent += count;
    if (session.job_unsent >= write_behind_bytes && !session.job_write_failed) {
        output_write_behind(session.job);
        session.job_unsent = 0;
    }
    return !session.job_write_failed;
}

void KVRAC_CDECL service_send_text(const char* text) {
    if (text) job_put(text, std::strlen(text));
}

int KVRAC_CDECL service_write(int, int, const void* bytes, int count, int) {
    if (count < 0 || (count > 0 && !bytes)) return 0;
    return job_put(bytes, static_cast<size_t>(count)) ? 1 : 0;
}

int KVRAC_CDECL service_load_config(int count, void* buffer) {
    if (count <= 0 || !buffer) return 1;
    return store_load(session.store, buffer, count);
}

int KVRAC_CDECL service_save_config(int count, const void* bytes) {
    if (count <= 0 || !bytes) return 1;
    session.save_error.clear();
    if (session.keep_store) {
        const uint8_t* b = static_cast<const uint8_t*>(bytes);
        session.kept.assign(b, b + count);
        return 0;
    }
    return store_save(session.store, bytes, count, &session.save_error);
}

int KVRAC_CDECL service_192(int, int) {
    return 0;
}

void put_service(int offset, host_addr address) {
    le_put_u32(session.service_table, offset, address);
}

} // namespace

int host_open(const std::string& store) {
    session.store = store;
    std::memset(session.service_table, 0, sizeof session.service_table);
    put_service(host_print_offset, host_addr_of_fn(&service_print));
    put_service(host_send_text_offset, host_addr_of_fn(&service_send_text));
    put_service(host_write_offset, host_addr_of_fn(&service_write));
    put_service(host_load_config_offset, host_addr_of_fn(&service_load_config));
    put_service(host_save_config_offset, host_addr_of_fn(&service_save_config));
    put_service(host_service_192_offset, host_addr_of_fn(&service_192));
    driver_entry_fn* entry = driver_entry();
    if (!entry) return 1;
    session.descriptor = entry(session.service_table, 0);
    session.config = host_addr_fn<message_handler_fn>(le_u32(session.descriptor, 410));
    session.plot = host_addr_fn<message_handler_fn>(le_u32(session.descriptor, 414));
    if (!session.config || !session.plot) {
        std::fprintf(stderr, "kvrac: the driver did not give its message handlers\n");
        return 1;
    }
    return 0;
}

std::vector<uint8_t> new_record(int code, int size) {
    std::vector<uint8_t> rec(static_cast<size_t>(size), 0);
    le_put_i16(rec.data(), 0, code);
    return rec;
}

int send_identification(message_handler_fn* handler) {
    // 49 answers by its result (its status field is not written), 50 not at all.
    auto rec = new_record(49);
    le_put_i16(rec.data(), 4, 1); // the caller is the drawing host
    rec[7] = 2;                   // host version
    if (handler(rec.data()) != 0) return 1;
    rec = new_record(50);
    std::memcpy(rec.data() + 8, "FRE", 3);
    handler(rec.data());
    return 0;
}
