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

struct Member {
    SCommonHeader header;
    SCommonLink link;
    int id;
};

// The members' ids walking forward, or walking backward and put back in order.
std::vector<int> Ids(const SCommonList &list, bool backward) {
    std::vector<int> ids;
    for (SCommonLink *l = backward ? list.last : list.first; l != nullptr; l = backward ? l->prev : l->next) {
        ids.insert(backward ? ids.begin() : ids.end(), CommonMemberOf<Member>(l)->id);
    }
    return ids;
}

// Unlink every position of lists of one to four members; both walks must
// agree, so a stale end pointer or neighbour link shows.
TEST(List, UnlinkFromEveryPositionKeepsBothDirectionsConsistent) {
    for (size_t size = 1; size <= 4; ++size)
        for (size_t victim = 0; victim < size; ++victim) {
            SCOPED_TRACE(testing::Message() << "size " << size << ", unlinked " << victim);
            SCommonList list{};
            std::vector<Member> members(size);
            std::vector<int> expected;
            for (size_t i = 0; i < size; ++i) {
                members[i].id = static_cast<int>(i);
                CommonListAppend(&list, &members[i].link);
                EXPECT_EQ(members[i].link.list, &list);
                if (i != victim)
                    expected.push_back(members[i].id);
            }
            SCommonLink &gone = members[victim].link;
            for (int twice = 0; twice < 2; ++twice) { // the second unlink finds it in no list
                CommonListUnlink(&gone);
                EXPECT_EQ(Ids(list, false), expected);
                EXPECT_EQ(Ids(list, true), expected);
                EXPECT_EQ(gone.next, nullptr);
                EXPECT_EQ(gone.prev, nullptr);
                EXPECT_EQ(gone.list, nullptr);
            }
        }
}

} // namespace
