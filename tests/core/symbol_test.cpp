// The symbol table and the member-name list with its hinted lookup.
#include <gtest/gtest.h>

#include "core/symbols.h"
#include "core/vm.h"

namespace plimo {
namespace {

TEST(Symbols, FixedNamesComeFirst) {
    TVm vm(std::size_t(1) << 24);
    EXPECT_EQ(SymbolLookup("_body"), kSymBody);
    EXPECT_EQ(SymbolLookup("gc_mark"), kSymGcMark);
    EXPECT_EQ(SymbolLookup("_generator"), kSymGenerator);
    EXPECT_EQ(SymbolLookup("_errorHook"), kSymErrorHook);
    EXPECT_EQ(SymbolOf("first"), 4) << "ids follow the order of first use";
    EXPECT_EQ(SymbolOf("second"), 5);
}

TEST(Symbols, CaseInsensitiveKeepingTheFirstSpelling) {
    TVm vm(std::size_t(1) << 24);
    std::int32_t id = SymbolOf("moveTo");
    EXPECT_EQ(SymbolOf("MOVETO"), id);
    EXPECT_EQ(SymbolOf("moveto"), id);
    EXPECT_EQ(SymbolName(id), "moveTo");
    EXPECT_EQ(SymbolName(-1), "");
    EXPECT_EQ(SymbolName(100000), "");
    EXPECT_EQ(SymbolLookup("neverSeen"), -1);
    EXPECT_EQ(SymbolLookup("neverSeen"), -1) << "a lookup enters nothing";
}

TEST(Symbols, TrailBytesAreNotFolded) {
    TVm vm(std::size_t(1) << 24);
    // 0x83 0x41 and 0x83 0x61 are two different katakana; their trail bytes are "A" and "a".
    EXPECT_NE(SymbolOf("\x83\x41"), SymbolOf("\x83\x61"));
    // Letters after a double-byte character still fold.
    EXPECT_EQ(SymbolOf("\x83\x41x"), SymbolOf("\x83\x41X"));
}

TEST(Symbols, EachVmHasItsOwnTable) {
    std::int32_t id;
    {
        TVm vm(std::size_t(1) << 24);
        SymbolOf("a");
        id = SymbolOf("b");
    }
    TVm vm(std::size_t(1) << 24);
    EXPECT_NE(SymbolOf("b"), id);
}

TEST(RapidStringList, FindWithHint) {
    TVm vm(std::size_t(1) << 24);
    TRapidStringList list;
    for (const char* n : {"x", "y", "z", "y"}) list.Add(n);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.NameAt(2), "z");
    std::int32_t y = SymbolOf("y");

    std::int32_t hint = -1;
    EXPECT_EQ(list.Find(y, hint), 3) << "the scan runs from the last entry down";
    EXPECT_EQ(hint, 3);
    hint = 1;
    EXPECT_EQ(list.Find(y, hint), 1) << "a hint that hits is kept";
    EXPECT_EQ(hint, 1);
    hint = 0;
    EXPECT_EQ(list.Find(SymbolOf("z"), hint), 2);
    EXPECT_EQ(hint, 2);
    hint = 99;
    EXPECT_EQ(list.Find(SymbolOf("x"), hint), 0) << "an out-of-range hint is ignored";
    hint = 2;
    EXPECT_EQ(list.Find(SymbolOf("w"), hint), -1);
    EXPECT_EQ(hint, -1);
    list.Clear();
    EXPECT_EQ(list.Find(y), -1);
}

} // namespace
} // namespace plimo
