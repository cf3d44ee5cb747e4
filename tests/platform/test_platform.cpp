// The host-address seam and the attach/detach routine.
#include <gtest/gtest.h>

#include "platform/attach.h"
#include "platform/host_address.h"

namespace {

int sample_function(int x) {
    return x + 1;
}

TEST(HostAddress, RoundTripsPointersAndFunctions) {
    int a = 0, b = 0;
    host_addr ha = host_addr_of(&a), hb = host_addr_of(&b);
    EXPECT_NE(ha, 0u);
    EXPECT_NE(ha, hb);
    EXPECT_EQ(host_addr_of(&a), ha); // the same pointer keeps its address
    EXPECT_EQ(host_addr_ptr(ha), &a);
    EXPECT_EQ(host_addr_ptr(hb), &b);
    host_addr hf = host_addr_of_fn(&sample_function);
    EXPECT_EQ(host_addr_fn<int(int)>(hf)(41), 42);
    EXPECT_EQ(host_addr_of(nullptr), 0u);
    EXPECT_EQ(host_addr_ptr(0), nullptr);
    host_addr_forget(ha);
    host_addr_forget(hb);
}

#if UINTPTR_MAX != 0xFFFFFFFFu
TEST(HostAddress, UnknownAndForgottenAddressesAreNull) {
    int a = 0;
    host_addr ha = host_addr_of(&a);
    host_addr_forget(ha);
    EXPECT_EQ(host_addr_ptr(ha), nullptr);
    EXPECT_EQ(host_addr_ptr(ha + 1), nullptr);
    EXPECT_EQ(host_addr_ptr(0xFFFFFFF0u), nullptr);
    EXPECT_EQ(host_addr_ptr(12), nullptr);
}

TEST(HostAddress, SlotsAreReusedSoShortLivedEntriesDoNotFillTheRegistry) {
    static int cells[64];
    for (int round = 0; round < 1000; ++round) {
        host_addr h = host_addr_of(&cells[round % 64]);
        ASSERT_NE(h, 0u) << round;
        ASSERT_EQ(host_addr_ptr(h), &cells[round % 64]);
        host_addr_forget(h);
    }
}
#endif

TEST(Attach, CountsAttachesAndDetaches) {
    // The loader attached the library once before the tests ran.
    EXPECT_EQ(attach.counter, 1);
    EXPECT_EQ(attach.first_attach, 0);
    EXPECT_EQ(attach.platform_class, 0);      // NT family
    EXPECT_EQ(attach.tls_index, no_tls_slot); // no slot on this platform class
    EXPECT_EQ(library_attach(nullptr, attach_process_attach, nullptr), 1);
    EXPECT_EQ(attach.counter, 2);
    EXPECT_EQ(library_attach(nullptr, 3, nullptr), 1); // thread events change nothing
    EXPECT_EQ(attach.counter, 2);
    EXPECT_EQ(library_attach(nullptr, attach_process_detach, nullptr), 1);
    EXPECT_EQ(attach.counter, 1);
}

} // namespace
