// zutool sig: digest, sign and verify through the command line, checked against
// OpenSSL and Project Wycheproof's vectors.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "wycheproof_fixture.h"

namespace {

using ToolRun = command_result;

// Runs zutool with the arguments (a shell command line); stderr is discarded.
ToolRun zutool(const std::string &args) {
    return run_command(std::string(ZUTOOL_PATH) + " " + args + " 2>/dev/null");
}

std::string hex(const std::vector<uint8_t> &v) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : v) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

class ZutoolSig : public ::testing::Test {
   protected:
    std::string write(const std::string &name, const std::vector<uint8_t> &data) {
        std::string path = dir + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
        fclose(f);
        return path;
    }
    temp_dir tmp{"zutool_sig"};
    const std::string &dir = tmp.path;
};

}  // namespace

TEST_F(ZutoolSig, DigestMatchesOpenSsl) {
    for (size_t len : {0, 1, 55, 56, 64, 1000, 70000}) {
        std::vector<uint8_t> data(len);
        for (size_t i = 0; i < len; i++) data[i] = (uint8_t)(i * 31 + 7);
        std::vector<uint8_t> want(32);
        SHA256(data.data(), len, want.data());
        ToolRun run = zutool("sig digest " + write("f", data));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, hex(want) + "\n") << "length " << len;
    }
}

// Every committed Wycheproof vector through `zutool sig verify`: exit 0 for the
// valid ones, 1 for the invalid ones.
TEST_F(ZutoolSig, VerifyGivesWycheproofsVerdicts) {
    std::vector<wycheproof_vector> vectors =
        wycheproof_load(SONIVALE_STORE_DATA "/wycheproof_secp256k1_sha256.txt");
    ASSERT_GE(vectors.size(), 60u);
    for (const wycheproof_vector &v : vectors) {
        std::string file = write("msg", v.message);
        ToolRun run = zutool("sig verify --pubkey " + hex(v.x) + ":" + hex(v.y) + " --r " +
                             hex(v.r) + " --s " + hex(v.s) + " " + file);
        EXPECT_EQ(run.status, v.valid ? 0 : 1) << "tcId " << v.id << ": " << v.comment;
        EXPECT_EQ(run.out, v.valid ? "valid\n" : "invalid\n") << "tcId " << v.id;
    }
}

// Sign with a fresh key, verify with its public key, then tamper with the file.
TEST_F(ZutoolSig, SignThenVerifyRoundTrip) {
    std::string key = dir + "/k.pem";
    std::string gen =
        "openssl ecparam -name secp256k1 -genkey -noout -out '" + key + "' 2>/dev/null";
    ASSERT_EQ(system(gen.c_str()), 0);
    std::vector<uint8_t> data(777);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i ^ 0x5a);
    std::string file = write("blob", data);

    ToolRun pub = zutool("sig pubkey --key " + key);
    ASSERT_EQ(pub.status, 0);
    ASSERT_EQ(pub.out.size(), 64u + 1 + 64 + 1);
    std::string pubkey = pub.out.substr(0, 129);

    ToolRun sig = zutool("sig sign --key " + key + " " + file);
    ASSERT_EQ(sig.status, 0);
    ASSERT_EQ(sig.out.size(), 2 * (2 + 64 + 1));
    ASSERT_EQ(sig.out.substr(0, 2), "r ");
    ASSERT_EQ(sig.out.substr(67, 2), "s ");
    std::string r = sig.out.substr(2, 64), s = sig.out.substr(69, 64);
    EXPECT_EQ(zutool("sig sign --key " + key + " " + file).out, sig.out)
        << "signing is deterministic";

    std::string verify = "sig verify --pubkey " + pubkey + " --r " + r + " --s " + s + " ";
    EXPECT_EQ(zutool(verify + file).status, 0);
    data[400] ^= 1;
    EXPECT_EQ(zutool(verify + write("blob", data)).status, 1);

    // Without --pubkey the built-in model key is used: another key's signature fails.
    data[400] ^= 1;
    EXPECT_EQ(zutool("sig verify --r " + r + " --s " + s + " " + write("blob", data)).status, 1);
}

// The project's key signs by default and the built-in key verifies it (for a
// build configured with the project's key).
TEST_F(ZutoolSig, DefaultKeyAgreesWithBuiltInKey) {
    ToolRun builtin = zutool("sig pubkey");
    ToolRun project = zutool("sig pubkey --key " SONIVALE_PROJECT_PRIVATE_KEY);
    ASSERT_EQ(builtin.status, 0);
    ASSERT_EQ(project.status, 0);
    if (builtin.out != project.out) GTEST_SKIP() << "this build carries another model key";
    std::string file = write("blob", {1, 2, 3});
    ToolRun sig = zutool("sig sign " + file);
    ASSERT_EQ(sig.status, 0);
    EXPECT_EQ(zutool("sig verify --r " + sig.out.substr(2, 64) + " --s " + sig.out.substr(69, 64) +
                     " " + file)
                  .status,
              0);
}

TEST_F(ZutoolSig, UsageAndInputErrorsExitWith2) {
    std::string file = write("blob", {1, 2, 3});
    std::string hex64(64, 'a');
    std::string wrong_curve = dir + "/p256.pem";
    std::string gen =
        "openssl ecparam -name prime256v1 -genkey -noout -out '" + wrong_curve + "' 2>/dev/null";
    ASSERT_EQ(system(gen.c_str()), 0);
    const struct {
        const char *name;
        std::string args;
    } cases[] = {
        {"no action", "sig"},
        {"unknown action", "sig frobnicate " + file},
        {"digest without file", "sig digest"},
        {"missing file", "sig digest " + dir + "/absent"},
        {"two files", "sig digest " + file + " " + file},
        {"unknown option", "sig digest --fast " + file},
        {"option without value", "sig verify --r " + hex64 + " --s"},
        {"verify without r", "sig verify --s " + hex64 + " " + file},
        {"short r", "sig verify --r abc --s " + hex64 + " " + file},
        {"non-hex s", "sig verify --r " + hex64 + " --s " + std::string(64, 'g') + " " + file},
        {"pubkey without colon",
         "sig verify --pubkey " + hex64 + " --r " + hex64 + " --s " + hex64 + " " + file},
        {"pubkey half missing",
         "sig verify --pubkey " + hex64 + ": --r " + hex64 + " --s " + hex64 + " " + file},
        {"missing key file", "sig sign --key " + dir + "/absent.pem " + file},
        {"not a key", "sig sign --key " + file + " " + file},
        {"key of another curve", "sig sign --key " + wrong_curve + " " + file},
        {"pubkey of another curve", "sig pubkey --key " + wrong_curve},
    };
    for (const auto &c : cases) EXPECT_EQ(zutool(c.args).status, 2) << c.name;
    EXPECT_EQ(zutool("sig --help").status, 0);
    EXPECT_NE(zutool("sig --help").out.find("usage: zutool sig"), std::string::npos);
    EXPECT_NE(zutool("--help").out.find("sig"), std::string::npos);
}
