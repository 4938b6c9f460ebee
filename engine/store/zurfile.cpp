#include "store/zurfile.h"

#include <stdlib.h>
#include <string.h>

#include "src/zu_bytes.h"
#include "src/zu_file.h"

const spk_meta_key spk_meta_keys[SPK_META_KEY_COUNT] = {
    {"VERSION", 4},        {"SAMPLE_RATE", 2},   {"FRAME_LEN", 1},    {"BUFFER_LEN", 4},
    {"MODIFIED_TIME", 4},  {"MODEL_COUNT", 2},   {"MEMORY_USAGE", 1}, {"FLOOR_MULTIPLIER", 1},
    {"SOUNDPACK_NAME", 0}, {"MIN_DETECTION", 4},
};

// Adler-32 sums are reduced modulo 65521 after at most ADLER_NMAX bytes: the
// largest n for which n bytes of 0xFF, starting from a = b = 65520, cannot carry
// b past 32 bits: 255·n·(n + 1)/2 + (n + 1)·65520 <= 2^32 - 1.
static const uint32_t ADLER_MOD = 65521u;
static const uint32_t ADLER_NMAX = 5552u;
static constexpr uint64_t adler_worst_b(uint64_t n) {
    return 255 * n * (n + 1) / 2 + (n + 1) * (ADLER_MOD - 1);
}
static_assert(adler_worst_b(ADLER_NMAX) <= UINT32_MAX && adler_worst_b(ADLER_NMAX + 1) > UINT32_MAX,
              "ADLER_NMAX is the largest run without overflow");

uint32_t adler32(const uint8_t *bytes, uint32_t length) {
    uint32_t a = 1;  // sum of the bytes, plus 1
    uint32_t b = 0;  // sum of the successive values of a
    if (!bytes) return 1;
    while (length > 0) {
        uint32_t run = length < ADLER_NMAX ? length : ADLER_NMAX;
        length -= run;
        while (run >= 16) {
            for (int i = 0; i < 16; i++) {
                a += bytes[i];
                b += a;
            }
            bytes += 16;
            run -= 16;
        }
        while (run > 0) {
            a += *bytes++;
            b += a;
            run--;
        }
        a %= ADLER_MOD;
        b %= ADLER_MOD;
    }
    return b << 16 | a;
}

static const char empty_text[1] = "";

// The zero-terminated text at data[start], when its terminator lies before
// data[end]; none otherwise.
static const char *bounded_text(const uint8_t *data, uint32_t start, uint32_t end) {
    if (start >= end) return nullptr;
    if (!memchr(data + start, 0, end - start)) return nullptr;
    return (const char *)(data + start);
}

static void set_defaults(zurfile *z) {
    z->version = SPK_DEFAULT_VERSION;
    z->sample_rate = SPK_DEFAULT_SAMPLE_RATE;
    z->frame_len = SPK_DEFAULT_FRAME_LEN;
    z->buffer_len = 0;
    z->modified_time = 0;
    z->model_count = 0;
    z->memory_usage = 0;
    z->floor_multiplier = SPK_DEFAULT_FLOOR_MULTIPLIER;
    z->min_detection = 0;
    z->soundpack_name = empty_text;
}

// FRAME_LEN is stored as a power of two; 32 or more does not fit and gives 0.
static uint32_t frame_len_from_log2(uint32_t log2) {
    return log2 < 32 ? 1u << log2 : 0u;
}

static void store_numeric(zurfile *z, uint8_t id, uint32_t value) {
    switch (id) {
        case SPK_META_VERSION:
            z->version = value;
            break;
        case SPK_META_SAMPLE_RATE:
            z->sample_rate = value & 0xFFFFu;
            break;
        case SPK_META_FRAME_LEN:
            z->frame_len = frame_len_from_log2(value);
            break;
        case SPK_META_BUFFER_LEN:
            z->buffer_len = value;
            break;
        case SPK_META_MODIFIED_TIME:
            z->modified_time = value;
            break;
        case SPK_META_MODEL_COUNT:
            z->model_count = (uint16_t)value;
            break;
        case SPK_META_MEMORY_USAGE:
            z->memory_usage = value * 1024u;
            break;
        case SPK_META_FLOOR_MULTIPLIER:
            z->floor_multiplier = (uint8_t)value;
            break;
        case SPK_META_MIN_DETECTION:
            z->min_detection = value;
            break;
        default:
            break;
    }
}

// Tagged metadata: elements of id (1 byte), length (1 byte) and length value
// bytes, in [start, end). An element that runs past the area ends the walk.
static void decode_tagged(zurfile *z, uint32_t start, uint32_t end) {
    const uint8_t *d = z->data;
    uint32_t pos = start;
    while (pos < end) {
        if (end - pos < 2) return;
        uint8_t id = d[pos];
        uint8_t len = d[pos + 1];
        uint32_t value = pos + 2;
        if (end - value < len) return;
        pos = value + len;
        if (id >= SPK_META_KEY_COUNT) continue;
        if (id == SPK_META_SOUNDPACK_NAME) {
            // The terminator belongs to the value; a name without one inside
            // its own element is not taken.
            const char *name = bounded_text(d, value, value + len);
            if (name) z->soundpack_name = name;
            continue;
        }
        // A numeric value is 1 to max_len bytes; an empty or over-long one is
        // stepped over and the key keeps its value.
        if (len == 0 || len > spk_meta_keys[id].max_len) continue;
        uint32_t v = 0;
        for (uint32_t i = 0; i < len; i++) v = v << 8 | d[value + i];
        store_numeric(z, id, v);
    }
}

// Fixed metadata: fields at fixed offsets of the area [start, end). A field
// that does not lie wholly inside the area keeps its default.
static void decode_fixed(zurfile *z, uint32_t start, uint32_t end) {
    const uint8_t *m = z->data + start;
    uint32_t len = end - start;
    if (len >= SPK_FIXED_VERSION + 4) z->version = rd_u32(m + SPK_FIXED_VERSION);
    if (len >= SPK_FIXED_SAMPLE_RATE + 2) z->sample_rate = rd_u16(m + SPK_FIXED_SAMPLE_RATE);
    if (len >= SPK_FIXED_FRAME_LEN + 1) z->frame_len = frame_len_from_log2(m[SPK_FIXED_FRAME_LEN]);
    if (len >= SPK_FIXED_BUFFER_LEN + 2) {
        uint32_t v = rd_u16(m + SPK_FIXED_BUFFER_LEN);
        z->buffer_len = v < 1000 ? v * 1000 : v;
    }
    if (len >= SPK_FIXED_MODIFIED_TIME + 4) z->modified_time = rd_u32(m + SPK_FIXED_MODIFIED_TIME);
    if (len >= SPK_FIXED_MODEL_COUNT + 2) z->model_count = rd_u16(m + SPK_FIXED_MODEL_COUNT);
    if (len >= SPK_FIXED_MEMORY_USAGE + 1) z->memory_usage = m[SPK_FIXED_MEMORY_USAGE] * 1024u;
    if (len >= SPK_FIXED_FLOOR_MULTIPLIER + 1) z->floor_multiplier = m[SPK_FIXED_FLOOR_MULTIPLIER];
    const char *name = bounded_text(z->data, start + SPK_FIXED_SOUNDPACK_NAME, end);
    if (name) z->soundpack_name = name;
}

static uint32_t metadata_len(const zurfile *z) {
    return rd_u16(z->data + 16) & ZURFILE_METADATA_LEN_MASK;
}

// Offset just past the entry table; open has checked that it lies inside the file.
static uint32_t table_end(const zurfile *z) {
    return ZURFILE_HEADER_SIZE + metadata_len(z) + rd_u16(z->data + 12);
}

static int fail_open(zurfile *z, zurfile **out, int code) {
    if (z->data) zu_file_munmap(z->data, z->file_size);
    if (z->file) zu_file_close(z->file);
    free(z);
    *out = nullptr;
    return code;
}

int zurfile_open(const char *path, zurfile **out) {
    if (!path || !out) return -4;
    zurfile *z = (zurfile *)calloc(1, sizeof *z);
    if (!z) {
        *out = nullptr;
        return -5;
    }
    if (zu_file_open(path, ZU_FILE_READ, &z->file) != 0) return fail_open(z, out, -1);
    z->file_size = zu_file_size(z->file);
    if (z->file_size == 0) return fail_open(z, out, -3);
    z->data = (uint8_t *)zu_file_mmap(z->file, z->file_size, 0);
    if (!z->data) return fail_open(z, out, -5);

    const uint8_t *d = z->data;
    if (z->file_size < ZURFILE_HEADER_SIZE) return fail_open(z, out, -2);
    if (memcmp(d, "_ZUR", 4) != 0 || rd_u32(d + 4) != ZURFILE_ARCHIVE_WORD) {
        return fail_open(z, out, -2);
    }
    uint16_t descriptor = rd_u16(d + 16);
    uint32_t lm = descriptor & ZURFILE_METADATA_LEN_MASK;
    uint32_t table_start = ZURFILE_HEADER_SIZE + lm;
    uint32_t table_len = rd_u16(d + 12);
    // Both lengths are at most 16 bits, so the sum cannot wrap.
    if (table_start + table_len > z->file_size) return fail_open(z, out, -2);
    if (adler32(d + table_start, table_len) != rd_u32(d + 8)) return fail_open(z, out, -2);

    z->entry_count = rd_u16(d + 14);
    z->cursor = table_start;
    set_defaults(z);
    if (descriptor & ZURFILE_TAGGED_METADATA) {
        decode_tagged(z, ZURFILE_HEADER_SIZE, table_start);
    } else {
        decode_fixed(z, ZURFILE_HEADER_SIZE, table_start);
    }
    *out = z;
    return 0;
}

int zurfile_get_spk_meta(const zurfile *z, spk_meta *meta) {
    if (!z || !meta) return -4;
    meta->version = z->version;
    meta->sample_rate = z->sample_rate;
    meta->buffer_len = z->buffer_len;
    meta->frame_len = z->frame_len;
    meta->modified_time = z->modified_time;
    meta->model_count = z->model_count;
    meta->memory_usage = z->memory_usage;
    meta->floor_multiplier = z->floor_multiplier;
    meta->min_detection = z->min_detection;
    meta->soundpack_name = z->soundpack_name;
    return 0;
}

int zurfile_advance(zurfile *z) {
    if (!z) return -4;
    if (z->entry_index >= z->entry_count) return -3;
    z->entry_index++;

    // The record (18 fixed bytes and the name with its terminator) must lie
    // inside the entry table, which the header's sum covers. Past a broken
    // record the next one cannot be found: the walk ends there.
    uint32_t end = table_end(z);
    uint32_t rec = z->cursor;
    const char *name = nullptr;
    if (rec <= end && end - rec > ZURFILE_RECORD_FIXED_SIZE) {
        name = bounded_text(z->data, rec + ZURFILE_RECORD_FIXED_SIZE, end);
    }
    if (!name) {
        z->entry_name = nullptr;
        z->entry_data = nullptr;
        z->entry_size = 0;
        z->entry_offset = 0;
        z->entry_index = z->entry_count;
        z->cursor = end;
        return -2;
    }
    const uint8_t *r = z->data + rec;
    z->entry_name = name;
    z->entry_size = rd_u32(r + 4);
    uint32_t sum = rd_u32(r + 8);
    z->entry_offset = rd_u32(r + 12);
    z->cursor = rec + ZURFILE_RECORD_FIXED_SIZE + (uint32_t)strlen(name) + 1;

    // Content outside the archive: the entry is current by name only.
    if (z->entry_offset > z->file_size || z->file_size - z->entry_offset < z->entry_size) {
        z->entry_data = nullptr;
        z->entry_size = 0;
        return -2;
    }
    z->entry_data = z->data + z->entry_offset;
    return adler32(z->entry_data, z->entry_size) == sum ? 0 : -2;
}

const char *zurfile_get_filename(const zurfile *z) {
    return z ? z->entry_name : nullptr;
}

const uint8_t *zurfile_get_file_contents(const zurfile *z) {
    return z ? z->entry_data : nullptr;
}

uint32_t zurfile_get_file_size(const zurfile *z) {
    return z ? z->entry_size : 0;
}

int64_t zurfile_get_offset(const zurfile *z) {
    return z ? (int64_t)z->entry_offset : -1;
}

int64_t zurfile_get_size(const zurfile *z) {
    return z ? (int64_t)z->file_size : -1;
}

int zurfile_close(zurfile *z) {
    if (!z) return -4;
    zu_file_munmap(z->data, z->file_size);
    zu_file_close(z->file);
    free(z);
    return 0;
}
