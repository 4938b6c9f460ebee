// zutool model: build signed model blobs from JSON sources and inspect them.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "model_blob.h"
#include "store/zu_ecdsa.h"
#include "store/zu_sha256.h"
#include "zutool.h"
#include "zutool_sign.h"

static const char model_usage[] =
    "usage: zutool model build SRC.json -o OUT [--key PRIVATE_KEY_FILE]\n"
    "       zutool model info FILE [--pubkey X:Y]\n"
    "\n"
    "build  reads a JSON model source (tools/MODEL_FORMAT.md), writes the model blob\n"
    "       and signs bytes 0 to S-65 with the secp256k1 key (PEM); the default key is\n"
    "       the project's model signing key.\n"
    "info   prints the blob's header, matrix and decoder sizes, name, threshold and\n"
    "       sensitivity curve, and whether the signature verifies with this build's\n"
    "       model key (or with the key given as X:Y, 64 hex digits each).\n";

static double fix16_value(int32_t raw) {
    return raw / 65536.0;
}

static int model_build(int argc, char **argv) {
    const char *src_path = nullptr;
    const char *out_path = nullptr;
    const char *key_path = zutool_default_key_path();
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-o") == 0 || strcmp(argv[i], "--key") == 0) {
            if (i + 1 >= argc) return zutool_fail("model build: %s needs a value", argv[i]);
            (strcmp(argv[i], "-o") == 0 ? out_path : key_path) = argv[i + 1];
            i++;
        } else if (argv[i][0] == '-') {
            return zutool_fail("model build: unknown option '%s' (see 'zutool model --help')",
                               argv[i]);
        } else if (!src_path) {
            src_path = argv[i];
        } else {
            return zutool_fail("model build: more than one source file ('%s')", argv[i]);
        }
    }
    if (!src_path) return zutool_fail("model build: no source file (see 'zutool model --help')");
    if (!out_path) return zutool_fail("model build: no output file (-o OUT)");

    std::string error;
    std::vector<uint8_t> text;
    if (!read_whole_file(src_path, &text, &error)) return zutool_fail("%s", error.c_str());
    text.push_back(0);
    model_source src;
    if (!model_source_parse((const char *)text.data(), &src, &error)) {
        return zutool_fail("%s: %s", src_path, error.c_str());
    }
    if (src.version != MODEL_VERSION_20000 && src.version != MODEL_VERSION_20001) {
        fprintf(stderr, "zutool: warning: version 0x%08X is not one the engine loads\n",
                src.version);
    }
    std::vector<uint8_t> blob;
    if (!model_blob_signed_part(src, &blob, &error)) {
        return zutool_fail("%s: %s", src_path, error.c_str());
    }

    const uint32_t signed_size = (uint32_t)blob.size() + 64;  // S
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, blob.data(), (uint32_t)blob.size());
    uint8_t digest[32], r[32], s[32];
    set_to_be(digest, sha256_finalise(&ctx));
    if (zutool_sign_digest(key_path, digest, r, s) != 0) return 2;
    model_blob_finish(src, r, s, &blob);

    if (!write_whole_file(out_path, blob, &error)) return zutool_fail("%s", error.c_str());
    if (!model_blob_verify(blob.data(), signed_size, &model_public_key)) {
        fprintf(stderr,
                "zutool: note: the signature does not verify with this build's model key; only "
                "engines built with the matching public key load '%s'\n",
                out_path);
    }
    printf("wrote %s: %zu bytes (S = %u), %zu matrix rows, %zu decoder%s, \"%s\"\n", out_path,
           blob.size(), signed_size, src.start.size(), src.decoders.size(),
           src.decoders.size() == 1 ? "" : "s", src.name.c_str());
    return 0;
}

static void print_hex(const uint8_t *bytes, size_t n) {
    for (size_t i = 0; i < n; i++) printf("%02x", bytes[i]);
}

static int model_info(int argc, char **argv) {
    const char *path = nullptr;
    const char *pubkey = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--pubkey") == 0) {
            if (i + 1 >= argc) return zutool_fail("model info: --pubkey needs X:Y");
            pubkey = argv[++i];
        } else if (argv[i][0] == '-') {
            return zutool_fail("model info: unknown option '%s' (see 'zutool model --help')",
                               argv[i]);
        } else if (!path) {
            path = argv[i];
        } else {
            return zutool_fail("model info: more than one file ('%s')", argv[i]);
        }
    }
    if (!path) return zutool_fail("model info: no file (see 'zutool model --help')");
    ecdsa_public_key key = model_public_key;
    if (pubkey && !model_parse_public_key(pubkey, &key)) {
        return zutool_fail("model info: --pubkey expects X:Y, each 64 hexadecimal digits");
    }

    std::string error;
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, &bytes, &error)) return zutool_fail("%s", error.c_str());
    model_blob_info info;
    if (!model_blob_inspect(bytes.data(), (uint32_t)bytes.size(), &info, &error)) {
        return zutool_fail("%s: %s", path, error.c_str());
    }

    printf("file              %s (%zu bytes)\n", path, bytes.size());
    printf("blob size S       %u (signed bytes 0 to %u)\n", info.size, info.size - 65);
    printf("version           0x%08X%s\n", info.version,
           info.version == MODEL_VERSION_20000 || info.version == MODEL_VERSION_20001
               ? ""
               : " (not loadable)");
    printf("sample rate       %u Hz\n", info.sample_rate);
    printf("buffer length     %u samples", info.buffer_len);
    if (info.sample_rate) printf(" (%.3f s)", (double)info.buffer_len / info.sample_rate);
    printf("\n");
    printf("matrix            %u rows, %u weights, L = %u bytes, feature values 0 to %u used\n",
           info.rows, info.weights, info.matrix_len, info.max_bin ? info.max_bin - 1 : 0);
    if (info.empty_rows)
        printf("                  warning: %u rows without weights\n", info.empty_rows);
    if (info.max_bin > MODEL_FEATURE_COUNT) {
        printf("                  warning: rows read beyond the %u feature values\n",
               MODEL_FEATURE_COUNT);
    }
    for (size_t d = 0; d < info.decoders.size(); d++) {
        const model_decoder_info &dec = info.decoders[d];
        printf(
            "decoder %zu%s  %s, %u states, %u transitions, %u mixtures (at most %u per "
            "state), %u bytes at offset %u\n",
            d + 1, d == 0 ? " (target)    " : " (background)",
            dec.format == MODEL_TRANSITIONS_DENSE ? "dense" : "sparse", dec.states, dec.nonzero,
            dec.mixtures, dec.max_mixtures, dec.length + 4, dec.offset);
    }
    if (info.has_trailer) {
        printf("name              \"%s\"%s\n", info.name.c_str(),
               info.name.size() > 31 ? " (the engine keeps the first 31 characters)" : "");
        printf("default threshold %.6f (0x%08X)\n", fix16_value(info.default_threshold),
               (uint32_t)info.default_threshold);
        printf("sensitivity curve %zu entries%s\n", info.curve.size(),
               info.curve.size() > 16 ? " (the engine thins them to 16 points)" : "");
        for (const model_curve_point &p : info.curve) {
            printf("                  %3u  %.6f\n", p.position, fix16_value(p.threshold));
        }
    } else {
        printf("trailer           none (no name, threshold -1 raw, no curve)\n");
    }
    printf("signature r       ");
    print_hex(info.r, 32);
    printf("\nsignature s       ");
    print_hex(info.s, 32);
    bool valid = model_blob_verify(bytes.data(), info.size, &key);
    printf("\nsignature         %s with %s\n", valid ? "valid" : "INVALID",
           pubkey ? "the given key" : "this build's model key");
    return 0;
}

int zutool_model(int argc, char **argv) {
    if (argc < 2 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
        fputs(model_usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (zutool_wants_help(argc, argv)) {
        fputs(model_usage, stdout);
        return 0;
    }
    if (strcmp(argv[1], "build") == 0) return model_build(argc - 1, argv + 1);
    if (strcmp(argv[1], "info") == 0) return model_info(argc - 1, argv + 1);
    return zutool_fail("model: unknown action '%s' (build or info)", argv[1]);
}
