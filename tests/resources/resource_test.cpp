#include "resources/resource_system.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "classes/rtti.h"
#include "core/errors.h"
#include "core/vm_fixture.h"
#include "platform/files.h"
#include "platform/text.h"
#include "resources/paths.h"
#include "resources/sgml.h"
#include "resources/values.h"

namespace plimo {
namespace {

// Records the snippets the resource code runs instead of compiling them.
class RecordingRuntime : public TResourceRuntime {
public:
    bool Eval(std::string_view text, bool) override {
        snippets.emplace_back(text);
        return true;
    }
    void MarkValue(TValue& value) override { marked.push_back(&value); }
    void MakeScriptObject(TResource&, TValue& cell) override { AssignValue(cell, objectToHand); }

    std::vector<std::string> snippets;
    std::vector<TValue*> marked;
    TValue objectToHand = TValue::Null();
};

class ResourceTest : public testing::VmFixture {
protected:
    ResourceTest() {
        char pattern[] = "/tmp/plimo-res-XXXXXX";
        dir = ::mkdtemp(pattern);
        system.runtime = &runtime;
        system.programFolder = system.baseFolder = dir;
    }
    ~ResourceTest() override {
        ReleaseValue(runtime.objectToHand);
        std::filesystem::remove_all(dir);
    }

    void write(const std::string& rel, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir + "/" + rel).parent_path());
        std::ofstream(dir + "/" + rel, std::ios::binary) << text;
    }
    std::string read(const std::string& path) {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(path, text)) << path;
        return text;
    }
    void mount(const std::string& text) { system.root = system.ParseResourceText(text); }
    static std::string sjis(const char* utf8) { return Utf8ToSjis(utf8); }

    std::string dir;
    TCapturingReporter reporter;
    RecordingRuntime runtime;
    TResourceSystem system{reporter};
};

const char* kTree =
    "<resourcelist name=\"kernel\">"
    " <resourcelist name=\"classes\"><resourcelist name=\"lang\"></resourcelist></resourcelist>"
    " <resourcelist name=\"usr\"><resourcelist name=\"Classes\"></resourcelist>"
    "  <param name=\"title\" value=\"Shooter\"/></resourcelist>"
    " <resourcelist name=\"usrglobal\"></resourcelist>"
    "</resourcelist>";

TEST_F(ResourceTest, ResolveIgnoresCaseAndStopsAtMissingNames) {
    mount(kTree);
    TResource* root = system.root.get();
    EXPECT_EQ(root->Resolve(""), root);
    TResource* classes = root->Resolve("USR.classes");
    ASSERT_NE(classes, nullptr);
    EXPECT_EQ(classes->name, "Classes");
    EXPECT_EQ(root->Resolve("usr."), root->Resolve("usr"));
    EXPECT_EQ(root->Resolve("usr.nothing"), nullptr);
    EXPECT_EQ(root->Resolve("nothing.usr"), nullptr);
    EXPECT_EQ(root->Resolve("nothing"), nullptr);
    EXPECT_EQ(classes->FullPath(), "usr.Classes");
    EXPECT_EQ(root->FullPath(), "");
}

TEST_F(ResourceTest, ResolveFindsShortClassNamesAtTheRootOnly) {
    mount(kTree);
    auto boot = std::make_unique<TRTTI>("Boot", &system);
    TRTTI* raw = boot.get();
    system.Resolve("classes.lang")->AddChild(std::move(boot));
    EXPECT_EQ(system.Resolve("boot"), static_cast<TResource*>(raw));
    EXPECT_EQ(system.Resolve("classes.lang.Boot"), static_cast<TResource*>(raw));
    EXPECT_EQ(system.Resolve("usr.Boot"), nullptr);
}

TEST_F(ResourceTest, DollarNamesAreGlobalsMadeOnFirstUse) {
    mount(kTree);
    TResource* made = system.Resolve("$hiscore");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->FullPath(), "usrglobal.$hiscore");
    EXPECT_EQ(system.Resolve("$HiScore"), made);
    ASSERT_NE(made->VariableSlot(), nullptr);
    EXPECT_EQ(made->VariableSlot()->tag, vtUnset);
    EXPECT_EQ(made->VariableSlot()->asInt(), SymbolOf("$hiscore"));
    EXPECT_TRUE(vm.IsHeapCell(made->VariableSlot())); // compiled code may hold a reference to it
    EXPECT_EQ(system.Resolve("usr.$x"), nullptr);
    EXPECT_EQ(system.Resolve("usrglobal")->CreateIterator()->list->Count(), 1u);
    EXPECT_EQ(system.Resolve("plain"), nullptr);
}

TEST_F(ResourceTest, GlobalsNeedNoListAtTheRoot) {
    mount("<class name=\"Only\" src=\"only.plimo\">");
    TResource* g = system.Resolve("$x");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(system.Resolve("$x"), g);
    EXPECT_EQ(g->parent, system.usrglobal);
    system.root.reset();
    EXPECT_EQ(system.Resolve("$x"), nullptr);
}

TEST_F(ResourceTest, UniqueChildName) {
    struct Case {
        std::vector<const char*> names;
        const char* wanted;
        const char* expected;
    } cases[] = {
        {{"page", "page_3"}, "page", "page_4"},
        {{"mypage_7", "page"}, "page", "page_8"},
        {{"other"}, "page", "page"},
        {{"Page_2", "page_5"}, "PAGE_2", "PAGE_6"},
    };
    for (const auto& c : cases) {
        TResourceList list(&system);
        for (const char* n : c.names) {
            auto child = std::make_unique<TfParam>(&system);
            child->name = n;
            list.AddChild(std::move(child));
        }
        EXPECT_EQ(list.UniqueChildName(c.wanted), c.expected) << c.wanted;
    }
}

TEST_F(ResourceTest, ListPathsAndForEachGoInTreeOrder) {
    mount(kTree);
    TLines lines;
    system.root->ListPaths(lines, "");
    EXPECT_EQ(lines,
              (TLines{"<root>", "classes", "classes.lang", "usr", "usr.Classes", "usr.title", "usrglobal"}));
    struct Names : TResourceIterator {
        void Visit(TResource& r) override { seen.push_back(r.name); }
        std::vector<std::string> seen;
    } names;
    system.root->ForEach(names);
    EXPECT_EQ(names.seen, (std::vector<std::string>{"kernel", "classes", "lang", "usr", "Classes", "title",
                                                    "usrglobal"}));
}

TEST_F(ResourceTest, IteratorRemoveDestroysTheChildLastReturned) {
    mount("<resourcelist><param name=\"a\"/><param name=\"b\"/><param name=\"c\"/></resourcelist>");
    auto it = system.root->CreateIterator();
    ASSERT_TRUE(it);
    std::string seen;
    while (it->HasNext()) {
        TResource* r = it->Next();
        seen += r->name;
        if (r->name == "b") it->Remove();
    }
    EXPECT_EQ(seen, "abc");
    TLines lines;
    system.root->ListPaths(lines, "");
    EXPECT_EQ(lines, (TLines{"<root>", "a", "c"}));
    EXPECT_EQ(TfParam(&system).CreateIterator(), nullptr);
}

TEST_F(ResourceTest, ReadingTheTagTable) {
    mount("<classlist name=\"k\"><resourcelist name=\"empty\"/><bogus name=\"x\"/>"
          "<param name=\"p\" value=\"v\" src=\"data/p.txt\"/><globalvalue name=\"$g\" "
          "value=\"3\"></classlist>");
    auto* root = dynamic_cast<TResourceList*>(system.root.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "k");
    ASSERT_EQ(root->Count(), 3u); // the unknown tag makes no resource
    EXPECT_EQ(reporter.messages, (std::vector<std::string>{"bogus" + sjis("は不正なタグ名です")}));
    auto* empty = dynamic_cast<TResourceList*>(root->At(0));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Count(), 0u);
    auto* param = dynamic_cast<TfParam*>(root->At(1));
    ASSERT_NE(param, nullptr);
    EXPECT_EQ(param->value, "v");
    EXPECT_EQ(param->src, dir + "/data/p.txt"); // relative names resolve against the base folder
    auto* global = dynamic_cast<TGlobalValue*>(root->At(2));
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(global->valueText, "3");
    EXPECT_EQ(global->parent, root);
}

TEST_F(ResourceTest, ReadTextFileEndsEveryLineInCrLf) {
    struct Case {
        const char* stored;
        const char* read;
    } cases[] = {
        {"a\nb", "a\r\nb\r\n"}, {"a\r\nb\r\n", "a\r\nb\r\n"}, {"a\rb", "a\r\nb\r\n"}, {"", ""},
        {"\n\n", "\r\n\r\n"},
    };
    for (const auto& c : cases) {
        write("t.txt", c.stored);
        EXPECT_EQ(system.ReadTextFile(dir + "/t.txt"), c.read) << c.stored;
    }
    EXPECT_EQ(system.ReadTextFile(dir + "/T.TXT"), "\r\n\r\n");
    EXPECT_THROW(system.ReadTextFile(dir + "/missing.txt"), EInOutError);
    EXPECT_EQ(reporter.messages.back(), dir + "/missing.txt" + sjis("が見つかりません"));
}

TEST_F(ResourceTest, LinkedFilesResolveAgainstTheirOwnFolder) {
    write("a.cmml", "<resourcelist name=\"a\">\r\n <link src=\"sub\\SUB.cmml\">\r\n</resourcelist>\r\n");
    write(
        "sub/sub.cmml",
        "<resourcelist name=\"s\"><param name=\"p\" src=\"x.plimo\"/><class name=\"Ship\" src=\"ship.plimo\">"
        "<link src=\"../leaf.cmml\"></resourcelist>");
    write("leaf.cmml", "<resourcelist name=\"leaf\"></resourcelist>");
    system.baseFolder = "/elsewhere";
    system.root = system.LoadResourceFile(dir + "/a.cmml");
    ASSERT_TRUE(system.root);
    EXPECT_EQ(system.root->src, dir + "/a.cmml");
    TResource* sub = system.Resolve("s");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->src, dir + "/sub/SUB.cmml");
    EXPECT_EQ(system.Resolve("s.p")->src, dir + "/sub/x.plimo");
    EXPECT_EQ(system.Resolve("s.leaf")->src, dir + "/leaf.cmml");
    TResource* ship = system.Resolve("ship"); // found by its short name
    ASSERT_TRUE(dynamic_cast<TRTTI*>(ship));
    EXPECT_EQ(ship->src, dir + "/sub/ship.plimo");
    EXPECT_EQ(ship->FullPath(), "s.Ship");
}

TEST_F(ResourceTest, BrokenFilesAreReported) {
    write("loop.cmml", "<resourcelist name=\"l\"><link src=\"loop.cmml\"></resourcelist>");
    EXPECT_THROW(system.LoadResourceFile(dir + "/loop.cmml"), EInOutError);
    // A loop through a folder that links to its own parent names a new path at every turn.
    write("deep.cmml", "<resourcelist name=\"d\"><link src=\"again/deep.cmml\"></resourcelist>");
    ASSERT_EQ(::symlink(".", (dir + "/again").c_str()), 0);
    EXPECT_THROW(system.LoadResourceFile(dir + "/deep.cmml"), EInOutError);
    EXPECT_TRUE(reporter.messages.back().ends_with(sjis("循環参照があります")));
    write("empty.cmml", "no markup here\r\n");
    EXPECT_THROW(system.LoadResourceFile("empty.cmml"), EInOutError); // relative to the base folder
    write("a.cmml", "<resourcelist name=\"a\"><link src=\"gone.cmml\"></resourcelist>");
    EXPECT_THROW(system.LoadResourceFile(dir + "/a.cmml"), EInOutError);
    EXPECT_EQ(reporter.messages.back(), dir + "/gone.cmml" + sjis("が見つかりません"));
    // The cycle guard forgets a file once its read is over.
    write("ok.cmml", "<resourcelist name=\"ok\"></resourcelist>");
    EXPECT_TRUE(system.LoadResourceFile(dir + "/ok.cmml"));
    EXPECT_TRUE(system.LoadResourceFile(dir + "/ok.cmml"));
}

TEST_F(ResourceTest, WritersByteForByte) {
    mount("<resourcelist name=\"usr\"><param name=\"title\" value=\"Shooter\"/>"
          "<resourcelist name=\"usrglobal\"><globalvalue name=\"$n\"><globalvalue name=\"$f\">"
          "<globalvalue name=\"$s\"><globalvalue name=\"local\" value=\"7\"></resourcelist></resourcelist>");
    SetInt(*system.Resolve("$n")->VariableSlot(), 5);
    SetFloat(*system.Resolve("$f")->VariableSlot(), 1.5f);
    TValue s = Str("say \"50%\" <b>");
    AssignValue(*system.Resolve("$s")->VariableSlot(), s);
    ReleaseValue(s);
    TLines lines;
    system.root->SaveTo(lines, "");
    EXPECT_EQ(lines, (TLines{
                         "<resourcelist name=\"usr\">",
                         " <param name=\"title\" value=\"Shooter\"/>",
                         " <resourcelist name=\"usrglobal\">",
                         "  <globalvalue name=\"$n\" value=\"5\"/>",
                         "  <globalvalue name=\"$f\" value=\"\"/>",
                         "  <globalvalue name=\"$s\" value=\"%22say \\%2250%25\\%22 %3cb%3e%22\"/>",
                         "  <globalvalue name=\"local\" value=\"\"/>",
                         " </resourcelist>",
                         "</resourcelist>",
                     }));
    EXPECT_EQ(dynamic_cast<TGlobalValue*>(system.Resolve("$s"))->valueText, R"("say \"50%\" <b>")");
    // Reading the saved text gives back the same values.
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    auto reread = system.ParseResourceText(text);
    EXPECT_EQ(dynamic_cast<TGlobalValue*>(reread->Resolve("usrglobal.$s"))->valueText,
              R"("say \"50%\" <b>")");
    EXPECT_EQ(dynamic_cast<TGlobalValue*>(reread->Resolve("usrglobal.$n"))->valueText, "5");
}

TEST_F(ResourceTest, SaveResourceReplacesTheFileAtomically) {
    write("page.cmml", "<resourcelist name=\"page\"></resourcelist>\r\n");
    mount("<resourcelist name=\"root\"></resourcelist>");
    TResource* page = system.NewResource(dir + "/page.cmml", "usr", 3);
    ASSERT_NE(page, nullptr);
    auto param = std::make_unique<TfParam>(&system);
    param->name = "quote";
    param->value = "a\"b<c>%d";
    page->AddChild(std::move(param));
    ASSERT_TRUE(system.SaveResource("usr"));
    EXPECT_EQ(read(dir + "/page.cmml"), "<resourcelist name=\"usr\">\r\n <param name=\"quote\" "
                                        "value=\"a%22b%3cc%3e%25d\"/>\r\n</resourcelist>\r\n");
    std::size_t files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 1u); // the temporary file was renamed over the page
    auto reread = system.LoadResourceFile(dir + "/page.cmml");
    EXPECT_EQ(dynamic_cast<TfParam*>(reread->Resolve("quote"))->value, "a\"b<c>%d");

    EXPECT_FALSE(system.SaveResource("usr.quote"));
    EXPECT_EQ(reporter.messages.back(), "usr.quote" + sjis("は保存できません"));
    // A class's src is its source: saving it would write markup over the program.
    write("Ball.plimo", "extends classes.lang.Object;\r\n");
    ASSERT_TRUE(system.NewResource(dir + "/Ball.plimo", "usr.Ball", 2));
    EXPECT_FALSE(system.SaveResource("usr.Ball"));
    EXPECT_EQ(read(dir + "/Ball.plimo"), "extends classes.lang.Object;\r\n");
}

TEST_F(ResourceTest, NewAttachAndDeleteResources) {
    mount(kTree);
    TResource* page = system.NewResource("Usr/first.cmml", "usr.pages", 3); // folder made as well
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->FullPath(), "usr.pages");
    EXPECT_EQ(page->src, dir + "/Usr/first.cmml");
    EXPECT_EQ(read(dir + "/Usr/first.cmml"), "<resourcelist name=\"pages\">\r\n</resourcelist>\r\n");
    TResource* cls = system.NewResource("Usr/Ball.plimo", "usr.Classes.Ball", 2);
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->name, "Ball");
    EXPECT_EQ(cls->src, dir + "/Usr/Ball.plimo");
    EXPECT_EQ(read(dir + "/usr/ball.plimo"), "extends classes.lang.Object;\r\n");

    TResource* list = system.NewResource("", "usr.lists", 0);
    ASSERT_TRUE(dynamic_cast<TResourceList*>(list));
    EXPECT_TRUE(dynamic_cast<TGlobalValue*>(system.NewResource("", "usr.$v", 1)));
    EXPECT_EQ(system.NewResource("", "nowhere.x", 0), nullptr);
    EXPECT_EQ(system.NewResource("", "usr.title.x", 0), nullptr); // a parameter holds no children

    auto param = std::make_unique<TfParam>(&system);
    TResource* attached = system.AttachResource("usr.lists.p", std::move(param));
    ASSERT_NE(attached, nullptr);
    EXPECT_EQ(attached->name, "p");
    system.DeleteResource("usr.lists");
    EXPECT_EQ(system.Resolve("usr.lists"), nullptr);
    system.DeleteResource("usr.missing"); // nothing to do
}

TEST_F(ResourceTest, DeclaredGlobalsAreKeptInUsrGlobal) {
    mount(kTree);
    system.AttachToVm(vm);
    DeclareGlobal("$score", true);
    DeclareGlobal("$score", true);
    TLines lines;
    system.Resolve("usr.global")->ListPaths(lines, "g");
    EXPECT_EQ(lines, (TLines{"g", "g.$score"}));
    DeclareGlobal("$SCORE", false);
    lines.clear();
    system.Resolve("usr.global")->ListPaths(lines, "g");
    EXPECT_EQ(lines, (TLines{"g"}));
}

TEST_F(ResourceTest, CloneReadsBackWhatWasSaved) {
    mount(kTree);
    auto clone = system.Resolve("usr")->Clone();
    ASSERT_TRUE(clone);
    TLines a, b;
    system.Resolve("usr")->SaveTo(a, "");
    clone->SaveTo(b, "");
    EXPECT_EQ(a, b);
}

// A file name with a markup character in it comes back from a save as the same file.
TEST_F(ResourceTest, SavedClassFileNamesReadBackTheSame) {
    mount("<resourcelist name=\"usr\"><class name=\"Pct\" src=\"100%25 %22x%22.plimo\"/></resourcelist>");
    TResource* original = system.Resolve("Pct");
    ASSERT_TRUE(original);
    ASSERT_EQ(original->src, dir + "/100% \"x\".plimo");
    auto clone = system.root->Clone();
    ASSERT_TRUE(clone);
    TResource* cls = clone->FindChild("Pct");
    ASSERT_TRUE(cls);
    EXPECT_EQ(cls->src, dir + "/100% \"x\".plimo");
}

// A resource whose initialisation the test steers.
class Steered : public TResource {
public:
    Steered(TResourceSystem* s, int pendingPasses, bool fails)
        : TResource(s), m_left(pendingPasses), m_fails(fails) {}
    void InitStep(TInitContext& c) override {
        ++visits;
        if (m_fails)
            ++c.failed;
        else if (m_left < 0 || m_left-- > 0)
            ++c.pending;
        else
            ++c.done;
    }
    int visits = 0;

private:
    int m_left;
    bool m_fails;
};

TEST_F(ResourceTest, InitializeRunsPassesUntilNothingIsPending) {
    mount("<resourcelist><param name=\"a\"/><resourcelist name=\"b\"></resourcelist>"
          "<globalvalue name=\"$g\" value=\"12\"></resourcelist>");
    EXPECT_TRUE(system.root->Initialize());
    EXPECT_EQ(runtime.snippets, (std::vector<std::string>{"$g=12;"}));

    auto* root = dynamic_cast<TResourceList*>(system.root.get());
    auto later = std::make_unique<Steered>(&system, 1, false);
    Steered* raw = later.get();
    root->AddChild(std::move(later));
    EXPECT_TRUE(root->Initialize());
    EXPECT_EQ(raw->visits, 2); // pending in the first pass, done in the second

    root->AddChild(std::make_unique<Steered>(&system, -1, false));
    try {
        root->Initialize();
        FAIL();
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(e.text(), sjis("循環参照があります"));
    }
    auto failing = std::make_unique<Steered>(&system, 0, true);
    root->AddChild(std::move(failing));
    try {
        root->Initialize();
        FAIL();
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(e.text(), sjis("初期化に失敗しました"));
    }
    EXPECT_EQ(reporter.progress.back(), sjis("初期化に失敗しました"));
}

TEST_F(ResourceTest, ScriptObjectsAreMadeOnceAndToldOfTheEnd) {
    mount(kTree);
    runtime.objectToHand = Str("stand-in");
    TResource* usr = system.Resolve("usr");
    TValue* object = usr->ScriptObject();
    EXPECT_EQ(object, &usr->scriptValue);
    EXPECT_EQ(ObjectOf(*object), ObjectOf(runtime.objectToHand));
    EXPECT_EQ(ObjectOf(*object)->refCount, 2);

    usr->MarkValues();
    EXPECT_FALSE(runtime.marked.empty());
    system.DeleteResource("usr");
    EXPECT_EQ(runtime.snippets, (std::vector<std::string>{"$_1.onDestroy();"}));
    TValue* one = system.Resolve("$_1")->VariableSlot();
    EXPECT_EQ(ObjectOf(*one), ObjectOf(runtime.objectToHand));
    SetNull(*one);
    EXPECT_EQ(ObjectOf(runtime.objectToHand)->refCount, 1);
}

TEST_F(ResourceTest, DeepListsAreCutOffInsteadOfOverflowing) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "<resourcelist name=\"l\">";
    system.root = system.ParseResourceText(text);
    TLines lines;
    system.root->ListPaths(lines, "");
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(TResourceList::kMaxDepth) + 1);
}

} // namespace
} // namespace plimo
