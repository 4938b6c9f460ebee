#include "spk_write.h"

#include <string.h>
#include <zlib.h>

// Archive layout constants, as the engine's reader expects them.
static const uint32_t HEADER_SIZE = 18;
static const uint32_t ARCHIVE_WORD = 0x900DB015u;
static const uint16_t TAGGED = 0x8000u;
static const uint32_t MAX_METADATA = 0x0FFFu;
static const uint32_t RECORD_FIXED = 18;  // record bytes in front of the name

static void put_u16(std::vector<uint8_t> *b, uint32_t v) {
    b->push_back((uint8_t)(v >> 8));
    b->push_back((uint8_t)v);
}
static void put_u32(std::vector<uint8_t> *b, uint32_t v) {
    put_u16(b, v >> 16);
    put_u16(b, v & 0xFFFFu);
}
static void set_u32(std::vector<uint8_t> *b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) (*b)[at + i] = (uint8_t)(v >> (24 - 8 * i));
}
static uint32_t get_u16(const std::vector<uint8_t> &b, size_t at) {
    return (uint32_t)b[at] << 8 | b[at + 1];
}
static uint32_t get_u32(const std::vector<uint8_t> &b, size_t at) {
    return get_u16(b, at) << 16 | get_u16(b, at + 2);
}

static std::vector<uint8_t> be(uint32_t v, int bytes) {
    std::vector<uint8_t> out;
    for (int i = bytes - 1; i >= 0; i--) out.push_back((uint8_t)(v >> (8 * i)));
    return out;
}

static uint32_t sum_of(const uint8_t *p, size_t n) {
    return (uint32_t)adler32_z(adler32_z(0, nullptr, 0), p, n);
}

std::vector<spk_element> spk_settings_elements(const spk_settings &s) {
    std::vector<uint8_t> name(s.name.begin(), s.name.end());
    name.push_back(0);
    return {
        {0, be(s.version, 4)},
        {1, be(s.sample_rate, 2)},
        {2, be(s.frame_len_log2, 1)},
        {3, be(s.buffer_len, 4)},
        {4, be(s.modified_time, 4)},
        {5, be(s.model_count, 2)},
        {6, be(s.memory_usage_kib, 1)},
        {7, be(s.floor_multiplier, 1)},
        {8, name},
        {9, be(s.min_detection, 4)},
    };
}

bool spk_tagged_area(const std::vector<spk_element> &elements, std::vector<uint8_t> *area,
                     std::string *error) {
    area->clear();
    for (const spk_element &e : elements) {
        if (e.value.size() > 255) {
            *error = "metadata value of " + std::to_string(e.value.size()) +
                     " bytes exceeds the 255 a tagged element holds";
            return false;
        }
        area->push_back(e.id);
        area->push_back((uint8_t)e.value.size());
        area->insert(area->end(), e.value.begin(), e.value.end());
    }
    return true;
}

bool spk_fixed_area(const spk_settings &s, std::vector<uint8_t> *area, std::string *error) {
    // BUFFER_LEN has 16 bits; a stored value below 1000 counts thousands.
    uint32_t buffer = s.buffer_len;
    uint32_t stored;
    if (buffer == 0 || (buffer >= 1000 && buffer <= 0xFFFFu)) {
        stored = buffer;
    } else if (buffer % 1000 == 0 && buffer / 1000 < 1000) {
        stored = buffer / 1000;
    } else {
        *error = "buffer length " + std::to_string(buffer) +
                 " cannot be stored in the fixed metadata form (0, 1000 to 65535, or a multiple "
                 "of 1000 below 1000000)";
        return false;
    }
    if (s.min_detection != 0) {
        *error = "the fixed metadata form has no minimum detection time";
        return false;
    }
    if (s.sample_rate > 0xFFFFu) {
        *error = "sample rate " + std::to_string(s.sample_rate) + " does not fit in 16 bits";
        return false;
    }
    area->clear();
    put_u32(area, s.version);
    put_u16(area, s.sample_rate);
    area->push_back(s.frame_len_log2);
    put_u16(area, stored);
    put_u32(area, s.modified_time);
    put_u16(area, s.model_count);
    area->push_back(s.memory_usage_kib);
    area->push_back(s.floor_multiplier);
    area->insert(area->end(), s.name.begin(), s.name.end());
    area->push_back(0);
    return true;
}

bool spk_archive(bool tagged, const std::vector<uint8_t> &metadata,
                 const std::vector<spk_entry> &entries, std::vector<uint8_t> *out,
                 std::string *error) {
    if (metadata.size() > MAX_METADATA) {
        *error = "metadata of " + std::to_string(metadata.size()) + " bytes exceeds 4095";
        return false;
    }
    if (entries.size() > 0xFFFFu) {
        *error = "more than 65535 entries";
        return false;
    }
    uint64_t table_len = 0;
    for (const spk_entry &e : entries) {
        if (e.name.empty() || memchr(e.name.data(), 0, e.name.size())) {
            *error = "entry names must be non-empty texts";
            return false;
        }
        table_len += RECORD_FIXED + e.name.size() + 1;
    }
    if (table_len > 0xFFFFu) {
        *error = "entry table of " + std::to_string(table_len) + " bytes exceeds 65535";
        return false;
    }
    uint64_t offset = HEADER_SIZE + metadata.size() + table_len;
    std::vector<uint8_t> table;
    for (const spk_entry &e : entries) {
        if (offset + e.content.size() > UINT32_MAX) {
            *error = "archive exceeds 4 GiB";
            return false;
        }
        put_u32(&table, 0);  // not used by the reader
        put_u32(&table, (uint32_t)e.content.size());
        put_u32(&table, sum_of(e.content.data(), e.content.size()));
        put_u32(&table, (uint32_t)offset);
        put_u16(&table, 0);  // not read
        table.insert(table.end(), e.name.begin(), e.name.end());
        table.push_back(0);
        offset += e.content.size();
    }
    std::vector<uint8_t> &b = *out;
    b.clear();
    for (const char *k = "_ZUR"; *k; k++) b.push_back((uint8_t)*k);
    put_u32(&b, ARCHIVE_WORD);
    put_u32(&b, sum_of(table.data(), table.size()));
    put_u16(&b, (uint32_t)table.size());
    put_u16(&b, (uint32_t)entries.size());
    put_u16(&b, (tagged ? TAGGED : 0u) | (uint32_t)metadata.size());
    b.insert(b.end(), metadata.begin(), metadata.end());
    b.insert(b.end(), table.begin(), table.end());
    for (const spk_entry &e : entries) b.insert(b.end(), e.content.begin(), e.content.end());
    return true;
}

uint32_t spk_table_offset(const std::vector<uint8_t> &archive) {
    return HEADER_SIZE + (get_u16(archive, 16) & MAX_METADATA);
}

uint32_t spk_entry_content_offset(const std::vector<uint8_t> &archive, uint32_t entry) {
    size_t rec = spk_table_offset(archive);
    for (uint32_t i = 0; i < entry; i++) {
        rec += RECORD_FIXED + strlen((const char *)archive.data() + rec + RECORD_FIXED) + 1;
    }
    return get_u32(archive, rec + 12);
}

void spk_fix_sums(std::vector<uint8_t> *archive) {
    std::vector<uint8_t> &b = *archive;
    uint32_t table = spk_table_offset(b);
    uint32_t table_len = get_u16(b, 12);
    uint32_t count = get_u16(b, 14);
    size_t rec = table;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t size = get_u32(b, rec + 4);
        uint32_t offset = get_u32(b, rec + 12);
        set_u32(&b, rec + 8, sum_of(b.data() + offset, size));
        rec += RECORD_FIXED + strlen((const char *)b.data() + rec + RECORD_FIXED) + 1;
    }
    set_u32(&b, 8, sum_of(b.data() + table, table_len));
}
