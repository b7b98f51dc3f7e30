#include "core/strings.h"

#include <new>
#include <sys/mman.h>

#include "core/errors.h"

namespace plimo {

namespace {
// Below this a block comes from the ordinary allocator; above it, whole huge pages are mapped.
constexpr std::size_t kMappedBlock = std::size_t(1) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t MappedSize(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}
} // namespace

void* AllocElementBlock(std::size_t bytes) {
    if (bytes < kMappedBlock) return ::operator new(bytes);
    void* p = mmap(nullptr, MappedSize(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    madvise(p, MappedSize(bytes), MADV_HUGEPAGE);
    return p;
}

void FreeElementBlock(void* block, std::size_t bytes) {
    if (bytes < kMappedBlock)
        ::operator delete(block);
    else
        munmap(block, MappedSize(bytes));
}

TfString::TfString(std::string_view text) : THostObject(kKind), m_text(text) {
    if (TVm* vm = TVm::Current()) ++vm->stats().stringBodies;
}

TfString::~TfString() {
    if (vm()) --vm()->stats().stringBodies;
}

TElementList::TElementList() : THostObject(kKind) {}

TElementList::~TElementList() {
    if (!vm()) return;
    // A count error in one element must not stop the others from being freed (nor escape a destructor).
    while (Count() > 0) {
        try {
            Delete(Count() - 1);
        } catch (const ERuntimeError&) {
        }
    }
}

void TElementList::Insert(std::int32_t index, const TValue& value) {
    TVm& vm = TVm::Get();
    TValue copy = value; // value may be one of this list's own cells, which the insertion moves
    if (index < 0 || index > Count()) index = Count();
    m_cells.insert(m_cells.begin() + index, copy);
    RetainValue(m_cells[static_cast<std::size_t>(index)]);
    ++vm.stats().cells;
    ++vm.stats().elements;
}

void TElementList::Delete(std::int32_t index) {
    if (index < 0 || index >= Count()) return;
    TVm& vm = TVm::Get();
    // The cell leaves the list before the release, so an error in it leaves a consistent list.
    TValue old = m_cells[static_cast<std::size_t>(index)];
    m_cells.erase(m_cells.begin() + index);
    --vm.stats().cells;
    --vm.stats().elements;
    ReleaseValue(old);
}

void TElementList::Clear() {
    while (Count() > 0) Delete(Count() - 1);
}

} // namespace plimo
