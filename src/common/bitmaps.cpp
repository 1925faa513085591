// Palettes and bitmaps: reference-counted records in the driver record's
// lists, the slots that make, inspect, lock and give them up, the hooks that
// give one bitmap its surface, and the two walks readying and unreadying use.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common.h"

namespace {

// The six words that make up a pixel format.
void CopyFormat(SBitmapInfo &to, const SBitmapInfo &from) {
    to.formatOpaque1 = from.formatOpaque1;
    to.bitsPerPixel = from.bitsPerPixel;
    to.redMask = from.redMask;
    to.greenMask = from.greenMask;
    to.blueMask = from.blueMask;
    to.formatOpaque2 = from.formatOpaque2;
}

SCommonBitmap *AllocateNew(SCommonRec *record, SCommonBitmap *bitmap) {
    if (bitmap == nullptr)
        return nullptr;
    if (CallOrCommon(record->AllocBitmap, CommonAllocBitmap, record, bitmap))
        return bitmap;
    // DoneBitmap unlinks and frees the bitmap that could not be allocated.
    CallOrCommon(record->DoneBitmap, CommonDoneBitmap, record, bitmap);
    return nullptr;
}

SCommonBitmap *BitmapInitCommon(SCommonBitmap *bitmap, SCommonRec *record, vantu_bool isScreen) {
    if (record == nullptr)
        return nullptr;
    if (bitmap == nullptr) {
        bitmap = static_cast<SCommonBitmap *>(CommonAllocRecord(sizeof(SCommonBitmap), sizeof(CommonBitmapTail)));
        if (bitmap == nullptr)
            return nullptr;
    }
    bitmap->isScreen = isScreen ? 1 : 0;
    return bitmap;
}

} // namespace

void CommonBitmapLeaving(SCommonLink *link) {
    if (link->list == nullptr)
        return;
    // Walks in progress over this list step past the member that leaves.
    for (CommonBitmapWalk *walk = CommonPrivateOf(CommonRecordOfBitmaps(link->list)).walks; walk != nullptr;
         walk = walk->outer) {
        if (link == walk->current) {
            walk->currentGone = true;
            walk->next = link->next;
        } else if (walk->currentGone && link == walk->next) {
            walk->next = link->next;
        }
    }
}

extern "C" {

SCommonPalette *CommonPaletteInit(SCommonPalette *palette, SCommonRec *record, const uint32_t *colours,
                                  int32_t count) {
    if (record == nullptr || count < 0 || count > 256 || (colours == nullptr && count > 0))
        return nullptr;
    if (palette == nullptr) {
        palette = CommonNewRecord<SCommonPalette>();
        if (palette == nullptr)
            return nullptr;
    }
    palette->header.destruct = PaletteDestruct;
    std::memset(palette->entries, 0, sizeof palette->entries);
    if (count > 0)
        std::memcpy(palette->entries, colours, static_cast<size_t>(count) * sizeof(uint32_t));
    CommonListAppend(&record->palettes, &palette->link);
    return palette;
}

SCommonBitmap *CommonBitmapInit(SCommonBitmap *bitmap, SCommonRec *record, vantu_bool isScreen, int32_t width,
                                int32_t height) {
    bitmap = BitmapInitCommon(bitmap, record, isScreen);
    if (bitmap == nullptr)
        return nullptr;
    bitmap->info.width = static_cast<uint32_t>(width);
    bitmap->info.height = static_cast<uint32_t>(height);
    bitmap->header.destruct = BitmapDestruct;
    CommonListAppend(&record->bitmaps, &bitmap->link);
    return bitmap;
}

SCommonBitmap *CommonBitmapInitScr(SCommonBitmap *bitmap, SCommonRec *record, vantu_bool isScreen,
                                   const SBitmapInfo *info) {
    if (info == nullptr)
        return nullptr;
    bitmap = BitmapInitCommon(bitmap, record, isScreen);
    if (bitmap == nullptr)
        return nullptr;
    bitmap->info = *info;
    bitmap->header.destruct = BitmapDestruct;
    CommonListAppend(&record->bitmaps, &bitmap->link);
    return bitmap;
}

void VANTU_CALL PaletteDestruct(void *record) { CommonListUnlink(&static_cast<SCommonPalette *>(record)->link); }

void VANTU_CALL BitmapDestruct(void *record) {
    SCommonLink *link = &static_cast<SCommonBitmap *>(record)->link;
    CommonBitmapLeaving(link);
    CommonListUnlink(link);
}

SCommonPalette *VANTU_CALL CommonInitPalette(SCommonRec *record, const uint32_t *colours, int32_t count) {
    return CommonPaletteInit(nullptr, record, colours, count);
}

vantu_bool VANTU_CALL CommonDonePalette(SCommonRec *, SCommonPalette *palette) {
    if (palette == nullptr)
        return 0;
    // Every bitmap holding the palette holds its own reference.
    release(palette);
    return 1;
}

SCommonBitmap *VANTU_CALL CommonInitBitmap(SCommonRec *record, int32_t width, int32_t height) {
    return AllocateNew(record, CommonBitmapInit(nullptr, record, 0, width, height));
}

SCommonBitmap *VANTU_CALL CommonInitScreenBitmap(SCommonRec *record) {
    if (record == nullptr)
        return nullptr;
    // The AllocBitmap hook, not AllocScreenBitmap: that one serves only screenBitmap.
    return AllocateNew(record, CommonBitmapInit(nullptr, record, 1, static_cast<int32_t>(record->screenInfo.width),
                                                static_cast<int32_t>(record->screenInfo.height)));
}

vantu_bool VANTU_CALL CommonDoneBitmap(SCommonRec *record, SCommonBitmap *bitmap) {
    if (record == nullptr || bitmap == nullptr || bitmap == record->screenBitmap)
        return 0;
    // A bitmap whose count the host raised keeps its palette and surface until
    // its last reference goes; then the surface is taken away first, so that a
    // memory-backed hook frees its pixels, and the palette reference goes
    // before the bitmap's own.
    if (bitmap->header.refCount < 2) {
        CommonForgetHeldBitmap(bitmap);
        if (bitmap->isAllocated)
            CallOrCommon(record->DeallocBitmap, CommonDeallocBitmap, record, bitmap);
        if (SCommonPalette *palette = bitmap->palette) {
            bitmap->palette = nullptr;
            release(palette);
        }
    }
    release(bitmap);
    return 1;
}

vantu_bool VANTU_CALL CommonSetBitmapPalette(SCommonRec *, SCommonBitmap *bitmap, SCommonPalette *palette) {
    if (bitmap == nullptr)
        return 0;
    SCommonPalette *old = bitmap->palette;
    // Acquired before the old one is released, so that setting the palette
    // the bitmap already holds cannot free it. Only a live palette record is
    // counted; anything else is stored as it is.
    if (palette != nullptr && palette->header.size >= sizeof(SCommonPalette) && palette->header.refCount >= 1)
        ++palette->header.refCount;
    bitmap->palette = palette;
    if (old != nullptr)
        release(old);
    return 1;
}

SBitmapInfo *VANTU_CALL CommonGetBitmapInfo(SCommonRec *, SCommonBitmap *bitmap) {
    return bitmap != nullptr ? &bitmap->info : nullptr;
}

vantu_bool VANTU_CALL CommonIsBitmapInitialized(SCommonRec *, SCommonBitmap *bitmap) {
    return bitmap != nullptr ? bitmap->isInitialized : 0;
}

SBitmapInfo *VANTU_CALL CommonLockBitmap(SCommonRec *record, SCommonBitmap *bitmap) {
    if (record == nullptr || bitmap == nullptr || !bitmap->isAllocated || bitmap->isLocked)
        return nullptr;
    bitmap->isLocked = 1;
    return CallOrCommon(record->GetBitmapInfo, CommonGetBitmapInfo, record, bitmap);
}

vantu_bool VANTU_CALL CommonUnlockBitmap(SCommonRec *, SCommonBitmap *bitmap) {
    if (bitmap == nullptr || !bitmap->isAllocated || !bitmap->isLocked)
        return 0;
    bitmap->isLocked = 0;
    bitmap->isInitialized = 1;
    return 1;
}

vantu_bool VANTU_CALL CommonAllocBitmap(SCommonRec *record, SCommonBitmap *bitmap) {
    if (record == nullptr || bitmap == nullptr)
        return 0;
    // Bitmaps made while no allocation is in force wait for the next readying.
    if (!record->allocated)
        return 1;
    if (!record->readied)
        return 0;
    if (bitmap->isAllocated)
        return 1;
    if (bitmap->isScreen) {
        bitmap->info.width = record->screenInfo.width;
        bitmap->info.height = record->screenInfo.height;
    }
    CopyFormat(bitmap->info, record->screenInfo);
    bitmap->isAllocated = 1;
    bitmap->isInitialized = bitmap == record->screenBitmap ? 1 : 0;
    return 1;
}

vantu_bool VANTU_CALL CommonDeallocBitmap(SCommonRec *, SCommonBitmap *bitmap) {
    if (bitmap == nullptr)
        return 0;
    if (!bitmap->isAllocated)
        return 1;
    if (bitmap->isScreen) {
        bitmap->info.width = 0;
        bitmap->info.height = 0;
    }
    CopyFormat(bitmap->info, SBitmapInfo{});
    bitmap->isAllocated = 0;
    bitmap->isInitialized = 0;
    return 1;
}

vantu_bool VANTU_CALL CommonAllocBitmapMem(SCommonRec *record, SCommonBitmap *bitmap) {
    if (record == nullptr || bitmap == nullptr)
        return 0;
    const bool wasAllocated = bitmap->isAllocated != 0;
    if (!CommonAllocBitmap(record, bitmap))
        return 0;
    // Memory only for a bitmap that has just become allocated: one that was
    // allocated already keeps its block, one that stays unallocated needs none.
    if (wasAllocated || !bitmap->isAllocated)
        return 1;
    const int64_t pixelBytes = static_cast<int32_t>(bitmap->info.bitsPerPixel) >> 3;
    const int64_t pitch = pixelBytes * static_cast<int64_t>(bitmap->info.width);
    const uint64_t bytes = static_cast<uint64_t>(pitch) * bitmap->info.height;
    if (pitch < 0 || pitch > INT32_MAX || bytes > SIZE_MAX / 2) {
        bitmap->info.pitch = 0;
        bitmap->info.bits = nullptr;
        return 0;
    }
    bitmap->info.pitch = static_cast<uint32_t>(pitch);
    // A block of at least one byte, so that an empty bitmap is not mistaken for a failure.
    bitmap->info.bits = std::calloc(bytes != 0 ? static_cast<size_t>(bytes) : 1, 1);
    return bitmap->info.bits != nullptr;
}

vantu_bool VANTU_CALL CommonDeallocBitmapMem(SCommonRec *record, SCommonBitmap *bitmap) {
    if (bitmap == nullptr)
        return 0;
    std::free(bitmap->info.bits);
    bitmap->info.pitch = 0;
    bitmap->info.bits = nullptr;
    return CommonDeallocBitmap(record, bitmap);
}

vantu_bool CommonAllocAllBitmaps(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    CommonDebugMsg(record, "Allocating all bitmaps\n");
    // The screen bitmap is recognised by identity, wherever it stands.
    CommonWalkBitmaps(record, [record](SCommonBitmap *bitmap) {
        CallOrCommon(bitmap == record->screenBitmap ? record->AllocScreenBitmap : record->AllocBitmap,
                     CommonAllocBitmap, record, bitmap);
    });
    CommonDebugMsg(record, "All bitmaps allocated\n");
    return 1;
}

vantu_bool CommonDeallocAllBitmaps(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    CommonDebugMsg(record, "Deallocating all bitmaps\n");
    CommonWalkBitmaps(record, [record](SCommonBitmap *bitmap) {
        CallOrCommon(bitmap == record->screenBitmap ? record->DeallocScreenBitmap : record->DeallocBitmap,
                     CommonDeallocBitmap, record, bitmap);
    });
    CommonDebugMsg(record, "All bitmaps deallocated\n");
    return 1;
}

SCommonPalette *VANTU_CALL CommonInitPaletteFail(SCommonRec *, const uint32_t *, int32_t) { return nullptr; }
vantu_bool VANTU_CALL CommonDonePaletteFail(SCommonRec *, SCommonPalette *) { return 0; }
SCommonBitmap *VANTU_CALL CommonInitBitmapFail(SCommonRec *, int32_t, int32_t) { return nullptr; }
SCommonBitmap *VANTU_CALL CommonInitScreenBitmapFail(SCommonRec *) { return nullptr; }
vantu_bool VANTU_CALL CommonDoneBitmapFail(SCommonRec *, SCommonBitmap *) { return 0; }
vantu_bool VANTU_CALL CommonSetBitmapPaletteFail(SCommonRec *, SCommonBitmap *, SCommonPalette *) { return 0; }
SBitmapInfo *VANTU_CALL CommonGetBitmapInfoFail(SCommonRec *, SCommonBitmap *) { return nullptr; }
vantu_bool VANTU_CALL CommonIsBitmapInitializedFail(SCommonRec *, SCommonBitmap *) { return 0; }
SBitmapInfo *VANTU_CALL CommonLockBitmapFail(SCommonRec *, SCommonBitmap *) { return nullptr; }
vantu_bool VANTU_CALL CommonUnlockBitmapFail(SCommonRec *, SCommonBitmap *) { return 0; }
vantu_bool VANTU_CALL CommonAllocBitmapFail(SCommonRec *, SCommonBitmap *) { return 0; }
vantu_bool VANTU_CALL CommonDeallocBitmapFail(SCommonRec *, SCommonBitmap *) { return 0; }

} // extern "C"
