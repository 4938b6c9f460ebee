#include "store/zu_sha256.h"

#include <string.h>

#include "src/zu_bytes.h"

// First 32 bits of the fractional parts of the cube roots of the first 64 primes.
static const uint32_t round_k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// First 32 bits of the fractional parts of the square roots of the first 8 primes,
// H7 first to match the state order.
static const uint32_t initial_state[8] = {
    0x5be0cd19, 0x1f83d9ab, 0x9b05688c, 0x510e527f, 0xa54ff53a, 0x3c6ef372, 0xbb67ae85, 0x6a09e667,
};

static inline uint32_t rotr(uint32_t x, unsigned n) {
    return (x >> n) | (x << (32 - n));
}

void sha256_init(sha256_ctx *ctx) {
    memcpy(ctx->state, initial_state, sizeof ctx->state);
    ctx->count = 0;
    memset(ctx->block, 0, sizeof ctx->block);
    ctx->fill = 0;
}

void sha256_block(const uint8_t *block, sha256_ctx *ctx) {
    uint32_t w[64];
    for (int t = 0; t < 16; t++) w[t] = rd_u32(block + 4 * t);
    for (int t = 16; t < 64; t++) {
        uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    // Working variables a..h are H0..H7, i.e. state[7] down to state[0].
    uint32_t a = ctx->state[7], b = ctx->state[6], c = ctx->state[5], d = ctx->state[4];
    uint32_t e = ctx->state[3], f = ctx->state[2], g = ctx->state[1], h = ctx->state[0];
    for (int t = 0; t < 64; t++) {
        uint32_t sum1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
        uint32_t ch = (e & f) ^ (~e & g);
        uint32_t t1 = h + sum1 + ch + round_k[t] + w[t];
        uint32_t sum0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
        uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
        uint32_t t2 = sum0 + maj;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    ctx->state[7] += a;
    ctx->state[6] += b;
    ctx->state[5] += c;
    ctx->state[4] += d;
    ctx->state[3] += e;
    ctx->state[2] += f;
    ctx->state[1] += g;
    ctx->state[0] += h;
}

void sha256_update(sha256_ctx *ctx, const uint8_t *data, uint32_t length) {
    if (length == 0) return;  // data may then be none
    if (ctx->fill > 0) {
        uint32_t take = 64 - ctx->fill;
        if (take > length) take = length;
        memcpy(ctx->block + ctx->fill, data, take);
        data += take;
        length -= take;
        if (ctx->fill + take < 64) {
            ctx->fill += take;
            return;
        }
        sha256_block(ctx->block, ctx);
        ctx->count += 64;
        ctx->fill = 0;
    }
    while (length >= 64) {
        sha256_block(data, ctx);
        ctx->count += 64;
        data += 64;
        length -= 64;
    }
    if (length > 0) memcpy(ctx->block, data, length);
    ctx->fill = length;
}

const uint32_t *sha256_finalise(sha256_ctx *ctx) {
    uint32_t fill = ctx->fill;
    ctx->count += fill;
    ctx->block[fill] = 0x80;
    memset(ctx->block + fill + 1, 0, 63 - fill);
    if (fill > 55) {
        // No room for the 8-byte length: it goes into a second padding block.
        sha256_block(ctx->block, ctx);
        memset(ctx->block, 0, 64);
    }
    // Length in bits, count * 8, big-endian in bytes 59..63 (bits 39..0);
    // bytes 56..58 stay zero because count is 32 bits wide.
    uint32_t count = ctx->count;
    ctx->block[59] = (uint8_t)(count >> 29);
    ctx->block[60] = (uint8_t)(count >> 21);
    ctx->block[61] = (uint8_t)(count >> 13);
    ctx->block[62] = (uint8_t)(count >> 5);
    ctx->block[63] = (uint8_t)(count << 3);
    sha256_block(ctx->block, ctx);
    ctx->fill = 0;
    return ctx->state;
}
