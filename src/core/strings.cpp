#include "core/strings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

TCellBlock::~TCellBlock() {
    if (m_capacity * sizeof(TValue) >= kMappedBlock)
        munmap(m_cells, m_capacity * sizeof(TValue));
    else
        std::free(m_cells);
}

void TCellBlock::Grow() {
    std::size_t oldBytes = m_capacity * sizeof(TValue);
    std::size_t bytes = std::max<std::size_t>(16, m_capacity * 2) * sizeof(TValue);
    void* p;
    if (bytes < kMappedBlock) {
        p = std::realloc(m_cells, bytes);
        if (!p) throw std::bad_alloc();
    } else {
        bytes = MappedSize(bytes);
        if (oldBytes >= kMappedBlock) {
            p = mremap(m_cells, oldBytes, bytes, MREMAP_MAYMOVE);
            if (p == MAP_FAILED) throw std::bad_alloc();
        } else {
            p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            if (m_size) std::memcpy(p, m_cells, m_size * sizeof(TValue));
            std::free(m_cells);
        }
        madvise(p, bytes, MADV_HUGEPAGE);
    }
    m_cells = static_cast<TValue*>(p);
    m_capacity = bytes / sizeof(TValue);
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

void TElementList::Delete(std::int32_t index) {
    if (index < 0 || index >= Count()) return;
    TVm& vm = TVm::Get();
    // The cell leaves the list before the release, so an error in it leaves a consistent list.
    TValue old = m_cells[static_cast<std::size_t>(index)];
    m_cells.Erase(static_cast<std::size_t>(index));
    --vm.stats().cells;
    --vm.stats().elements;
    ReleaseValue(old);
}

void TElementList::Clear() {
    while (Count() > 0) Delete(Count() - 1);
}

} // namespace plimo
