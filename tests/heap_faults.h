// The driver's heap as the allocation-failure suite sees it: every
// allocation the driver makes is counted, the blocks it holds are tracked,
// and a plan fails the n-th allocation alone or every one from the n-th on.
// Each harness routes the driver's malloc, calloc, realloc and free through
// Allow and Track: the linker's --wrap for the library's own objects, the
// msvcrt shims of the PE loader for the 32-bit DLL.
#pragma once

#include <cstddef>

namespace vantu::test {

struct HeapFaults {
    static constexpr size_t kMaxBlocks = 4096;

    bool watching = false; // counting and tracking
    bool paused = false;   // counting, but failing nothing
    int failAt = 0;        // 1-based; 0 fails nothing
    bool onwards = false;  // fail every allocation from failAt on
    int allocations = 0;   // asked for while watching
    int failed = 0;
    size_t live = 0; // blocks allocated while watching and not freed yet
    void *blocks[kMaxBlocks] = {};
    int made[kMaxBlocks] = {}; // which allocation made each block

    void Start(int at, bool from) {
        *this = HeapFaults{};
        watching = true, failAt = at, onwards = from;
    }

    // Before an allocation: false fails it.
    bool Allow() {
        if (!watching)
            return true;
        ++allocations;
        const bool fail = !paused && failAt != 0 && (onwards ? allocations >= failAt : allocations == failAt);
        failed += fail ? 1 : 0;
        return !fail;
    }

    // A block went (realloc or free) and another came (an allocation or
    // realloc); either may be null. Blocks from outside the watch are ignored.
    void Track(void *gone, void *came) {
        if (gone != nullptr)
            for (size_t i = 0; i < live; ++i)
                if (blocks[i] == gone) {
                    --live;
                    blocks[i] = blocks[live], made[i] = made[live];
                    break;
                }
        if (came != nullptr && watching && live < kMaxBlocks)
            blocks[live] = came, made[live++] = allocations;
    }
};

// The one instance the harness's hooks and the suite share.
HeapFaults &Heap();

} // namespace vantu::test
