#include "core/heap.h"

#include <cstring>
#include <sys/mman.h>

#include "core/errors.h"

namespace plimo {

THeap::THeap(std::size_t reserveBytes) : m_small(kSmallLimit / kGranule + 1) {
    if (reserveBytes > kDefaultReserve) reserveBytes = kDefaultReserve;
    // A system that refuses a large reservation (strict overcommit) gets a smaller region.
    for (std::size_t size = reserveBytes; size >= (std::size_t(1) << 20); size /= 2) {
        void* p =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            m_base = static_cast<std::byte*>(p);
            m_reserved = size;
            return;
        }
    }
    throw ERuntimeError(texts::kHeapExhausted);
}

THeap::~THeap() {
    if (m_base) munmap(m_base, m_reserved);
}

std::uint32_t THeap::Alloc(std::uint32_t bytes) {
    std::uint32_t size = roundUp(bytes ? bytes : 1);
    std::uint32_t offset = 0;
    if (size <= kSmallLimit && !m_small[size / kGranule].empty()) {
        offset = m_small[size / kGranule].back();
        m_small[size / kGranule].pop_back();
    } else if (size > kSmallLimit && !m_large.empty()) {
        auto it = m_large.lower_bound(size);
        if (it != m_large.end()) {
            offset = it->second;
            std::uint32_t rest = it->first - size;
            m_large.erase(it);
            if (rest) Free(offset + size, rest);
        }
    }
    if (offset) {
        std::memset(m_base + offset, 0, size);
        return offset;
    }
    if (m_top + size > m_reserved) throw ERuntimeError(texts::kHeapExhausted);
    offset = static_cast<std::uint32_t>(m_top);
    m_top += size; // fresh anonymous pages are already zero
    return offset;
}

void THeap::Free(std::uint32_t offset, std::uint32_t bytes) {
    if (!offset) return;
    std::uint32_t size = roundUp(bytes ? bytes : 1);
    if (size <= kSmallLimit) {
        m_small[size / kGranule].push_back(offset);
        return;
    }
    // Give the pages of a large area back to the system; they read as zero again when touched.
    std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(m_base + offset) + 4095) & ~std::uintptr_t(4095);
    std::uintptr_t last = reinterpret_cast<std::uintptr_t>(m_base + offset + size) & ~std::uintptr_t(4095);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    m_large.emplace(size, offset);
}

void THeap::SetBlockStart(std::uint32_t offset, bool isStart) {
    std::size_t bit = offset / kGranule;
    if (bit / 64 >= m_blockStarts.size()) m_blockStarts.resize(bit / 64 + 1024, 0);
    if (isStart)
        m_blockStarts[bit / 64] |= std::uint64_t(1) << (bit % 64);
    else
        m_blockStarts[bit / 64] &= ~(std::uint64_t(1) << (bit % 64));
}

bool THeap::IsBlockStart(std::uint32_t offset) const {
    if (offset % kGranule || offset < kGranule || offset >= m_top) return false;
    std::size_t bit = offset / kGranule;
    return bit / 64 < m_blockStarts.size() && (m_blockStarts[bit / 64] >> (bit % 64)) & 1;
}

} // namespace plimo
