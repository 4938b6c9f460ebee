// The per-frame routines must not allocate. This executable is linked with
// -Wl,--wrap for malloc, calloc, realloc and operator new, so every allocation made
// from the statically linked engine code passes through the counters below (also
// under AddressSanitizer, whose allocator sits behind the __real_ symbols).
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <new>
#include <vector>

#include "dsp/zu_fe.h"
#include "dsp/zu_spike.h"

namespace {
int allocations = 0;
}

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t n, size_t size);
void *__real_realloc(void *p, size_t size);
void *__wrap_malloc(size_t size) {
    allocations++;
    return __real_malloc(size);
}
void *__wrap_calloc(size_t n, size_t size) {
    allocations++;
    return __real_calloc(n, size);
}
void *__wrap_realloc(void *p, size_t size) {
    allocations++;
    return __real_realloc(p, size);
}
// operator new(size_t) and operator new[](size_t).
void *__real__Znwm(size_t size);
void *__real__Znam(size_t size);
void *__wrap__Znwm(size_t size) {
    allocations++;
    return __real__Znwm(size);
}
void *__wrap__Znam(size_t size) {
    allocations++;
    return __real__Znam(size);
}
}

namespace {

TEST(DspAllocation, CountersSeeAllocations) {
    // The wrapping itself works: allocations from this file are counted (volatile keeps
    // the compiler from eliding the pairs).
    const int before = allocations;
    void *volatile p = malloc(16);
    free(p);
    int *volatile q = new int(3);
    delete q;
    EXPECT_EQ(allocations - before, 2);
}

TEST(DspAllocation, FrontEndAndSpikeRemoverAllocateNothing) {
    for (int32_t n : {128, 256, 512}) {
        auto fe = std::make_unique<zu_fe>();
        ASSERT_EQ(zu_fe_init(fe.get(), 16000, n), 0);
        wd_state *st = nullptr;
        ASSERT_EQ(wd_init(spike_template, spike_template_len, &st), 0);
        std::vector<int16_t> x((size_t)n);
        uint32_t r = 1;
        const int before = allocations;
        for (int t = 0; t < 20; t++) {
            for (auto &s : x) {
                r = r * 1103515245u + 12345u;
                s = (int16_t)(r >> 16);
            }
            x[(size_t)(t * 7) % x.size()] = 30000;  // a click now and then
            ASSERT_EQ(wd_classify(st, x.data(), (uint32_t)n), 0);
            ASSERT_EQ(zu_fe_process(fe.get(), x.data(), 16000), 0);
        }
        EXPECT_EQ(allocations - before, 0) << n;
    }
}

}  // namespace
