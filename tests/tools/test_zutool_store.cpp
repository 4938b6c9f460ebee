// zutool model and zutool spk as processes: a model built and signed with
// "model build" and packed with "spk pack" passes "spk verify", and fails it
// once one byte of its signed part changes.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model_blob.h"
#include "test_support.h"
#include "spk_write.h"

namespace {

using bytes = std::vector<uint8_t>;

using run_result = command_result;

// Runs zutool; the output holds standard output and standard error.
run_result zutool(const std::string &args) {
    return run_command(std::string(ZUTOOL_PATH) + " " + args + " 2>&1");
}

bytes load(const std::string &path) {
    bytes b;
    std::string error;
    EXPECT_TRUE(read_whole_file(path.c_str(), &b, &error)) << error;
    return b;
}

void save(const std::string &path, const bytes &b) {
    std::string error;
    EXPECT_TRUE(write_whole_file(path.c_str(), b, &error)) << error;
}

uint32_t be32(const bytes &b, size_t at) {
    return (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3];
}

class ZutoolStore : public ::testing::Test {
   protected:
    std::string in(const char *name) const { return tmp.file(name); }
    std::string example(const char *name) const { return std::string(EXAMPLES_DIR) + "/" + name; }

    // Builds both example models and packs them; returns the archive's path.
    std::string build_pack(const char *extra = "") {
        run_result r =
            zutool("model build " + example("example_tone.json") + " -o " + in("tone.bsmf"));
        EXPECT_EQ(r.status, 0) << r.out;
        r = zutool("model build " + example("example_knock.json") + " -o " + in("knock.bsmf"));
        EXPECT_EQ(r.status, 0) << r.out;
        r = zutool(std::string("spk pack -o ") + in("pack.spk") + " --name 'Test pack' " + extra +
                   " " + in("tone.bsmf") + " " + in("knock.bsmf"));
        EXPECT_EQ(r.status, 0) << r.out;
        return in("pack.spk");
    }
    temp_dir tmp{"zutool_store"};
};

TEST_F(ZutoolStore, BuiltAndPackedModelsVerify) {
    for (const char *form : {"--min-detection 250 --floor-multiplier 20", "--fixed-metadata"}) {
        SCOPED_TRACE(form);
        std::string pack = build_pack(form);
        run_result r = zutool("spk verify " + pack);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("ok (2 models"), std::string::npos) << r.out;
        r = zutool("spk info " + pack);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\"Test pack\""), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\"knock.bsmf\""), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("model \"example_knock\""), std::string::npos) << r.out;
    }
    run_result r = zutool("model info " + in("knock.bsmf"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("valid with this build's model key"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"example_knock\""), std::string::npos) << r.out;
}

// One changed byte anywhere in a model's signed part (or its signature) fails
// verification, also when the archive's sums are made to match again; a
// changed trailer byte does not, since the trailer is not signed.
TEST_F(ZutoolStore, OneChangedSignedByteFailsVerification) {
    const bytes good = load(build_pack());
    const uint32_t entry = spk_entry_content_offset(good, 1);
    const uint32_t size = be32(good, entry + 4) + 12;  // S of the second model
    const struct {
        const char *what;
        uint32_t at;  // offset inside the blob
    } cases[] = {
        {"unread word at 8", 8},
        {"version", 15},
        {"sample rate", 21},
        {"first weight", 30 + 4 * 3},
        {"first decoder byte", 54 + 3},
        {"last signed byte", size - 65},
        {"signature r", size - 64},
        {"signature s", size - 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        bytes a = good;
        a[entry + c.at] ^= 0x01;
        save(in("bad.spk"), a);
        run_result r = zutool("spk verify " + in("bad.spk"));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("Adler-32 sum wrong"), std::string::npos) << r.out;

        spk_fix_sums(&a);
        save(in("bad.spk"), a);
        r = zutool("spk verify " + in("bad.spk"));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("entry 1 \"knock.bsmf\": signature INVALID"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("entry 0 \"tone.bsmf\": ok"), std::string::npos) << r.out;
    }
    bytes a = good;
    a[entry + size + 4 + 1] ^= 0x20;  // first name character: 'e' becomes 'E'
    spk_fix_sums(&a);
    save(in("trailer.spk"), a);
    run_result r = zutool("spk verify " + in("trailer.spk"));
    EXPECT_EQ(r.status, 0) << r.out;
    r = zutool("spk info " + in("trailer.spk"));
    EXPECT_NE(r.out.find("model \"Example_knock\""), std::string::npos) << r.out;
}

// A model signed with another key verifies only against that key's X:Y.
TEST_F(ZutoolStore, OwnKeyAndPublicKeyOption) {
    EVP_PKEY *key = EVP_EC_gen("secp256k1");
    ASSERT_NE(key, nullptr);
    FILE *f = fopen(in("own.pem").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr), 1);
    fclose(f);
    uint8_t point[65];
    size_t len = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point,
                                              sizeof point, &len),
              1);
    EVP_PKEY_free(key);
    ASSERT_EQ(len, 65u);
    ASSERT_EQ(point[0], 4) << "uncompressed point";
    std::string xy;
    char hex[3];
    for (int i = 1; i < 65; i++) {
        snprintf(hex, sizeof hex, "%02x", point[i]);
        xy += hex;
        if (i == 32) xy += ":";
    }

    run_result r = zutool("model build " + example("example_tone.json") + " -o " + in("own.bsmf") +
                          " --key " + in("own.pem"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("does not verify with this build's model key"), std::string::npos);
    r = zutool("spk pack -o " + in("own.spk") + " --name Own " + in("own.bsmf"));
    ASSERT_EQ(r.status, 0) << r.out;
    r = zutool("spk verify " + in("own.spk"));
    EXPECT_EQ(r.status, 1) << r.out;
    r = zutool("spk verify " + in("own.spk") + " --pubkey " + xy);
    EXPECT_EQ(r.status, 0) << r.out;
    r = zutool("model info " + in("own.bsmf") + " --pubkey " + xy);
    EXPECT_NE(r.out.find("valid with the given key"), std::string::npos) << r.out;
}

TEST_F(ZutoolStore, UsageAndInputErrors) {
    save(in("junk"), bytes(100, 0x5A));
    save(in("empty"), {});
    const struct {
        std::string args;
        int status;
        const char *says;
    } cases[] = {
        {"model --help", 0, "zutool model build"},
        {"spk --help", 0, "zutool spk pack"},
        {"spk pack --help", 0, "--fixed-metadata"},
        {"model", 2, "usage"},
        {"model frobnicate", 2, "unknown action"},
        {"model build " + example("example_tone.json"), 2, "no output file"},
        {"model build " + in("missing.json") + " -o " + in("x"), 2, "cannot open"},
        {"model build " + in("junk") + " -o " + in("x"), 2, "not valid JSON"},
        {"model build " + example("example_tone.json") + " -o " + in("x") + " --key " + in("junk"),
         2, ""},
        {"model build " + example("example_tone.json") + " -o " + in("x") + " --sign", 2,
         "unknown option '--sign'"},
        {"model info " + in("junk"), 2, "not a model blob"},
        {"model info " + example("example_tone.json") + " --pubkey 12:34", 2, "--pubkey expects"},
        {"spk pack -o " + in("p.spk") + " " + example("example_tone.json"), 2, "no soundpack name"},
        {"spk pack -o " + in("p.spk") + " --name n", 2, "no model files"},
        {"spk pack -o " + in("p.spk") + " --name n " + in("junk"), 2, "not a model blob"},
        {"spk pack -o " + in("p.spk") + " --name n --unchecked " + in("junk"), 0,
         "packed as it is"},
        {"spk verify " + in("p.spk"), 1, "entry 0 \"junk\": not a model blob"},
        {"spk pack -o " + in("p.spk") + " --name n --floor-multiplier 256 " + in("junk"), 2,
         "--floor-multiplier expects 0 to 255"},
        {"spk info " + in("junk"), 2, "not a soundpack archive: no \"_ZUR\" key"},
        {"spk info " + in("missing.spk"), 2, "cannot be opened"},
        {"spk verify " + in("missing.spk"), 2, "cannot be opened"},
        {"spk verify " + in("empty"), 2, "is empty"},
        {"spk verify " + in("junk"), 1, "FAILED"},
    };
    for (const auto &c : cases) {
        run_result r = zutool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
    }
}

}  // namespace
