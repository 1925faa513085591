// Records and lists: the one way a reference is dropped, and the intrusive
// creation-ordered lists of palettes and bitmaps.
#include <cstdlib>
#include <type_traits>

#include "common.h"

// The host reads these records at fixed offsets: plain, standard-layout data.
static_assert(std::is_standard_layout_v<SCommonRec> && std::is_trivially_copyable_v<SCommonRec>);
static_assert(std::is_standard_layout_v<SMEMRec> && std::is_standard_layout_v<SCommonBitmap>);
static_assert(std::is_standard_layout_v<SCommonPalette> && std::is_standard_layout_v<SBitmapInfo>);
static_assert(offsetof(SMEMRec, common) == 0, "an SMEMRec is used as its SCommonRec");

extern "C" {

void CommonReleaseWith(void *record, void (*lastRites)(void *record)) {
    if (record == nullptr)
        return;
    auto *header = static_cast<SCommonHeader *>(record);
    // The destructor runs while the record is intact, before the count drops.
    if (header->refCount < 2 && header->destruct != nullptr)
        header->destruct(record);
    header->refCount = static_cast<int32_t>(static_cast<uint32_t>(header->refCount) - 1u);
    if (header->refCount <= 0) {
        if (lastRites != nullptr)
            lastRites(record);
        header->size = 0;
        std::free(record);
    }
}

void release(void *record) { CommonReleaseWith(record, nullptr); }

void CommonListAppend(SCommonList *list, SCommonLink *link) {
    if (list->last != nullptr)
        list->last->next = link;
    else
        list->first = link;
    link->next = nullptr;
    link->prev = list->last;
    link->list = list;
    list->last = link;
}

void CommonListUnlink(SCommonLink *link) {
    if (link->prev != nullptr)
        link->prev->next = link->next;
    else if (link->list != nullptr)
        link->list->first = link->next;
    if (link->next != nullptr)
        link->next->prev = link->prev;
    else if (link->list != nullptr)
        link->list->last = link->prev;
    link->next = nullptr;
    link->prev = nullptr;
    link->list = nullptr;
}

void CommonDetachList(SCommonList *list) {
    for (SCommonLink *link = list->first; link != nullptr;) {
        SCommonLink *next = link->next;
        *link = SCommonLink{};
        link = next;
    }
    *list = SCommonList{};
}

} // extern "C"
