// Loads kvrac_f.dll the way a drawing host does and reports, one "name value" line
// each, what a host relies on: the entry found by name and by ordinal, the stack
// discipline of the entry and of the two handlers, the module name the driver uses to
// find its resources, and that records without a host table or null records are
// answered without harm. test_windows.cpp runs it under Wine and judges the lines.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Calls fn with n 32-bit arguments pushed right to left and returns its result; *moved
// receives how far the stack pointer moved over the call: 0 when the callee removed
// its arguments (standard call), -4 n when it left them to the caller (C convention).
extern "C" uint32_t probe_call(const void* fn, const uint32_t* args, int n, int32_t* moved);
asm(".text\n"
    ".globl _probe_call\n"
    "_probe_call:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl %ebx\n"
    "    movl %esp, %esi\n"     // the stack pointer before the arguments
    "    movl 12(%ebp), %edi\n" // args
    "    movl 16(%ebp), %ecx\n" // n
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%edi,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  call *8(%ebp)\n"
    "    movl %esp, %ecx\n"
    "    subl %esi, %ecx\n"
    "    movl 20(%ebp), %edx\n"
    "    movl %ecx, (%edx)\n"
    "    movl %esi, %esp\n" // put the stack back whatever the callee did
    "    popl %ebx\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n");

uint32_t u32(const void* p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

const void* as_fn(FARPROC f) {
    return reinterpret_cast<const void*>(f);
}

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int16_t le16(const uint8_t* p) {
    return static_cast<int16_t>(p[0] | p[1] << 8);
}

// Sends one message in a fresh zeroed record; returns the status field afterwards.
int send(const void* handler, int code, int32_t* moved, int* result) {
    static uint8_t record[2064];
    std::memset(record, 0, sizeof record);
    record[0] = static_cast<uint8_t>(code);
    record[1] = static_cast<uint8_t>(code >> 8);
    if (code == 11) record[4] = 3; // host version
    if (code == 50) std::memcpy(record + 8, "FRE", 3);
    uint32_t arg = u32(record);
    int32_t m = 0;
    int r = static_cast<int>(probe_call(handler, &arg, 1, &m));
    if (moved) *moved = m;
    if (result) *result = r;
    return le16(record);
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "kvrac_f.dll";
    HMODULE dll = LoadLibraryA(path);
    std::printf("loaded %d\n", dll ? 1 : 0);
    if (!dll) return 1;
    FARPROC by_name = GetProcAddress(dll, "PLADI");
    FARPROC by_ordinal = GetProcAddress(dll, MAKEINTRESOURCEA(1));
    std::printf("entry_by_name %d\n", by_name ? 1 : 0);
    std::printf("entry_by_ordinal_is_entry %d\n", by_name && by_name == by_ordinal ? 1 : 0);
    std::printf("module_by_name %d\n", GetModuleHandleA("kvrac_f") == dll ? 1 : 0);
    if (!by_name) return 1;
    // Headless dialogs, so configuration message 21 needs no person.
    if (FARPROC mode = GetProcAddress(dll, "kvrac_headless_mode")) {
        uint32_t on = 1;
        int32_t moved = 0;
        probe_call(as_fn(mode), &on, 1, &moved);
    }

    // The entry, before any host table exists: no table at all.
    uint32_t args[2] = {0, 0};
    int32_t moved = 0;
    const uint8_t* desc =
        reinterpret_cast<const uint8_t*>(probe_call(as_fn(by_name), args, 2, &moved));
    std::printf("entry_stack_moved %d\n", moved);
    std::printf("descriptor %d\n", desc ? 1 : 0);
    if (!desc) return 1;
    std::printf("ident %.49s|\n", reinterpret_cast<const char*>(desc));
    const void* config = reinterpret_cast<const void*>(le32(desc + 410));
    const void* plot = reinterpret_cast<const void*>(le32(desc + 414));
    MEMORY_BASIC_INFORMATION mbi;
    bool config_in_dll = config && VirtualQuery(config, &mbi, sizeof mbi) &&
                         mbi.AllocationBase == reinterpret_cast<void*>(dll);
    bool plot_in_dll = plot && VirtualQuery(plot, &mbi, sizeof mbi) &&
                       mbi.AllocationBase == reinterpret_cast<void*>(dll);
    std::printf("handlers_in_driver %d\n", config_in_dll && plot_in_dll ? 1 : 0);
    if (!config_in_dll || !plot_in_dll) return 1;

    // Null records.
    uint32_t null_record = 0;
    int32_t cm = 0, pm = 0;
    int cr = static_cast<int>(probe_call(config, &null_record, 1, &cm));
    int pr = static_cast<int>(probe_call(plot, &null_record, 1, &pm));
    std::printf("config_null_record %d\n", cr);
    std::printf("plot_null_record %d\n", pr);
    std::printf("config_stack_moved %d\n", cm);
    std::printf("plot_stack_moved %d\n", pm);

    // The whole configuration sequence without a host table: the identification still
    // answers, nothing can be loaded or saved, and the process lives on.
    int result = 0;
    send(config, 49, nullptr, &result);
    std::printf("no_table_49_result %d\n", result);
    send(config, 50, nullptr, nullptr);
    const int codes[] = {11, 20, 21, 22, 23, 25, 40, 44};
    int failed = 0;
    for (int code : codes) failed += send(config, code, nullptr, nullptr) != 0;
    std::printf("no_table_failed_before_save %d\n", failed);
    std::printf("no_table_save_status %d\n", send(config, 47, nullptr, nullptr));
    // A plot cannot start without stored settings.
    send(plot, 49, nullptr, nullptr);
    std::printf("no_table_plot_start_status %d\n", send(plot, 29, nullptr, nullptr));
    std::printf("alive 1\n");
    return 0;
}
