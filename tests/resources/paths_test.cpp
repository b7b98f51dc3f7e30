#include "resources/paths.h"

#include <gtest/gtest.h>

namespace plimo {
namespace {

struct PathCase {
    const char* a;
    const char* b;
    const char* expected;
};

TEST(Paths, ResolvePath) {
    const PathCase cases[] = {
        {"../k/b.plimo", "/g/usr/", "/g/k/b.plimo"},
        {"..\\k\\b.plimo", "/g/usr", "/g/k/b.plimo"}, // '\' from a stored file separates
        {"./a/./b", "/g", "/g/a/b"},
        {"/abs/x", "/g", "/abs/x"},
        {"\\abs\\x", "/g", "/abs/x"},
        {"x", "", ""},
        {"", "/g", ""},
        {"../../../x", "/g", "/x"}, // climbing past the root stays at the root
        {"..", "/a", "/"},          // ending at the root gives the root, not the empty path
        {".", "/", "/"},
        {"x.cmml", "/", "/x.cmml"},
        {"a//b/", "/g", "/g/a/b"},
        {"\x83\x5c.txt", "/g", "/g/\x83\x5c.txt"}, // a Shift-JIS trail byte 0x5C is no separator
    };
    for (const auto& c : cases) EXPECT_EQ(ResolvePath(c.a, c.b), c.expected) << c.a << " | " << c.b;
}

TEST(Paths, RelativePath) {
    const PathCase cases[] = {
        {"/g/usr/a.plimo", "/g/usr", "a.plimo"},
        {"/g/usr/a.plimo", "/g/usr/", "a.plimo"},
        {"/g/usr/a.plimo", "/g/x", "../usr/a.plimo"},
        {"/g/usr/a.plimo", "/y", "/g/usr/a.plimo"}, // nothing shared but the root
        {"/G/USR/a.plimo", "/g/usr", "a.plimo"},    // folders compare ignoring case
        {"rel/a.plimo", "/g", "rel/a.plimo"},
        {"/g/usr", "/g/usr", ""},
        {"/g/usr/a", "", "/g/usr/a"},
    };
    for (const auto& c : cases) EXPECT_EQ(RelativePath(c.a, c.b), c.expected) << c.a << " | " << c.b;
}

TEST(Paths, FolderPredicates) {
    EXPECT_TRUE(IsInside("/g/usr/a", "/g/usr"));
    EXPECT_TRUE(IsInside("/G/Usr/", "/g/usr"));
    EXPECT_FALSE(IsInside("/g/usrx", "/g/usr"));
    EXPECT_FALSE(IsInside("/g", "/g/usr"));
    EXPECT_TRUE(SameFolder("/g/Usr/", "/G/usr"));
    EXPECT_FALSE(SameFolder("/g/usr", "/g/us"));
    EXPECT_TRUE(IsAbsolutePath("/a"));
    EXPECT_TRUE(IsAbsolutePath("\\a"));
    EXPECT_FALSE(IsAbsolutePath("a/b"));
    EXPECT_FALSE(IsAbsolutePath(""));
}

TEST(Paths, FolderParts) {
    EXPECT_EQ(ParentFolder("/a/b"), "/a");
    EXPECT_EQ(ParentFolder("/a/b/"), "/a");
    EXPECT_EQ(ParentFolder("/a"), "");
    EXPECT_EQ(StripSlash("/a/b/"), "/a/b");
    EXPECT_EQ(StripSlash("/a/b"), "/a/b");
    EXPECT_EQ(BaseName("/g/usr/page.cmml"), "page");
    EXPECT_EQ(BaseName("a.tar.gz"), "a.tar");
    EXPECT_EQ(BaseName("\\g\\noext"), "noext");
    EXPECT_EQ(FolderOf("/g/usr/a.cmml"), "/g/usr");
    EXPECT_EQ(FolderOf("/x.cmml"), "/"); // a file in the root lies in "/", against which links resolve
    EXPECT_EQ(ResolvePath("k/b.plimo", FolderOf("\\x.cmml")), "/k/b.plimo");
    EXPECT_EQ(FolderOf("x.cmml"), "");
    EXPECT_EQ(CommonFolderOf("/g/usr/a", "/g/usr/b/c"), "/g/usr");
    EXPECT_EQ(CommonFolderOf("/g/usr", "/g/usr/b"), "/g/usr");
    EXPECT_EQ(CommonFolderOf("/g/usr/b", "/G/USR"), "/G/USR");
    EXPECT_EQ(CommonFolderOf("/g/a", "/h/b"), "");
    EXPECT_EQ(CommonFolderOf("", "/h/b"), "");
}

} // namespace
} // namespace plimo
