// The archive reader on archives written by the pack code (tools/spk_write),
// including deliberately damaged and crafted ones. The reader's buffer is
// exactly the file's size, so the sanitizer build catches any read outside it.
#include <ctype.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "spk_write.h"
#include "store/zurfile.h"
#include "test_support.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes cat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

uint32_t be32(const bytes &b, size_t at) {
    return (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3];
}
void set_be32(bytes *b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) (*b)[at + i] = (uint8_t)(v >> (24 - 8 * i));
}
void set_be16(bytes *b, size_t at, uint32_t v) {
    (*b)[at] = (uint8_t)(v >> 8);
    (*b)[at + 1] = (uint8_t)v;
}

// Recomputes only the header's entry-table sum (zlib as the independent sum).
void fix_table_sum(bytes *a) {
    uint32_t table = spk_table_offset(*a);
    uint32_t len = (uint32_t)(*a)[12] << 8 | (*a)[13];
    set_be32(a, 8, (uint32_t)adler32_z(1, a->data() + table, len));
}

bytes make_archive(bool tagged, const bytes &area, const std::vector<spk_entry> &entries) {
    bytes out;
    std::string error;
    EXPECT_TRUE(spk_archive(tagged, area, entries, &out, &error)) << error;
    return out;
}

std::vector<spk_entry> three_entries() {
    spk_entry a{"first.bsmf", {}}, b{"second.bsmf", {}}, c{"empty.bsmf", {}};
    for (int i = 0; i < 300; i++) a.content.push_back((uint8_t)(i * 13));
    for (int i = 0; i < 77; i++) b.content.push_back((uint8_t)(255 - i));
    return {a, b, c};
}

class Zurfile : public ::testing::Test {
   protected:
    void SetUp() override { path = tmp.file("pack.spk"); }
    void TearDown() override {
        if (z) zurfile_close(z);
    }
    // Writes the bytes to the archive file and opens it.
    int open(const bytes &archive) {
        if (z) zurfile_close(z);
        z = nullptr;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!archive.empty()) fwrite(archive.data(), 1, archive.size(), f);
        fclose(f);
        return zurfile_open(path.c_str(), &z);
    }
    temp_dir tmp{"zurfile"};
    const std::string &dir = tmp.path;
    std::string path;
    zurfile *z = nullptr;
};

// ---------------------------------------------------------------------------
// Metadata decoding, both forms

struct expected_meta {
    uint32_t version = 0x00020001;
    uint32_t sample_rate = 16000;
    uint32_t buffer_len = 0;
    uint32_t frame_len = 256;
    uint32_t modified_time = 0;
    uint32_t model_count = 0;
    uint32_t memory_usage = 0;
    uint32_t floor_multiplier = 32;
    uint32_t min_detection = 0;
    std::string name;
};

struct meta_case {
    const char *what;
    bool tagged;
    bytes area;
    expected_meta want;
};

expected_meta with(void (*change)(expected_meta *)) {
    expected_meta m;
    change(&m);
    return m;
}

bytes el(uint8_t id, bytes value) {
    return cat({{id, (uint8_t)value.size()}, value});
}

bytes full_fixed(uint32_t buffer_len) {
    spk_settings s;
    s.name = "Fixed pack";
    s.version = 0x00020000;
    s.sample_rate = 8000;
    s.frame_len_log2 = 9;
    s.buffer_len = buffer_len;
    s.modified_time = 0x5F00AA11;
    s.model_count = 3;
    s.memory_usage_kib = 7;
    s.floor_multiplier = 40;
    bytes area;
    std::string error;
    EXPECT_TRUE(spk_fixed_area(s, &area, &error)) << error;
    return area;
}

// The 17 bytes of fixed fields, without the name.
bytes fixed_fields_only() {
    bytes area = full_fixed(0);
    area.resize(17);
    return area;
}

bytes full_tagged() {
    spk_settings s;
    s.name = "Tagged pack";
    s.version = 0x00020000;
    s.sample_rate = 22050;
    s.frame_len_log2 = 10;
    s.buffer_len = 123456;
    s.modified_time = 0x61234567;
    s.model_count = 4;
    s.memory_usage_kib = 200;
    s.floor_multiplier = 48;
    s.min_detection = 750;
    bytes area;
    std::string error;
    EXPECT_TRUE(spk_tagged_area(spk_settings_elements(s), &area, &error)) << error;
    return area;
}

const meta_case meta_cases[] = {
    {"tagged, every key from the pack code", true, full_tagged(), with([](expected_meta *m) {
         *m = {0x00020000, 22050, 123456, 1024, 0x61234567, 4, 200 * 1024, 48, 750, "Tagged pack"};
     })},
    {"tagged, empty area: defaults", true, {}, expected_meta()},
    {"tagged, only SAMPLE_RATE", true, el(1, {0x1F, 0x40}),
     with([](expected_meta *m) { m->sample_rate = 8000; })},
    {"tagged, one-byte SAMPLE_RATE", true, el(1, {0x50}),
     with([](expected_meta *m) { m->sample_rate = 80; })},
    {"tagged, two-byte VERSION", true, el(0, {0x01, 0x02}),
     with([](expected_meta *m) { m->version = 0x0102; })},
    {"tagged, FRAME_LEN 8, MEMORY_USAGE 3", true, cat({el(2, {8}), el(6, {3})}),
     with([](expected_meta *m) { m->memory_usage = 3072; })},
    {"tagged, FRAME_LEN 31", true, el(2, {31}),
     with([](expected_meta *m) { m->frame_len = 0x80000000u; })},
    {"tagged, FRAME_LEN 32 gives 0", true, cat({el(2, {0}), el(2, {32})}),
     with([](expected_meta *m) { m->frame_len = 0; })},
    {"tagged, FRAME_LEN 255 gives 0", true, el(2, {255}),
     with([](expected_meta *m) { m->frame_len = 0; })},
    {"tagged, over-long SAMPLE_RATE stepped over", true,
     cat({el(1, {0, 0x1F, 0x40}), el(5, {0, 2})}),
     with([](expected_meta *m) { m->model_count = 2; })},
    {"tagged, over-long MIN_DETECTION stepped over", true, el(9, {0, 0, 0, 1, 0}), expected_meta()},
    {"tagged, unknown id 12 stepped over", true, cat({el(12, {1, 2, 3}), el(7, {9})}),
     with([](expected_meta *m) { m->floor_multiplier = 9; })},
    {"tagged, unknown id 255 with no value", true, cat({el(255, {}), el(3, {0, 0, 0x3E, 0x80})}),
     with([](expected_meta *m) { m->buffer_len = 16000; })},
    // An empty numeric value is stepped over; the next element's id is not
    // taken as its value (that would set FLOOR_MULTIPLIER to 1).
    {"tagged, zero-length numeric value", true, cat({el(7, {}), el(1, {0x1F, 0x40})}),
     with([](expected_meta *m) { m->sample_rate = 8000; })},
    {"tagged, zero-length value at the end of the area", true, cat({el(5, {6}), el(4, {})}),
     with([](expected_meta *m) { m->model_count = 6; })},
    {"tagged, later element overrides", true, cat({el(1, {0x1F, 0x40}), el(1, {0x2B, 0x11})}),
     with([](expected_meta *m) { m->sample_rate = 11025; })},
    {"tagged, element past the area ends the walk", true, cat({el(5, {7}), bytes{1, 4, 0, 0}}),
     with([](expected_meta *m) { m->model_count = 7; })},
    {"tagged, lone id byte at the end", true, cat({el(5, {7}), bytes{9}}),
     with([](expected_meta *m) { m->model_count = 7; })},
    {"tagged, name", true, el(8, {'a', 'b', 'c', 0}),
     with([](expected_meta *m) { m->name = "abc"; })},
    {"tagged, name ends at its first zero", true, el(8, {'a', 0, 'b', 0}),
     with([](expected_meta *m) { m->name = "a"; })},
    // The zero of the following element lies outside the name's value: no name.
    {"tagged, name without terminator", true, cat({el(8, {'a', 'b', 'c'}), el(5, {0})}),
     expected_meta()},
    {"tagged, bad name keeps an earlier one", true, cat({el(8, {'o', 'k', 0}), el(8, {'x'})}),
     with([](expected_meta *m) { m->name = "ok"; })},
    {"tagged, empty name value", true, cat({el(8, {}), el(5, {4})}),
     with([](expected_meta *m) { m->model_count = 4; })},
    {"fixed, every field, BUFFER_LEN 999 counts thousands", false, full_fixed(999000),
     with([](expected_meta *m) {
         *m = {0x00020000, 8000, 999000, 512, 0x5F00AA11, 3, 7 * 1024, 40, 0, "Fixed pack"};
     })},
    {"fixed, BUFFER_LEN 1000 as it is", false, full_fixed(1000), with([](expected_meta *m) {
         *m = {0x00020000, 8000, 1000, 512, 0x5F00AA11, 3, 7 * 1024, 40, 0, "Fixed pack"};
     })},
    {"fixed, no name bytes", false, fixed_fields_only(), with([](expected_meta *m) {
         *m = {0x00020000, 8000, 0, 512, 0x5F00AA11, 3, 7 * 1024, 40, 0, ""};
     })},
    {"fixed, name without terminator", false, cat({fixed_fields_only(), bytes{'a', 'b', 'c'}}),
     with([](expected_meta *m) {
         *m = {0x00020000, 8000, 0, 512, 0x5F00AA11, 3, 7 * 1024, 40, 0, ""};
     })},
    {"fixed, area too short for all fields keeps defaults", false,
     bytes{0x00, 0x02, 0x00, 0x00, 0x1F, 0x40, 40}, with([](expected_meta *m) {
         m->version = 0x00020000;
         m->sample_rate = 8000;
         m->frame_len = 0;
     })},
    {"fixed, empty area", false, {}, expected_meta()},
};

class ZurfileMeta : public Zurfile, public ::testing::WithParamInterface<meta_case> {};

TEST_P(ZurfileMeta, Decodes) {
    const meta_case &c = GetParam();
    // An entry follows the area so that the bytes behind it hold zeros and
    // other non-metadata bytes, as in real archives.
    std::vector<spk_entry> entries = {{"m", {0, 0, 0, 0}}};
    ASSERT_EQ(open(make_archive(c.tagged, c.area, entries)), 0);
    spk_meta m;
    ASSERT_EQ(zurfile_get_spk_meta(z, &m), 0);
    const expected_meta &w = c.want;
    EXPECT_EQ(m.version, w.version);
    EXPECT_EQ(m.sample_rate, w.sample_rate);
    EXPECT_EQ(m.buffer_len, w.buffer_len);
    EXPECT_EQ(m.frame_len, w.frame_len);
    EXPECT_EQ(m.modified_time, w.modified_time);
    EXPECT_EQ(m.model_count, w.model_count);
    EXPECT_EQ(m.memory_usage, w.memory_usage);
    EXPECT_EQ(m.floor_multiplier, w.floor_multiplier);
    EXPECT_EQ(m.min_detection, w.min_detection);
    ASSERT_NE(m.soundpack_name, nullptr);
    EXPECT_EQ(std::string(m.soundpack_name), w.name);
    EXPECT_EQ(zurfile_advance(z), 0) << "the entry table is found behind the area";
}

INSTANTIATE_TEST_SUITE_P(Cases, ZurfileMeta, ::testing::ValuesIn(meta_cases),
                         [](const ::testing::TestParamInfo<meta_case> &param) {
                             std::string n;
                             for (const char *p = param.param.what; *p; p++) {
                                 n += isalnum((unsigned char)*p) ? *p : '_';
                             }
                             return n;
                         });

// ---------------------------------------------------------------------------
// Entries

TEST_F(Zurfile, WalksEveryEntry) {
    std::vector<spk_entry> entries = three_entries();
    bytes a = make_archive(true, full_tagged(), entries);
    ASSERT_EQ(open(a), 0);
    EXPECT_EQ(zurfile_get_size(z), (int64_t)a.size());
    EXPECT_EQ(zurfile_get_filename(z), nullptr);
    EXPECT_EQ(zurfile_get_file_contents(z), nullptr);
    EXPECT_EQ(zurfile_get_file_size(z), 0u);
    for (uint32_t i = 0; i < entries.size(); i++) {
        SCOPED_TRACE(entries[i].name);
        ASSERT_EQ(zurfile_advance(z), 0);
        EXPECT_STREQ(zurfile_get_filename(z), entries[i].name.c_str());
        ASSERT_EQ(zurfile_get_file_size(z), entries[i].content.size());
        EXPECT_EQ(zurfile_get_offset(z), (int64_t)spk_entry_content_offset(a, i));
        ASSERT_NE(zurfile_get_file_contents(z), nullptr);
        EXPECT_EQ(bytes(zurfile_get_file_contents(z),
                        zurfile_get_file_contents(z) + zurfile_get_file_size(z)),
                  entries[i].content);
    }
    EXPECT_EQ(zurfile_advance(z), -3);
    EXPECT_EQ(zurfile_advance(z), -3);
}

TEST_F(Zurfile, EmptyArchiveOpensAndHasNoEntries) {
    ASSERT_EQ(open(make_archive(true, {}, {})), 0);
    EXPECT_EQ(zurfile_advance(z), -3);
    EXPECT_EQ(zurfile_get_filename(z), nullptr);
}

TEST_F(Zurfile, DamagedEntryIsReportedAndStillCurrent) {
    std::vector<spk_entry> entries = three_entries();
    bytes a = make_archive(true, {}, entries);
    a[spk_entry_content_offset(a, 0) + 100] ^= 0x01;
    ASSERT_EQ(open(a), 0);
    ASSERT_EQ(zurfile_advance(z), -2);
    EXPECT_STREQ(zurfile_get_filename(z), "first.bsmf");
    ASSERT_NE(zurfile_get_file_contents(z), nullptr);
    EXPECT_EQ(zurfile_get_file_size(z), 300u);
    EXPECT_EQ(zurfile_get_file_contents(z)[100], (uint8_t)((100 * 13) ^ 1));
    EXPECT_EQ(zurfile_advance(z), 0);
    EXPECT_STREQ(zurfile_get_filename(z), "second.bsmf");
}

TEST_F(Zurfile, DamagedTableFailsTheOpenButDamagedMetadataDoesNot) {
    bytes a = make_archive(true, full_tagged(), three_entries());
    bytes table_hit = a;
    table_hit[spk_table_offset(a) + 20] ^= 0x40;  // a name character
    EXPECT_EQ(open(table_hit), -2);
    EXPECT_EQ(z, nullptr);
    bytes meta_hit = a;
    meta_hit[18 + 3] ^= 0x01;  // VERSION 0x00020000 becomes 0x00030000
    ASSERT_EQ(open(meta_hit), 0);
    spk_meta m;
    ASSERT_EQ(zurfile_get_spk_meta(z, &m), 0);
    EXPECT_EQ(m.version, 0x00030000u);
    EXPECT_EQ(zurfile_advance(z), 0);
}

TEST_F(Zurfile, HeaderFailures) {
    const bytes good = make_archive(false, full_fixed(16000), three_entries());
    struct {
        const char *what;
        bytes archive;
        int code;
    } cases[] = {
        {"wrong key", cat({bytes{'_', 'Z', 'U', 'S'}, bytes(good.begin() + 4, good.end())}), -2},
        {"wrong archive word",
         [&] {
             bytes b = good;
             b[7] ^= 0x10;
             return b;
         }(),
         -2},
        {"wrong table sum",
         [&] {
             bytes b = good;
             b[11] ^= 0x01;
             return b;
         }(),
         -2},
        {"shorter than the header", bytes(good.begin(), good.begin() + 17), -2},
        {"header only", bytes(good.begin(), good.begin() + 18), -2},
        {"table cut short", bytes(good.begin(), good.begin() + spk_table_offset(good) + 10), -2},
        {"table length past the end",
         [&] {
             bytes b = good;
             set_be16(&b, 12, 0xFFFF);
             return b;
         }(),
         -2},
        {"metadata length past the end",
         [&] {
             bytes b = good;
             set_be16(&b, 16, 0x0FFF);
             return b;
         }(),
         -2},
        {"empty file", {}, -3},
        {"one byte", {'_'}, -2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(open(c.archive), c.code);
        EXPECT_EQ(z, nullptr);
    }
    zurfile *slot = (zurfile *)&slot;
    EXPECT_EQ(zurfile_open((dir + "/missing.spk").c_str(), &slot), -1);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(zurfile_open(nullptr, &slot), -4);
    EXPECT_EQ(zurfile_open(path.c_str(), nullptr), -4);
}

TEST_F(Zurfile, NoneReader) {
    spk_meta m;
    EXPECT_EQ(zurfile_get_spk_meta(nullptr, &m), -4);
    EXPECT_EQ(zurfile_advance(nullptr), -4);
    EXPECT_EQ(zurfile_close(nullptr), -4);
    EXPECT_EQ(zurfile_get_filename(nullptr), nullptr);
    EXPECT_EQ(zurfile_get_file_contents(nullptr), nullptr);
    EXPECT_EQ(zurfile_get_file_size(nullptr), 0u);
    EXPECT_EQ(zurfile_get_offset(nullptr), -1);
    EXPECT_EQ(zurfile_get_size(nullptr), -1);
    ASSERT_EQ(open(make_archive(true, {}, {})), 0);
    EXPECT_EQ(zurfile_get_spk_meta(z, nullptr), -4);
}

// Content whose offset and size do not lie inside the archive: -2, the name
// stays available, no content is handed out, and the walk goes on.
TEST_F(Zurfile, ContentOutsideTheArchive) {
    const bytes good = make_archive(true, {}, three_entries());
    const uint32_t rec0 = spk_table_offset(good);
    struct {
        const char *what;
        uint32_t size, offset;
    } cases[] = {
        {"offset past the end", 1, (uint32_t)good.size() + 1},
        {"size past the end", (uint32_t)good.size() - spk_entry_content_offset(good, 0) + 1,
         spk_entry_content_offset(good, 0)},
        {"offset plus size wraps", 0x20, 0xFFFFFFF0u},
        {"huge size", 0xFFFFFFFFu, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        bytes a = good;
        set_be32(&a, rec0 + 4, c.size);
        set_be32(&a, rec0 + 12, c.offset);
        fix_table_sum(&a);
        ASSERT_EQ(open(a), 0);
        EXPECT_EQ(zurfile_advance(z), -2);
        EXPECT_STREQ(zurfile_get_filename(z), "first.bsmf");
        EXPECT_EQ(zurfile_get_file_contents(z), nullptr);
        EXPECT_EQ(zurfile_get_file_size(z), 0u);
        EXPECT_EQ(zurfile_advance(z), 0);
        EXPECT_STREQ(zurfile_get_filename(z), "second.bsmf");
    }
    // Content that ends exactly at the end of the file is inside.
    bytes a = good;
    set_be32(&a, rec0 + 4, 0);
    set_be32(&a, rec0 + 8, 1);
    set_be32(&a, rec0 + 12, (uint32_t)a.size());
    fix_table_sum(&a);
    ASSERT_EQ(open(a), 0);
    EXPECT_EQ(zurfile_advance(z), 0);
    EXPECT_EQ(zurfile_get_file_size(z), 0u);
}

// Records that do not lie inside the entry table end the walk with -2, and
// the next step reports the end.
TEST_F(Zurfile, RecordsOutsideTheTable) {
    const bytes good = make_archive(true, full_tagged(), three_entries());
    const uint32_t table = spk_table_offset(good);
    const uint32_t table_len = (uint32_t)good[12] << 8 | good[13];
    struct {
        const char *what;
        bytes archive;
        int good_entries;
    } cases[] = {
        {"more entries than records",
         [&] {
             bytes b = good;
             set_be16(&b, 14, 4);
             return b;
         }(),
         3},
        {"last name without terminator",
         [&] {
             bytes b = good;
             b[table + table_len - 1] = 'x';
             fix_table_sum(&b);
             return b;
         }(),
         2},
        {"table shortened by one byte",
         [&] {
             bytes b = good;
             set_be16(&b, 12, table_len - 1);
             fix_table_sum(&b);
             return b;
         }(),
         2},
        {"table ends inside a record's fixed part",
         [&] {
             bytes b = good;
             set_be16(&b, 12, 18 + 11 + 10);  // first record (18 + 11 bytes) and 10 more
             fix_table_sum(&b);
             return b;
         }(),
         1},
        {"record with an empty name at the table's end",
         [&] {
             bytes b = good;
             set_be16(&b, 12, 18 + 11 + 18);
             fix_table_sum(&b);
             return b;
         }(),
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open(c.archive), 0);
        for (int i = 0; i < c.good_entries; i++) ASSERT_EQ(zurfile_advance(z), 0);
        EXPECT_EQ(zurfile_advance(z), -2);
        EXPECT_EQ(zurfile_get_filename(z), nullptr);
        EXPECT_EQ(zurfile_get_file_contents(z), nullptr);
        EXPECT_EQ(zurfile_get_file_size(z), 0u);
        EXPECT_EQ(zurfile_advance(z), -3);
    }
}

// The pack code's limits and the fixed form's BUFFER_LEN rule.
TEST(SpkWrite, FixedFormStoresOnlyWhatItCan) {
    spk_settings s;
    bytes area;
    std::string error;
    const struct {
        uint32_t buffer_len;
        bool ok;
        uint32_t stored;
    } cases[] = {{0, true, 0},        {1000, true, 1000},  {65535, true, 65535},
                 {999000, true, 999}, {1000000, false, 0}, {999, false, 0},
                 {65536, false, 0},   {70000, true, 70},   {70001, false, 0}};
    for (const auto &c : cases) {
        s.buffer_len = c.buffer_len;
        EXPECT_EQ(spk_fixed_area(s, &area, &error), c.ok) << c.buffer_len;
        if (c.ok) {
            EXPECT_EQ((uint32_t)area[7] << 8 | area[8], c.stored) << c.buffer_len;
        }
    }
    s.buffer_len = 0;
    s.min_detection = 1;
    EXPECT_FALSE(spk_fixed_area(s, &area, &error));
    EXPECT_NE(error.find("minimum detection"), std::string::npos);
}

TEST(SpkWrite, ArchiveLimits) {
    bytes out;
    std::string error;
    EXPECT_FALSE(spk_archive(true, bytes(4096), {}, &out, &error));
    EXPECT_TRUE(spk_archive(true, bytes(4095), {}, &out, &error));
    EXPECT_FALSE(spk_archive(true, {}, {{"", {1}}}, &out, &error));
    std::vector<spk_entry> many(3500, spk_entry{"name", {}});  // 3500 * 23 > 65535 table bytes
    EXPECT_FALSE(spk_archive(true, {}, many, &out, &error));
    EXPECT_FALSE(spk_tagged_area({{8, bytes(256, 'a')}}, &out, &error));
    // Archive word and sums as the reader checks them.
    ASSERT_TRUE(spk_archive(false, {}, {{"a", {1, 2, 3}}}, &out, &error));
    EXPECT_EQ(be32(out, 4), 0x900DB015u);
    EXPECT_EQ(be32(out, 8), (uint32_t)adler32_z(1, out.data() + 18, 20));
    EXPECT_EQ(be32(out, 18 + 8), (uint32_t)adler32_z(1, out.data() + 38, 3));
}

}  // namespace
