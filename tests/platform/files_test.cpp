#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace plimo {
namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/plimo-files-XXXXXX";
        dir = ::mkdtemp(pattern);
        std::filesystem::create_directories(dir + "/Kernel/Images");
        std::ofstream(dir + "/Kernel/Images/Banner.BMP") << "bmp";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::size_t entries(const std::string& folder) {
        std::size_t n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folder)) ++n;
        return n;
    }
    std::string dir;
};

TEST_F(FilesTest, CaseInsensitiveLookupPerComponent) {
    EXPECT_EQ(FindExistingPath(dir + "/kernel/images/banner.bmp"), dir + "/Kernel/Images/Banner.BMP");
    EXPECT_EQ(FindExistingPath(dir + "\\KERNEL\\Images\\banner.bmp"), dir + "/Kernel/Images/Banner.BMP");
    EXPECT_EQ(FindExistingPath(dir + "/kernel/missing.bmp"), "");
    EXPECT_TRUE(FileExists(dir + "/kernel/images/BANNER.bmp"));
    EXPECT_FALSE(FileExists(dir + "/kernel/images"));
    EXPECT_TRUE(FolderExists(dir + "/KERNEL/images/"));
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(dir + "/kernel/images/banner.bmp", contents));
    EXPECT_EQ(contents, "bmp");
}

TEST_F(FilesTest, AtomicWriteReplacesTheMatchingFile) {
    ASSERT_TRUE(WriteFileAtomic(dir + "/kernel/images/banner.bmp", "new"));
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(dir + "/Kernel/Images/Banner.BMP", contents));
    EXPECT_EQ(contents, "new");
    EXPECT_EQ(entries(dir + "/Kernel/Images"), 1u); // no leftover temporary file, no second spelling
    // A new file lands in the existing folder whatever the folder's spelling.
    ASSERT_TRUE(WriteFileAtomic(dir + "/KERNEL/new.txt", "x"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/Kernel/new.txt"));
    struct stat st;
    ASSERT_EQ(::stat((dir + "/Kernel/new.txt").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0444, 0u);
    EXPECT_FALSE(WriteFileAtomic(dir + "/nofolder/x.txt", "x"));
}

TEST_F(FilesTest, AFailedWriteLeavesTheOldFile) {
    std::string target = dir + "/Kernel/keep.txt";
    std::ofstream(target) << "old";
    ::chmod((dir + "/Kernel").c_str(), 0500); // the temporary file cannot be made
    bool written = WriteFileAtomic(target, "new");
    ::chmod((dir + "/Kernel").c_str(), 0700);
    if (::geteuid() != 0) {
        EXPECT_FALSE(written);
    }
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(target, contents));
    EXPECT_EQ(contents, written ? "new" : "old");
}

TEST_F(FilesTest, CreateFoldersReusesExistingSpelling) {
    ASSERT_TRUE(CreateFolders(dir + "/kernel/Temp/sub"));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/Kernel/Temp/sub"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/kernel"));
}

TEST(TextCompare, IgnoresAsciiCaseOnly) {
    EXPECT_TRUE(SameText("Kernel", "kERNEL"));
    EXPECT_FALSE(SameText("a", "ab"));
    // 0x83 0x41 and 0x83 0x61 are different double-byte characters.
    EXPECT_FALSE(SameText("\x83\x41", "\x83\x61"));
    EXPECT_EQ(LowerText("AB\x83\x41"
                        "C"),
              "ab\x83\x41"
              "c");
    EXPECT_EQ(NormalizeSeparators("a\\b\x83\x5c"), "a/b\x83\x5c");
}

} // namespace
} // namespace plimo
