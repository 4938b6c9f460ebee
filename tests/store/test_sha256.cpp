// SHA-256: the engine's streaming hash against OpenSSL and the FIPS 180-4 examples.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "store/zu_ecdsa.h"
#include "store/zu_sha256.h"

namespace {

uint64_t test_seed() {
    const char *env = getenv("SONIVALE_TEST_SEED");
    return env ? strtoull(env, nullptr, 0) : 0x5a256u;
}

std::vector<uint8_t> random_bytes(std::mt19937_64 &rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = (uint8_t)rng();
    return v;
}

// The engine's digest (limb form) as the 32 digest bytes.
std::vector<uint8_t> digest_bytes(const uint32_t *limbs) {
    std::vector<uint8_t> out(32);
    set_to_be(out.data(), limbs);
    return out;
}

std::vector<uint8_t> engine_sha256(const uint8_t *data, size_t len, size_t piece) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    size_t at = 0;
    while (at < len) {
        size_t n = (piece == 0 || len - at < piece) ? len - at : piece;
        sha256_update(&ctx, data + at, (uint32_t)n);
        at += n;
    }
    return digest_bytes(sha256_finalise(&ctx));
}

std::vector<uint8_t> openssl_sha256(const uint8_t *data, size_t len) {
    std::vector<uint8_t> out(32);
    SHA256(data, len, out.data());
    return out;
}

std::vector<uint8_t> from_hex(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
    return out;
}

}  // namespace

TEST(Sha256, FipsExamples) {
    struct Case {
        const char *name;
        std::string message;
        const char *digest;
    };
    const Case cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks (56 bytes)", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto *data = reinterpret_cast<const uint8_t *>(c.message.data());
        EXPECT_EQ(engine_sha256(data, c.message.size(), 0), from_hex(c.digest));
        EXPECT_EQ(engine_sha256(data, c.message.size(), 1), from_hex(c.digest));
    }
}

// Every length from 0 to 300 bytes, whole and in pieces of 1, 63 and 65 bytes
// (pieces that straddle block boundaries in every phase), against OpenSSL.
TEST(Sha256, EveryLengthAndPieceSizeMatchesOpenSsl) {
    const uint64_t seed = test_seed();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (set SONIVALE_TEST_SEED to replay)");
    std::mt19937_64 rng(seed);
    for (size_t len = 0; len <= 300; len++) {
        std::vector<uint8_t> msg = random_bytes(rng, len);
        std::vector<uint8_t> want = openssl_sha256(msg.data(), len);
        for (size_t piece : {0, 1, 63, 65}) {
            ASSERT_EQ(engine_sha256(msg.data(), len, piece), want)
                << "length " << len << " piece " << piece;
        }
    }
}

// Random split points, including empty updates, over messages of several blocks.
TEST(Sha256, RandomSplitsMatchOpenSsl) {
    const uint64_t seed = test_seed() + 1;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    for (int round = 0; round < 200; round++) {
        size_t len = rng() % 2000;
        std::vector<uint8_t> msg = random_bytes(rng, len);
        sha256_ctx ctx;
        sha256_init(&ctx);
        size_t at = 0;
        while (at < len) {
            size_t n = rng() % 150;
            if (n > len - at) n = len - at;
            sha256_update(&ctx, msg.data() + at, (uint32_t)n);
            at += n;
        }
        sha256_update(&ctx, nullptr, 0);
        ASSERT_EQ(digest_bytes(sha256_finalise(&ctx)), openssl_sha256(msg.data(), len))
            << "round " << round;
    }
}

// The digest is a number: limb 0 is the last digest word, limb 7 the first.
TEST(Sha256, DigestLimbOrder) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, reinterpret_cast<const uint8_t *>("abc"), 3);
    const uint32_t *d = sha256_finalise(&ctx);
    EXPECT_EQ(d[7], 0xba7816bfu);
    EXPECT_EQ(d[0], 0xf20015adu);
    EXPECT_EQ(d, ctx.state);
}

TEST(Sha256, ContextBookkeeping) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    EXPECT_EQ(ctx.state[0], 0x5be0cd19u);
    EXPECT_EQ(ctx.state[7], 0x6a09e667u);
    uint8_t data[200] = {};
    sha256_update(&ctx, data, 10);
    EXPECT_EQ(ctx.count, 0u);
    EXPECT_EQ(ctx.fill, 10u);
    sha256_update(&ctx, data, 54);  // completes the first block exactly
    EXPECT_EQ(ctx.count, 64u);
    EXPECT_EQ(ctx.fill, 0u);
    sha256_update(&ctx, data, 130);  // two whole blocks straight from the input, 2 bytes kept
    EXPECT_EQ(ctx.count, 192u);
    EXPECT_EQ(ctx.fill, 2u);
    sha256_finalise(&ctx);
    EXPECT_EQ(ctx.count, 194u);
}

// sha256_block is one compression step: the padded one-block message "abc",
// compressed on the initial state, is the digest of "abc".
TEST(Sha256, BlockIsOneCompressionStep) {
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;  // length in bits
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_block(block, &ctx);
    EXPECT_EQ(digest_bytes(ctx.state),
              from_hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}
