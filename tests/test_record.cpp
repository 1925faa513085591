// Reference release and the intrusive lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "common.h"

namespace {

struct Seen {
    int calls = 0;
    int32_t refCount = 0;
    uint32_t size = 0;
};
Seen g_seen;

void VANTU_CALL RecordingDestruct(void *record) {
    auto *header = static_cast<SCommonHeader *>(record);
    ++g_seen.calls;
    g_seen.refCount = header->refCount;
    g_seen.size = header->size;
}

SCommonHeader *NewHeader(int32_t refCount) {
    auto *header = static_cast<SCommonHeader *>(std::calloc(1, sizeof(SCommonHeader)));
    header->size = sizeof(SCommonHeader);
    header->refCount = refCount;
    header->destruct = RecordingDestruct;
    return header;
}

TEST(Release, DestructorRunsOnceWithTheRecordIntactAtTheLastReference) {
    g_seen = {};
    SCommonHeader *header = NewHeader(2);
    release(header);
    EXPECT_EQ(g_seen.calls, 0) << "two holders: no destructor";
    EXPECT_EQ(header->refCount, 1);
    EXPECT_EQ(header->size, sizeof(SCommonHeader)) << "not freed";
    release(header); // frees; the sanitizer build checks for a leak or a double free
    EXPECT_EQ(g_seen.calls, 1);
    EXPECT_EQ(g_seen.refCount, 1) << "the destructor runs before the count drops";
    EXPECT_EQ(g_seen.size, sizeof(SCommonHeader));
}

TEST(Release, NullIsIgnored) { release(nullptr); }

struct Member {
    SCommonHeader header;
    SCommonLink link;
    int id;
};

std::vector<int> Forward(const SCommonList &list) {
    std::vector<int> ids;
    for (SCommonLink *l = list.first; l != nullptr; l = l->next)
        ids.push_back(reinterpret_cast<Member *>(reinterpret_cast<char *>(l) - offsetof(Member, link))->id);
    return ids;
}

std::vector<int> Backward(const SCommonList &list) {
    std::vector<int> ids;
    for (SCommonLink *l = list.last; l != nullptr; l = l->prev)
        ids.insert(ids.begin(), reinterpret_cast<Member *>(reinterpret_cast<char *>(l) - offsetof(Member, link))->id);
    return ids;
}

// Unlink every position of lists of one to four members, then the rest in turn.
TEST(List, UnlinkFromEveryPositionKeepsBothDirectionsConsistent) {
    for (int size = 1; size <= 4; ++size) {
        for (int victim = 0; victim < size; ++victim) {
            SCommonList list{};
            std::vector<Member> members(static_cast<size_t>(size));
            std::vector<int> expected;
            for (int i = 0; i < size; ++i) {
                members[static_cast<size_t>(i)].id = i;
                CommonListAppend(&list, &members[static_cast<size_t>(i)].link);
                EXPECT_EQ(members[static_cast<size_t>(i)].link.list, &list);
                if (i != victim)
                    expected.push_back(i);
            }
            SCommonLink &gone = members[static_cast<size_t>(victim)].link;
            CommonListUnlink(&gone);
            SCOPED_TRACE(testing::Message() << "size " << size << ", unlinked " << victim);
            EXPECT_EQ(Forward(list), expected);
            EXPECT_EQ(Backward(list), expected);
            EXPECT_EQ(gone.next, nullptr);
            EXPECT_EQ(gone.prev, nullptr);
            EXPECT_EQ(gone.list, nullptr);
            if (!expected.empty()) {
                EXPECT_EQ(list.first->prev, nullptr);
                EXPECT_EQ(list.last->next, nullptr);
            } else {
                EXPECT_EQ(list.first, nullptr);
                EXPECT_EQ(list.last, nullptr);
            }
            // Unlinking a member that is in no list changes nothing.
            CommonListUnlink(&gone);
            EXPECT_EQ(Forward(list), expected);
        }
    }
}

TEST(Stubs, CoreStubsFail) {
    EXPECT_EQ(CommonInitFail(1), nullptr);
    EXPECT_EQ(CommonAllocWindowFail(nullptr, 0, 0, 0), 0);
    EXPECT_EQ(CommonAllocFullScreenFail(nullptr, 0, 0, 0, 640, 480, 16, 0, 0), 0);
    SBitmapInfo info{};
    EXPECT_EQ(CommonAllocBufferFail(nullptr, 0, 0, &info), 0);
    EXPECT_EQ(CommonDeallocFail(nullptr), 0);
}

} // namespace
