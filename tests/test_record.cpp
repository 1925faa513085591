// Reference release: the destructor once, with the record intact, at the last
// reference. (The lists are checked both ways after every call by the fuzzer.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "common.h"

namespace {

struct Seen {
    int calls = 0;
    int32_t refCount = 0;
    uint32_t size = 0;
} g_seen;

void VANTU_CALL RecordingDestruct(void *record) {
    const auto *header = static_cast<const SCommonHeader *>(record);
    g_seen = {g_seen.calls + 1, header->refCount, header->size};
}

TEST(Release, DestructorRunsOnceWithTheRecordIntactAtTheLastReference) {
    g_seen = {};
    auto *header = static_cast<SCommonHeader *>(std::calloc(1, sizeof(SCommonHeader)));
    *header = SCommonHeader{sizeof(SCommonHeader), 2, RecordingDestruct};
    release(nullptr);
    release(header);
    EXPECT_EQ(g_seen.calls, 0) << "two holders: no destructor";
    EXPECT_EQ(header->refCount, 1);
    release(header); // frees; the sanitizer build checks for a leak or a double free
    EXPECT_EQ(g_seen.calls, 1);
    EXPECT_EQ(g_seen.refCount, 1) << "the destructor runs before the count drops";
    EXPECT_EQ(g_seen.size, sizeof(SCommonHeader));
}

} // namespace
