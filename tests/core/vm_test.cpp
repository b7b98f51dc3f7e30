// The VM heap, cells and their references, the host table, and the checking of raw handles.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/strings.h"
#include "core/vm.h"

namespace plimo {
namespace {

class Thing : public THostObject {
public:
    Thing() : THostObject(THostKind::Other) {}
    const char* HostTypeName() const override { return "Thing"; }
};

TEST(Vm, CellsAreZeroedAndNamedByOffset) {
    TVm vm(std::size_t(1) << 24);
    TValue* cells = vm.AllocCells(128);
    for (int i = 0; i < 128; ++i) EXPECT_EQ(cells[i].tag, vtNull);
    cells[5] = TValue::Int(42);
    std::uint32_t ref = vm.CellRef(&cells[5]);
    EXPECT_NE(ref, 0u);
    EXPECT_EQ(vm.CellAt(ref), &cells[5]);
    EXPECT_EQ(RefTarget(MakeRef(&cells[5]))->asInt(), 42);
    EXPECT_TRUE(vm.IsHeapCell(&cells[127]));
    TValue local{};
    EXPECT_FALSE(vm.IsHeapCell(&local));

    vm.FreeCells(cells, 128);
    TValue* again = vm.AllocCells(128);
    EXPECT_EQ(again, cells) << "a freed area of the same size is handed out again";
    EXPECT_EQ(again[5].tag, vtNull) << "and zero-filled";
}

TEST(Vm, LargeAreasAreReusedAndSplit) {
    TVm vm(std::size_t(1) << 24);
    TValue* big = vm.AllocCells(4096);
    big[4095] = TValue::Int(1);
    vm.FreeCells(big, 4096);
    TValue* part = vm.AllocCells(1024);
    EXPECT_EQ(part, big);
    EXPECT_EQ(part[1023].tag, vtNull);
}

TEST(Vm, ExhaustionIsARuntimeError) {
    TVm vm(std::size_t(1) << 20);
    EXPECT_THROW(for (int i = 0; i < 1000; ++i) vm.AllocCells(1024), ERuntimeError);
}

TEST(Vm, HostIdsGoStaleWhenTheObjectDies) {
    TVm vm(std::size_t(1) << 24);
    std::uint32_t id;
    {
        Thing t;
        id = t.hostId();
        EXPECT_NE(id, 0u);
        EXPECT_EQ(vm.HostAt(id), &t);
        EXPECT_EQ(vm.LiveHostObjects(), 1u);
    }
    EXPECT_EQ(vm.HostAt(id), nullptr);
    Thing reuse;
    EXPECT_NE(reuse.hostId(), id) << "the reused slot carries a new generation";
    EXPECT_EQ(reuse.hostId() & 0xFFFFFF, id & 0xFFFFFF);
    EXPECT_EQ(vm.HostAt(0), nullptr);
    EXPECT_EQ(vm.HostAt(0x00FFFFF0), nullptr);
}

TEST(Vm, HostObjectsMayOutliveTheirVm) {
    auto vm = std::make_unique<TVm>(std::size_t(1) << 24);
    auto t = std::make_unique<Thing>();
    new TfString("owned by its instance"); // freed with the VM
    EXPECT_EQ(vm->stats().stringBodies, 1);
    vm.reset();
    EXPECT_EQ(t->vm(), nullptr);
    t.reset(); // must not reach the ended VM
    Thing orphan;
    EXPECT_EQ(orphan.hostId(), 0u) << "made with no VM alive";
}

TEST(Vm, NestedVmsRestoreTheOuterOne) {
    TVm outer(std::size_t(1) << 24);
    {
        TVm inner(std::size_t(1) << 24);
        EXPECT_EQ(TVm::Current(), &inner);
    }
    EXPECT_EQ(TVm::Current(), &outer);
    TValue* c = outer.AllocCells(1);
    *c = TValue::Int(7);
    EXPECT_EQ(RefTarget(MakeRef(c))->asInt(), 7) << "the heap base follows the current VM";
}

TEST(Vm, RawHandlesAreChecked) {
    TVm vm(std::size_t(1) << 24);
    TValue* cells = vm.AllocCells(4);
    TInstance* block = vm.AllocInstanceBlock(12 + 8 * 3);
    std::uint32_t handle = InstanceHandle(block);
    EXPECT_EQ(vm.InstanceAt(handle), block);
    for (std::uint32_t bad : {0u, handle + 4, handle + 8, handle - 8, vm.CellRef(cells), 0xFFFFFFF8u, 3u})
        EXPECT_EQ(vm.InstanceAt(bad), nullptr) << bad;
    vm.FreeInstanceBlock(block, 12 + 8 * 3);
    EXPECT_EQ(vm.InstanceAt(handle), nullptr) << "a freed block is no instance";
    EXPECT_EQ(vm.stats().blocks, 0);
}

TEST(Vm, StatisticsLine) {
    TStatistics s;
    s.blocks = 7;
    s.stacks = 1;
    s.processes = 1;
    s.elements = 3;
    s.cells = 3;
    s.stringBodies = 2;
    s.functions = 40;
    EXPECT_EQ(s.Line(), "// GC=7 gar=0 resgar=0 stk=1 prc=1list=3/3// tfstr=2 func=40");
}

TEST(Vm, ElementListCellsAreCountedAndReleased) {
    TVm vm(std::size_t(1) << 24);
    TElementList list;
    list.Add(TValue::Int(1));
    list.Add(TValue::Int(2));
    list.Insert(0, TValue::Int(0));
    list.Insert(99, *list.CellAt(2)); // out of range appends; a value taken from the list itself
    EXPECT_EQ(list.Count(), 4);
    for (std::int32_t i = 0; i < 4; ++i) EXPECT_EQ(list.CellAt(i)->asInt(), i == 3 ? 2 : i) << i;
    EXPECT_EQ(vm.stats().cells, 4);
    list.Delete(3);
    list.Delete(0);
    list.Delete(7); // out of range: nothing
    EXPECT_EQ(list.CellAt(0)->asInt(), 1);
    list.Clear();
    EXPECT_EQ(vm.stats().elements, 0);
}

// A large list leaves the ordinary allocator for a mapped block and grows that block by moving its
// mapping: the cells keep their values and order through every growth, insertion and deletion.
TEST(Vm, ElementListKeepsItsCellsWhileGrowingLarge) {
    TVm vm(std::size_t(1) << 24);
    TElementList list;
    constexpr std::int32_t kCount = 700000; // 5.6 MB of cells: past the mapped threshold, grown twice more
    for (std::int32_t i = 0; i < kCount; ++i) list.Add(TValue::Int(i));
    list.Insert(1, TValue::Int(-1));
    list.Delete(kCount / 2);
    ASSERT_EQ(list.Count(), kCount);
    EXPECT_EQ(list.CellAt(1)->asInt(), -1);
    bool inOrder = true;
    for (std::int32_t i = 2; i < kCount; ++i)
        inOrder = inOrder && list.CellAt(i)->asInt() == (i - 1 < kCount / 2 - 1 ? i - 1 : i);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(vm.stats().cells, kCount);
    list.Clear();
    EXPECT_EQ(vm.stats().cells, 0);
}

} // namespace
} // namespace plimo
