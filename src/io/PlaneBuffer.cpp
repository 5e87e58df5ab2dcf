#include <io/PlaneBuffer.h>

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

namespace Zan::detail {

namespace {

constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;
// glibc maps blocks from this size on afresh for every allocation and unmaps them when freed; smaller ones
// come from its heap, which keeps the touched pages of a freed plane for the next one.
constexpr std::size_t alwaysMapped = std::size_t(32) << 20;

// Each thread keeps up to two freed mapped blocks of at most this size for its next planes: the pages of a
// block it reuses are already in, and a fresh mapping faults in every page again (on some systems far
// slower than decoding the plane). What a thread keeps goes when the thread ends.
constexpr std::size_t maxSpare = std::size_t(64) << 20;

struct SpareBlocks {
    struct Block {
        void* at = nullptr;
        std::size_t bytes = 0;
    } blocks[2];
    SpareBlocks() = default;
    SpareBlocks(const SpareBlocks&) = delete;
    SpareBlocks& operator=(const SpareBlocks&) = delete;
    ~SpareBlocks() {
        for (Block& b : blocks)
            std::free(b.at);
    }
    // A kept block that holds bytes without wasting more than half of itself.
    void* take(std::size_t bytes) noexcept {
        for (Block& b : blocks)
            if (b.at && b.bytes >= bytes && b.bytes / 2 <= bytes) {
                void* at = b.at;
                b = Block{};
                return at;
            }
        return nullptr;
    }
    // Keeps the larger blocks: an empty place, else the place of the smallest kept block if it is smaller.
    bool keep(void* at, std::size_t bytes) noexcept {
        Block* place = &blocks[0];
        for (Block& b : blocks)
            if (!b.at || (place->at && b.bytes < place->bytes))
                place = &b;
        if (place->at && place->bytes >= bytes)
            return false;
        std::free(place->at);
        *place = Block{at, bytes};
        return true;
    }
};

thread_local SpareBlocks spareBlocks;

std::uintptr_t roundDown(std::uintptr_t at, std::uintptr_t unit) {
    return at / unit * unit;
}

// Advice only: a system without huge pages or without populating still hands out the block, whose pages
// then fault in on first touch as any others.
void advise(void* block, std::size_t bytes, bool populate) {
    (void)populate;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block), end = start + bytes;
    const std::uintptr_t hugeStart = roundDown(start + hugePage - 1, hugePage),
                         hugeEnd = roundDown(end, hugePage);
#ifdef MADV_HUGEPAGE
    if (hugeEnd > hugeStart)
        ::madvise(reinterpret_cast<void*>(hugeStart), hugeEnd - hugeStart, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    if (!populate)
        return;
    const std::uintptr_t pagesStart = roundDown(start + page - 1, page), pagesEnd = roundDown(end, page);
    if (pagesEnd > pagesStart)
        ::madvise(reinterpret_cast<void*>(pagesStart), pagesEnd - pagesStart, MADV_POPULATE_WRITE);
#endif
}

} // namespace

void* allocatePlane(std::size_t bytes, bool populate) {
    if (bytes < hugePage)
        return ::operator new(bytes);
    void* block = nullptr;
    if (bytes >= alwaysMapped && bytes <= maxSpare && (block = spareBlocks.take(bytes)))
        return block;
    // A block mapped anew is aligned so that all of it can be huge pages.
    if (bytes >= alwaysMapped ? posix_memalign(&block, hugePage, bytes) != 0 : !(block = std::malloc(bytes)))
        throw std::bad_alloc();
    advise(block, bytes, populate);
    return block;
}

void freePlane(void* block, std::size_t bytes) noexcept {
    if (bytes < hugePage)
        ::operator delete(block);
    else if (bytes < alwaysMapped || bytes > maxSpare || !spareBlocks.keep(block, bytes))
        std::free(block);
}

} // namespace Zan::detail
