// Writing soundpack archives (".spk"): header, metadata area (tagged or
// fixed form), entry table with Adler-32 sums, then the entries' contents.
#ifndef SPK_WRITE_H
#define SPK_WRITE_H

#include <stdint.h>

#include <string>
#include <vector>

// One tagged metadata element: id, then the value bytes as stored.
struct spk_element {
    uint8_t id;
    std::vector<uint8_t> value;
};

// Soundpack-wide settings, in the units the archive stores.
struct spk_settings {
    std::string name;
    uint32_t version = 0x00020001u;
    uint32_t sample_rate = 16000;  // Hz, 16 bits stored
    uint8_t frame_len_log2 = 8;    // 256 samples
    uint32_t buffer_len = 0;
    uint32_t modified_time = 0;  // seconds since 1970
    uint16_t model_count = 0;
    uint8_t memory_usage_kib = 0;
    uint8_t floor_multiplier = 32;
    uint32_t min_detection = 0;  // milliseconds; tagged form only
};

struct spk_entry {
    std::string name;  // the model file's name
    std::vector<uint8_t> content;
};

// Tagged metadata elements for every key, each numeric value at its key's full width.
std::vector<spk_element> spk_settings_elements(const spk_settings &s);

// The tagged metadata area of these elements. False with *error when a value
// is longer than 255 bytes.
bool spk_tagged_area(const std::vector<spk_element> &elements, std::vector<uint8_t> *area,
                     std::string *error);

// The fixed metadata area. False with *error when a value cannot be stored in
// the fixed form (BUFFER_LEN beyond its 16-bit field, a MIN_DETECTION).
bool spk_fixed_area(const spk_settings &s, std::vector<uint8_t> *area, std::string *error);

// The whole archive. False with *error when a length exceeds its header
// field (metadata 4095 bytes, entry table 65535 bytes, 65535 entries, 4 GiB).
bool spk_archive(bool tagged, const std::vector<uint8_t> &metadata,
                 const std::vector<spk_entry> &entries, std::vector<uint8_t> *out,
                 std::string *error);

// Offsets inside an archive written by spk_archive, for tools and tests that
// change bytes deliberately.
uint32_t spk_table_offset(const std::vector<uint8_t> &archive);
uint32_t spk_entry_content_offset(const std::vector<uint8_t> &archive, uint32_t entry);

// Recomputes the header's entry-table sum and every entry's content sum.
void spk_fix_sums(std::vector<uint8_t> *archive);

#endif
