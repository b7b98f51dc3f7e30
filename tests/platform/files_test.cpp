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

// Several entries of a folder may match a component ignoring case; only one of them need hold the rest
// of the path, and it may be neither the exact spelling nor the first one listed.
TEST_F(FilesTest, CaseInsensitiveLookupTriesEveryMatchingFolder) {
    struct Case {
        const char* holding; // the folder that holds page.cmml
        const char* empty;   // a folder beside it with the same name ignoring case
        const char* asked;
    };
    const Case cases[] = {
        {"usr", "Usr", "USR"}, // "Usr" sorts and is often listed first
        {"Usr", "usr", "usr"}, // the exact spelling exists but does not hold the file
        {"uSr", "USR", "Usr"}, // neither is the exact spelling
    };
    for (const Case& c : cases) {
        std::string e = dir + "/e-" + c.holding;
        std::filesystem::create_directories(e + "/" + c.holding + "/pages");
        std::filesystem::create_directories(e + "/" + c.empty + "/pages");
        std::ofstream(e + "/" + c.holding + "/pages/page.cmml") << "page";
        std::string asked = e + "/" + c.asked + "/PAGES/page.cmml";
        EXPECT_EQ(FindExistingPath(asked), e + "/" + c.holding + "/pages/page.cmml") << c.asked;
        std::string contents;
        EXPECT_TRUE(ReadWholeFile(asked, contents) && contents == "page") << c.asked;
        EXPECT_FALSE(FileExists(e + "/" + c.asked + "/pages/other.cmml")) << c.asked;
    }
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

// Saving through a symbolic link (one in another folder, found ignoring case) writes the file it points
// to and keeps the link; the temporary file is made and renamed beside the real file.
TEST_F(FilesTest, AtomicWriteThroughASymlinkWritesItsTarget) {
    std::filesystem::create_directories(dir + "/Links");
    std::string real = dir + "/Kernel/real.txt";
    std::ofstream(real) << "old";
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink("../Kernel/real.txt", dir + "/Links/Page.txt");
    ASSERT_TRUE(WriteFileAtomic(dir + "/links/page.TXT", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/Links/Page.txt"));
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(real, contents));
    EXPECT_EQ(contents, "new");
    struct stat st;
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(dir + "/Links"), 1u);
    EXPECT_EQ(entries(dir + "/Kernel"), 2u); // Images and real.txt, no leftover temporary file
}

// The system's paths are CP932 and the file system's names UTF-8: a CP932 path reaches the UTF-8 name,
// a UTF-8 path (from the OS itself) still works, and new files and folders get UTF-8 names.
TEST_F(FilesTest, Cp932PathsReachUtf8Names) {
    const std::string utf8 = "日本";
    const std::string sjis = "\x93\xfa\x96\x7b"; // 日本 in CP932
    std::filesystem::create_directories(dir + "/" + utf8);
    std::ofstream(dir + "/" + utf8 + "/Page.txt") << "page";
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(dir + "/" + sjis + "/page.TXT", contents) && contents == "page");
    EXPECT_TRUE(FileExists(dir + "/" + utf8 + "/page.txt"));
    EXPECT_TRUE(FolderExists(dir + "\\" + sjis));
    EXPECT_EQ(FindExistingPath(dir + "/" + sjis + "/page.txt"), dir + "/" + utf8 + "/Page.txt");

    ASSERT_TRUE(WriteFileAtomic(dir + "/" + sjis + "/" + sjis + ".txt", "new"));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + utf8 + "/" + utf8 + ".txt"));
    ASSERT_TRUE(CreateFolders(dir + "/" + sjis + "/sub/" + sjis));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/" + utf8 + "/sub/" + utf8));

    EXPECT_EQ(SystemPathFromOs("/tmp/" + utf8 + "/a.plimo"), "/tmp/" + sjis + "/a.plimo");
    EXPECT_EQ(SystemPathFromOs("/tmp/ascii"), "/tmp/ascii");
    EXPECT_EQ(SystemPathFromOs("/tmp/caf\xC3\xA9"), "/tmp/caf\xC3\xA9"); // CP932 has no é: kept as it is
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
