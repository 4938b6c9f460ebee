// Reader of soundpack archives (".spk", key "_ZUR"): an 18-byte header, a
// metadata area, an entry table and the entries' contents, all big-endian.
// The whole archive is read into memory at open; names, contents and the
// soundpack name are handed out as references into it and die with
// zurfile_close.
#ifndef ZURFILE_H
#define ZURFILE_H

#include <stdint.h>
#include <stdio.h>

#define ZURFILE_HEADER_SIZE 18u
#define ZURFILE_ARCHIVE_WORD 0x900DB015u
#define ZURFILE_TAGGED_METADATA 0x8000u    // metadata descriptor bit 15
#define ZURFILE_METADATA_LEN_MASK 0x0FFFu  // descriptor bits 0..11: metadata length
#define ZURFILE_RECORD_FIXED_SIZE 18u      // entry record bytes in front of the name

// Metadata ids as stored in tagged metadata.
enum spk_meta_id {
    SPK_META_VERSION = 0,
    SPK_META_SAMPLE_RATE = 1,
    SPK_META_FRAME_LEN = 2,
    SPK_META_BUFFER_LEN = 3,
    SPK_META_MODIFIED_TIME = 4,
    SPK_META_MODEL_COUNT = 5,
    SPK_META_MEMORY_USAGE = 6,
    SPK_META_FLOOR_MULTIPLIER = 7,
    SPK_META_SOUNDPACK_NAME = 8,
    SPK_META_MIN_DETECTION = 9,
    SPK_META_KEY_COUNT = 10,
};

// One metadata key: its name (never stored in archives) and the longest
// numeric value in bytes (0 for the text key, which has no limit).
struct spk_meta_key {
    const char *name;
    uint8_t max_len;
};
extern const spk_meta_key spk_meta_keys[SPK_META_KEY_COUNT];

// Byte offsets inside the fixed metadata form.
enum spk_fixed_offset {
    SPK_FIXED_VERSION = 0,            // 4 bytes
    SPK_FIXED_SAMPLE_RATE = 4,        // 2 bytes
    SPK_FIXED_FRAME_LEN = 6,          // 1 byte, log2 of the frame length
    SPK_FIXED_BUFFER_LEN = 7,         // 2 bytes; below 1000 it counts thousands
    SPK_FIXED_MODIFIED_TIME = 9,      // 4 bytes
    SPK_FIXED_MODEL_COUNT = 13,       // 2 bytes
    SPK_FIXED_MEMORY_USAGE = 15,      // 1 byte, KiB
    SPK_FIXED_FLOOR_MULTIPLIER = 16,  // 1 byte
    SPK_FIXED_SOUNDPACK_NAME = 17,    // zero-terminated, to the end of the area
};

// Defaults in force before the metadata is decoded.
#define SPK_DEFAULT_VERSION 0x00020001u
#define SPK_DEFAULT_SAMPLE_RATE 16000u
#define SPK_DEFAULT_FRAME_LEN 256u
#define SPK_DEFAULT_FLOOR_MULTIPLIER 32u

// A soundpack's metadata as zurfile_get_spk_meta hands it out.
struct spk_meta {
    uint32_t version;
    uint32_t sample_rate;  // Hz
    uint32_t buffer_len;
    uint32_t frame_len;  // samples
    uint32_t modified_time;
    uint32_t model_count;
    uint32_t memory_usage;  // bytes (stored in KiB)
    uint8_t floor_multiplier;
    uint32_t min_detection;      // milliseconds
    const char *soundpack_name;  // inside the reader's memory; valid until zurfile_close
};

// State of one open archive.
struct zurfile {
    FILE *file;
    uint32_t entry_offset;      // content offset of the current entry
    uint32_t file_size;         // bytes
    const char *entry_name;     // inside data; none before the first entry
    const uint8_t *entry_data;  // inside data; none before the first entry
    uint32_t entry_size;        // content bytes of the current entry
    uint32_t cursor;            // offset of the next entry's table record
    uint16_t entry_count;       // E, from the header
    uint16_t entry_index;       // entries stepped onto so far
    uint8_t *data;              // the whole archive; owned by the reader
    uint32_t version;
    uint32_t sample_rate;  // Hz
    uint32_t frame_len;    // samples
    uint32_t buffer_len;
    uint32_t modified_time;
    uint16_t model_count;
    uint32_t memory_usage;  // bytes
    uint8_t floor_multiplier;
    uint32_t min_detection;      // milliseconds
    const char *soundpack_name;  // inside data, or the empty text
};

// Opens and validates the archive at path. 0 and the reader in *out, or:
// -1 cannot open, -2 not an archive, -3 empty file, -4 path or out is none,
// -5 no memory or the file cannot be read whole (*out is then none).
int zurfile_open(const char *path, zurfile **out);

// Fills *meta from the reader; 0, or -4 when either is none.
int zurfile_get_spk_meta(const zurfile *z, spk_meta *meta);

// Steps onto the next entry. 0 when its content sum holds; -2 when the sum is
// wrong (the entry is current all the same) or when its record or content
// does not lie inside the archive; -3 after the last entry; -4 for none.
int zurfile_advance(zurfile *z);

const char *zurfile_get_filename(const zurfile *z);
const uint8_t *zurfile_get_file_contents(const zurfile *z);
uint32_t zurfile_get_file_size(const zurfile *z);
int64_t zurfile_get_offset(const zurfile *z);  // -1 for none
int64_t zurfile_get_size(const zurfile *z);    // -1 for none

// Releases the archive's memory, closes the file and frees the reader; 0, or
// -4 for none.
int zurfile_close(zurfile *z);

// Adler-32 of RFC 1950 (start value 1, modulus 65521): the second sum in the
// upper 16 bits, the first in the lower. None or length 0 gives 1.
uint32_t adler32(const uint8_t *bytes, uint32_t length);

#endif
