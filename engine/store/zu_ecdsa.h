// ECDSA signature check over secp256k1 with SHA-256 digests (SEC 1, SEC 2).
//
// Numbers: every value (coordinates, scalars, digest, signature halves, curve
// constants, public key) is a 256-bit unsigned integer held as eight 32-bit
// limbs, least significant limb first. No heap, no tables beyond the curve
// constants; every temporary is a fixed-size local. Not constant-time: it only
// ever handles public data (signed blobs, public keys).
#ifndef ZU_ECDSA_H
#define ZU_ECDSA_H

#include <stdint.h>

// Curve constants; R = 2^256 is the Montgomery radix.
struct ecdsa_curve {
    uint32_t p[8];     // field prime
    uint32_t r2_p[8];  // R^2 mod p: into Montgomery form modulo p
    uint32_t a[8];     // curve coefficient a (plain form)
    uint32_t b[8];     // curve coefficient b (not used by verification)
    uint32_t n[8];     // order of the base point
    uint32_t r2_n[8];  // R^2 mod n: into Montgomery form modulo n
    uint32_t gx[8];    // base point G, affine x
    uint32_t gy[8];    // base point G, affine y
};

// An affine point, x then y (64 bytes).
struct ecdsa_public_key {
    uint32_t x[8];
    uint32_t y[8];
};

// A Jacobian point (X, Y, Z), each coordinate in Montgomery form modulo p
// (v held as v*R mod p); the affine point is (X/Z^2, Y/Z^3). The point at
// infinity is never stored: the point operations report it by returning 0.
struct ecdsa_point {
    uint32_t x[8];
    uint32_t y[8];
    uint32_t z[8];
};

// What the point operations need of the coordinate field, derived once from the
// curve record by ecdsa_field_init.
struct ecdsa_field {
    uint32_t p[8];       // field prime
    uint32_t r2[8];      // R^2 mod p
    uint32_t mp;         // -p^-1 mod 2^32
    uint32_t a_m[8];     // curve coefficient a, Montgomery form
    uint32_t half_m[8];  // (p + 1) / 2, the inverse of 2, Montgomery form
};

extern const ecdsa_curve ecdsa_secp256k1;

// The key the engine checks model signatures against; generated at build time
// from the configured public key file.
extern const ecdsa_public_key model_public_key;

// 1 when (r, s) is a valid signature of the digest z under key, 0 otherwise.
// z is the SHA-256 digest as a number (z at or above n is reduced modulo n);
// both s and n - s are accepted.
int ecdsa_verify(const uint32_t z[8], const ecdsa_curve *curve, const ecdsa_public_key *key,
                 const uint32_t r[8], const uint32_t s[8]);

// Big-endian 32-byte form <-> limbs.
void set_from_be(uint32_t out[8], const uint8_t in[32]);
void set_to_be(uint8_t out[32], const uint32_t in[8]);

// 256-bit operations. Outputs may alias inputs.
void set_zero(uint32_t x[8]);
void set_copy(uint32_t dst[8], const uint32_t src[8]);
int cmplt(const uint32_t a[8], const uint32_t b[8]);   // a < b, unsigned
int cmpeq(const uint32_t a[8], const uint32_t b[8]);   // a == b
int cmpeq_small(const uint32_t a[8], uint32_t value);  // a == value (limbs 1..7 zero)
uint32_t add_seg(uint32_t out[8], const uint32_t a[8], const uint32_t b[8]);  // carry out
uint32_t sub_seg(uint32_t out[8], const uint32_t a[8], const uint32_t b[8]);  // borrow out
void shr1_seg(uint32_t x[8], uint32_t top_bit);  // x >> 1, top_bit (0 or 1) enters bit 255

// Modular operations; inputs below m, m odd.
void add_mod_p(uint32_t out[8], const uint32_t a[8], const uint32_t b[8], const uint32_t m[8]);
void sub_mod_p(uint32_t out[8], const uint32_t a[8], const uint32_t b[8], const uint32_t m[8]);
uint32_t invert_seg(uint32_t x);  // x^-1 mod 2^32 for odd x; m' = -invert_seg(m[0])
// Montgomery reduction of the 512-bit t (16 limbs, destroyed): t * R^-1 mod m,
// fully reduced when t < m * R.
void montgomery(uint32_t out[8], uint32_t t[16], const uint32_t m[8], uint32_t mp);
// x * y * R^-1 mod m; fully reduced when x * y < m * R (for example x < 2^256, y < m).
void mont_mul_mod_p(uint32_t out[8], const uint32_t x[8], const uint32_t y[8], const uint32_t m[8],
                    uint32_t mp);
void mont2norm(uint32_t out[8], const uint32_t x[8], const uint32_t m[8], uint32_t mp);
// a^-1 mod m by the binary extended Euclidean method. Returns 1, or 0 with out
// cleared when a has no inverse (a = 0 mod m).
int inverse_mod_p(uint32_t out[8], const uint32_t a[8], const uint32_t m[8]);

// Point operations modulo the field's prime. A none input point is the point at
// infinity; each returns 1 with the result in out, or 0 when the result is the
// point at infinity (out then unspecified). out may alias an input.
void ecdsa_field_init(ecdsa_field *f, const ecdsa_curve *curve);
int point_double_m(ecdsa_point *out, const ecdsa_point *p, const ecdsa_field *f);
int point_add_m(ecdsa_point *out, const ecdsa_point *p1, const ecdsa_point *p2,
                const ecdsa_field *f);
// k * (x, y) for an affine point, result Jacobian.
int point_mul_m(ecdsa_point *out, const uint32_t x[8], const uint32_t y[8], const uint32_t k[8],
                const ecdsa_field *f);

#endif
