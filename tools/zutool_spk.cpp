// zutool spk: pack model files into soundpack archives, inspect and verify them.
// Inspection and verification go through the engine's own archive reader,
// SHA-256 and ECDSA, so they see an archive exactly as the engine does.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "model_blob.h"
#include "spk_write.h"
#include "src/zu_bytes.h"
#include "store/zu_ecdsa.h"
#include "store/zurfile.h"
#include "zutool.h"

static const char spk_usage[] =
    "usage: zutool spk pack -o OUT.spk --name NAME [options] MODEL...\n"
    "       zutool spk info FILE\n"
    "       zutool spk verify FILE [--pubkey X:Y]\n"
    "\n"
    "pack    writes a soundpack archive holding the model files in the order given;\n"
    "        entry names are the model files' names. Options:\n"
    "          --min-detection MS     minimum detection time in milliseconds (default 0)\n"
    "          --floor-multiplier N   0 to 255 (default 32)\n"
    "          --buffer-len N         BUFFER_LEN (default: the longest model buffer, samples)\n"
    "          --memory-usage KIB     0 to 255 (default: the models' size in KiB, at most 255)\n"
    "          --modified-time T      seconds since 1970 (default: $SOURCE_DATE_EPOCH or now)\n"
    "          --fixed-metadata       the fixed metadata form instead of the tagged one\n"
    "          --unchecked            pack files that are not well-formed model blobs as they\n"
    "                                 are (for test soundpacks); SAMPLE_RATE then comes from\n"
    "                                 the first readable model, or is 16000\n"
    "        SAMPLE_RATE comes from the models (they must agree), MODEL_COUNT is the\n"
    "        number of models, FRAME_LEN is 256 samples.\n"
    "info    prints the header, the metadata as the engine decodes it and every entry\n"
    "        with its Adler-32 status.\n"
    "verify  checks every entry's Adler-32 sum and model signature (with this build's\n"
    "        model key, or the key given as X:Y, 64 hex digits each) and that the archive\n"
    "        holds MODEL_COUNT models. Exit status 0 only when everything holds, 1 when\n"
    "        something fails, 2 for usage errors and unreadable files.\n";

// Archive texts may hold anything; show them without control characters.
static std::string printable(const char *text) {
    std::string out;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        out += (*p >= 0x20 && *p < 0x7F) ? (char)*p : '?';
    }
    return out;
}

static bool parse_u32(const char *text, uint32_t max, uint32_t *out) {
    char *end = nullptr;
    if (!text[0] || text[0] == '-') return false;
    unsigned long long v = strtoull(text, &end, 10);
    if (*end || v > max) return false;
    *out = (uint32_t)v;
    return true;
}

static const char *base_name(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

static int spk_pack(int argc, char **argv) {
    const char *out_path = nullptr;
    spk_settings settings;
    bool have_name = false, fixed = false;
    bool have_buffer = false, have_memory = false, have_time = false;
    bool unchecked = false, have_rate = false;
    std::vector<const char *> models;
    for (int i = 1; i < argc; i++) {
        const char *opt = argv[i];
        if (strcmp(opt, "--fixed-metadata") == 0 || strcmp(opt, "--unchecked") == 0) {
            (opt[2] == 'f' ? fixed : unchecked) = true;
            continue;
        }
        if (opt[0] != '-') {
            models.push_back(opt);
            continue;
        }
        static const char *const valued[] = {
            "-o",           "--name",         "--min-detection", "--floor-multiplier",
            "--buffer-len", "--memory-usage", "--modified-time", nullptr};
        bool known = false;
        for (const char *const *v = valued; *v; v++) known = known || strcmp(opt, *v) == 0;
        if (!known)
            return zutool_fail("spk pack: unknown option '%s' (see 'zutool spk --help')", opt);
        if (i + 1 >= argc) return zutool_fail("spk pack: %s needs a value", opt);
        const char *value = argv[++i];
        uint32_t v = 0;
        if (strcmp(opt, "-o") == 0) {
            out_path = value;
        } else if (strcmp(opt, "--name") == 0) {
            settings.name = value;
            have_name = true;
        } else if (strcmp(opt, "--min-detection") == 0) {
            if (!parse_u32(value, UINT32_MAX, &v))
                return zutool_fail("spk pack: --min-detection expects milliseconds, not '%s'",
                                   value);
            settings.min_detection = v;
        } else if (strcmp(opt, "--floor-multiplier") == 0) {
            if (!parse_u32(value, 255, &v))
                return zutool_fail("spk pack: --floor-multiplier expects 0 to 255, not '%s'",
                                   value);
            settings.floor_multiplier = (uint8_t)v;
        } else if (strcmp(opt, "--buffer-len") == 0) {
            if (!parse_u32(value, UINT32_MAX, &v))
                return zutool_fail("spk pack: --buffer-len expects a number, not '%s'", value);
            settings.buffer_len = v;
            have_buffer = true;
        } else if (strcmp(opt, "--memory-usage") == 0) {
            if (!parse_u32(value, 255, &v))
                return zutool_fail("spk pack: --memory-usage expects 0 to 255 KiB, not '%s'",
                                   value);
            settings.memory_usage_kib = (uint8_t)v;
            have_memory = true;
        } else {
            if (!parse_u32(value, UINT32_MAX, &v))
                return zutool_fail("spk pack: --modified-time expects seconds since 1970, not '%s'",
                                   value);
            settings.modified_time = v;
            have_time = true;
        }
    }
    if (!out_path) return zutool_fail("spk pack: no output file (-o OUT.spk)");
    if (!have_name) return zutool_fail("spk pack: no soundpack name (--name NAME)");
    if (models.empty()) return zutool_fail("spk pack: no model files");
    if (models.size() > 0xFFFF) return zutool_fail("spk pack: more than 65535 models");

    std::string error;
    std::vector<spk_entry> entries;
    uint64_t total = 0;
    uint32_t longest_buffer = 0;
    for (size_t i = 0; i < models.size(); i++) {
        spk_entry e;
        e.name = base_name(models[i]);
        if (e.name.empty()) return zutool_fail("spk pack: '%s' names no file", models[i]);
        for (const spk_entry &prev : entries) {
            if (prev.name == e.name)
                return zutool_fail("spk pack: two entries named '%s'", e.name.c_str());
        }
        if (!read_whole_file(models[i], &e.content, &error))
            return zutool_fail("%s", error.c_str());
        model_blob_info info;
        bool readable =
            model_blob_inspect(e.content.data(), (uint32_t)e.content.size(), &info, &error);
        if (!readable && !unchecked) return zutool_fail("%s: %s", models[i], error.c_str());
        if (!readable) {
            fprintf(stderr, "zutool: note: %s packed as it is: %s\n", models[i], error.c_str());
        } else if (!have_rate) {
            settings.sample_rate = info.sample_rate;
            have_rate = true;
        } else if (info.sample_rate != settings.sample_rate) {
            if (!unchecked) {
                return zutool_fail("%s: sample rate %u Hz differs from the first model's %u Hz",
                                   models[i], info.sample_rate, settings.sample_rate);
            }
            fprintf(stderr, "zutool: note: %s: sample rate %u Hz differs from %u Hz\n", models[i],
                    info.sample_rate, settings.sample_rate);
        }
        if (readable && !model_blob_verify(e.content.data(), info.size, &model_public_key)) {
            fprintf(stderr,
                    "zutool: note: %s: the signature does not verify with this build's model key\n",
                    models[i]);
        }
        if (readable && info.buffer_len > longest_buffer) longest_buffer = info.buffer_len;
        total += e.content.size();
        entries.push_back(std::move(e));
    }
    if (settings.sample_rate > 0xFFFF) {
        return zutool_fail("spk pack: sample rate %u Hz does not fit the 16-bit SAMPLE_RATE",
                           settings.sample_rate);
    }
    settings.model_count = (uint16_t)models.size();
    if (!have_buffer) settings.buffer_len = longest_buffer;
    if (!have_memory) {
        uint64_t kib = (total + 1023) / 1024;
        settings.memory_usage_kib = (uint8_t)(kib > 255 ? 255 : kib);
    }
    if (!have_time) {
        const char *epoch = getenv("SOURCE_DATE_EPOCH");
        uint32_t v;
        settings.modified_time =
            epoch && parse_u32(epoch, UINT32_MAX, &v) ? v : (uint32_t)time(nullptr);
    }

    std::vector<uint8_t> area, archive;
    if (fixed) {
        if (!spk_fixed_area(settings, &area, &error))
            return zutool_fail("spk pack: %s", error.c_str());
    } else {
        if (settings.name.size() > 254) {
            return zutool_fail(
                "spk pack: a soundpack name holds at most 254 bytes in tagged metadata");
        }
        if (!spk_tagged_area(spk_settings_elements(settings), &area, &error)) {
            return zutool_fail("spk pack: %s", error.c_str());
        }
    }
    if (!spk_archive(!fixed, area, entries, &archive, &error))
        return zutool_fail("spk pack: %s", error.c_str());
    if (!write_whole_file(out_path, archive, &error)) return zutool_fail("%s", error.c_str());
    printf("wrote %s: %zu bytes, %zu model%s, %s metadata, \"%s\"\n", out_path, archive.size(),
           entries.size(), entries.size() == 1 ? "" : "s", fixed ? "fixed" : "tagged",
           settings.name.c_str());
    return 0;
}

static const char *open_error_text(int code) {
    switch (code) {
        case -1:
            return "cannot be opened";
        case -2:
            return "is not a soundpack archive";
        case -3:
            return "is empty";
        case -5:
            return "cannot be read whole";
        default:
            return "cannot be opened as an archive";
    }
}

// Why the engine refuses an archive's header, for files zurfile_open answers -2.
static std::string header_diagnosis(const char *path) {
    std::vector<uint8_t> b;
    std::string error;
    if (!read_whole_file(path, &b, &error)) return error;
    if (b.size() < ZURFILE_HEADER_SIZE) return "shorter than the 18-byte header";
    if (memcmp(b.data(), "_ZUR", 4) != 0) return "no \"_ZUR\" key";
    if (rd_u32(&b[4]) != ZURFILE_ARCHIVE_WORD) return "wrong archive word";
    uint32_t table = ZURFILE_HEADER_SIZE + (rd_u16(&b[16]) & ZURFILE_METADATA_LEN_MASK);
    uint32_t len = rd_u16(&b[12]);
    if (table + len > b.size()) return "metadata and entry table run past the end of the file";
    char text[96];
    snprintf(text, sizeof text, "entry-table sum 0x%08X, the header says 0x%08X",
             adler32(&b[table], len), rd_u32(&b[8]));
    return text;
}

static int spk_info(int argc, char **argv) {
    if (argc != 2 || argv[1][0] == '-')
        return zutool_fail("spk info: expects one FILE (see 'zutool spk --help')");
    const char *path = argv[1];
    zurfile *z = nullptr;
    int rc = zurfile_open(path, &z);
    if (rc != 0) {
        if (rc == -2)
            return zutool_fail("%s %s: %s", path, open_error_text(rc),
                               header_diagnosis(path).c_str());
        return zutool_fail("%s %s", path, open_error_text(rc));
    }
    spk_meta m;
    zurfile_get_spk_meta(z, &m);
    const uint8_t *head = z->data;
    bool tagged = rd_u16(head + 16) & ZURFILE_TAGGED_METADATA;
    printf("file              %s (%lld bytes)\n", path, (long long)zurfile_get_size(z));
    printf("metadata          %s form, %u bytes\n", tagged ? "tagged" : "fixed",
           rd_u16(head + 16) & ZURFILE_METADATA_LEN_MASK);
    printf("entry table       %u bytes, %u entries, sum 0x%08X (ok)\n", rd_u16(head + 12),
           z->entry_count, rd_u32(head + 8));
    printf("soundpack name    \"%s\"\n", printable(m.soundpack_name).c_str());
    printf("version           0x%08X\n", m.version);
    printf("sample rate       %u Hz\n", m.sample_rate);
    printf("frame length      %u samples\n", m.frame_len);
    printf("buffer length     %u\n", m.buffer_len);
    printf("modified time     %u\n", m.modified_time);
    printf("model count       %u\n", m.model_count);
    printf("memory usage      %u bytes\n", m.memory_usage);
    printf("floor multiplier  %u\n", m.floor_multiplier);
    printf("min detection     %u ms\n", m.min_detection);
    for (uint32_t i = 0;; i++) {
        rc = zurfile_advance(z);
        if (rc == -3) break;
        const char *name = zurfile_get_filename(z);
        if (!name) {
            printf("entry %-3u         record outside the entry table; the walk ends\n", i);
            continue;
        }
        printf("entry %-3u         \"%s\": %u bytes at %lld, ", i, printable(name).c_str(),
               zurfile_get_file_size(z), (long long)zurfile_get_offset(z));
        if (!zurfile_get_file_contents(z)) {
            printf("content outside the archive\n");
            continue;
        }
        printf("sum %s", rc == 0 ? "ok" : "WRONG");
        model_blob_info info;
        std::string error;
        if (model_blob_inspect(zurfile_get_file_contents(z), zurfile_get_file_size(z), &info,
                               &error)) {
            printf(", model \"%s\"", info.name.c_str());
        } else {
            printf(", not a model: %s", error.c_str());
        }
        printf("\n");
    }
    zurfile_close(z);
    return 0;
}

static int spk_verify(int argc, char **argv) {
    const char *path = nullptr;
    const char *pubkey = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--pubkey") == 0) {
            if (i + 1 >= argc) return zutool_fail("spk verify: --pubkey needs X:Y");
            pubkey = argv[++i];
        } else if (argv[i][0] == '-') {
            return zutool_fail("spk verify: unknown option '%s' (see 'zutool spk --help')",
                               argv[i]);
        } else if (!path) {
            path = argv[i];
        } else {
            return zutool_fail("spk verify: more than one file ('%s')", argv[i]);
        }
    }
    if (!path) return zutool_fail("spk verify: no file (see 'zutool spk --help')");
    ecdsa_public_key key = model_public_key;
    if (pubkey && !model_parse_public_key(pubkey, &key)) {
        return zutool_fail("spk verify: --pubkey expects X:Y, each 64 hexadecimal digits");
    }
    zurfile *z = nullptr;
    int rc = zurfile_open(path, &z);
    if (rc == -1 || rc == -3 || rc == -5) return zutool_fail("%s %s", path, open_error_text(rc));
    if (rc != 0) {
        printf("%s: FAILED: %s (%s)\n", path, open_error_text(rc), header_diagnosis(path).c_str());
        return 1;
    }
    uint32_t failures = 0, entries = 0;
    for (;;) {
        rc = zurfile_advance(z);
        if (rc == -3) break;
        entries++;
        const char *name = zurfile_get_filename(z);
        const uint8_t *content = zurfile_get_file_contents(z);
        uint32_t size = zurfile_get_file_size(z);
        std::string shown = name ? printable(name) : "?";
        const char *problem = nullptr;
        uint32_t blob_size = size >= 8 ? rd_u32(content + 4) + 12u : 0;
        if (!name) {
            problem = "record outside the entry table";
        } else if (!content) {
            problem = "content outside the archive";
        } else if (rc != 0) {
            problem = "Adler-32 sum wrong";
        } else if (size < 8 || memcmp(content, "BSMF", 4) != 0) {
            problem = "not a model blob";
        } else if (rd_u32(content + 4) > UINT32_MAX - 12 || blob_size > size || blob_size < 84) {
            problem = "blob size does not fit the entry";
        } else if (rd_u32(content + 12) != MODEL_VERSION_20000 &&
                   rd_u32(content + 12) != MODEL_VERSION_20001) {
            problem = "model version not loadable";
        } else if (!model_blob_verify(content, blob_size, &key)) {
            problem = "signature INVALID";
        }
        printf("entry %u \"%s\": %s\n", entries - 1, shown.c_str(), problem ? problem : "ok");
        failures += problem != nullptr;
    }
    spk_meta m;
    zurfile_get_spk_meta(z, &m);
    zurfile_close(z);
    if (entries == 0 || entries != m.model_count) {
        printf("%s: MODEL_COUNT is %u, the archive holds %u entries\n", path, m.model_count,
               entries);
        failures++;
    }
    if (failures) {
        printf("%s: FAILED (%u problem%s)\n", path, failures, failures == 1 ? "" : "s");
        return 1;
    }
    printf("%s: ok (%u model%s, signatures checked with %s)\n", path, entries,
           entries == 1 ? "" : "s", pubkey ? "the given key" : "this build's model key");
    return 0;
}

int zutool_spk(int argc, char **argv) {
    if (argc < 2 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
        fputs(spk_usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (zutool_wants_help(argc, argv)) {
        fputs(spk_usage, stdout);
        return 0;
    }
    if (strcmp(argv[1], "pack") == 0) return spk_pack(argc - 1, argv + 1);
    if (strcmp(argv[1], "info") == 0) return spk_info(argc - 1, argv + 1);
    if (strcmp(argv[1], "verify") == 0) return spk_verify(argc - 1, argv + 1);
    return zutool_fail("spk: unknown action '%s' (pack, info or verify)", argv[1]);
}
