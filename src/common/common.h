// The common layer: every Common* function that fills a driver record's slots
// and hooks, and the procedures the concrete driver calls directly. The slot
// and hook functions have exactly the types of the public header's slots.
#pragma once

#include <vantu/driver.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Records and lists ---------------------------------------------------------

// A rectangle in pixels; right and bottom are exclusive.
typedef struct SCommonRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} SCommonRect;

// Drop one reference: destructor below two holders, then free at zero.
void release(void *record);
// release, with `end` in place of the plain freeing when the last reference
// goes: it runs after the destructor, with the record intact, and frees it.
void CommonReleaseWith(void *record, void (*end)(void *record));
// Append `link` at the tail of `list`.
void CommonListAppend(SCommonList *list, SCommonLink *link);
// Take `link` out of its list; nothing happens when it is in none.
void CommonListUnlink(SCommonLink *link);
// Empty `list`, leaving every member's link null (as if unlinked).
void CommonDetachList(SCommonList *list);

// ---- Lifecycle and debug messages ------------------------------------------------

// The module-wide default debug function; the entry point stores its argument
// here. Records made on several threads at once meet in it: read and written
// through CommonSetDefaultDebugMsgFunc and the message channel only, as a
// relaxed atomic.
extern DebugMsgFunc CommonDefaultDebugMsgFunc;
void CommonSetDefaultDebugMsgFunc(DebugMsgFunc func);

// An entry point's first steps on its new record: every slot, hook and field
// of `table` over it (its header kept), the host's debug function stored for
// the record and as the module default (the last call's wins for every
// record), and the driver's name. CommonDoInit follows.
void CommonFillDriverRecord(SCommonRec *record, const SCommonRec &table, const char *name,
                            DebugMsgFunc hostDebugFunc);

SCommonRec *CommonInit(uint32_t hostHandle);
SCommonRec *CommonInitFail(uint32_t hostHandle);
SCommonRec *CommonDoInit(SCommonRec *record, uint32_t hostHandle);
vantu_bool CommonDoDone(SCommonRec *record);
vantu_bool VANTU_CALL CommonDone(SCommonRec *record);
vantu_bool VANTU_CALL CommonSetDebugMsgFunc(SCommonRec *record, DebugMsgFunc func);
void CommonDebugMsg(SCommonRec *record, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void VANTU_CALL CommonDebugFuncNull(SCommonRec *record, const char *text);
// The screen bitmaps the driver makes itself are held by the driver until it
// gives them up. Make `bitmap` (null allowed; one that CommonBitmapInit or
// CommonBitmapInitScr made) the record's screen bitmap, held by the driver;
// the one it supersedes loses its pitch and bits and stays listed and held
// until the record's memory is freed, then goes with it.
void CommonSetScreenBitmap(SCommonRec *record, SCommonBitmap *bitmap);
// Give the screen bitmap up: the field cleared first (DoneBitmap refuses the
// current screen bitmap), its pitch and bits cleared (a host may hold it on),
// then released with CommonDoneBitmap. Nothing happens without one.
void CommonReleaseScreenBitmap(SCommonRec *record);
// `bitmap`'s last reference is going: it is no longer the driver's to free.
void CommonForgetHeldBitmap(SCommonBitmap *bitmap);

// ---- Allocation and readiness -------------------------------------------------------

vantu_bool VANTU_CALL CommonAllocWindow(SCommonRec *record, uint32_t flags, int32_t subDevice, uint32_t windowArg);
vantu_bool VANTU_CALL CommonAllocFullScreen(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                            uint32_t fullScreenArg, uint32_t width, uint32_t height,
                                            uint32_t bitsPerPixel, uint32_t fullScreenArg2, uint32_t fullScreenArg3);
vantu_bool VANTU_CALL CommonAllocBuffer(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                        const SBitmapInfo *buffer);
vantu_bool VANTU_CALL CommonDealloc(SCommonRec *record);
vantu_bool VANTU_CALL CommonDoAlloc(SCommonRec *record, uint32_t flags, int32_t subDevice);
vantu_bool VANTU_CALL CommonDoDealloc(SCommonRec *record);
vantu_bool CommonDoAllocSurfaces(SCommonRec *record);
vantu_bool CommonDoDeallocSurfaces(SCommonRec *record);
vantu_bool CommonDoAllocExtSurfaces(SCommonRec *record);
vantu_bool CommonDoDeallocExtSurfaces(SCommonRec *record);
vantu_bool VANTU_CALL CommonSetCallbacks(SCommonRec *record, const SCommonCallbacks *callbacks,
                                         SCommonCallbacks *oldCallbacks);
vantu_bool VANTU_CALL CommonRestoreLostSurfaces(SCommonRec *record);
vantu_bool VANTU_CALL CommonAllocWindowFail(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                            uint32_t windowArg);
vantu_bool VANTU_CALL CommonAllocFullScreenFail(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                                uint32_t fullScreenArg, uint32_t width, uint32_t height,
                                                uint32_t bitsPerPixel, uint32_t fullScreenArg2,
                                                uint32_t fullScreenArg3);
vantu_bool VANTU_CALL CommonAllocBufferFail(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                            const SBitmapInfo *buffer);
vantu_bool VANTU_CALL CommonDeallocFail(SCommonRec *record);

// ---- Drawing lock and presentation ---------------------------------------------------

// How long DrawBegin waits for another thread's drawing to end.
enum { kDrawWaitMs = 10000 };

void *VANTU_CALL CommonDrawBegin(SCommonRec *record);
vantu_bool VANTU_CALL CommonDrawEnd(SCommonRec *record);
vantu_bool VANTU_CALL CommonFlip(SCommonRec *record);
vantu_bool VANTU_CALL CommonFlipToPrimary(SCommonRec *record);
vantu_bool VANTU_CALL CommonSync(SCommonRec *record);

// ---- Palettes and bitmaps -------------------------------------------------------------

SCommonPalette *CommonPaletteInit(SCommonPalette *palette, SCommonRec *record, const uint32_t *colours,
                                  int32_t count);
SCommonBitmap *CommonBitmapInit(SCommonBitmap *bitmap, SCommonRec *record, vantu_bool isScreen, int32_t width,
                                int32_t height);
SCommonBitmap *CommonBitmapInitScr(SCommonBitmap *bitmap, SCommonRec *record, vantu_bool isScreen,
                                   const SBitmapInfo *info);
void VANTU_CALL PaletteDestruct(void *record);
void VANTU_CALL BitmapDestruct(void *record);

SCommonPalette *VANTU_CALL CommonInitPalette(SCommonRec *record, const uint32_t *colours, int32_t count);
vantu_bool VANTU_CALL CommonDonePalette(SCommonRec *record, SCommonPalette *palette);
SCommonBitmap *VANTU_CALL CommonInitBitmap(SCommonRec *record, int32_t width, int32_t height);
SCommonBitmap *VANTU_CALL CommonInitScreenBitmap(SCommonRec *record);
vantu_bool VANTU_CALL CommonDoneBitmap(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonSetBitmapPalette(SCommonRec *record, SCommonBitmap *bitmap, SCommonPalette *palette);
SBitmapInfo *VANTU_CALL CommonGetBitmapInfo(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonIsBitmapInitialized(SCommonRec *record, SCommonBitmap *bitmap);
SBitmapInfo *VANTU_CALL CommonLockBitmap(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonUnlockBitmap(SCommonRec *record, SCommonBitmap *bitmap);

vantu_bool VANTU_CALL CommonAllocBitmap(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonDeallocBitmap(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonAllocBitmapMem(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonDeallocBitmapMem(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool CommonAllocAllBitmaps(SCommonRec *record);
vantu_bool CommonDeallocAllBitmaps(SCommonRec *record);

SCommonPalette *VANTU_CALL CommonInitPaletteFail(SCommonRec *record, const uint32_t *colours, int32_t count);
vantu_bool VANTU_CALL CommonDonePaletteFail(SCommonRec *record, SCommonPalette *palette);
SCommonBitmap *VANTU_CALL CommonInitBitmapFail(SCommonRec *record, int32_t width, int32_t height);
SCommonBitmap *VANTU_CALL CommonInitScreenBitmapFail(SCommonRec *record);
vantu_bool VANTU_CALL CommonDoneBitmapFail(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonSetBitmapPaletteFail(SCommonRec *record, SCommonBitmap *bitmap, SCommonPalette *palette);
SBitmapInfo *VANTU_CALL CommonGetBitmapInfoFail(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonIsBitmapInitializedFail(SCommonRec *record, SCommonBitmap *bitmap);
SBitmapInfo *VANTU_CALL CommonLockBitmapFail(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonUnlockBitmapFail(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonAllocBitmapFail(SCommonRec *record, SCommonBitmap *bitmap);
vantu_bool VANTU_CALL CommonDeallocBitmapFail(SCommonRec *record, SCommonBitmap *bitmap);

// ---- Screen colour conversion -------------------------------------------------------------

uint32_t VANTU_CALL CommonGetScreenColor8(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
uint32_t VANTU_CALL CommonGetScreenColor555(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
uint32_t VANTU_CALL CommonGetScreenColor565(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
uint32_t VANTU_CALL CommonGetScreenColor888(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
uint32_t VANTU_CALL CommonGetScreenColorRGB(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
uint32_t VANTU_CALL CommonGetScreenColorFail(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
// Readying's share: choose the GetScreenColor slot from screenInfo (and analyse
// the masks into colourShift when the generic conversion is chosen).
void CommonChooseScreenColor(SCommonRec *record);
// Unreadying's share: the failing stub in the slot, colourShift zeroed.
void CommonResetScreenColor(SCommonRec *record);

// ---- Software clear and copy -------------------------------------------------------------------

vantu_bool VANTU_CALL CommonClearBitmap(SCommonRec *record, SCommonBitmap *bitmap, uint32_t pixel);
vantu_bool VANTU_CALL CommonClearBitmapSW(SCommonRec *record, SCommonBitmap *bitmap, uint32_t pixel);
vantu_bool VANTU_CALL CommonClearBitmapFail(SCommonRec *record, SCommonBitmap *bitmap, uint32_t pixel);
vantu_bool VANTU_CALL CommonCopyBitmap(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src, int32_t srcX,
                                       int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth,
                                       int32_t copyHeight, vantu_bool transparent);
vantu_bool VANTU_CALL CommonCopyBitmapSW(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src, int32_t srcX,
                                         int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth,
                                         int32_t copyHeight, vantu_bool transparent);
vantu_bool VANTU_CALL CommonCopyBitmapFail(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src, int32_t srcX,
                                           int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth,
                                           int32_t copyHeight, vantu_bool transparent);
vantu_bool VANTU_CALL CommonCopyEntireBitmap(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src, int32_t dstX,
                                             int32_t dstY, vantu_bool transparent);
vantu_bool VANTU_CALL CommonCopyEntireBitmapSW(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                               int32_t dstX, int32_t dstY, vantu_bool transparent);
vantu_bool VANTU_CALL CommonCopyEntireBitmapDefault(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                                    int32_t dstX, int32_t dstY, vantu_bool transparent);
vantu_bool VANTU_CALL CommonCopyEntireBitmapFail(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                                 int32_t dstX, int32_t dstY, vantu_bool transparent);
void CommonDoCopyBitmapSW(SCommonRec *record, const SBitmapInfo *dstInfo, const SBitmapInfo *srcInfo, int32_t srcX,
                          int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth, int32_t copyHeight,
                          vantu_bool transparent);
vantu_bool CommonClipRect(SCommonRect *other, SCommonRect *rect, int32_t boundWidth, int32_t boundHeight);

#ifdef __cplusplus
}

#include <cstddef>
#include <cstdlib>
#include <type_traits>

// ---- Records and lists, for the layer's own code ---------------------------------------------

// A new zero-filled record of `size` bytes, `extra` more bytes of zeros
// behind it that are no part of it, counted once for its caller; null when
// memory is exhausted.
void *CommonAllocRecord(size_t size, size_t extra);

// A new zero-filled record of type Record (which opens with its header),
// counted once for its caller; null when memory is exhausted.
template <class Record>
Record *CommonNewRecord() {
    return static_cast<Record *>(CommonAllocRecord(sizeof(Record), 0));
}

// The palette or bitmap whose link `link` is.
template <class Member>
Member *CommonMemberOf(SCommonLink *link) {
    return reinterpret_cast<Member *>(reinterpret_cast<char *>(link) - offsetof(Member, link));
}

// ---- What the layer keeps about a driver record, where no host sees it ------------------------
//
// A driver record comes from CommonNewDriverRecord: its own block begins with
// this bookkeeping and the record follows it, so that no record's layout
// changes and records share nothing. Every record the layer's functions are
// given, and every record whose lists hold palettes and bitmaps, is one of these.

struct CommonBitmapWalk;

struct CommonRecordPrivate {
    SCommonBitmap *held;     // screen bitmaps the driver holds, linked through their tails
    CommonBitmapWalk *walks; // walks over the bitmap list in progress, innermost first
    bool ending;             // the record's memory is being freed: no screen is made any more
};

// A new zero-filled driver record of `size` bytes with its bookkeeping,
// `size` and refCount 1 set; null when memory is exhausted.
SCommonRec *CommonAllocDriverRecord(size_t size);
// Frees the block of a driver record made by CommonAllocDriverRecord.
void CommonFreeDriverRecord(SCommonRec *record);
CommonRecordPrivate &CommonPrivateOf(SCommonRec *record);
// The record whose `bitmaps` anchor `list` is.
inline SCommonRec *CommonRecordOfBitmaps(SCommonList *list) {
    return reinterpret_cast<SCommonRec *>(reinterpret_cast<char *>(list) - offsetof(SCommonRec, bitmaps));
}

template <class Record>
Record *CommonNewDriverRecord() {
    static_assert(offsetof(Record, common) == 0, "a driver record opens with its SCommonRec");
    return reinterpret_cast<Record *>(CommonAllocDriverRecord(sizeof(Record)));
}
template <>
inline SCommonRec *CommonNewDriverRecord<SCommonRec>() {
    return CommonAllocDriverRecord(sizeof(SCommonRec));
}

// Every bitmap the layer makes carries, behind the record, the link by which
// the driver's held screen bitmaps are kept.
struct CommonBitmapTail {
    SCommonBitmap *nextHeld;
};
inline CommonBitmapTail &CommonTailOf(SCommonBitmap *bitmap) {
    return *reinterpret_cast<CommonBitmapTail *>(reinterpret_cast<char *>(bitmap) + sizeof(SCommonBitmap));
}

// A walk over a record's bitmap list, first to last, that survives what the
// visit does to the list: the member visited, the next one or any other may
// be given up, and new ones made, during a visit (a host's hook may do
// anything). Members appended during the walk are reached while the member
// visited stays listed.
struct CommonBitmapWalk {
    SCommonLink *current;
    SCommonLink *next; // kept up to date once `current` has left the list
    bool currentGone;
    CommonBitmapWalk *outer;
};
// Called by the bitmap's destructor before `link` leaves its list.
void CommonBitmapLeaving(SCommonLink *link);

template <class Visit>
void CommonWalkBitmaps(SCommonRec *record, Visit visit) {
    CommonRecordPrivate &own = CommonPrivateOf(record);
    CommonBitmapWalk walk{nullptr, nullptr, false, own.walks};
    own.walks = &walk;
    for (SCommonLink *link = record->bitmaps.first; link != nullptr;) {
        walk = {link, link->next, false, walk.outer};
        visit(CommonMemberOf<SCommonBitmap>(link));
        link = walk.currentGone ? walk.next : walk.current->next;
    }
    own.walks = walk.outer;
}

// ---- Empty slots and hooks -------------------------------------------------------------------
//
// One rule wherever the common layer calls a record's slot or hook that the
// driver may have left null: the common function the memory driver installs
// there runs instead (CallOrCommon: Dealloc, DoAlloc, DoDealloc,
// RestoreLostSurfaces, AllocScreenBitmap, AllocBitmap, DeallocScreenBitmap,
// DeallocBitmap, DoneBitmap, GetBitmapInfo, LockBitmap, UnlockBitmap,
// CopyBitmap). DoAllocSurfaces and DoDeallocSurfaces make and drop the
// concrete driver's own screen, which no common function can stand in for:
// empty, they fail (CallOrFail).
template <class Fn, class... Args>
auto CallOrCommon(Fn slot, std::type_identity_t<Fn> common, SCommonRec *record, Args... args) {
    return (slot != nullptr ? slot : common)(record, args...);
}

template <class Fn, class... Args>
vantu_bool CallOrFail(Fn slot, SCommonRec *record, Args... args) {
    return slot != nullptr ? slot(record, args...) : 0;
}
#endif
