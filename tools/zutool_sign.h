// Signing with a secp256k1 private key, for the tools that make signed models.
// The engine only ever verifies; signing lives on the host side.
#ifndef ZUTOOL_SIGN_H
#define ZUTOOL_SIGN_H

#include <stdint.h>

// Signs a SHA-256 digest with the secp256k1 private key in key_path (PEM).
// r and s are 32-byte big-endian. Returns 0, or -1 after printing a message.
int zutool_sign_digest(const char *key_path, const uint8_t digest[32], uint8_t r[32],
                       uint8_t s[32]);

// Path of the project's own signing key (set at build time).
const char *zutool_default_key_path(void);

// Reads the secp256k1 public key of a PEM file holding either a public or a
// private key; x and y are 32-byte big-endian. Returns 0, or -1 after printing a message.
int zutool_read_public_key(const char *pem_path, uint8_t x[32], uint8_t y[32]);

#endif
