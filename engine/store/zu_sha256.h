// SHA-256 (FIPS 180-4), streaming. The digest stays a 256-bit number in limb
// form (eight 32-bit limbs, least significant first), the form the signature
// check works on; it is never turned into bytes here.
#ifndef ZU_SHA256_H
#define ZU_SHA256_H

#include <stdint.h>

struct sha256_ctx {
    // Hash state words H7..H0: state[0] is the last FIPS word (initially
    // 0x5BE0CD19), state[7] the first (0x6A09E667). In this order the state
    // after finalisation is the digest read as one big-endian number.
    uint32_t state[8];
    uint32_t count;     // bytes hashed in completed blocks; messages stay below 4 GiB
    uint8_t block[64];  // partial input block
    uint32_t fill;      // bytes held in block, 0..63 between calls
};

void sha256_init(sha256_ctx *ctx);
void sha256_update(sha256_ctx *ctx, const uint8_t *data, uint32_t length);
// Pads and hashes the rest; returns ctx->state, the digest as a 256-bit number
// (limb 0 = last digest word). The context must be initialised again for reuse.
const uint32_t *sha256_finalise(sha256_ctx *ctx);
// One compression step over a 64-byte block (big-endian input words).
void sha256_block(const uint8_t *block, sha256_ctx *ctx);

#endif
