// Model blobs ("BSMF") on the host side: the JSON model source, the blob
// writer and a checked reader for inspection. All blob integers are big-endian.
//
// Blob layout (S = signed part + 64 signature bytes; the word at offset 4 is S - 12):
//   0 "BSMF" | 4 S-12 | 8 zero | 12 version | 16 L | 20 sample rate | 24 buffer length
//   28 N | start[N] u16 | len[N] u16 | weight[W] i16 (Q15)            (20 .. 20+L)
//   decoder section 1 | decoder section 2 (optional)
//   S-64 r | S-32 s | S four zero bytes | S+4 trailer (not signed)
// Decoder section: M u32 (bytes that follow) | 2 zero bytes | format u8 | n u16 |
//   transitions (dense or sparse) | n states: m u16, m constants i32, m*D means i16,
//   m*D precisions i16.
// Trailer: k u8, k name bytes, default threshold i32 (16.16), K u8, K x (position u8,
//   threshold i32 16.16).
#ifndef MODEL_BLOB_H
#define MODEL_BLOB_H

#include <stdint.h>

#include <string>
#include <vector>

#define MODEL_VERSION_20000 0x00020000u
#define MODEL_VERSION_20001 0x00020001u
#define MODEL_FEATURE_COUNT 243u   // values of the front end's feature vector
#define MODEL_MIN_BUFFER_LEN 256u  // one frame of samples
#define MODEL_TRANSITIONS_DENSE 0
#define MODEL_TRANSITIONS_SPARSE 1
#define MODEL_LOG_ZERO INT32_MIN  // log 0 in 16.16 nats

struct model_state {
    std::vector<int32_t> constants;   // m mixture constants, 16.16 nats
    std::vector<int16_t> means;       // m rows of D
    std::vector<int16_t> precisions;  // m rows of D
};

struct model_decoder {
    uint8_t format = MODEL_TRANSITIONS_DENSE;
    // (n + 2) rows of n log values (16.16 nats): row 0 initial, row 1 + j into
    // state j (column i: from state i), row n + 1 exit. MODEL_LOG_ZERO for log 0.
    std::vector<int32_t> transitions;
    std::vector<model_state> states;
};

struct model_curve_point {
    uint8_t position;   // 0..255 on the sensitivity scale
    int32_t threshold;  // 16.16 score units
};

struct model_source {
    uint32_t version = MODEL_VERSION_20001;
    uint32_t sample_rate = 0;             // Hz
    uint32_t buffer_len = 0;              // samples
    std::vector<uint16_t> start;          // first input bin of each matrix row
    std::vector<uint16_t> len;            // weights of each row
    std::vector<int16_t> weights;         // Q15, rows one after another
    std::vector<model_decoder> decoders;  // target, then optional background
    std::string name;
    int32_t default_threshold = 0;  // 16.16 score units
    std::vector<model_curve_point> curve;
};

// Parses a JSON model source (format in tools/MODEL_FORMAT.md). On failure
// returns false with a message naming the offending field in *error.
bool model_source_parse(const char *json, model_source *out, std::string *error);

// The signed part of the blob: bytes 0 to S - 65, with S - 12 already at
// offset 4. False (with *error) when a table is too large for its field.
bool model_blob_signed_part(const model_source &src, std::vector<uint8_t> *out, std::string *error);

// Appends r and s (32-byte big-endian each), the four unread bytes and the trailer.
void model_blob_finish(const model_source &src, const uint8_t r[32], const uint8_t s[32],
                       std::vector<uint8_t> *blob);

struct model_decoder_info {
    uint32_t offset = 0;  // from the blob start
    uint32_t length = 0;  // M
    uint8_t format = 0;
    uint32_t states = 0;
    uint32_t nonzero = 0;       // transitions given (sparse), or (n + 2) * n (dense)
    uint32_t mixtures = 0;      // over all states
    uint32_t max_mixtures = 0;  // largest m
};

struct model_blob_info {
    uint32_t size = 0;  // S
    uint32_t version = 0;
    uint32_t matrix_len = 0;  // L
    uint32_t sample_rate = 0;
    uint32_t buffer_len = 0;
    uint32_t rows = 0;     // N
    uint32_t weights = 0;  // W
    uint32_t max_bin = 0;  // largest start + len over the rows
    uint32_t empty_rows = 0;
    std::vector<model_decoder_info> decoders;
    uint8_t r[32] = {};
    uint8_t s[32] = {};
    bool has_trailer = false;
    std::string name;
    int32_t default_threshold = 0;
    std::vector<model_curve_point> curve;
};

// Reads a blob of `size` bytes (the model file or archive entry) with every
// field checked against the bytes present. False with *error when it is not
// a well-formed model blob.
bool model_blob_inspect(const uint8_t *bytes, uint32_t size, model_blob_info *info,
                        std::string *error);

// Whole-file helpers for the tools. False with *error on failure.
bool read_whole_file(const char *path, std::vector<uint8_t> *out, std::string *error);
bool write_whole_file(const char *path, const std::vector<uint8_t> &bytes, std::string *error);

struct ecdsa_public_key;

// True when the signature at S - 64 verifies the engine's SHA-256 of bytes 0
// to S - 65 under key, with the engine's own ECDSA check. blob holds at least
// S >= 64 bytes.
bool model_blob_verify(const uint8_t *blob, uint32_t size, const ecdsa_public_key *key);

// Parses "X:Y", each coordinate 64 hexadecimal digits (big-endian).
bool model_parse_public_key(const char *text, ecdsa_public_key *key);

#endif
