// The configuration message handler fed any sequence of configuration messages after a
// normal start (identify, texts), with any 40 bytes in the host's settings store.
//
// Input: a byte saying whether the store holds a record, the record's 40 bytes, then
// messages until the input ends: a code byte (an index into the codes the handler
// knows, or a few it does not), a byte n and n bytes stored from +2 of a zeroed
// 2,064-byte record. The dialogs of message 21 run headless and are left at once.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "host/config_handler.h"
#include "support/fake_host.h"

namespace {

const int16_t codes[] = {2, 11, 20, 21, 22, 23, 25, 40, 44, 47, 49, 50, 0, -1, 30};

constexpr size_t record_size = 2064;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input in{data, size, 0};
    fake_host_install();
    const uint8_t store = in.u8();
    in.bytes(fake.store, sizeof fake.store);
    fake.stored = (store & 1) != 0;
    fake.save_result = store & 2 ? 1 : 0;

    auto rec = record(49, record_size);
    le_put_i16(rec.data(), 4, 1);
    rec[7] = 2;
    config_handler(rec.data());
    rec = record(50, record_size);
    config_handler(rec.data());

    for (int messages = 0; !in.empty() && messages < 500; ++messages) {
        const int16_t code = codes[in.u8() % (sizeof codes / sizeof codes[0])];
        rec = record(code, record_size);
        in.bytes(rec.data() + 2, in.u8() % 120);
        config_handler(rec.data());
    }
    return 0;
}
