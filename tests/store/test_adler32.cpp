// Adler-32 of the archive reader against zlib's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "store/zurfile.h"

namespace {

uint64_t test_seed() {
    const char *env = getenv("SONIVALE_TEST_SEED");
    return env ? strtoull(env, nullptr, 0) : 0xad1e532u;
}

uint32_t zlib_adler(const std::vector<uint8_t> &v, size_t n) {
    return (uint32_t)adler32_z(adler32_z(0, nullptr, 0), v.data(), n);
}

TEST(Adler32, NoneOrEmptyGivesOne) {
    const uint8_t byte = 0x55;
    EXPECT_EQ(adler32(nullptr, 0), 1u);
    EXPECT_EQ(adler32(nullptr, 100), 1u);
    EXPECT_EQ(adler32(&byte, 0), 1u);
}

TEST(Adler32, KnownValue) {
    // RFC 1950's sum of the text "Wikipedia" is widely quoted: 0x11E60398.
    const char *text = "Wikipedia";
    EXPECT_EQ(adler32((const uint8_t *)text, 9), 0x11E60398u);
}

TEST(Adler32, EveryShortLengthMatchesZlib) {
    uint64_t seed = test_seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> v(600);
    for (auto &b : v) b = (uint8_t)rng();
    for (size_t n = 0; n <= v.size(); n++) {
        ASSERT_EQ(adler32(v.data(), (uint32_t)n), zlib_adler(v, n)) << "length " << n;
    }
}

// All-0xFF input drives both sums to their largest values between reductions;
// lengths around multiples of 5552 cross the reduction points.
TEST(Adler32, LongInputsAroundTheReductionPointsMatchZlib) {
    uint64_t seed = test_seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> ones(200000, 0xFF), noise(200000);
    for (auto &b : noise) b = (uint8_t)rng();
    const size_t lengths[] = {5551,  5552,  5553,  5552 + 15, 5552 + 16, 11103, 11104,
                              11105, 16656, 65521, 65536,     100003,    200000};
    for (size_t n : lengths) {
        EXPECT_EQ(adler32(ones.data(), (uint32_t)n), zlib_adler(ones, n)) << "0xFF x " << n;
        EXPECT_EQ(adler32(noise.data(), (uint32_t)n), zlib_adler(noise, n)) << "random x " << n;
    }
    for (int i = 0; i < 50; i++) {
        size_t n = (size_t)(rng() % noise.size());
        EXPECT_EQ(adler32(noise.data(), (uint32_t)n), zlib_adler(noise, n)) << "random x " << n;
    }
}

}  // namespace
