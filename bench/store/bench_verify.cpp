// Signature check costs: the engine's SHA-256 and ECDSA verification beside
// OpenSSL's SHA-256 and libsecp256k1's verification, in one run so the ratios
// come from the same machine state.
//   build/<dir>/bench/store/bench_verify
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <secp256k1.h>
#include <string.h>

#include <vector>

#include "store/zu_ecdsa.h"
#include "store/zu_sha256.h"

namespace {

std::vector<uint8_t> payload(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)(i * 131 + 17);
    return v;
}

void BM_Sha256_Engine(benchmark::State &state) {
    std::vector<uint8_t> data = payload((size_t)state.range(0));
    for (auto _ : state) {
        sha256_ctx ctx;
        sha256_init(&ctx);
        sha256_update(&ctx, data.data(), (uint32_t)data.size());
        benchmark::DoNotOptimize(sha256_finalise(&ctx));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

void BM_Sha256_OpenSsl(benchmark::State &state) {
    std::vector<uint8_t> data = payload((size_t)state.range(0));
    uint8_t digest[32];
    for (auto _ : state) {
        SHA256(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * state.range(0));
}

// One fixed key, digest and signature, made with libsecp256k1.
struct Signed {
    uint8_t digest[32];
    uint8_t point[65];
    uint8_t compact[64];
    secp256k1_context *ctx;
    bool ok;
    Signed() {
        ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
        uint8_t seckey[32];
        for (int i = 0; i < 32; i++) seckey[i] = (uint8_t)(0x5a ^ (i * 37));
        std::vector<uint8_t> blob = payload(20000);
        SHA256(blob.data(), blob.size(), digest);
        secp256k1_pubkey pub;
        ok = secp256k1_ec_pubkey_create(ctx, &pub, seckey) == 1;
        size_t len = sizeof point;
        secp256k1_ec_pubkey_serialize(ctx, point, &len, &pub, SECP256K1_EC_UNCOMPRESSED);
        secp256k1_ecdsa_signature sig;
        secp256k1_ecdsa_sign(ctx, &sig, digest, seckey, nullptr, nullptr);
        secp256k1_ecdsa_signature_serialize_compact(ctx, compact, &sig);
    }
    ~Signed() { secp256k1_context_destroy(ctx); }
};

const Signed &fixture() {
    static const Signed s;
    return s;
}

void BM_EcdsaVerify_Engine(benchmark::State &state) {
    const Signed &f = fixture();
    if (!f.ok) state.SkipWithError("no key");
    ecdsa_public_key key;
    uint32_t z[8], r[8], s[8];
    set_from_be(key.x, f.point + 1);
    set_from_be(key.y, f.point + 33);
    set_from_be(z, f.digest);
    set_from_be(r, f.compact);
    set_from_be(s, f.compact + 32);
    if (!ecdsa_verify(z, &ecdsa_secp256k1, &key, r, s))
        state.SkipWithError("signature does not verify");
    for (auto _ : state) benchmark::DoNotOptimize(ecdsa_verify(z, &ecdsa_secp256k1, &key, r, s));
}

void BM_EcdsaVerify_Libsecp256k1(benchmark::State &state) {
    const Signed &f = fixture();
    for (auto _ : state) {
        // Parsing included, as the engine's call also starts from raw numbers.
        secp256k1_pubkey pub;
        secp256k1_ecdsa_signature sig;
        int parsed = secp256k1_ec_pubkey_parse(f.ctx, &pub, f.point, sizeof f.point) &
                     secp256k1_ecdsa_signature_parse_compact(f.ctx, &sig, f.compact);
        benchmark::DoNotOptimize(parsed & secp256k1_ecdsa_verify(f.ctx, &sig, f.digest, &pub));
    }
}

// A model blob's whole check: hash of the signed bytes plus one verification.
void BM_ModelCheck_Engine(benchmark::State &state) {
    const Signed &f = fixture();
    std::vector<uint8_t> blob = payload((size_t)state.range(0));
    ecdsa_public_key key;
    uint32_t r[8], s[8];
    set_from_be(key.x, f.point + 1);
    set_from_be(key.y, f.point + 33);
    set_from_be(r, f.compact);
    set_from_be(s, f.compact + 32);
    for (auto _ : state) {
        sha256_ctx ctx;
        sha256_init(&ctx);
        sha256_update(&ctx, blob.data(), (uint32_t)blob.size());
        benchmark::DoNotOptimize(ecdsa_verify(sha256_finalise(&ctx), &ecdsa_secp256k1, &key, r, s));
    }
}

}  // namespace

BENCHMARK(BM_Sha256_Engine)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_Sha256_OpenSsl)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_EcdsaVerify_Engine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EcdsaVerify_Libsecp256k1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModelCheck_Engine)->Arg(20000)->Arg(200000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
