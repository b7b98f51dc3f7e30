// The VM heap: one reserved region from which every cell a reference may name is allocated, so that a
// 32-bit offset is a complete reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace plimo {

// Offsets are byte distances from the region's base; offset 0 is never handed out, so 0 means "none".
// Allocations are rounded up to 8 bytes and zero-filled. Freed space is kept in exact-size free lists
// (small sizes) or a size-ordered map (large ones) and handed out again.
class THeap {
public:
    static constexpr std::size_t kDefaultReserve = std::size_t(1) << 32;
    static constexpr std::uint32_t kGranule = 8;

    // Reserves up to reserveBytes of address space (smaller when the system refuses that much).
    explicit THeap(std::size_t reserveBytes = kDefaultReserve);
    ~THeap();
    THeap(const THeap&) = delete;
    THeap& operator=(const THeap&) = delete;

    std::byte* base() const { return m_base; }
    std::size_t reserved() const { return m_reserved; }
    // Bytes below the highest allocation so far.
    std::size_t highWater() const { return m_top; }

    // A zero-filled area of at least bytes; throws ERuntimeError when the region is exhausted.
    std::uint32_t Alloc(std::uint32_t bytes);
    void Free(std::uint32_t offset, std::uint32_t bytes);

    void* At(std::uint32_t offset) const { return m_base + offset; }
    std::uint32_t OffsetOf(const void* p) const {
        return static_cast<std::uint32_t>(static_cast<const std::byte*>(p) - m_base);
    }
    bool Contains(const void* p, std::size_t bytes = 1) const {
        auto b = static_cast<const std::byte*>(p);
        return b >= m_base + kGranule && b + bytes <= m_base + m_top;
    }

    // Instance-block starts, so raw handles from scripts can be checked without reading the heap.
    void SetBlockStart(std::uint32_t offset, bool isStart);
    bool IsBlockStart(std::uint32_t offset) const;

private:
    static std::uint32_t roundUp(std::uint32_t bytes) { return (bytes + kGranule - 1) & ~(kGranule - 1); }

    static constexpr std::uint32_t kSmallLimit = 4096; // sizes up to this have exact free lists
    std::byte* m_base = nullptr;
    std::size_t m_reserved = 0;
    std::size_t m_top = kGranule;
    std::vector<std::vector<std::uint32_t>> m_small;     // indexed by size / kGranule
    std::multimap<std::uint32_t, std::uint32_t> m_large; // size -> offset
    std::vector<std::uint64_t> m_blockStarts;            // one bit per granule
};

} // namespace plimo
