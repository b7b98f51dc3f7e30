// Class metadata: instance pools and handle reuse, destruction order, slot inheritance, the method
// table with its use counts, the alias table and the life cycle of a class.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "classes/alias.h"
#include "classes/function.h"
#include "classes/rtti.h"
#include "core/errors.h"
#include "core/vm_fixture.h"
#include "platform/report.h"
#include "platform/text.h"
#include "resources/resource_system.h"

namespace plimo {
namespace {

// Stands in for the interpreter: records each short process and what the instance held at the time.
class RecordingRunner : public TMethodRunner {
public:
    struct Run {
        std::uint32_t handle;
        std::string method;
        std::string firstMember;
        std::int32_t count;
    };
    void RunShortProcess(TInstance& self, std::string_view method) override {
        runs.push_back(
            {InstanceHandle(&self), std::string(method), ValueToText(self.members()[0]), self.refCount});
        if (onRun) onRun(self);
    }
    std::vector<Run> runs;
    std::function<void(TInstance&)> onRun;
};

class RttiTest : public testing::VmFixture {
protected:
    RttiTest() { vm.methodRunner = &runner; }

    std::unique_ptr<TRTTI> ClassWithDestructor(const std::string& name) {
        auto cls = MakeClass(name, {"x", "y"});
        cls->DefineMethod(std::make_unique<TDestructor>(cls.get(), SymbolOf("destructor")));
        return cls;
    }

    RecordingRunner runner;
};

TEST_F(RttiTest, NewInstanceStartsUnsetAndUncounted) {
    auto cls = MakeClass("Ball", {"x", "speed"});
    TInstance* b = cls->NewInstance();
    EXPECT_EQ(b->refCount, 0);
    EXPECT_EQ(b->mark, 0);
    EXPECT_EQ(InstanceClass(b), cls.get());
    EXPECT_EQ(cls->blockSize, 12 + 8 * 2);
    EXPECT_EQ(b->members()[1].tag, vtUnset);
    EXPECT_EQ(SjisToUtf8(ValueToText(b->members()[1])), "変数speed");
    EXPECT_EQ(cls->instancesMade, 1);
    EXPECT_EQ(vm.InstanceAt(InstanceHandle(b)), b);
    EXPECT_EQ(vm.LiveInstanceAt(InstanceHandle(b)), b);
}

TEST_F(RttiTest, ReleasedBlockIsReusedAfterItsDestructorRuns) {
    auto cls = ClassWithDestructor("Enemy");
    TValue held = Obj(cls->NewInstance());
    std::uint32_t handle = held.bits;
    TValue friendObj = Obj(cls->NewInstance());
    AssignValue(ObjectOf(held)->members()[0], friendObj); // held.x = friend
    ASSERT_EQ(ObjectOf(friendObj)->refCount, 2);

    SetNull(held); // count 0: nothing destroyed yet
    EXPECT_TRUE(runner.runs.empty());
    EXPECT_EQ(ObjectOf(friendObj)->refCount, 2) << "members stay intact at count 0";

    TInstance* again = cls->NewInstance();
    EXPECT_EQ(InstanceHandle(again), handle) << "the first free block of the pool is taken";
    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].method, "destructor");
    EXPECT_EQ(runner.runs[0].handle, handle);
    EXPECT_EQ(runner.runs[0].firstMember, ValueToText(friendObj)) << "the destructor sees the old members";
    EXPECT_EQ(ObjectOf(friendObj)->refCount, 1) << "then the old members were released";
    EXPECT_EQ(again->members()[0].tag, vtUnset);
    EXPECT_EQ(cls->Pool().size(), 2u);

    TValue againHeld = Obj(again);
    TInstance* third = cls->NewInstance(); // no free block: the pool grows
    EXPECT_EQ(cls->Pool().size(), 3u);
    EXPECT_EQ(third->refCount, 0);
    EXPECT_EQ(runner.runs.size(), 1u) << "a fresh block has nothing to destroy";
    ReleaseValue(againHeld);
    ReleaseValue(friendObj);
}

TEST_F(RttiTest, DestructorCreatingAnInstanceDoesNotTakeTheBlockBeingDestroyed) {
    auto cls = ClassWithDestructor("Spawner");
    TInstance* first = cls->NewInstance(); // count 0, never stored
    std::vector<TInstance*> madeInside;
    runner.onRun = [&](TInstance&) {
        if (madeInside.empty()) madeInside.push_back(cls->NewInstance());
    };
    TInstance* second = cls->NewInstance();
    EXPECT_EQ(second, first);
    ASSERT_EQ(madeInside.size(), 1u);
    EXPECT_NE(madeInside[0], first);
    EXPECT_EQ(runner.runs.size(), 1u) << "the destructor ran once";

    // A destructor that creates instances while the class destroys its pool: the walk over the pool
    // survives the pool growing under it (run under the sanitizers to see the difference).
    runner.onRun = [&](TInstance&) { cls->NewInstance(); };
    TValue held = Obj(second);
    std::size_t before = cls->Pool().size();
    cls->ReleaseObjects();
    EXPECT_GT(runner.runs.size(), before);
    EXPECT_GT(cls->Pool().size(), before);
    held = TValue::Null(); // its count went with the destruction
}

TEST_F(RttiTest, ReleaseErrorDuringDestructionIsReportedAndTheBlockFreed) {
    TCapturingReporter reporter;
    vm.reporter = &reporter;
    auto cls = MakeClass("Holder", {"a", "b"});
    auto other = MakeClass("Other", {});
    TInstance* h = cls->NewInstance();
    TInstance* o = other->NewInstance();
    // A member holding a reference that was never counted: its release goes below zero.
    h->members()[0] = TValue::Make(vtObject, InstanceHandle(o));
    h->members()[1] = TValue::Make(vtObject, InstanceHandle(o));
    DestroyInstance(h);
    EXPECT_EQ(h->refCount, -1);
    ASSERT_EQ(reporter.progress.size(), 1u);
    EXPECT_EQ(reporter.progress[0], "Decref failed at Holder.a");
    EXPECT_EQ(o->refCount, -1) << "the remaining members were not released";
}

TEST_F(RttiTest, NewInstanceOfAnUncompiledClassIsAnError) {
    auto cls = MakeClass("Broken", {});
    cls->compiled = false;
    cls->failed = true;
    try {
        cls->NewInstance();
        ADD_FAILURE() << "no error";
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(SjisToUtf8(e.text()), "クラス" + cls->ClassTag() +
                                            "はコンパイルが完了していないため、インスタンスを生成できません");
    }
    EXPECT_EQ(cls->ClassTag(), "Broken@" + std::to_string(cls->hostId()));
}

TEST_F(RttiTest, SubclassKeepsTheSlotsOfItsSuperclass) {
    auto base = MakeClass("Base", {"x", "y"});
    auto m = std::make_unique<TNormalFunction>(base.get(), SymbolOf("m"));
    TFunction* baseM = m.get();
    base->DefineMethod(std::move(m));
    base->DefineMethod(std::make_unique<TNormalFunction>(base.get(), SymbolOf("n")));
    base->DefineMethod(std::make_unique<TConstructor>(base.get(), SymbolOf("constructor")));

    auto sub = MakeClass("Sub", {"z", "x"}, base.get());
    auto over = std::make_unique<TNormalFunction>(sub.get(), SymbolOf("M"));
    TFunction* subM = over.get();
    sub->DefineMethod(std::move(over));
    sub->DefineMethod(std::make_unique<TNormalFunction>(sub.get(), SymbolOf("extra")));

    ASSERT_EQ(sub->memberNames.Count(), 3) << "a redeclared member keeps its inherited slot";
    for (int k = 0; k < 2; ++k) EXPECT_EQ(sub->memberNames.IdAt(k), base->memberNames.IdAt(k));
    EXPECT_EQ(sub->MemberSlot("z"), 2);

    EXPECT_EQ(sub->MethodAt(0), subM) << "the override takes the inherited slot";
    EXPECT_EQ(base->MethodAt(0), baseM);
    EXPECT_EQ(sub->MethodAt(1), base->MethodAt(1)) << "inherited entries are shared";
    EXPECT_EQ(sub->MethodAt(1)->useCount, 2);
    EXPECT_EQ(baseM->useCount, 1);
    EXPECT_EQ(sub->MethodSlot("extra"), 3);
    EXPECT_EQ(sub->GetConstructor(), base->GetConstructor()) << "the inherited constructor";
    EXPECT_EQ(sub->GetDestructor(), nullptr);
    EXPECT_EQ(sub->SlotOf(subM), 0);
    EXPECT_EQ(sub->FindMethodByName("N"), base->MethodAt(1));

    std::int32_t hint = -1;
    EXPECT_EQ(sub->FindMethod(SymbolOf("n"), hint), base->MethodAt(1));
    EXPECT_EQ(hint, 1);
    EXPECT_EQ(sub->FindMethod(SymbolOf("n"), hint), base->MethodAt(1));
    EXPECT_EQ(sub->FindMethod(SymbolOf("nothing"), hint), nullptr);
    EXPECT_EQ(hint, -1);

    EXPECT_TRUE(sub->IsSubclassOf(base.get()));
    EXPECT_TRUE(sub->IsSubclassOf(sub.get()));
    EXPECT_FALSE(base->IsSubclassOf(sub.get()));

    TInstance* s = sub->NewInstance();
    EXPECT_EQ(sub->blockSize, 12 + 8 * 3);
    EXPECT_EQ(MemberCell(s, SymbolOf("y")), &s->members()[1]);

    long before = vm.stats().functions;
    sub->ClearMethods();
    EXPECT_EQ(base->MethodAt(1)->useCount, 1) << "the superclass still holds its entries";
    EXPECT_EQ(vm.stats().functions, before - 2) << "the override and the subclass's own method were freed";
}

TEST_F(RttiTest, NativeDeclarationsStartUnbound) {
    auto cls = MakeClass("Nat", {});
    auto f = std::make_unique<TNativeFunction>(cls.get(), SymbolOf("_n_go"));
    TNativeFunction* native = f.get();
    cls->AddMethod(std::move(f));
    TValue* cells = vm.AllocCells(2);
    try {
        native->proc(&cells[1], 1, 0);
        ADD_FAILURE() << "no error";
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(SjisToUtf8(e.text()), "native関数が実装されていません");
    }
    EXPECT_EQ(native->GetName(), "_n_go");
    EXPECT_TRUE(native->IsNative());
    vm.FreeCells(cells, 2);
}

TEST_F(RttiTest, FunctionKindsByName) {
    auto cls = MakeClass("Kinds", {});
    for (const char* kind : {"TNormalFunction", "TConstructor", "TDestructor", "TNativeFunction"}) {
        auto f = MakeFunction(kind, cls.get(), SymbolOf("f"));
        ASSERT_NE(f, nullptr) << kind;
        EXPECT_STREQ(f->KindName(), kind);
        EXPECT_EQ(f->owner, cls.get());
    }
    EXPECT_TRUE(MakeFunction("TDestructor", cls.get(), 0)->IsDestructor());
    EXPECT_EQ(MakeFunction("TFunction", cls.get(), 0), nullptr);
    EXPECT_EQ(MakeFunction("tnormalfunction", cls.get(), 0), nullptr);
}

TEST_F(RttiTest, LiveInstancesAndDestructionRefusal) {
    auto cls = MakeClass("Keep", {"x"});
    TInstance* a = cls->NewInstance();
    cls->NewInstance();
    EXPECT_FALSE(cls->HasLiveInstances()) << "count 0 is not live";
    TValue held = Obj(a);
    ASSERT_EQ(cls->LiveInstances(), std::vector<TInstance*>{a});
    try {
        cls->CheckDestroyable();
        ADD_FAILURE() << "no error";
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(SjisToUtf8(e.text()), cls->ClassTag() + ":オブジェクトがまだ残っています");
    }
    SetNull(held);
    EXPECT_NO_THROW(cls->CheckDestroyable());
}

TEST_F(RttiTest, ResetKeepsReferencedBlocksReadable) {
    auto cls = MakeClass("Again", {"x"});
    TValue held = Obj(cls->NewInstance());
    TInstance* unreferenced = cls->NewInstance();
    std::uint32_t freedHandle = InstanceHandle(unreferenced);
    cls->Reset();
    EXPECT_FALSE(cls->compiled);
    EXPECT_EQ(cls->blockSize, -1);
    EXPECT_EQ(cls->memberNames.Count(), 0);
    EXPECT_TRUE(cls->Pool().empty());
    EXPECT_EQ(vm.InstanceAt(freedHandle), nullptr) << "the unreferenced block went back to the heap";
    EXPECT_EQ(vm.InstanceAt(held.bits), ObjectOf(held)) << "the held one stays, owned by the VM";
    EXPECT_EQ(vm.OrphanBlocks().size(), 1u);
    EXPECT_EQ(ValueToText(held), "Again@" + std::to_string(held.asInt()));
    SetNull(held);
    EXPECT_TRUE(runner.runs.empty()) << "Reset runs no destructors";
}

TEST_F(RttiTest, BlocksDestroyedWhileReferencedNeverReturnToTheHeap) {
    auto cls = MakeClass("Page", {"x"});
    TValue* global = vm.AllocCells(1); // a value that outlives the page's classes
    SetObject(*global, cls->NewInstance());
    TInstance* garbage = cls->NewInstance();
    std::uint32_t held = global->bits, freed = InstanceHandle(garbage);
    cls->ReleaseObjects(); // the page ends: its instances are destroyed, referenced or not
    cls.reset();           // and its classes go
    EXPECT_EQ(vm.InstanceAt(freed), nullptr);
    EXPECT_NE(vm.InstanceAt(held), nullptr) << "kept, since the global still refers to it";
    // Areas of a block's size (12 + 8 bytes, rounded to 24): the freed block comes back, the kept one not.
    EXPECT_EQ(vm.CellRef(vm.AllocCells(3)), freed);
    EXPECT_NE(vm.CellRef(vm.AllocCells(3)), held);
    SetNull(*global); // a quiet release into memory that is still the old block
    EXPECT_EQ(vm.InstanceAt(held)->refCount, -2);
}

TEST_F(RttiTest, ReleaseObjectsDestroysEveryInstanceThatIsNotFree) {
    auto cls = ClassWithDestructor("Gone");
    TValue held = Obj(cls->NewInstance());
    cls->NewInstance();
    cls->ReleaseObjects();
    EXPECT_EQ(runner.runs.size(), 2u);
    for (TInstance* b : cls->Pool()) EXPECT_EQ(b->refCount, -1);
    EXPECT_EQ(vm.LiveInstanceAt(held.bits), nullptr) << "a destroyed block is no live instance";
    EXPECT_EQ(vm.InstanceAt(held.bits), ObjectOf(held));
    cls->ReleaseObjects();
    EXPECT_EQ(runner.runs.size(), 2u) << "free blocks are not destroyed twice";
    ReleaseValue(held); // a release of a destroyed instance is quiet
}

TEST_F(RttiTest, ClassValueIsAHostCellInTheHeap) {
    auto cls = MakeClass("Cv", {});
    TValue* slot = cls->VariableSlot();
    ASSERT_NE(slot, nullptr);
    EXPECT_TRUE(vm.IsHeapCell(slot));
    EXPECT_EQ(ClassOf(*slot), cls.get());
    EXPECT_EQ(ValueToText(*slot), "TRTTI");
    EXPECT_EQ(ClassOf(TValue::Int(1)), nullptr);
}

TEST_F(RttiTest, SaveToWritesTheClassElement) {
    auto cls = MakeClass("Ball", {});
    cls->src = "/games/ball/Ball.plimo";
    TLines lines;
    cls->SaveTo(lines, " ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " <class name=\"Ball\" src=\"/games/ball/Ball.plimo\"/>");
}

TEST_F(RttiTest, ClassElementsBuildClasses) {
    TCapturingReporter reporter;
    TResourceSystem system(reporter);
    system.baseFolder = "/games/ball";
    RegisterClassTag(system);
    auto res = system.ParseResourceText("<class name=\"Ball\" src=\"Ball.plimo\">");
    auto* cls = dynamic_cast<TRTTI*>(res.get());
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->name, "Ball");
    EXPECT_EQ(cls->src, "/games/ball/Ball.plimo");
    EXPECT_TRUE(cls->aliased);
    EXPECT_EQ(vm.aliases().Get("ball"), cls);
    EXPECT_FALSE(cls->compiled);
    EXPECT_EQ(cls->blockSize, -1);
    TLines lines;
    cls->SaveTo(lines, "  ");
    EXPECT_EQ(lines, TLines{"  <class name=\"Ball\" src=\"Ball.plimo\"/>"})
        << "src relative to the base folder";
}

// Stands in for the compiler: "ok" sources compile, anything else fails.
class FakeCompiler : public TClassCompiler {
public:
    bool Compile(TRTTI& cls, std::string_view source, bool) override {
        sources.emplace_back(source);
        cls.compiled = source.substr(0, 2) == "ok";
        cls.failed = !cls.compiled;
        return cls.failed;
    }
    std::vector<std::string> sources;
};

TEST_F(RttiTest, InitStepCompilesOnceAndCounts) {
    char folder[] = "/tmp/rtti_testXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string good = std::string(folder) + "/Good.plimo", bad = std::string(folder) + "/Bad.plimo";
    for (auto [path, text] : {std::pair{good, "ok"}, std::pair{bad, "broken"}}) {
        FILE* f = std::fopen(path.c_str(), "w");
        std::fputs(text, f);
        std::fclose(f);
    }
    TCapturingReporter reporter;
    TResourceSystem system(reporter);
    FakeCompiler compiler;
    vm.classCompiler = &compiler;
    TRTTI goodClass("Good", &system), badClass("Bad", &system), pendingClass("Pending", &system);
    goodClass.src = good;
    badClass.src = bad;
    TInitContext context;
    goodClass.InitStep(context);
    badClass.InitStep(context);
    goodClass.InitStep(context); // compiled: not compiled again
    EXPECT_EQ(context.done, 2);
    EXPECT_EQ(context.failed, 1);
    EXPECT_EQ(compiler.sources.size(), 2u);
    vm.classCompiler = nullptr;
    pendingClass.InitStep(context);
    EXPECT_EQ(context.pending, 1);
    std::remove(good.c_str());
    std::remove(bad.c_str());
    rmdir(folder);
}

TEST_F(RttiTest, AliasTableKeepsTheFirstClassOfAName) {
    auto first = MakeClass("Player", {});
    auto second = MakeClass("player", {}); // same short name, another path
    EXPECT_TRUE(first->aliased);
    EXPECT_FALSE(second->aliased);
    EXPECT_EQ(vm.aliases().Get("PLAYER"), first.get());
    second.reset();
    EXPECT_EQ(vm.aliases().Get("Player"), first.get()) << "the other class does not remove the entry";
    first.reset();
    EXPECT_EQ(vm.aliases().Get("Player"), nullptr);

    vm.aliasRegistration = false;
    auto paged = MakeClass("Paged", {});
    EXPECT_EQ(vm.aliases().Get("Paged"), nullptr);

    TAlias table;
    table.Add("a", paged.get());
    table.Add("A", stringClass.get());
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_EQ(table.Get("a"), stringClass.get()) << "Add replaces the class of a present name";
}

} // namespace
} // namespace plimo
