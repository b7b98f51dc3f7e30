// Start-up against test kernels: the order of the steps, a kernel class that fails to compile, and a
// native that a kernel class does not declare. The compiler is a stand-in that understands only
// "extends NAME;" and "native NAME;" lines, so these tests see start-up and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "classes/core_natives.h"
#include "classes/rtti.h"
#include "core/errors.h"
#include "platform/text.h"
#include "resources/boot.h"
#include "services/string_natives.h"

namespace plimo {
namespace {

namespace fs = std::filesystem;

// Declares what the source's lines say; a source containing "@error" fails like a syntax error.
bool StandInCompile(TRTTI& cls, std::string_view source, bool report, TReporter& reporter,
                    TResourceSystem& res) {
    std::string text(source);
    if (text.find("@error") != std::string::npos) {
        if (report) reporter.ReportError(SysText("文法エラー:").sjis() + cls.src, cls.src, 0);
        cls.failed = true;
        return true;
    }
    std::smatch m;
    std::string rest = text;
    static const std::regex extendsLine(R"(extends\s+([\w.]+)\s*;)");
    if (std::regex_search(text, m, extendsLine))
        cls.superclass = dynamic_cast<TRTTI*>(res.Resolve(m[1].str()));
    cls.InheritMembers();
    cls.InheritMethods();
    static const std::regex nativeLine(R"(native\s+(\w+)\s*;)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), nativeLine); it != std::sregex_iterator();
         ++it)
        cls.AddMethod(std::make_unique<TNativeFunction>(&cls, SymbolOf((*it)[1].str())));
    if (cls.name == "String") cls.MemberSlot("_body");
    if (cls.name == "Array") cls.MemberSlot("_x");
    cls.compiled = true;
    cls.failed = false;
    return false;
}

class Boot : public ::testing::Test {
protected:
    Boot() {
        folder =
            fs::temp_directory_path() / ("plimo_boot_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder / "kernel" / "classes");
    }
    ~Boot() override { fs::remove_all(folder); }

    void Write(const std::string& rel, const std::string& text) {
        std::ofstream(folder / "kernel" / rel) << text;
    }

    // A kernel of the four language classes; the sources are the names of the natives each declares.
    void WriteKernel(const std::string& objectExtra = "", const std::string& arrayExtra = "") {
        Write("resource.plimores", "<resourcelist name=\"kernel\">\n"
                                   " <resourcelist name=\"classes\"><resourcelist name=\"lang\">\n"
                                   "  <class name=\"Object\" src=\"classes/Object.plimo\"/>\n"
                                   "  <class name=\"String\" src=\"classes/String.plimo\"/>\n"
                                   "  <class name=\"Array\" src=\"classes/Array.plimo\"/>\n"
                                   "  <class name=\"Process\" src=\"classes/Process.plimo\"/>\n"
                                   " </resourcelist></resourcelist>\n"
                                   " <resourcelist name=\"usrglobal\"></resourcelist>\n"
                                   "</resourcelist>\n");
        auto declare = [](std::span<const TNativeEntry> table, const std::string& skip) {
            std::string s;
            for (const TNativeEntry& e : table)
                if (skip != e.name) s += std::string("native ") + e.name + ";\n";
            return s;
        };
        Write("classes/Object.plimo", declare(ObjectNatives(), "getkey") + objectExtra);
        Write("classes/String.plimo", "extends classes.lang.Object;\n" + declare(StringNatives(), ""));
        Write("classes/Array.plimo",
              "extends classes.lang.Object;\n" + declare(ArrayNatives(), "") + arrayExtra);
        Write("classes/Process.plimo", "extends classes.lang.Object;\n" + declare(ProcessNatives(), ""));
    }

    std::unique_ptr<TPlimoSystem> MakeSystem() {
        auto system = std::make_unique<TPlimoSystem>(reporter, TCompileFn{}, std::size_t(1) << 28);
        TPlimoSystem* s = system.get();
        system->compile = [this, s](TRTTI& cls, std::string_view source, bool report) {
            return StandInCompile(cls, source, report, reporter, s->resources);
        };
        return system;
    }

    std::vector<std::string> MessagesUtf8() const {
        std::vector<std::string> out;
        for (const std::string& m : reporter.messages) out.push_back(SjisToUtf8(m));
        return out;
    }

    fs::path folder;
    TCapturingReporter reporter;
};

TEST_F(Boot, LoadsCompilesAndBindsTheKernel) {
    WriteKernel();
    auto system = MakeSystem();
    system->Boot((folder / "kernel").string());
    EXPECT_EQ(system->resources.programFolder, folder.string());
    ASSERT_NE(system->vm.objectClass, nullptr);
    ASSERT_NE(system->vm.stringClass, nullptr);
    ASSERT_NE(system->vm.arrayClass, nullptr);
    EXPECT_EQ(system->vm.arrayBodySlot, 0);
    EXPECT_TRUE(system->vm.stringClass->compiled);
    // The binding reached every declared native.
    auto* print = static_cast<TNativeFunction*>(system->vm.objectClass->FindMethodByName("print"));
    ASSERT_NE(print, nullptr);
    EXPECT_NE(print->proc, &TNativeFunction::Unbound);
    std::vector<std::string> expectedOrder = {
        "Welcome to Plimo System Ver 1.15", "Starting System..",
        "Loading Enviroment Values",        "Loading Modules..",
        "Loading Kernel Resources..",       "Compiling Kernel Resources..",
        "Setting Native Interfaces..",      "Ready"};
    std::size_t at = 0;
    for (const std::string& line : reporter.progress)
        if (at < expectedOrder.size() && line == expectedOrder[at]) ++at;
    EXPECT_EQ(at, expectedOrder.size()) << "start-up lines out of order";
}

TEST_F(Boot, AnUndeclaredNativeIsReportedOnceAndStartUpGoesOn) {
    WriteKernel();
    auto system = MakeSystem();
    system->Boot((folder / "kernel").string());
    // Object.plimo above leaves out getkey.
    EXPECT_EQ(MessagesUtf8(), std::vector<std::string>{"クラスObjectのnative関数getkeyは未定義です"});
    EXPECT_EQ(reporter.progress.back(), "Ready");
}

TEST_F(Boot, AKernelClassThatFailsToCompileStopsStartUp) {
    WriteKernel("", "@error\n");
    auto system = MakeSystem();
    try {
        system->Boot((folder / "kernel").string());
        FAIL() << "start-up went on";
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(SjisToUtf8(e.text()), "初期化に失敗しました");
    }
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(SjisToUtf8(reporter.errors[0].text).rfind("文法エラー:", 0), 0u);
    // The other classes of the pass were still compiled.
    EXPECT_TRUE(system->vm.stringClass->compiled);
    EXPECT_FALSE(system->vm.arrayClass->compiled);
    EXPECT_EQ(SjisToUtf8(reporter.progress.back()), "初期化に失敗しました");
}

TEST_F(Boot, AMissingKernelFileEndsStartUp) {
    auto system = MakeSystem();
    EXPECT_THROW(system->Boot((folder / "nowhere").string()), EInOutError);
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_NE(SjisToUtf8(reporter.messages[0]).find("が見つかりません"), std::string::npos);
}

TEST_F(Boot, AMissingClassSourceEndsStartUp) {
    WriteKernel();
    fs::remove(folder / "kernel" / "classes" / "Process.plimo");
    auto system = MakeSystem();
    EXPECT_THROW(system->Boot((folder / "kernel").string()), EInOutError);
    EXPECT_NE(SjisToUtf8(reporter.messages.back()).find("Process.plimo"), std::string::npos);
}

TEST(KernelFolder, IsFoundInTheSourceTreeWhenNotBesideTheProgram) {
    std::string k = FindKernelFolder();
    EXPECT_TRUE(fs::exists(fs::path(k) / "resource.plimores")) << k;
}

} // namespace
} // namespace plimo

namespace plimo {
namespace {

// The kernel shipped with the program compiles with the real compiler, and every native it declares
// is one the host binds (no "は未定義です" message), and the other way round.
TEST(RealKernel, CompilesAndBindsWithoutMessages) {
    TCapturingReporter reporter;
    TPlimoSystem system(reporter, std::size_t(1) << 28);
    system.Boot(FindKernelFolder());
    for (const std::string& m : reporter.messages) ADD_FAILURE() << SjisToUtf8(m);
    auto* process = dynamic_cast<TRTTI*>(system.resources.Resolve("classes.lang.Process"));
    for (TRTTI* cls : {system.vm.objectClass, system.vm.stringClass, system.vm.arrayClass, process}) {
        ASSERT_NE(cls, nullptr);
        EXPECT_TRUE(cls->compiled) << cls->name;
        for (std::int32_t i = 0; i < cls->MethodCount(); ++i) {
            TFunction* f = cls->MethodAt(i);
            if (f->IsNative()) {
                EXPECT_NE(static_cast<TNativeFunction*>(f)->proc, &TNativeFunction::Unbound)
                    << cls->name << "." << f->GetName();
            }
        }
    }
}

} // namespace
} // namespace plimo
