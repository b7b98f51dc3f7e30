#include "resources/sgml.h"

#include <gtest/gtest.h>

#include "platform/report.h"

namespace plimo {
namespace {

std::unique_ptr<TSGML> scan(std::string_view text) {
    std::size_t pos = 0;
    return TSGML::Scan(text, pos);
}

std::unique_ptr<TSGML> parse(std::string_view text, TReporter* reporter = nullptr) {
    std::size_t pos = 0;
    return TSGML::Parse(text, pos, reporter);
}

using Reader = std::unique_ptr<TSGML> (*)(std::string_view);
std::unique_ptr<TSGML> parseQuiet(std::string_view text) {
    return parse(text);
}

class BothReaders : public ::testing::TestWithParam<Reader> {};

TEST_P(BothReaders, EmptyTagsAreSiblingsNotContainers) {
    auto root =
        GetParam()("<resourcelist name=\"usr\"><class src=\"a.plimo\"><globalvalue name=\"$x\" value=\"1\">"
                   "</resourcelist>");
    ASSERT_TRUE(root && root->SubItems());
    ASSERT_EQ(root->SubItems()->size(), 2u);
    const TSGML& cls = *(*root->SubItems())[0];
    EXPECT_EQ(cls.GetTagName(), "class");
    EXPECT_EQ(cls.SubItems(), nullptr);
    EXPECT_EQ((*root->SubItems())[1]->GetTagName(), "globalvalue");
    EXPECT_EQ((*root->SubItems())[1]->GetAttr("VALUE"), "1");
}

TEST_P(BothReaders, PresentVersusAbsentChildrenList) {
    auto list = GetParam()("<resourcelist name=\"x\"></resourcelist>");
    ASSERT_NE(list->SubItems(), nullptr);
    EXPECT_TRUE(list->SubItems()->empty());
    auto param = GetParam()("<param name=\"a\" value=\"b\"/>");
    EXPECT_EQ(param->SubItems(), nullptr);
    EXPECT_EQ(param->GetAttr("name"), "a");
    EXPECT_EQ(param->GetAttr("value"), "b");
}

TEST_P(BothReaders, WrongClosingTagClosesTheOpenContainer) {
    auto root = GetParam()("<a><b></wrong><c/></a>");
    ASSERT_EQ(root->SubItems()->size(), 2u);
    EXPECT_EQ((*root->SubItems())[0]->GetTagName(), "b");
    EXPECT_EQ((*root->SubItems())[1]->GetTagName(), "c");
}

INSTANTIATE_TEST_SUITE_P(Readers, BothReaders, ::testing::Values<Reader>(scan, parseQuiet));

TEST(SgmlScan, DocumentExample) {
    auto root = scan("<resourcelist name=\"usr\">\r\n <class name=\"Ball\" src=\"Ball.plimo\"/>\r\n"
                     " <globalvalue name=\"$score\" value=\"0\"/>\r\n <resourcelist name=\"gen\">\r\n"
                     " </resourcelist>\r\n</resourcelist>\r\n");
    ASSERT_EQ(root->SubItems()->size(), 3u);
    const TSGML& gen = *(*root->SubItems())[2];
    EXPECT_EQ(gen.GetAttr("name"), "gen");
    ASSERT_NE(gen.SubItems(), nullptr);
    EXPECT_TRUE(gen.SubItems()->empty());
}

TEST(SgmlScan, TextAroundTheRootAndASecondRootAreIgnored) {
    std::string text = "junk < a x = \"1\" ><b/>text</a> tail <second/>";
    std::size_t pos = 0;
    auto root = TSGML::Scan(text, pos);
    EXPECT_EQ(root->GetTagName(), "a");
    EXPECT_EQ(root->GetAttr("x"), "1");
    EXPECT_EQ(text.substr(pos), " tail <second/>");
}

TEST(SgmlScan, NoElementOrClosingTagGivesNone) {
    std::size_t pos = 0;
    EXPECT_EQ(TSGML::Scan("no tags here", pos), nullptr);
    EXPECT_EQ(pos, 12u);
    std::string closing = "  </x><a/>";
    pos = 0;
    EXPECT_EQ(TSGML::Scan(closing, pos), nullptr);
    EXPECT_EQ(pos, 2u);
}

TEST(SgmlScan, TruncatedTextsKeepWhatWasRead) {
    auto a = scan("<a x=\"1\" y=\"unterminated");
    EXPECT_EQ(a->GetTagName(), "a");
    EXPECT_EQ(a->AttrCount(), 1u);
    auto b = scan("<a><b x=\"1\"/>");
    ASSERT_EQ(b->SubItems()->size(), 1u);
    auto c = scan("<a x=\"%4");
    EXPECT_EQ(c->AttrCount(), 0u);
}

TEST(SgmlScan, NulEndsTheText) {
    std::string text("<a><b/>\0<c/></a>", 16);
    auto root = scan(text);
    EXPECT_EQ(root->SubItems()->size(), 1u);
}

struct DecodeCase {
    const char* stored;
    const char* scanned;
    const char* parsed;
};

TEST(SgmlReaders, DecodeValues) {
    const DecodeCase cases[] = {
        {"a%3cb%25c", "a<b%c", "a<b%c"},
        {"%2522", "%22", "\""},
        {"%3C%3E", "<>", "%3C%3E"}, // the pattern reader knows only the lower-case forms
        {"x%zzy", std::string_view("x\0y", 3).data(), "x%zzy"},
        {"plain text", "plain text", "plain text"},
    };
    for (const auto& c : cases) {
        std::string text = std::string("<p v=\"") + c.stored + "\"/>";
        EXPECT_EQ(scan(text)->GetAttr("v"),
                  (std::string_view(c.stored) == "x%zzy" ? std::string("x\0y", 3) : std::string(c.scanned)))
            << c.stored;
        EXPECT_EQ(parse(text)->GetAttr("v"), c.parsed) << c.stored;
    }
}

TEST(SgmlParse, ErrorsAndMessages) {
    EXPECT_THROW(parse("no tag"), ETagError);
    EXPECT_THROW(parse("<unclosed"), ETagError);
    TCapturingReporter reporter;
    auto root = parse("<a><b>rest", &reporter);
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_EQ(reporter.messages[0], "invalid Tag : rest");
    EXPECT_EQ(root->SubItems()->size(), 1u);
}

TEST(SgmlParse, LongTextsReportProgress) {
    TCapturingReporter reporter;
    std::string text = "<a>" + std::string(120, ' ') + "</a>";
    parse(text, &reporter);
    EXPECT_EQ(reporter.progress, (std::vector<std::string>{"sgml.create", "/sgml.create"}));
    reporter.progress.clear();
    parse("<a/>", &reporter);
    EXPECT_TRUE(reporter.progress.empty());
}

TEST(SgmlParse, AttributesNeedTheExactForm) {
    auto e = parse("<gen name=\"a\" x = \"1\" src=\"s\" name=\"b\"/>");
    EXPECT_EQ(e->AttrCount(), 2u); // "x = ..." is no pair; the second name replaces the first
    EXPECT_EQ(e->AttrName(0), "src");
    EXPECT_EQ(e->GetAttr("name"), "b");
}

TEST(SgmlAttributes, SetAttrMovesTheLineToTheEnd) {
    TSGML e;
    e.SetAttr("name", "a");
    e.SetAttr("src", "s");
    e.SetAttr("name", "b");
    EXPECT_EQ(e.AttrLines(), (std::vector<std::string>{"src=s", "name=b"}));
    e.SetAttr("NAME", "c"); // exact-case replacement only; lookup ignores case and takes the first
    EXPECT_EQ(e.AttrCount(), 3u);
    EXPECT_EQ(e.GetAttr("Name"), "b");
    EXPECT_EQ(e.GetAttr("missing"), "");
    EXPECT_EQ(e.AttrName(7), "");
}

TEST(SgmlEscape, EscapeAndUnescape) {
    EXPECT_EQ(TSGML::EscapeValue("50% <b>"), "50%25 %3cb%3e");
    EXPECT_EQ(TSGML::UnescapeValue("50%25 %3cb%3e"), "50% <b>");
    EXPECT_EQ(TSGML::EscapeValue(""), "");
    EXPECT_EQ(TSGML::EscapeValue("say \"hi\""), "say %22hi%22");
    EXPECT_EQ(TSGML::UnescapeValue("%253c"), "%3c"); // one decoding step per call
    for (std::string v : {"a\"b<c>d%e", "%%22%3c",
                          "\x83\x5c"
                          "abc",
                          ""}) {
        EXPECT_EQ(TSGML::UnescapeValue(TSGML::EscapeValue(v)), v);
        auto e = scan("<p v=\"" + TSGML::EscapeValue(v) + "\"/>");
        EXPECT_EQ(e->GetAttr("v"), v);
    }
}

TEST(SgmlWrite, ToTextByteForByte) {
    TSGML a;
    a.SetTagName("a");
    auto b = std::make_unique<TSGML>();
    b->SetTagName("b");
    auto c = std::make_unique<TSGML>();
    c->SetTagName("c");
    c->SetAttr("name", "n");
    c->SetAttr("value", "");
    a.AddSubItem(std::move(b));
    a.AddSubItem(std::move(c));
    EXPECT_EQ(a.ToText(), "<a>\r\n <b/> <c name=\"n\"/></a>");

    auto nested = scan("<x k=\"1\"><y><z/></y><w></w></x>");
    EXPECT_EQ(nested->ToText("  "), "  <x k=\"1\">\r\n   <y>\r\n    <z/>   </y>   <w/>  </x>");
    auto empty = scan(nested->ToText());
    EXPECT_EQ(empty->GetAttr("value"), "");
}

TEST(SgmlReaders, DeepNestingNeedsNoStack) {
    const int depth = 200000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>";
    auto scanned = scan(text);
    ASSERT_TRUE(scanned);
    auto parsed = parse(text);
    ASSERT_TRUE(parsed);
    // The writer's output grows with the square of the depth (one blank more per level).
    auto written = scan(text.substr(0, 3 * 2000));
    std::size_t expected = 1999 + 4; // the innermost <a/>
    for (std::size_t level = 0; level < 1999; ++level) expected += 2 * level + 9;
    EXPECT_EQ(written->ToText().size(), expected);
}

} // namespace
} // namespace plimo
