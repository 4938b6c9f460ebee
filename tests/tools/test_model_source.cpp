// The JSON model source and the blob writer: exact bytes of small blobs, the
// checked reader on what the writer makes, and the source errors.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "model_blob.h"

namespace {

using bytes = std::vector<uint8_t>;

const char tiny_source[] = R"({
  "name": "t", "sample_rate": 16000, "buffer_len": 256, "default_threshold": -0.5,
  "sensitivity_curve": [[10, 1.0]],
  "matrix": [{"start": 3, "weights": [100, -2]}],
  "decoders": [{"format": "dense", "transitions": [[0.5], [-1], ["-inf"]],
                "states": [{"constants": [0.25], "means": [[7]], "precisions": [[-9]]}]}]
})";

// The same blob written out by hand from the layout.
const bytes tiny_signed_part = {
    'B',  'S',  'M',  'F',  0, 0, 0, 121,  // S - 12 with S = 133
    0,    0,    0,    0,                   // not read
    0x00, 0x02, 0x00, 0x01,                // version
    0,    0,    0,    18,                  // L = 10 + 2 * (2 * 1 + 2)
    0,    0,    0x3E, 0x80,                // 16000 Hz
    0,    0,    0x01, 0x00,                // 256 samples
    0,    1,                               // N
    0,    3,                               // start
    0,    2,                               // len
    0x00, 0x64, 0xFF, 0xFE,                // weights 100, -2
    0,    0,    0,    27,                  // M
    0,    0,    0,                         // not read, dense
    0,    1,                               // n
    0x00, 0x00, 0x80, 0x00,                // initial 0.5
    0xFF, 0xFF, 0x00, 0x00,                // into state 0: -1
    0x80, 0x00, 0x00, 0x00,                // exit: log 0
    0,    1,                               // m
    0x00, 0x00, 0x40, 0x00,                // constant 0.25
    0x00, 0x07,                            // mean
    0xFF, 0xF7,                            // precision -9
};

const bytes tiny_trailer = {
    0,    0,    0,    0,           // not read
    1,    't',                     // name
    0xFF, 0xFF, 0x80, 0x00,        // default threshold -0.5
    1,    10,   0,    1,    0, 0,  // one curve point: 10, 1.0
};

std::string with_replaced(const std::string &text, const std::string &from, const std::string &to) {
    std::string out = text;
    size_t at = out.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) out.replace(at, from.size(), to);
    return out;
}

bytes build(const std::string &json) {
    model_source src;
    std::string error;
    bytes out;
    EXPECT_TRUE(model_source_parse(json.c_str(), &src, &error)) << error;
    EXPECT_TRUE(model_blob_signed_part(src, &out, &error)) << error;
    return out;
}

TEST(ModelBlob, DenseBlobHasTheLayoutByteForByte) {
    model_source src;
    std::string error;
    ASSERT_TRUE(model_source_parse(tiny_source, &src, &error)) << error;
    bytes blob;
    ASSERT_TRUE(model_blob_signed_part(src, &blob, &error)) << error;
    EXPECT_EQ(blob, tiny_signed_part);
    uint8_t r[32], s[32];
    memset(r, 0xAA, 32);
    memset(s, 0xBB, 32);
    model_blob_finish(src, r, s, &blob);
    bytes want = tiny_signed_part;
    want.insert(want.end(), r, r + 32);
    want.insert(want.end(), s, s + 32);
    want.insert(want.end(), tiny_trailer.begin(), tiny_trailer.end());
    EXPECT_EQ(blob, want);
}

TEST(ModelBlob, SparseTransitionsAreRowPointersColumnsAndValues) {
    bytes blob = build(
        with_replaced(with_replaced(tiny_source, R"("format": "dense")", R"("format": "sparse")"),
                      R"([[0.5], [-1], ["-inf"]])", R"([[[0, 0.5]], [], [[0, -1]]])"));
    const bytes section = {
        0,    0,    0,    35,                            // M
        0,    0,    1,                                   // not read, sparse
        0,    1,                                         // n
        0,    0,    0,    1,    0,    1,    0,    2,     // row pointers for rows 0..2
        0,    0,    0,    0,                             // columns
        0x00, 0x00, 0x80, 0x00, 0xFF, 0xFF, 0x00, 0x00,  // values
        0,    1,    0x00, 0x00, 0x40, 0x00, 0x00, 0x07, 0xFF, 0xF7,
    };
    ASSERT_EQ(blob.size(), 38 + section.size());
    EXPECT_EQ(bytes(blob.begin() + 38, blob.end()), section);
    EXPECT_EQ(blob[7], (uint8_t)(blob.size() + 64 - 12));
}

TEST(ModelBlob, InspectReadsBackWhatTheWriterMade) {
    for (const char *name : {"example_tone.json", "example_knock.json"}) {
        SCOPED_TRACE(name);
        bytes text;
        std::string error;
        ASSERT_TRUE(
            read_whole_file((std::string(EXAMPLES_DIR) + "/" + name).c_str(), &text, &error))
            << error;
        text.push_back(0);
        model_source src;
        ASSERT_TRUE(model_source_parse((const char *)text.data(), &src, &error)) << error;
        bytes blob;
        ASSERT_TRUE(model_blob_signed_part(src, &blob, &error)) << error;
        const uint32_t signed_size = (uint32_t)blob.size();
        uint8_t r[32] = {1}, s[32] = {2};
        model_blob_finish(src, r, s, &blob);

        model_blob_info info;
        ASSERT_TRUE(model_blob_inspect(blob.data(), (uint32_t)blob.size(), &info, &error)) << error;
        EXPECT_EQ(info.size, signed_size + 64);
        EXPECT_EQ(info.version, src.version);
        EXPECT_EQ(info.sample_rate, src.sample_rate);
        EXPECT_EQ(info.buffer_len, src.buffer_len);
        EXPECT_EQ(info.rows, src.start.size());
        EXPECT_EQ(info.weights, src.weights.size());
        ASSERT_EQ(info.decoders.size(), src.decoders.size());
        for (size_t d = 0; d < src.decoders.size(); d++) {
            EXPECT_EQ(info.decoders[d].states, src.decoders[d].states.size());
            EXPECT_EQ(info.decoders[d].format, src.decoders[d].format);
        }
        EXPECT_EQ(info.r[0], 1);
        EXPECT_EQ(info.s[0], 2);
        EXPECT_TRUE(info.has_trailer);
        EXPECT_EQ(info.name, src.name);
        EXPECT_EQ(info.default_threshold, src.default_threshold);
        ASSERT_EQ(info.curve.size(), src.curve.size());
        for (size_t i = 0; i < src.curve.size(); i++) {
            EXPECT_EQ(info.curve[i].position, src.curve[i].position);
            EXPECT_EQ(info.curve[i].threshold, src.curve[i].threshold);
        }

        // Every cut of the file is refused or read without the missing bytes.
        for (uint32_t cut = 0; cut < blob.size(); cut++) {
            bytes part(blob.begin(), blob.begin() + cut);
            model_blob_info partial;
            bool ok = model_blob_inspect(part.data(), cut, &partial, &error);
            if (ok) {
                EXPECT_GE(cut, info.size) << "cut " << cut;
                EXPECT_FALSE(partial.has_trailer) << "cut " << cut;
            }
        }
    }
}

TEST(ModelBlob, SixteenPointSixteenValuesRoundToNearest) {
    const struct {
        const char *json;
        int32_t raw;
    } cases[] = {{"-0.5", (int32_t)0xFFFF8000},
                 {"1.0", 65536},
                 {"0.00001", 1},
                 {"0.000007", 0},
                 {"-0.000008", -1},
                 {"32767.99998", 0x7FFFFFFF},
                 {"-32767.99998", -0x7FFFFFFF}};
    for (const auto &c : cases) {
        model_source src;
        std::string error;
        ASSERT_TRUE(
            model_source_parse(with_replaced(tiny_source, "\"default_threshold\": -0.5",
                                             std::string("\"default_threshold\": ") + c.json)
                                   .c_str(),
                               &src, &error))
            << c.json << ": " << error;
        EXPECT_EQ(src.default_threshold, c.raw) << c.json;
    }
}

TEST(ModelBlob, SourceErrorsNameTheField) {
    const std::string t = tiny_source;
    const struct {
        std::string json;
        const char *message;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "expected a JSON object"},
        {with_replaced(t, "\"name\": \"t\", ", ""), "missing \"name\""},
        {with_replaced(t, "\"name\"", "\"nmae\""), "unknown key \"nmae\""},
        {with_replaced(t, "\"buffer_len\": 256", "\"buffer_len\": 255"), "buffer_len"},
        {with_replaced(t, "\"sample_rate\": 16000", "\"sample_rate\": 1.5"), "sample_rate"},
        {with_replaced(t, "-0.5,", "-32768,"), "default_threshold"},
        {with_replaced(t, "-0.5,", "\"-inf\","), "default_threshold"},
        {with_replaced(t, "[100, -2]", "[100, 32768]"), "matrix[0].weights[1]"},
        {with_replaced(t, "[100, -2]", "[]"), "matrix[0].weights"},
        {with_replaced(t, "\"start\": 3", "\"start\": 242"), "start + count may not exceed 243"},
        {with_replaced(t, "\"start\": 3", "\"start\": 243"), "matrix[0].start"},
        {with_replaced(t, R"([{"start": 3, "weights": [100, -2]}])", "[]"),
         "matrix: expected an array"},
        {with_replaced(t, "\"dense\"", "\"banded\""), "decoders[0].format"},
        {with_replaced(t, "[[0.5], [-1], [\"-inf\"]]", "[[0.5], [-1]]"), "decoders[0].transitions"},
        {with_replaced(t, "[[0.5], [-1], [\"-inf\"]]", "[[0.5], [-1], [\"inf\"]]"),
         "decoders[0].transitions[2][0]"},
        {with_replaced(t, "[[7]]", "[[7, 8]]"), "decoders[0].states[0].means[0]"},
        {with_replaced(t, "[[-9]]", "[[-9], [1]]"), "decoders[0].states[0].precisions"},
        {with_replaced(t, "\"constants\": [0.25]", "\"constants\": []"),
         "decoders[0].states[0].constants"},
        {with_replaced(t, "[[10, 1.0]]", "[[256, 1.0]]"), "sensitivity_curve[0][0]"},
        {with_replaced(t, "\"name\": \"t\"", "\"version\": \"2.1\", \"name\": \"t\""), "version"},
        {with_replaced(t, "\"name\": \"t\"", "\"name\": \"" + std::string(256, 'n') + "\""),
         "name"},
        {with_replaced(with_replaced(t, "\"dense\"", "\"sparse\""), "[[0.5], [-1], [\"-inf\"]]",
                       "[[[0, 0.5], [0, 1]], [], []]"),
         "column 0 given twice"},
        {with_replaced(with_replaced(t, "\"dense\"", "\"sparse\""), "[[0.5], [-1], [\"-inf\"]]",
                       "[[[1, 0.5]], [], []]"),
         "decoders[0].transitions[0][0][0]"},
    };
    for (const auto &c : cases) {
        model_source src;
        std::string error;
        EXPECT_FALSE(model_source_parse(c.json.c_str(), &src, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos)
            << "wanted \"" << c.message << "\", got \"" << error << "\"";
    }
}

}  // namespace
