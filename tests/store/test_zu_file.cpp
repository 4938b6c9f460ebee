// The engine's file layer over standard I/O streams.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "src/zu_file.h"
#include "test_support.h"

namespace {

class ZuFile : public ::testing::Test {
   protected:
    std::string make(const char *name, const std::vector<uint8_t> &bytes) {
        std::string path = dir + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    }
    temp_dir tmp{"zu_file"};
    const std::string &dir = tmp.path;
};

TEST_F(ZuFile, MissingFileStoresNoneAndFails) {
    FILE *fd = (FILE *)&fd;  // anything but none, to see it overwritten
    EXPECT_EQ(zu_file_open((dir + "/missing").c_str(), ZU_FILE_READ, &fd), -1);
    EXPECT_EQ(fd, nullptr);
}

TEST_F(ZuFile, ReadsRangesOfAFile) {
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (uint8_t)(i * 7 + 3);
    std::string path = make("data", bytes);
    FILE *fd = nullptr;
    ASSERT_EQ(zu_file_open(path.c_str(), ZU_FILE_READ, &fd), 0);
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(zu_file_size(fd), 1000u);
    EXPECT_EQ(ftell(fd), 1000) << "the position is left at the end";

    uint8_t *all = (uint8_t *)zu_file_mmap(fd, 1000, 0);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(memcmp(all, bytes.data(), 1000), 0);
    EXPECT_EQ(zu_file_munmap(all, 1000), 0);

    uint8_t *part = (uint8_t *)zu_file_mmap(fd, 10, 990);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(memcmp(part, bytes.data() + 990, 10), 0);
    EXPECT_EQ(zu_file_munmap(part, 10), 0);

    EXPECT_EQ(zu_file_mmap(fd, 11, 990), nullptr) << "short read";
    EXPECT_EQ(zu_file_mmap(fd, 1001, 0), nullptr) << "short read";
    EXPECT_EQ(zu_file_close(fd), 0);
}

TEST_F(ZuFile, EmptyFileHasSizeZero) {
    std::string path = make("empty", {});
    FILE *fd = nullptr;
    ASSERT_EQ(zu_file_open(path.c_str(), ZU_FILE_READ, &fd), 0);
    EXPECT_EQ(zu_file_size(fd), 0u);
    EXPECT_EQ(zu_file_close(fd), 0);
}

TEST_F(ZuFile, DirectoryCannotBeRead) {
    // fopen of a directory may succeed on Linux; its size or read must then fail.
    FILE *fd = nullptr;
    if (zu_file_open(dir.c_str(), ZU_FILE_READ, &fd) != 0) {
        EXPECT_EQ(fd, nullptr);
        return;
    }
    uint32_t size = zu_file_size(fd);
    EXPECT_EQ(size == 0 ? nullptr : zu_file_mmap(fd, size, 0), nullptr);
    zu_file_close(fd);
}

using ZuFileDeathTest = ZuFile;

TEST_F(ZuFileDeathTest, BrokenContractsAssert) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FILE *fd = nullptr;
    EXPECT_DEATH(zu_file_open("x", 2, &fd), "mode == ZU_FILE_READ");
    EXPECT_DEATH(zu_file_open(nullptr, ZU_FILE_READ, &fd), "path");
    EXPECT_DEATH(zu_file_size(nullptr), "src/zu_file.*fd");
    EXPECT_DEATH(zu_file_mmap(nullptr, 1, 0), "src/zu_file.*fd");
    EXPECT_DEATH(zu_file_close(nullptr), "src/zu_file.*fd");
}

}  // namespace
