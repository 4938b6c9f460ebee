#include "store/zu_ecdsa.h"

// ---------------------------------------------------------------------------
// Curve constants

// R^2 mod m (R = 2^256) by doubling 1 modulo m 512 times; evaluated by the
// compiler so the record stays read-only data.
static constexpr void r2_mod(uint32_t out[8], const uint32_t m[8]) {
    uint32_t v[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    for (int step = 0; step < 512; step++) {
        uint32_t carry = 0;
        for (int i = 0; i < 8; i++) {
            uint32_t top = v[i] >> 31;
            v[i] = (v[i] << 1) | carry;
            carry = top;
        }
        // 2v < 2m: subtract m once when the doubling carried out or v >= m.
        bool ge = carry != 0;
        if (!ge) {
            ge = true;
            for (int i = 7; i >= 0; i--) {
                if (v[i] != m[i]) {
                    ge = v[i] > m[i];
                    break;
                }
            }
        }
        if (ge) {
            uint32_t borrow = 0;
            for (int i = 0; i < 8; i++) {
                uint64_t d = (uint64_t)v[i] - m[i] - borrow;
                v[i] = (uint32_t)d;
                borrow = (uint32_t)(d >> 63);
            }
        }
    }
    for (int i = 0; i < 8; i++) out[i] = v[i];
}

static constexpr ecdsa_curve make_secp256k1() {
    ecdsa_curve c = {
        // p = 2^256 - 2^32 - 977
        {0xfffffc2f, 0xfffffffe, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff,
         0xffffffff},
        {},
        {0, 0, 0, 0, 0, 0, 0, 0},
        {7, 0, 0, 0, 0, 0, 0, 0},
        {0xd0364141, 0xbfd25e8c, 0xaf48a03b, 0xbaaedce6, 0xfffffffe, 0xffffffff, 0xffffffff,
         0xffffffff},
        {},
        {0x16f81798, 0x59f2815b, 0x2dce28d9, 0x029bfcdb, 0xce870b07, 0x55a06295, 0xf9dcbbac,
         0x79be667e},
        {0xfb10d4b8, 0x9c47d08f, 0xa6855419, 0xfd17b448, 0x0e1108a8, 0x5da4fbfc, 0x26a3c465,
         0x483ada77},
    };
    r2_mod(c.r2_p, c.p);
    r2_mod(c.r2_n, c.n);
    return c;
}

constinit const ecdsa_curve ecdsa_secp256k1 = make_secp256k1();

// ---------------------------------------------------------------------------
// 256-bit numbers

void set_from_be(uint32_t out[8], const uint8_t in[32]) {
    for (int i = 0; i < 8; i++) {
        const uint8_t *q = in + 4 * (7 - i);
        out[i] = (uint32_t)q[0] << 24 | (uint32_t)q[1] << 16 | (uint32_t)q[2] << 8 | q[3];
    }
}

void set_to_be(uint8_t out[32], const uint32_t in[8]) {
    for (int i = 0; i < 8; i++) {
        uint8_t *q = out + 4 * (7 - i);
        q[0] = (uint8_t)(in[i] >> 24);
        q[1] = (uint8_t)(in[i] >> 16);
        q[2] = (uint8_t)(in[i] >> 8);
        q[3] = (uint8_t)in[i];
    }
}

void set_zero(uint32_t x[8]) {
    for (int i = 0; i < 8; i++) x[i] = 0;
}

void set_copy(uint32_t dst[8], const uint32_t src[8]) {
    for (int i = 0; i < 8; i++) dst[i] = src[i];
}

int cmplt(const uint32_t a[8], const uint32_t b[8]) {
    for (int i = 7; i >= 0; i--) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return 0;
}

int cmpeq(const uint32_t a[8], const uint32_t b[8]) {
    uint32_t diff = 0;
    for (int i = 0; i < 8; i++) diff |= a[i] ^ b[i];
    return diff == 0;
}

int cmpeq_small(const uint32_t a[8], uint32_t value) {
    uint32_t diff = a[0] ^ value;
    for (int i = 1; i < 8; i++) diff |= a[i];
    return diff == 0;
}

uint32_t add_seg(uint32_t out[8], const uint32_t a[8], const uint32_t b[8]) {
    uint64_t acc = 0;
    for (int i = 0; i < 8; i++) {
        acc += (uint64_t)a[i] + b[i];
        out[i] = (uint32_t)acc;
        acc >>= 32;
    }
    return (uint32_t)acc;
}

uint32_t sub_seg(uint32_t out[8], const uint32_t a[8], const uint32_t b[8]) {
    uint32_t borrow = 0;
    for (int i = 0; i < 8; i++) {
        uint64_t d = (uint64_t)a[i] - b[i] - borrow;
        out[i] = (uint32_t)d;
        borrow = (uint32_t)(d >> 63);  // 1 when the limb went below zero
    }
    return borrow;
}

void shr1_seg(uint32_t x[8], uint32_t top_bit) {
    for (int i = 0; i < 7; i++) x[i] = (x[i] >> 1) | (x[i + 1] << 31);
    x[7] = (x[7] >> 1) | (top_bit << 31);
}

// ---------------------------------------------------------------------------
// Arithmetic modulo an odd m

void add_mod_p(uint32_t out[8], const uint32_t a[8], const uint32_t b[8], const uint32_t m[8]) {
    uint32_t carry = add_seg(out, a, b);
    // a + b < 2m: one subtraction suffices; a carry out means the sum is >= 2^256 > m.
    if (carry || !cmplt(out, m)) sub_seg(out, out, m);
}

void sub_mod_p(uint32_t out[8], const uint32_t a[8], const uint32_t b[8], const uint32_t m[8]) {
    if (sub_seg(out, a, b)) add_seg(out, out, m);
}

uint32_t invert_seg(uint32_t x) {
    // Builds y bit by bit so that x*y = 1 modulo 2^(i+1) for each i.
    uint32_t y = 1;
    for (int i = 1; i < 32; i++) {
        uint32_t mask = (2u << i) - 1;  // low i+1 bits (all 32 when i = 31)
        if (((x * y) & mask) != 1) y |= 1u << i;
    }
    return y;
}

void montgomery(uint32_t out[8], uint32_t t[16], const uint32_t m[8], uint32_t mp) {
    uint32_t overflow = 0;  // carry that left limb 15: bit 512 of the running sum
    for (int i = 0; i < 8; i++) {
        // u*m cancels limb i: t[i] + u*m[0] = 0 mod 2^32.
        uint32_t u = t[i] * mp;
        uint64_t carry = 0;
        for (int j = 0; j < 8; j++) {
            carry += (uint64_t)u * m[j] + t[i + j];
            t[i + j] = (uint32_t)carry;
            carry >>= 32;
        }
        for (int k = i + 8; carry != 0 && k < 16; k++) {
            carry += t[k];
            t[k] = (uint32_t)carry;
            carry >>= 32;
        }
        overflow += (uint32_t)carry;
    }
    // (t + U*m) / R < 2m when t < m*R: at most one subtraction.
    uint32_t *hi = t + 8;
    if (overflow || !cmplt(hi, m)) sub_seg(hi, hi, m);
    set_copy(out, hi);
}

void mont_mul_mod_p(uint32_t out[8], const uint32_t x[8], const uint32_t y[8], const uint32_t m[8],
                    uint32_t mp) {
    uint32_t t[16] = {};
    for (int i = 0; i < 8; i++) {
        uint64_t carry = 0;
        for (int j = 0; j < 8; j++) {
            carry += (uint64_t)x[i] * y[j] + t[i + j];
            t[i + j] = (uint32_t)carry;
            carry >>= 32;
        }
        t[i + 8] = (uint32_t)carry;
    }
    montgomery(out, t, m, mp);
}

void mont2norm(uint32_t out[8], const uint32_t x[8], const uint32_t m[8], uint32_t mp) {
    uint32_t t[16] = {};
    set_copy(t, x);
    montgomery(out, t, m, mp);
}

// v / 2 modulo m for v < m: an odd v is made even by adding m first, the carry
// of that sum entering at bit 255.
static void half_mod(uint32_t v[8], const uint32_t m[8]) {
    uint32_t carry = 0;
    if (v[0] & 1) carry = add_seg(v, v, m);
    shr1_seg(v, carry);
}

int inverse_mod_p(uint32_t out[8], const uint32_t a[8], const uint32_t m[8]) {
    // Invariants: x1*a = u and x2*a = v (mod m); gcd(u, v) = gcd(a, m).
    uint32_t u[8], v[8], x1[8], x2[8];
    set_copy(u, a);
    set_copy(v, m);
    set_zero(x1);
    x1[0] = 1;
    set_zero(x2);
    for (;;) {
        // A zero u or v means gcd(a, m) = m or a shared factor: no inverse. The
        // check also keeps the halving loops below from running forever.
        if (cmpeq_small(u, 0) || cmpeq_small(v, 0)) {
            set_zero(out);
            return 0;
        }
        if (cmpeq_small(u, 1)) {
            set_copy(out, x1);
            return 1;
        }
        if (cmpeq_small(v, 1)) {
            set_copy(out, x2);
            return 1;
        }
        while ((u[0] & 1) == 0) {
            shr1_seg(u, 0);
            half_mod(x1, m);
        }
        while ((v[0] & 1) == 0) {
            shr1_seg(v, 0);
            half_mod(x2, m);
        }
        if (cmplt(u, v)) {
            sub_seg(v, v, u);
            sub_mod_p(x2, x2, x1, m);
        } else {
            sub_seg(u, u, v);
            sub_mod_p(x1, x1, x2, m);
        }
    }
}

// ---------------------------------------------------------------------------
// Points (Jacobian, Montgomery form modulo p)

void ecdsa_field_init(ecdsa_field *f, const ecdsa_curve *curve) {
    set_copy(f->p, curve->p);
    set_copy(f->r2, curve->r2_p);
    f->mp = 0u - invert_seg(curve->p[0]);
    mont_mul_mod_p(f->a_m, curve->a, curve->r2_p, f->p, f->mp);
    uint32_t one[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    uint32_t half[8];
    uint32_t carry = add_seg(half, curve->p, one);  // p + 1, even
    shr1_seg(half, carry);
    mont_mul_mod_p(f->half_m, half, curve->r2_p, f->p, f->mp);
}

// Shorthands for the formulas: field products and sums modulo p.
#define FMUL(o, x, y) mont_mul_mod_p(o, x, y, f->p, f->mp)
#define FADD(o, x, y) add_mod_p(o, x, y, f->p)
#define FSUB(o, x, y) sub_mod_p(o, x, y, f->p)

int point_double_m(ecdsa_point *out, const ecdsa_point *p, const ecdsa_field *f) {
    // A point with Y = 0 has order 2; its double is the point at infinity (and
    // Z3 = 2*Y*Z would be 0, which no stored point may have).
    if (!p || cmpeq_small(p->y, 0)) return 0;
    uint32_t xx[8], yy[8], yyyy[8], zz[8], m[8], s[8], t[8];
    FMUL(xx, p->x, p->x);  // xx = X^2
    FMUL(yy, p->y, p->y);  // yy = Y^2
    FMUL(yyyy, yy, yy);    // yyyy = Y^4
    FMUL(zz, p->z, p->z);  // zz = Z^2
    FMUL(t, zz, zz);       // t = Z^4
    FMUL(t, f->a_m, t);    // t = a*Z^4
    FADD(m, xx, xx);       // m = 2X^2
    FADD(m, m, xx);        // m = 3X^2
    FADD(m, m, t);         // M = 3X^2 + a*Z^4
    FMUL(s, p->x, yy);     // s = X*Y^2
    FADD(s, s, s);         // s = 2X*Y^2
    FADD(s, s, s);         // S = 4X*Y^2
    uint32_t x3[8], y3[8], z3[8];
    FMUL(x3, m, m);          // x3 = M^2
    FSUB(x3, x3, s);         // x3 = M^2 - S
    FSUB(x3, x3, s);         // X3 = M^2 - 2S
    FMUL(z3, p->y, p->z);    // z3 = Y*Z
    FADD(z3, z3, z3);        // Z3 = 2Y*Z
    FSUB(t, s, x3);          // t = S - X3
    FMUL(y3, m, t);          // y3 = M*(S - X3)
    FADD(yyyy, yyyy, yyyy);  // 2Y^4
    FADD(yyyy, yyyy, yyyy);  // 4Y^4
    FADD(yyyy, yyyy, yyyy);  // 8Y^4
    FSUB(y3, y3, yyyy);      // Y3 = M*(S - X3) - 8Y^4
    set_copy(out->x, x3);
    set_copy(out->y, y3);
    set_copy(out->z, z3);
    return 1;
}

int point_add_m(ecdsa_point *out, const ecdsa_point *p1, const ecdsa_point *p2,
                const ecdsa_field *f) {
    if (!p1 && !p2) return 0;
    if (!p1 || !p2) {
        const ecdsa_point *q = p1 ? p1 : p2;
        if (out != q) *out = *q;
        return 1;
    }
    // Addition formula of IEEE P1363 (A.10.5).
    uint32_t z1z1[8], z2z2[8], u1[8], u2[8], s1[8], s2[8];
    FMUL(z1z1, p1->z, p1->z);  // Z1^2
    FMUL(z2z2, p2->z, p2->z);  // Z2^2
    FMUL(u1, p1->x, z2z2);     // U1 = X1*Z2^2
    FMUL(u2, p2->x, z1z1);     // U2 = X2*Z1^2
    FMUL(s1, p1->y, p2->z);    // Y1*Z2
    FMUL(s1, s1, z2z2);        // S1 = Y1*Z2^3
    FMUL(s2, p2->y, p1->z);    // Y2*Z1
    FMUL(s2, s2, z1z1);        // S2 = Y2*Z1^3
    // Equal affine x (U1 = U2) is decided on U, not on the stored X: two
    // Jacobian triples of one point differ in X whenever their Z differ.
    // Same y: the doubling; opposite y: the point at infinity. The general
    // formula would give Z3 = 0 for both.
    if (cmpeq(u1, u2)) {
        if (cmpeq(s1, s2)) return point_double_m(out, p1, f);
        return 0;
    }
    uint32_t w[8], r[8], t[8], m[8];
    FSUB(w, u1, u2);  // W = U1 - U2
    FSUB(r, s1, s2);  // R = S1 - S2
    FADD(t, u1, u2);  // T = U1 + U2
    FADD(m, s1, s2);  // M = S1 + S2
    uint32_t z3[8], ww[8], tww[8], x3[8], v[8], y3[8], mwww[8];
    FMUL(z3, p1->z, p2->z);   // Z1*Z2
    FMUL(z3, z3, w);          // Z3 = Z1*Z2*W
    FMUL(ww, w, w);           // W^2
    FMUL(tww, t, ww);         // T*W^2
    FMUL(x3, r, r);           // R^2
    FSUB(x3, x3, tww);        // X3 = R^2 - T*W^2
    FSUB(v, tww, x3);         // T*W^2 - X3
    FSUB(v, v, x3);           // V = T*W^2 - 2*X3
    FMUL(y3, v, r);           // V*R
    FMUL(mwww, ww, w);        // W^3
    FMUL(mwww, m, mwww);      // M*W^3
    FSUB(y3, y3, mwww);       // V*R - M*W^3
    FMUL(y3, y3, f->half_m);  // Y3 = (V*R - M*W^3) / 2
    set_copy(out->x, x3);
    set_copy(out->y, y3);
    set_copy(out->z, z3);
    return 1;
}

int point_mul_m(ecdsa_point *out, const uint32_t x[8], const uint32_t y[8], const uint32_t k[8],
                const ecdsa_field *f) {
    if (cmpeq_small(k, 0)) return 0;
    ecdsa_point q;
    uint32_t one[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    FMUL(q.x, x, f->r2);    // x*R
    FMUL(q.y, y, f->r2);    // y*R
    FMUL(q.z, one, f->r2);  // Z = 1, i.e. R mod p
    int have_q = 1;
    int have_acc = 0;
    ecdsa_point acc;
    // Binary double-and-add from bit 0 upward: acc = (k mod 2^i)*P, q = 2^i*P.
    for (int i = 0; i < 256; i++) {
        if ((k[i >> 5] >> (i & 31)) & 1) {
            have_acc = point_add_m(&acc, have_acc ? &acc : nullptr, have_q ? &q : nullptr, f);
        }
        if (i < 255) have_q = point_double_m(&q, have_q ? &q : nullptr, f);
    }
    if (have_acc) *out = acc;
    return have_acc;
}

#undef FMUL
#undef FADD
#undef FSUB

// ---------------------------------------------------------------------------
// Verification

int ecdsa_verify(const uint32_t z[8], const ecdsa_curve *curve, const ecdsa_public_key *key,
                 const uint32_t r[8], const uint32_t s[8]) {
    const uint32_t *n = curve->n;
    // r and s must lie in 1 .. n-1.
    if (cmpeq_small(r, 0) || cmpeq_small(s, 0) || !cmplt(r, n) || !cmplt(s, n)) return 0;

    uint32_t mp_n = 0u - invert_seg(n[0]);
    uint32_t w[8];
    if (!inverse_mod_p(w, s, n)) return 0;  // cannot happen for prime n and 0 < s < n

    // u1 = z*w mod n, u2 = r*w mod n through Montgomery form modulo n. A digest
    // at or above n is reduced by the conversion (z*R^2*R^-1 < 2n is reduced once).
    uint32_t w_m[8], t[8], u1[8], u2[8];
    mont_mul_mod_p(w_m, w, curve->r2_n, n, mp_n);
    mont_mul_mod_p(t, z, curve->r2_n, n, mp_n);
    mont_mul_mod_p(t, t, w_m, n, mp_n);
    mont2norm(u1, t, n, mp_n);
    mont_mul_mod_p(t, r, curve->r2_n, n, mp_n);
    mont_mul_mod_p(t, t, w_m, n, mp_n);
    mont2norm(u2, t, n, mp_n);

    // P = u1*G + u2*Q.
    ecdsa_field f;
    ecdsa_field_init(&f, curve);
    ecdsa_point pg, pq, sum;
    int have_g = point_mul_m(&pg, curve->gx, curve->gy, u1, &f);
    int have_q = point_mul_m(&pq, key->x, key->y, u2, &f);
    if (!point_add_m(&sum, have_g ? &pg : nullptr, have_q ? &pq : nullptr, &f)) return 0;

    // Affine x = X/Z^2. Z is held as Z*R; its plain value is inverted and the
    // inverse brought back into Montgomery form.
    uint32_t zinv[8], x[8];
    mont2norm(t, sum.z, f.p, f.mp);               // Z
    if (!inverse_mod_p(zinv, t, f.p)) return 0;   // Z is never 0 for a stored point
    mont_mul_mod_p(zinv, zinv, f.r2, f.p, f.mp);  // Z^-1 * R
    mont_mul_mod_p(t, zinv, zinv, f.p, f.mp);     // Z^-2 * R
    mont_mul_mod_p(t, t, sum.x, f.p, f.mp);       // X * Z^-2 * R
    mont2norm(x, t, f.p, f.mp);                   // x

    // x mod n: x < p < 2n, so at most one subtraction.
    if (!cmplt(x, n)) sub_seg(x, x, n);
    return cmpeq(x, r);
}
