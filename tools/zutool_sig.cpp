// zutool sig: digests, signatures and their check, the engine's way (SHA-256 and
// ECDSA over secp256k1). Digest and verification use the engine's own code;
// signing uses the tools' signer.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "store/zu_ecdsa.h"
#include "store/zu_sha256.h"
#include "zutool.h"
#include "zutool_sign.h"

static const char sig_usage[] =
    "usage: zutool sig digest FILE\n"
    "       zutool sig sign [--key PRIVATE_KEY.pem] FILE\n"
    "       zutool sig verify [--pubkey X:Y] --r HEX --s HEX FILE\n"
    "       zutool sig pubkey [--key KEY.pem]\n"
    "\n"
    "  digest  prints the SHA-256 of FILE (engine code) as 64 hex digits\n"
    "  sign    signs the SHA-256 of FILE with a secp256k1 private key (PEM; default:\n"
    "          the project's key for bundled and test models) and prints the lines\n"
    "          'r HEX' and 's HEX', 64 hex digits each (deterministic, RFC 6979)\n"
    "  verify  checks r and s against the SHA-256 of FILE with the engine's ECDSA\n"
    "          verification; prints 'valid' (exit 0) or 'invalid' (exit 1)\n"
    "  pubkey  prints the public key of a PEM key file (public or private) as X:Y,\n"
    "          the form --pubkey takes; without --key, the engine's built-in model key\n"
    "\n"
    "  --pubkey X:Y  public key as two 64-digit hex coordinates (default: the engine's\n"
    "                built-in model key)\n"
    "  --r HEX, --s HEX  signature halves, 64 hex digits each (big-endian)\n"
    "Usage and input errors exit with status 2.\n";

// Parses exactly 64 hex digits (a 256-bit big-endian number) into 32 bytes.
static bool parse_hex256(const char *text, size_t len, uint8_t out[32]) {
    if (len != 64) return false;
    for (size_t i = 0; i < 64; i++) {
        char c = text[i];
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return false;
        }
        if (i % 2 == 0) {
            out[i / 2] = (uint8_t)(v << 4);
        } else {
            out[i / 2] |= (uint8_t)v;
        }
    }
    return true;
}

static void print_hex256(const uint8_t v[32]) {
    for (int i = 0; i < 32; i++) printf("%02x", v[i]);
}

// SHA-256 of a file with the engine's code, streamed. Returns 0, or 2 after a message.
static int digest_file(const char *path, uint32_t digest[8]) {
    FILE *f = fopen(path, "rb");
    if (!f) return zutool_fail("cannot open '%s': %s", path, strerror(errno));
    sha256_ctx ctx;
    sha256_init(&ctx);
    static uint8_t chunk[65536];
    uint64_t total = 0;
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) {
        total += got;
        // The hash counts bytes in 32 bits; anything signed is far smaller.
        if (total > 0xffffffffu) {
            fclose(f);
            return zutool_fail("'%s' is 4 GiB or larger, too large to hash", path);
        }
        sha256_update(&ctx, chunk, (uint32_t)got);
    }
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) return zutool_fail("cannot read '%s'", path);
    set_copy(digest, sha256_finalise(&ctx));
    return 0;
}

// Splits argv (after the action's name) into options taking a value and one
// positional argument. Returns 0, or 2 after a message.
struct sig_args {
    const char *key;
    const char *pubkey;
    const char *r;
    const char *s;
    const char *file;
};

static int parse_args(int argc, char **argv, const char *action, const char *const *allowed,
                      sig_args *a) {
    memset(a, 0, sizeof *a);
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (arg[0] == '-' && arg[1] != '\0') {
            bool known = false;
            for (const char *const *o = allowed; *o; o++) known = known || strcmp(arg, *o) == 0;
            if (!known) return zutool_fail("sig %s: unknown option '%s'", action, arg);
            if (i + 1 >= argc) return zutool_fail("sig %s: %s needs a value", action, arg);
            const char *value = argv[++i];
            if (strcmp(arg, "--key") == 0) a->key = value;
            if (strcmp(arg, "--pubkey") == 0) a->pubkey = value;
            if (strcmp(arg, "--r") == 0) a->r = value;
            if (strcmp(arg, "--s") == 0) a->s = value;
        } else if (a->file) {
            return zutool_fail("sig %s: more than one FILE ('%s' and '%s')", action, a->file, arg);
        } else {
            a->file = arg;
        }
    }
    return 0;
}

static int sig_digest(int argc, char **argv) {
    static const char *const allowed[] = {nullptr};
    sig_args a;
    if (int rc = parse_args(argc, argv, "digest", allowed, &a)) return rc;
    if (!a.file) return zutool_fail("sig digest: FILE missing (see 'zutool sig --help')");
    uint32_t digest[8];
    if (int rc = digest_file(a.file, digest)) return rc;
    uint8_t bytes[32];
    set_to_be(bytes, digest);
    print_hex256(bytes);
    putchar('\n');
    return 0;
}

static int sig_sign(int argc, char **argv) {
    static const char *const allowed[] = {"--key", nullptr};
    sig_args a;
    if (int rc = parse_args(argc, argv, "sign", allowed, &a)) return rc;
    if (!a.file) return zutool_fail("sig sign: FILE missing (see 'zutool sig --help')");
    const char *key = a.key ? a.key : zutool_default_key_path();
    uint32_t digest[8];
    if (int rc = digest_file(a.file, digest)) return rc;
    uint8_t bytes[32], r[32], s[32];
    set_to_be(bytes, digest);
    if (zutool_sign_digest(key, bytes, r, s) != 0) return 2;
    fputs("r ", stdout);
    print_hex256(r);
    fputs("\ns ", stdout);
    print_hex256(s);
    putchar('\n');
    return 0;
}

static int sig_verify(int argc, char **argv) {
    static const char *const allowed[] = {"--pubkey", "--r", "--s", nullptr};
    sig_args a;
    if (int rc = parse_args(argc, argv, "verify", allowed, &a)) return rc;
    if (!a.file) return zutool_fail("sig verify: FILE missing (see 'zutool sig --help')");
    if (!a.r || !a.s) return zutool_fail("sig verify: both --r and --s are needed");

    uint8_t bytes[32];
    ecdsa_public_key key = model_public_key;
    if (a.pubkey) {
        const char *colon = strchr(a.pubkey, ':');
        uint8_t x[32], y[32];
        if (!colon || !parse_hex256(a.pubkey, (size_t)(colon - a.pubkey), x) ||
            !parse_hex256(colon + 1, strlen(colon + 1), y)) {
            return zutool_fail("sig verify: --pubkey wants X:Y, two 64-digit hex numbers");
        }
        set_from_be(key.x, x);
        set_from_be(key.y, y);
    }
    uint32_t r[8], s[8];
    if (!parse_hex256(a.r, strlen(a.r), bytes)) {
        return zutool_fail("sig verify: --r wants 64 hex digits, got '%s'", a.r);
    }
    set_from_be(r, bytes);
    if (!parse_hex256(a.s, strlen(a.s), bytes)) {
        return zutool_fail("sig verify: --s wants 64 hex digits, got '%s'", a.s);
    }
    set_from_be(s, bytes);

    uint32_t digest[8];
    if (int rc = digest_file(a.file, digest)) return rc;
    int valid = ecdsa_verify(digest, &ecdsa_secp256k1, &key, r, s);
    puts(valid ? "valid" : "invalid");
    return valid ? 0 : 1;
}

static int sig_pubkey(int argc, char **argv) {
    static const char *const allowed[] = {"--key", nullptr};
    sig_args a;
    if (int rc = parse_args(argc, argv, "pubkey", allowed, &a)) return rc;
    if (a.file) return zutool_fail("sig pubkey: unexpected argument '%s'", a.file);
    uint8_t x[32], y[32];
    if (a.key) {
        if (zutool_read_public_key(a.key, x, y) != 0) return 2;
    } else {
        set_to_be(x, model_public_key.x);
        set_to_be(y, model_public_key.y);
    }
    print_hex256(x);
    putchar(':');
    print_hex256(y);
    putchar('\n');
    return 0;
}

int zutool_sig(int argc, char **argv) {
    if (argc < 2) {
        fputs(sig_usage, stderr);
        return 2;
    }
    if (zutool_wants_help(argc, argv)) {
        fputs(sig_usage, stdout);
        return 0;
    }
    const char *action = argv[1];
    if (strcmp(action, "digest") == 0) return sig_digest(argc - 1, argv + 1);
    if (strcmp(action, "sign") == 0) return sig_sign(argc - 1, argv + 1);
    if (strcmp(action, "verify") == 0) return sig_verify(argc - 1, argv + 1);
    if (strcmp(action, "pubkey") == 0) return sig_pubkey(argc - 1, argv + 1);
    return zutool_fail("sig: unknown action '%s' (digest, sign, verify or pubkey)", action);
}
