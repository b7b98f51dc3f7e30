#include "platform/report.h"

#include <cstdio>
#include <gtest/gtest.h>

#include "platform/text.h"

namespace plimo {
namespace {

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string s;
    char buf[256];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, f)) s.append(buf, n);
    return s;
}

TEST(HeadlessReporter, WritesMessagesAsUtf8AndDropsProgress) {
    std::FILE* f = std::tmpfile();
    THeadlessReporter r(f);
    r.ReportProgress("Loading Kernel Resources..");
    r.ShowStatus("status");
    r.ReportMessage(Utf8ToSjis("初期化に失敗しました"));
    r.ReportError(Utf8ToSjis("文法エラー:"), "Usr/a.plimo", 12);
    EXPECT_EQ(ReadAll(f), "初期化に失敗しました\n文法エラー: (Usr/a.plimo:12)\n");
    std::fclose(f);
}

TEST(HeadlessReporter, VerboseKeepsProgressLines) {
    std::FILE* f = std::tmpfile();
    THeadlessReporter r(f, true);
    r.ReportProgress("Ready");
    EXPECT_EQ(ReadAll(f), "Ready\n");
    std::fclose(f);
}

TEST(CapturingReporter, RecordsErrorsAlsoAsMessages) {
    TCapturingReporter r;
    r.ReportError("x", "f", 3);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].position, 3);
    EXPECT_EQ(r.messages, std::vector<std::string>{"x"});
}

} // namespace
} // namespace plimo
