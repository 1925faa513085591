// Records and lists: the one way a reference is dropped, and the intrusive
// creation-ordered lists of palettes and bitmaps.
#include <cstddef>
#include <cstdlib>
#include <type_traits>

#include "common.h"

// The host reads these records at fixed offsets: plain, standard-layout data.
static_assert(std::is_standard_layout_v<SCommonRec> && std::is_trivially_copyable_v<SCommonRec>);
static_assert(std::is_standard_layout_v<SMEMRec> && std::is_standard_layout_v<SCommonBitmap>);
static_assert(std::is_standard_layout_v<SCommonPalette> && std::is_standard_layout_v<SBitmapInfo>);
static_assert(offsetof(SMEMRec, common) == 0, "an SMEMRec is used as its SCommonRec");

namespace {

// The driver record's block: its bookkeeping, then the record, which keeps
// the alignment malloc gives.
constexpr size_t kPrivateBytes =
    (sizeof(CommonRecordPrivate) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
    alignof(std::max_align_t);

void FreeRecord(void *record) {
    static_cast<SCommonHeader *>(record)->size = 0;
    std::free(record);
}

} // namespace

void *CommonAllocRecord(size_t size, size_t extra) {
    auto *record = static_cast<SCommonHeader *>(std::calloc(1, size + extra));
    if (record != nullptr) {
        record->size = static_cast<uint32_t>(size);
        record->refCount = 1;
    }
    return record;
}

SCommonRec *CommonAllocDriverRecord(size_t size) {
    auto *block = static_cast<unsigned char *>(std::calloc(1, kPrivateBytes + size));
    if (block == nullptr)
        return nullptr;
    auto *record = reinterpret_cast<SCommonRec *>(block + kPrivateBytes);
    record->header.size = static_cast<uint32_t>(size);
    record->header.refCount = 1;
    return record;
}

void CommonFreeDriverRecord(SCommonRec *record) {
    record->header.size = 0;
    std::free(reinterpret_cast<unsigned char *>(record) - kPrivateBytes);
}

CommonRecordPrivate &CommonPrivateOf(SCommonRec *record) {
    return *reinterpret_cast<CommonRecordPrivate *>(reinterpret_cast<unsigned char *>(record) - kPrivateBytes);
}

extern "C" {

void CommonReleaseWith(void *record, void (*end)(void *record)) {
    if (record == nullptr)
        return;
    auto *header = static_cast<SCommonHeader *>(record);
    // The destructor runs while the record is intact, before the count drops.
    if (header->refCount < 2 && header->destruct != nullptr)
        header->destruct(record);
    header->refCount = static_cast<int32_t>(static_cast<uint32_t>(header->refCount) - 1u);
    if (header->refCount <= 0)
        end(record);
}

void release(void *record) { CommonReleaseWith(record, FreeRecord); }

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
