// The allocation-failure suite's hold on the library's own objects: linked
// with --wrap for malloc, calloc, realloc and free, their calls (and only
// theirs, with the test's own) arrive here before the C library's.
#include <cerrno>
#include <cstddef>

#include "heap_faults.h"

namespace vantu::test {
HeapFaults &Heap() {
    static HeapFaults heap;
    return heap;
}
} // namespace vantu::test

using vantu::test::Heap;

extern "C" {

void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
void __real_free(void *block);

void *__wrap_malloc(size_t size) {
    if (!Heap().Allow()) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = __real_malloc(size);
    Heap().Track(nullptr, block);
    return block;
}

void *__wrap_calloc(size_t count, size_t size) {
    if (!Heap().Allow()) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = __real_calloc(count, size);
    Heap().Track(nullptr, block);
    return block;
}

void *__wrap_realloc(void *block, size_t size) {
    if (!Heap().Allow()) {
        errno = ENOMEM;
        return nullptr;
    }
    void *moved = __real_realloc(block, size);
    if (moved != nullptr)
        Heap().Track(block, moved);
    return moved;
}

void __wrap_free(void *block) {
    Heap().Track(block, nullptr);
    __real_free(block);
}

} // extern "C"
