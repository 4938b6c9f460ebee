// ECDSA over secp256k1: the engine's 256-bit arithmetic against OpenSSL's
// bignums, its points against libsecp256k1, and its verification against
// libsecp256k1 and OpenSSL on random keys, crafted cases and Wycheproof vectors.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <secp256k1.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "store/zu_ecdsa.h"
#include "store/zu_sha256.h"
#include "wycheproof_fixture.h"

namespace {

using u256 = std::array<uint32_t, 8>;
using bytes = std::vector<uint8_t>;

uint64_t test_seed() {
    const char *env = getenv("SONIVALE_TEST_SEED");
    return env ? strtoull(env, nullptr, 0) : 0xec256u;
}

std::string seed_note(uint64_t seed) {
    return "seed " + std::to_string(seed) + " (set SONIVALE_TEST_SEED to replay)";
}

// ---- conversions between limbs, bytes and OpenSSL bignums

bytes to_bytes(const uint32_t *x) {
    bytes b(32);
    set_to_be(b.data(), x);
    return b;
}

u256 from_bytes(const uint8_t *b) {
    u256 x;
    set_from_be(x.data(), b);
    return x;
}

struct Bn {
    BIGNUM *b;
    Bn() : b(BN_new()) {}
    explicit Bn(const uint32_t *x) : b(BN_new()) {
        bytes v = to_bytes(x);
        BN_bin2bn(v.data(), 32, b);
    }
    ~Bn() { BN_free(b); }
    Bn(const Bn &) = delete;
    Bn &operator=(const Bn &) = delete;
    u256 limbs() const {
        uint8_t v[32];
        EXPECT_EQ(BN_bn2binpad(b, v, 32), 32);
        return from_bytes(v);
    }
};

struct BnCtx {
    BN_CTX *c = BN_CTX_new();
    ~BnCtx() { BN_CTX_free(c); }
};

u256 random_u256(std::mt19937_64 &rng) {
    u256 x;
    for (auto &l : x) l = (uint32_t)rng();
    // Sparse and dense patterns hit carry chains that uniform values rarely do.
    switch (rng() % 4) {
        case 0:
            for (auto &l : x) l = (rng() % 3 == 0) ? 0xffffffffu : l;
            break;
        case 1:
            for (auto &l : x) l = (rng() % 3 == 0) ? 0u : l;
            break;
        default:
            break;
    }
    return x;
}

// A value below m (by reduction with OpenSSL).
u256 random_below(std::mt19937_64 &rng, const uint32_t *m) {
    BnCtx ctx;
    u256 x = random_u256(rng);
    Bn a(x.data()), mod(m), r;
    BN_mod(r.b, a.b, mod.b, ctx.c);
    return r.limbs();
}

const u256 &curve_p() {
    static const u256 p = [] {
        u256 v;
        set_copy(v.data(), ecdsa_secp256k1.p);
        return v;
    }();
    return p;
}

const u256 &curve_n() {
    static const u256 n = [] {
        u256 v;
        set_copy(v.data(), ecdsa_secp256k1.n);
        return v;
    }();
    return n;
}

u256 small(uint32_t v) {
    return u256{v, 0, 0, 0, 0, 0, 0, 0};
}

u256 minus(const u256 &a, uint32_t v) {
    u256 out;
    sub_seg(out.data(), a.data(), small(v).data());
    return out;
}

u256 plus(const u256 &a, uint32_t v) {
    u256 out;
    add_seg(out.data(), a.data(), small(v).data());
    return out;
}

// ---- independent verifiers

secp256k1_context *secp() {
    static secp256k1_context *ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    return ctx;
}

struct Key {
    bytes secret;  // 32 bytes
    bytes x, y;    // public point
};

Key random_key(std::mt19937_64 &rng) {
    Key k;
    k.secret.resize(32);
    do {
        for (auto &b : k.secret) b = (uint8_t)rng();
    } while (!secp256k1_ec_seckey_verify(secp(), k.secret.data()));
    secp256k1_pubkey pub;
    EXPECT_TRUE(secp256k1_ec_pubkey_create(secp(), &pub, k.secret.data()));
    uint8_t ser[65];
    size_t len = sizeof ser;
    secp256k1_ec_pubkey_serialize(secp(), ser, &len, &pub, SECP256K1_EC_UNCOMPRESSED);
    k.x.assign(ser + 1, ser + 33);
    k.y.assign(ser + 33, ser + 65);
    return k;
}

// libsecp256k1's signature (RFC 6979 nonce, low s) of a 32-byte digest.
void secp_sign(const Key &k, const bytes &digest, bytes &r, bytes &s) {
    secp256k1_ecdsa_signature sig;
    ASSERT_TRUE(
        secp256k1_ecdsa_sign(secp(), &sig, digest.data(), k.secret.data(), nullptr, nullptr));
    uint8_t compact[64];
    secp256k1_ecdsa_signature_serialize_compact(secp(), compact, &sig);
    r.assign(compact, compact + 32);
    s.assign(compact + 32, compact + 64);
}

// libsecp256k1's verdict. It refuses s above n/2; with normalise the signature
// is first brought to its low-s twin, which verifies exactly when the original does.
int secp_verify(const bytes &digest, const bytes &x, const bytes &y, const bytes &r, const bytes &s,
                bool normalise) {
    uint8_t point[65] = {4};
    memcpy(point + 1, x.data(), 32);
    memcpy(point + 33, y.data(), 32);
    secp256k1_pubkey pub;
    if (!secp256k1_ec_pubkey_parse(secp(), &pub, point, sizeof point)) return 0;
    uint8_t compact[64];
    memcpy(compact, r.data(), 32);
    memcpy(compact + 32, s.data(), 32);
    secp256k1_ecdsa_signature sig;
    if (!secp256k1_ecdsa_signature_parse_compact(secp(), &sig, compact)) return 0;  // r or s >= n
    if (normalise) secp256k1_ecdsa_signature_normalize(secp(), &sig, &sig);
    return secp256k1_ecdsa_verify(secp(), &sig, digest.data(), &pub);
}

// OpenSSL's verdict, through a SubjectPublicKeyInfo and a DER signature.
int openssl_verify(const bytes &digest, const bytes &x, const bytes &y, const bytes &r,
                   const bytes &s) {
    static const uint8_t spki_prefix[] = {0x30, 0x56, 0x30, 0x10, 0x06, 0x07, 0x2a, 0x86,
                                          0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x05, 0x2b,
                                          0x81, 0x04, 0x00, 0x0a, 0x03, 0x42, 0x00, 0x04};
    bytes spki(spki_prefix, spki_prefix + sizeof spki_prefix);
    spki.insert(spki.end(), x.begin(), x.end());
    spki.insert(spki.end(), y.begin(), y.end());
    const uint8_t *p = spki.data();
    EVP_PKEY *pkey = d2i_PUBKEY(nullptr, &p, (long)spki.size());
    if (!pkey) return 0;  // not a point of the curve
    ECDSA_SIG *sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(r.data(), 32, nullptr), BN_bin2bn(s.data(), 32, nullptr));
    uint8_t *der = nullptr;
    int der_len = i2d_ECDSA_SIG(sig, &der);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(pkey, nullptr);
    int ok = EVP_PKEY_verify_init(ctx) == 1 &&
             EVP_PKEY_verify(ctx, der, (size_t)der_len, digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(pkey);
    return ok;
}

int engine_verify(const bytes &digest, const bytes &x, const bytes &y, const bytes &r,
                  const bytes &s) {
    ecdsa_public_key key;
    set_from_be(key.x, x.data());
    set_from_be(key.y, y.data());
    u256 z = from_bytes(digest.data()), rr = from_bytes(r.data()), ss = from_bytes(s.data());
    return ecdsa_verify(z.data(), &ecdsa_secp256k1, &key, rr.data(), ss.data());
}

bytes sha256_of(const bytes &msg) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, msg.data(), (uint32_t)msg.size());
    return to_bytes(sha256_finalise(&ctx));
}

// Affine coordinates (32-byte big-endian x || y) of an engine Jacobian point,
// computed with OpenSSL from the plain coordinates.
bytes affine_of(const ecdsa_point &pt) {
    ecdsa_field f;
    ecdsa_field_init(&f, &ecdsa_secp256k1);
    u256 X, Y, Z;
    mont2norm(X.data(), pt.x, f.p, f.mp);
    mont2norm(Y.data(), pt.y, f.p, f.mp);
    mont2norm(Z.data(), pt.z, f.p, f.mp);
    BnCtx ctx;
    Bn bx(X.data()), by(Y.data()), bz(Z.data()), p(f.p), zi, t, x, y;
    BN_mod_inverse(zi.b, bz.b, p.b, ctx.c);
    BN_mod_sqr(t.b, zi.b, p.b, ctx.c);
    BN_mod_mul(x.b, bx.b, t.b, p.b, ctx.c);  // X / Z^2
    BN_mod_mul(t.b, t.b, zi.b, p.b, ctx.c);
    BN_mod_mul(y.b, by.b, t.b, p.b, ctx.c);  // Y / Z^3
    bytes out = to_bytes(x.limbs().data());
    bytes ys = to_bytes(y.limbs().data());
    out.insert(out.end(), ys.begin(), ys.end());
    return out;
}

// k*G by libsecp256k1 as x || y; k must be in 1..n-1.
bytes secp_mul_g(const u256 &k) {
    bytes kb = to_bytes(k.data());
    secp256k1_pubkey pub;
    EXPECT_TRUE(secp256k1_ec_pubkey_create(secp(), &pub, kb.data()));
    uint8_t ser[65];
    size_t len = sizeof ser;
    secp256k1_ec_pubkey_serialize(secp(), ser, &len, &pub, SECP256K1_EC_UNCOMPRESSED);
    return bytes(ser + 1, ser + 65);
}

}  // namespace

// ---------------------------------------------------------------------------
// Curve record

TEST(Ecdsa, CurveRecordMatchesOpenSsl) {
    EC_GROUP *group = EC_GROUP_new_by_curve_name(NID_secp256k1);
    ASSERT_NE(group, nullptr);
    BnCtx ctx;
    Bn p, a, b, gx, gy, r2p, r2n;
    ASSERT_TRUE(EC_GROUP_get_curve(group, p.b, a.b, b.b, ctx.c));
    ASSERT_TRUE(
        EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), gx.b, gy.b, ctx.c));
    const BIGNUM *n = EC_GROUP_get0_order(group);
    EXPECT_EQ(p.limbs(), curve_p());
    EXPECT_EQ(a.limbs(), u256{});
    EXPECT_EQ(b.limbs(), small(7));
    EXPECT_EQ(Bn(ecdsa_secp256k1.n).limbs(), curve_n());
    EXPECT_EQ(BN_cmp(Bn(ecdsa_secp256k1.n).b, n), 0);
    EXPECT_EQ(gx.limbs(), from_bytes(to_bytes(ecdsa_secp256k1.gx).data()));
    EXPECT_EQ(BN_cmp(gx.b, Bn(ecdsa_secp256k1.gx).b), 0);
    EXPECT_EQ(BN_cmp(gy.b, Bn(ecdsa_secp256k1.gy).b), 0);
    EXPECT_EQ(BN_cmp(a.b, Bn(ecdsa_secp256k1.a).b), 0);
    EXPECT_EQ(BN_cmp(b.b, Bn(ecdsa_secp256k1.b).b), 0);
    // R^2 mod m with R = 2^256, from its definition.
    Bn r2;
    BN_set_bit(r2.b, 512);
    BN_mod(r2p.b, r2.b, p.b, ctx.c);
    BN_mod(r2n.b, r2.b, n, ctx.c);
    EXPECT_EQ(BN_cmp(r2p.b, Bn(ecdsa_secp256k1.r2_p).b), 0);
    EXPECT_EQ(BN_cmp(r2n.b, Bn(ecdsa_secp256k1.r2_n).b), 0);
    EC_GROUP_free(group);
}

// ---------------------------------------------------------------------------
// 256-bit arithmetic

TEST(Ecdsa, InvertSegIsTheInverseModulo2To32) {
    const uint64_t seed = test_seed();
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    std::vector<uint32_t> xs = {
        1, 3, 0xffffffffu, 0x80000001u, ecdsa_secp256k1.p[0], ecdsa_secp256k1.n[0]};
    for (int i = 0; i < 1000; i++) xs.push_back((uint32_t)rng() | 1u);
    for (uint32_t x : xs) EXPECT_EQ(x * invert_seg(x), 1u) << std::hex << x;
}

TEST(Ecdsa, SegmentOperationsMatchBignum) {
    const uint64_t seed = test_seed() + 1;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    BnCtx ctx;
    Bn r256;
    BN_set_bit(r256.b, 256);
    const u256 all_ones = {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu,
                           0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu};
    std::vector<u256> specials = {u256{},    small(1),  all_ones,
                                  curve_p(), curve_n(), minus(curve_n(), 1)};
    for (int i = 0; i < 3000; i++) {
        u256 a = i < 36 ? specials[i % 6] : random_u256(rng);
        u256 b = i < 36 ? specials[i / 6] : random_u256(rng);
        Bn ba(a.data()), bb(b.data()), want;
        u256 out;

        // Sum with carry out of bit 256.
        uint32_t carry = add_seg(out.data(), a.data(), b.data());
        BN_add(want.b, ba.b, bb.b);
        EXPECT_EQ(carry, (uint32_t)BN_is_bit_set(want.b, 256));
        BN_mask_bits(want.b, 256);
        EXPECT_EQ(out, want.limbs());

        // Difference with borrow: a - b + borrow*2^256.
        uint32_t borrow = sub_seg(out.data(), a.data(), b.data());
        EXPECT_EQ(borrow, (uint32_t)(BN_cmp(ba.b, bb.b) < 0));
        BN_sub(want.b, ba.b, bb.b);
        if (borrow) BN_add(want.b, want.b, r256.b);
        EXPECT_EQ(out, want.limbs());

        EXPECT_EQ(cmplt(a.data(), b.data()), BN_cmp(ba.b, bb.b) < 0);
        EXPECT_EQ(cmpeq(a.data(), b.data()), BN_cmp(ba.b, bb.b) == 0);
        EXPECT_EQ(cmpeq(a.data(), a.data()), 1);
        EXPECT_EQ(cmpeq_small(a.data(), a[0]), BN_num_bits(ba.b) <= 32);

        // Shift right with a bit entering at the top.
        uint32_t top = (uint32_t)(rng() & 1);
        out = a;
        shr1_seg(out.data(), top);
        BN_rshift1(want.b, ba.b);
        if (top) BN_set_bit(want.b, 255);
        EXPECT_EQ(out, want.limbs());
        if (HasFailure()) FAIL() << "case " << i;
    }
}

TEST(Ecdsa, ModularOperationsMatchBignum) {
    const uint64_t seed = test_seed() + 2;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    BnCtx ctx;
    for (const u256 &m : {curve_p(), curve_n()}) {
        SCOPED_TRACE(m == curve_p() ? "modulo p" : "modulo n");
        Bn bm(m.data()), rinv, r;
        BN_set_bit(r.b, 256);
        BN_mod_inverse(rinv.b, r.b, bm.b, ctx.c);
        const uint32_t mp = 0u - invert_seg(m[0]);
        std::vector<u256> specials = {u256{}, small(1), minus(m, 1), minus(m, 2)};
        for (int i = 0; i < 1500; i++) {
            u256 a = i < 16 ? specials[i % 4] : random_below(rng, m.data());
            u256 b = i < 16 ? specials[i / 4] : random_below(rng, m.data());
            Bn ba(a.data()), bb(b.data()), want;
            u256 out;

            add_mod_p(out.data(), a.data(), b.data(), m.data());
            BN_mod_add(want.b, ba.b, bb.b, bm.b, ctx.c);
            EXPECT_EQ(out, want.limbs());

            sub_mod_p(out.data(), a.data(), b.data(), m.data());
            BN_mod_sub(want.b, ba.b, bb.b, bm.b, ctx.c);
            EXPECT_EQ(out, want.limbs());

            // Montgomery product x*y*R^-1 mod m, also with an unreduced first
            // factor (a digest at or above n enters this way).
            u256 wide = random_u256(rng);
            for (const u256 &x : {a, wide}) {
                Bn bx(x.data());
                mont_mul_mod_p(out.data(), x.data(), b.data(), m.data(), mp);
                BN_mod_mul(want.b, bx.b, bb.b, bm.b, ctx.c);
                BN_mod_mul(want.b, want.b, rinv.b, bm.b, ctx.c);
                EXPECT_EQ(out, want.limbs());
            }

            mont2norm(out.data(), a.data(), m.data(), mp);
            BN_mod_mul(want.b, ba.b, rinv.b, bm.b, ctx.c);
            EXPECT_EQ(out, want.limbs());

            if (!cmpeq_small(a.data(), 0)) {
                EXPECT_EQ(inverse_mod_p(out.data(), a.data(), m.data()), 1);
                BN_mod_inverse(want.b, ba.b, bm.b, ctx.c);
                EXPECT_EQ(out, want.limbs());
            }
            if (HasFailure()) FAIL() << "case " << i;
        }
        // No inverse of 0 or of m itself: reported, and the loop ends.
        u256 out = small(5);
        EXPECT_EQ(inverse_mod_p(out.data(), u256{}.data(), m.data()), 0);
        EXPECT_EQ(out, u256{});
        EXPECT_EQ(inverse_mod_p(out.data(), m.data(), m.data()), 0);
    }
}

// ---------------------------------------------------------------------------
// Points

TEST(Ecdsa, ScalarMultiplicationMatchesLibsecp256k1) {
    const uint64_t seed = test_seed() + 3;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    ecdsa_field f;
    ecdsa_field_init(&f, &ecdsa_secp256k1);
    const u256 n = curve_n();
    std::vector<u256> ks = {small(1), small(2), small(3), minus(n, 1), minus(n, 2)};
    u256 half_n = n;
    shr1_seg(half_n.data(), 0);
    ks.push_back(half_n);
    ks.push_back(plus(half_n, 1));
    for (int i = 0; i < 24; i++) ks.push_back(random_below(rng, n.data()));
    for (const u256 &k : ks) {
        if (cmpeq_small(k.data(), 0)) continue;
        ecdsa_point pt;
        ASSERT_EQ(point_mul_m(&pt, ecdsa_secp256k1.gx, ecdsa_secp256k1.gy, k.data(), &f), 1);
        EXPECT_EQ(affine_of(pt), secp_mul_g(k)) << "k = " << Bn(k.data()).b;
    }
    // Scalars at and beyond n wrap around: n*G is the point at infinity.
    ecdsa_point pt;
    EXPECT_EQ(point_mul_m(&pt, ecdsa_secp256k1.gx, ecdsa_secp256k1.gy, u256{}.data(), &f), 0);
    EXPECT_EQ(point_mul_m(&pt, ecdsa_secp256k1.gx, ecdsa_secp256k1.gy, n.data(), &f), 0);
    ASSERT_EQ(point_mul_m(&pt, ecdsa_secp256k1.gx, ecdsa_secp256k1.gy, plus(n, 5).data(), &f), 1);
    EXPECT_EQ(affine_of(pt), secp_mul_g(small(5)));
}

// Adding a point to another representation of itself (same affine point,
// different Z) must double it; adding its negation gives the point at infinity.
TEST(Ecdsa, AdditionOfEqualAndOppositePointsInOtherRepresentations) {
    ecdsa_field f;
    ecdsa_field_init(&f, &ecdsa_secp256k1);
    ecdsa_point p3;  // 3G with a Z from the ladder
    ASSERT_EQ(point_mul_m(&p3, ecdsa_secp256k1.gx, ecdsa_secp256k1.gy, small(3).data(), &f), 1);
    bytes xy = secp_mul_g(small(3));
    ecdsa_point q3;  // 3G with Z = 1
    u256 one = small(1);
    u256 x = from_bytes(xy.data()), y = from_bytes(xy.data() + 32);
    mont_mul_mod_p(q3.x, x.data(), f.r2, f.p, f.mp);
    mont_mul_mod_p(q3.y, y.data(), f.r2, f.p, f.mp);
    mont_mul_mod_p(q3.z, one.data(), f.r2, f.p, f.mp);
    ASSERT_FALSE(cmpeq(p3.z, q3.z));

    ecdsa_point sum;
    ASSERT_EQ(point_add_m(&sum, &p3, &q3, &f), 1);
    EXPECT_EQ(affine_of(sum), secp_mul_g(small(6)));

    ecdsa_point neg = q3;
    u256 zero{};
    sub_mod_p(neg.y, zero.data(), q3.y, f.p);
    EXPECT_EQ(point_add_m(&sum, &p3, &neg, &f), 0);

    // The point at infinity is the identity; out may alias an input.
    ASSERT_EQ(point_add_m(&sum, nullptr, &p3, &f), 1);
    EXPECT_EQ(affine_of(sum), secp_mul_g(small(3)));
    EXPECT_EQ(point_add_m(&sum, nullptr, nullptr, &f), 0);
    sum = p3;
    ASSERT_EQ(point_add_m(&sum, &sum, &q3, &f), 1);
    EXPECT_EQ(affine_of(sum), secp_mul_g(small(6)));
    ASSERT_EQ(point_double_m(&sum, &q3, &f), 1);
    EXPECT_EQ(affine_of(sum), secp_mul_g(small(6)));
    EXPECT_EQ(point_double_m(&sum, nullptr, &f), 0);

    // A point with Y = 0 (not on this curve) doubles to infinity, not to Z = 0.
    ecdsa_point flat = q3;
    set_zero(flat.y);
    EXPECT_EQ(point_double_m(&sum, &flat, &f), 0);
}

// ---------------------------------------------------------------------------
// Verification

// One signature check seen by all three verifiers.
struct Verdicts {
    int engine, openssl, secp_normalised, secp_raw;
};

Verdicts all_verdicts(const bytes &digest, const Key &k, const bytes &r, const bytes &s) {
    return {engine_verify(digest, k.x, k.y, r, s), openssl_verify(digest, k.x, k.y, r, s),
            secp_verify(digest, k.x, k.y, r, s, true), secp_verify(digest, k.x, k.y, r, s, false)};
}

TEST(Ecdsa, VerifyAgreesWithLibsecp256k1AndOpenSslOnRandomKeys) {
    const uint64_t seed = test_seed() + 4;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    const bytes n = to_bytes(curve_n().data());
    const bytes zero(32, 0);
    for (int round = 0; round < 16; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        Key key = random_key(rng);
        bytes msg(1 + rng() % 100);
        for (auto &b : msg) b = (uint8_t)rng();
        bytes digest = sha256_of(msg);
        bytes r, s;
        secp_sign(key, digest, r, s);
        bytes high_s = to_bytes(minus(curve_n(), 0).data());
        {
            u256 nn = curve_n(), ss = from_bytes(s.data()), hs;
            sub_seg(hs.data(), nn.data(), ss.data());
            high_s = to_bytes(hs.data());
        }
        bytes flipped_msg = msg;
        flipped_msg[rng() % msg.size()] ^= (uint8_t)(1u << (rng() % 8));
        bytes r_bit = r, s_bit = s;
        r_bit[rng() % 32] ^= (uint8_t)(1u << (rng() % 8));
        s_bit[rng() % 32] ^= (uint8_t)(1u << (rng() % 8));

        // A digest at or above n: signers and verifiers use it reduced modulo n.
        u256 big = curve_n();
        big[0] = (uint32_t)rng() & 0x0fffffffu;  // n's low limbs raised stay below 2^256
        big[1] = 0xffffffffu;
        bytes big_digest = to_bytes(big.data());
        bytes br, bs;
        secp_sign(key, big_digest, br, bs);

        struct Case {
            const char *name;
            bytes digest, r, s;
            int want;
        };
        const Case cases[] = {
            {"valid", digest, r, s, 1},
            {"high s", digest, r, high_s, 1},
            {"one bit of the message flipped", sha256_of(flipped_msg), r, s, 0},
            {"one bit of r flipped", digest, r_bit, s, 0},
            {"one bit of s flipped", digest, r, s_bit, 0},
            {"r = 0", digest, zero, s, 0},
            {"s = 0", digest, r, zero, 0},
            {"r = n", digest, n, s, 0},
            {"s = n", digest, r, n, 0},
            {"digest at or above n", big_digest, br, bs, 1},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            Verdicts v = all_verdicts(c.digest, key, c.r, c.s);
            EXPECT_EQ(v.engine, c.want);
            EXPECT_EQ(v.openssl, c.want);
            EXPECT_EQ(v.secp_normalised, c.want);
        }
        // libsecp256k1 on its own refuses the high-s twin; the engine accepts both forms.
        EXPECT_EQ(all_verdicts(digest, key, r, high_s).secp_raw, 0);
        if (HasFailure()) return;
    }
}

// Signatures whose two scalar products are the same point (the final addition
// is a doubling) or opposite points (the sum is the point at infinity), made
// with known private keys: z = r*d and z = -r*d modulo n.
TEST(Ecdsa, VerifyWhenTheTwoProductsCoincideOrCancel) {
    const uint64_t seed = test_seed() + 5;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    BnCtx ctx;
    Bn n(curve_n().data());
    for (int round = 0; round < 8; round++) {
        Key key = random_key(rng);
        Bn d;
        BN_bin2bn(key.secret.data(), 32, d.b);
        // R = k*G, r = x(R) mod n.
        u256 k = random_below(rng, curve_n().data());
        if (cmpeq_small(k.data(), 0)) k = small(7);
        bytes kg = secp_mul_g(k);
        Bn r, z, s, t, bk(k.data());
        BN_bin2bn(kg.data(), 32, r.b);
        BN_mod(r.b, r.b, n.b, ctx.c);
        // Coincide: z = r*d, s = 2*r*d/k, so u1*G = u2*Q and u1*G + u2*Q = R.
        BN_mod_mul(z.b, r.b, d.b, n.b, ctx.c);
        BN_mod_add(t.b, z.b, z.b, n.b, ctx.c);
        BN_mod_inverse(s.b, bk.b, n.b, ctx.c);
        BN_mod_mul(s.b, s.b, t.b, n.b, ctx.c);
        bytes rb = to_bytes(r.limbs().data()), zb = to_bytes(z.limbs().data()),
              sb = to_bytes(s.limbs().data());
        Verdicts v = all_verdicts(zb, key, rb, sb);
        EXPECT_EQ(v.engine, 1) << "round " << round;
        EXPECT_EQ(v.openssl, 1);
        EXPECT_EQ(v.secp_normalised, 1);
        // Cancel: z = -r*d, any s: u1*G + u2*Q is the point at infinity.
        BN_mod_sub(z.b, n.b, z.b, n.b, ctx.c);
        zb = to_bytes(z.limbs().data());
        v = all_verdicts(zb, key, rb, sb);
        EXPECT_EQ(v.engine, 0) << "round " << round;
        EXPECT_EQ(v.openssl, 0);
        EXPECT_EQ(v.secp_normalised, 0);
    }
}

// Keys that are not points of the curve never verify, and the check ends.
TEST(Ecdsa, KeysOffTheCurveNeverVerify) {
    const uint64_t seed = test_seed() + 6;
    SCOPED_TRACE(seed_note(seed));
    std::mt19937_64 rng(seed);
    std::vector<std::pair<u256, u256>> keys = {
        {u256{}, u256{}}, {small(1), small(1)}, {small(5), u256{}}};
    for (int i = 0; i < 4; i++) keys.push_back({random_u256(rng), random_u256(rng)});
    for (const auto &[x, y] : keys) {
        ecdsa_public_key key;
        set_copy(key.x, x.data());
        set_copy(key.y, y.data());
        for (int i = 0; i < 3; i++) {
            u256 z = random_u256(rng), r = random_below(rng, curve_n().data()),
                 s = random_below(rng, curve_n().data());
            if (cmpeq_small(r.data(), 0) || cmpeq_small(s.data(), 0)) continue;
            EXPECT_EQ(ecdsa_verify(z.data(), &ecdsa_secp256k1, &key, r.data(), s.data()), 0);
        }
    }
}

// The built-in key is the configured key file's point, and it lies on the curve.
TEST(Ecdsa, ModelPublicKeyIsTheConfiguredKey) {
    FILE *f = fopen(SONIVALE_MODEL_PUBKEY_FILE, "rb");
    ASSERT_NE(f, nullptr) << SONIVALE_MODEL_PUBKEY_FILE;
    EVP_PKEY *pkey = PEM_read_PUBKEY(f, nullptr, nullptr, nullptr);
    fclose(f);
    ASSERT_NE(pkey, nullptr);
    ASSERT_TRUE(EVP_PKEY_set_utf8_string_param(pkey, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                               "uncompressed"));
    uint8_t point[65];
    size_t len = 0;
    ASSERT_TRUE(
        EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &len));
    EVP_PKEY_free(pkey);
    ASSERT_EQ(len, 65u);
    EXPECT_EQ(to_bytes(model_public_key.x), bytes(point + 1, point + 33));
    EXPECT_EQ(to_bytes(model_public_key.y), bytes(point + 33, point + 65));
    secp256k1_pubkey pub;
    EXPECT_TRUE(secp256k1_ec_pubkey_parse(secp(), &pub, point, sizeof point));
}

// A signature made with the project's private key verifies against the built-in
// key (when the build uses the project's key); one flipped bit breaks it.
TEST(Ecdsa, ProjectKeySignaturesVerifyWithTheBuiltInKey) {
    FILE *f = fopen(SONIVALE_PROJECT_PRIVATE_KEY, "rb");
    ASSERT_NE(f, nullptr) << SONIVALE_PROJECT_PRIVATE_KEY;
    EVP_PKEY *pkey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    ASSERT_NE(pkey, nullptr);
    BIGNUM *priv = nullptr;
    ASSERT_TRUE(EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &priv));
    Key key;
    key.secret.resize(32);
    BN_bn2binpad(priv, key.secret.data(), 32);
    BN_clear_free(priv);
    EVP_PKEY_free(pkey);
    key.x = to_bytes(model_public_key.x);
    key.y = to_bytes(model_public_key.y);
    secp256k1_pubkey pub;
    ASSERT_TRUE(secp256k1_ec_pubkey_create(secp(), &pub, key.secret.data()));
    uint8_t ser[65];
    size_t len = sizeof ser;
    secp256k1_ec_pubkey_serialize(secp(), ser, &len, &pub, SECP256K1_EC_UNCOMPRESSED);
    if (bytes(ser + 1, ser + 33) != key.x) GTEST_SKIP() << "this build carries another model key";

    bytes blob(300);
    for (size_t i = 0; i < blob.size(); i++) blob[i] = (uint8_t)(i * 7);
    bytes r, s;
    secp_sign(key, sha256_of(blob), r, s);
    EXPECT_EQ(engine_verify(sha256_of(blob), key.x, key.y, r, s), 1);
    blob[123] ^= 0x10;
    EXPECT_EQ(engine_verify(sha256_of(blob), key.x, key.y, r, s), 0);
}

// Project Wycheproof's vectors: the engine gives Wycheproof's verdict, and so do
// OpenSSL and libsecp256k1 (the latter after normalising s; raw, it refuses the
// valid high-s vectors).
TEST(Ecdsa, WycheproofVectors) {
    std::vector<wycheproof_vector> vectors =
        wycheproof_load(SONIVALE_STORE_DATA "/wycheproof_secp256k1_sha256.txt");
    ASSERT_GE(vectors.size(), 60u);
    int high_s_refused = 0;
    for (const wycheproof_vector &v : vectors) {
        SCOPED_TRACE("tcId " + std::to_string(v.id) + ": " + v.comment);
        bytes digest = sha256_of(v.message);
        Key key;
        key.x = v.x;
        key.y = v.y;
        Verdicts got = all_verdicts(digest, key, v.r, v.s);
        EXPECT_EQ(got.engine, v.valid ? 1 : 0);
        EXPECT_EQ(got.openssl, got.engine);
        EXPECT_EQ(got.secp_normalised, got.engine);
        if (got.secp_raw != got.engine) {
            EXPECT_TRUE(v.valid) << "libsecp256k1 differs only by refusing high s";
            high_s_refused++;
        }
    }
    printf(
        "wycheproof: %zu vectors, %d valid high-s ones refused by libsecp256k1 without "
        "normalising\n",
        vectors.size(), high_s_refused);
}
