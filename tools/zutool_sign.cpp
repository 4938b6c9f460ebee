// Signing for the tools: OpenSSL reads the PEM private key, libsecp256k1 signs.
// libsecp256k1 derives the nonce from key and digest (RFC 6979), so signing the
// same bytes twice gives the same signature and model files build reproducibly.
#include "zutool_sign.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <secp256k1.h>
#include <stdio.h>
#include <string.h>

#ifndef ZUTOOL_DEFAULT_KEY
#error "ZUTOOL_DEFAULT_KEY must name the default signing key"
#endif

const char *zutool_default_key_path(void) {
    return ZUTOOL_DEFAULT_KEY;
}

static void print_openssl_error(const char *what, const char *key_path) {
    char text[256] = "";
    unsigned long e = ERR_get_error();
    if (e != 0) ERR_error_string_n(e, text, sizeof text);
    fprintf(stderr, "zutool: %s '%s'%s%s\n", what, key_path, text[0] ? ": " : "", text);
    ERR_clear_error();
}

// Reads the 32-byte big-endian private scalar of a secp256k1 key from a PEM file.
static int read_private_key(const char *key_path, uint8_t seckey[32]) {
    FILE *f = fopen(key_path, "rb");
    if (!f) {
        fprintf(stderr, "zutool: cannot open private key '%s'\n", key_path);
        return -1;
    }
    EVP_PKEY *pkey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    if (!pkey) {
        print_openssl_error("not a PEM private key:", key_path);
        return -1;
    }
    int result = -1;
    char group[64] = "";
    BIGNUM *priv = nullptr;
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_EC ||
        !EVP_PKEY_get_utf8_string_param(pkey, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        nullptr) ||
        strcmp(group, "secp256k1") != 0) {
        fprintf(stderr, "zutool: '%s' is not a secp256k1 key%s%s\n", key_path,
                group[0] ? " but " : "", group);
    } else if (!EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &priv) ||
               BN_bn2binpad(priv, seckey, 32) != 32) {
        print_openssl_error("cannot read the private scalar of", key_path);
    } else {
        result = 0;
    }
    BN_clear_free(priv);
    EVP_PKEY_free(pkey);
    return result;
}

int zutool_read_public_key(const char *pem_path, uint8_t x[32], uint8_t y[32]) {
    FILE *f = fopen(pem_path, "rb");
    if (!f) {
        fprintf(stderr, "zutool: cannot open key '%s'\n", pem_path);
        return -1;
    }
    // A public key file first; else a private key, whose public half is derived.
    EVP_PKEY *pkey = PEM_read_PUBKEY(f, nullptr, nullptr, nullptr);
    if (!pkey) {
        ERR_clear_error();
        rewind(f);
        pkey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    }
    fclose(f);
    if (!pkey) {
        print_openssl_error("no PEM public or private key in", pem_path);
        return -1;
    }
    int result = -1;
    char group[64] = "";
    uint8_t point[65];
    size_t point_len = 0;
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_EC ||
        !EVP_PKEY_get_utf8_string_param(pkey, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        nullptr) ||
        strcmp(group, "secp256k1") != 0) {
        fprintf(stderr, "zutool: '%s' is not a secp256k1 key%s%s\n", pem_path,
                group[0] ? " but " : "", group);
    } else if (!EVP_PKEY_set_utf8_string_param(pkey, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                               "uncompressed") ||
               !EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                                &point_len) ||
               point_len != 65 || point[0] != 0x04) {
        print_openssl_error("cannot read the public point of", pem_path);
    } else {
        memcpy(x, point + 1, 32);
        memcpy(y, point + 33, 32);
        result = 0;
    }
    EVP_PKEY_free(pkey);
    return result;
}

int zutool_sign_digest(const char *key_path, const uint8_t digest[32], uint8_t r[32],
                       uint8_t s[32]) {
    uint8_t seckey[32];
    if (read_private_key(key_path, seckey) != 0) return -1;

    int result = -1;
    secp256k1_context *ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    secp256k1_ecdsa_signature sig;
    uint8_t compact[64];
    if (!ctx) {
        fprintf(stderr, "zutool: cannot create a secp256k1 context\n");
    } else if (!secp256k1_ec_seckey_verify(ctx, seckey)) {
        fprintf(stderr, "zutool: '%s' holds an invalid secp256k1 private key\n", key_path);
    } else if (!secp256k1_ecdsa_sign(ctx, &sig, digest, seckey, secp256k1_nonce_function_rfc6979,
                                     nullptr) ||
               !secp256k1_ecdsa_signature_serialize_compact(ctx, compact, &sig)) {
        fprintf(stderr, "zutool: signing with '%s' failed\n", key_path);
    } else {
        memcpy(r, compact, 32);
        memcpy(s, compact + 32, 32);
        result = 0;
    }
    secp256k1_context_destroy(ctx);
    OPENSSL_cleanse(seckey, sizeof seckey);
    return result;
}
