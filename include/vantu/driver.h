/**
 * @file vantu/driver.h
 * @brief The driver's binary interface: records, slot and hook types, the
 * entry point. Plain C; the only header a C host needs.
 *
 * A host loads the library at run time, calls VANTU_DLL_Init() once per
 * driver record it wants, and from then on calls only the function slots
 * stored in that record, always passing the record back as the first
 * argument.
 *
 * Every record below is plain data with a fixed field order. On 32-bit x86 the
 * offsets and sizes are those of the original 32-bit Windows library and are
 * checked at compile time; on 64-bit targets the order and the widths of the
 * fields stay, pointers and handles take 8 bytes and `size` holds sizeof.
 */
#ifndef VANTU_DRIVER_H
#define VANTU_DRIVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** @brief The calling convention of slots, hooks and host callbacks:
 * arguments on the stack, removed by the caller (cdecl on 32-bit x86; the
 * platform's C convention elsewhere). */
#if defined(_WIN32) && !defined(_WIN64)
#define VANTU_CALL __cdecl
#else
#define VANTU_CALL
#endif

/** @brief Marks the entry point: exported from the library, imported by a
 * host that links it directly. */
#if defined(_WIN32)
#if defined(VANTU_BUILDING_LIBRARY)
#define VANTU_EXPORT __declspec(dllexport)
#else
#define VANTU_EXPORT
#endif
#else
#define VANTU_EXPORT __attribute__((visibility("default")))
#endif

/** Results named bool are one byte: 1 true, 0 false. */
typedef uint8_t vantu_bool;

/** The driver record (struct SCommonRec). */
typedef struct SCommonRec SCommonRec;
/** A bitmap record (struct SCommonBitmap). */
typedef struct SCommonBitmap SCommonBitmap;
/** A palette record (struct SCommonPalette). */
typedef struct SCommonPalette SCommonPalette;

/* ---- Shared records ------------------------------------------------------ */

/** A record's destructor: called once, with the record still intact, when its
 * last reference goes. */
typedef void(VANTU_CALL *SCommonDestructFunc)(void *record);

/** @brief Opens every record the driver hands out (driver record, palettes,
 * bitmaps).
 *
 * Dropping a reference: if `refCount` is below 2 and `destruct` is set, it is
 * called; then `refCount` goes down by one, and at 0 or less `size` becomes 0
 * and the record is freed. */
typedef struct SCommonHeader {
    uint32_t size;                /**< sizeof the concrete record; 0 just before it is freed */
    int32_t refCount;             /**< number of holders; 1 when created */
    SCommonDestructFunc destruct; /**< unlink procedure, or null */
} SCommonHeader;

/** Anchor of a list (struct SCommonList). */
typedef struct SCommonList SCommonList;

/** @brief Embedded in a list member right after its header; links point at
 * links, not at the members. */
typedef struct SCommonLink {
    struct SCommonLink *next; /**< neighbour's link, null at the end */
    struct SCommonLink *prev; /**< neighbour's link, null at the start */
    SCommonList *list;        /**< the anchor, null while unlinked */
} SCommonLink;

/** Anchor of a creation-ordered list of palettes or bitmaps. */
struct SCommonList {
    SCommonLink *first; /**< the first member's link, null when empty */
    SCommonLink *last;  /**< the last member's link, null when empty */
};

/** @brief Ten words describing a pixel surface: the host's buffer, the
 * screen, and every bitmap.
 *
 * Row y starts at `bits + y * (int32_t)pitch` on every build, so a surface
 * stored bottom-up is described with `bits` at its top row and the negative
 * row step as `pitch`. `width` and `height` are read as signed: 0 or less
 * means no pixels. Words 3 to 8 are the pixel format a bitmap receives from
 * the screen. */
typedef struct SBitmapInfo {
    uint32_t width;         /**< pixels in a row (read as signed) */
    uint32_t height;        /**< rows (read as signed) */
    uint32_t pitch;         /**< bytes from one row to the next (read as signed) */
    uint32_t formatOpaque1; /**< carried with the format, not interpreted */
    uint32_t bitsPerPixel;  /**< 8, 16, 32 (24 and others take the generic paths) */
    uint32_t redMask;       /**< the bits of a pixel that hold red */
    uint32_t greenMask;     /**< the bits of a pixel that hold green */
    uint32_t blueMask;      /**< the bits of a pixel that hold blue */
    uint32_t formatOpaque2; /**< carried with the format, not interpreted */
    void *bits;             /**< first pixel of the first row */
} SBitmapInfo;

/** A host debug output function: the record (may be null) and a text
 * "VANTU: ..." ending in a newline. */
typedef void(VANTU_CALL *DebugMsgFunc)(SCommonRec *record, const char *text);

/** A host surface callback: the record and the callbacks' `userData`; false
 * refuses. */
typedef vantu_bool(VANTU_CALL *SurfaceCallbackFunc)(SCommonRec *record, uint32_t userData);

/** The host's surface callbacks, told when the driver becomes ready and stops. */
typedef struct SCommonCallbacks {
    SurfaceCallbackFunc allocSurfaces;   /**< called when the driver becomes ready; may be null */
    SurfaceCallbackFunc deallocSurfaces; /**< called when it stops being ready; may be null */
    uint32_t userData;                   /**< handed back unchanged */
} SCommonCallbacks;

/** Generic colour conversion data: normalised 7-bit masks and their shifts,
 * filled when the driver becomes ready on a screen without a fixed conversion. */
typedef struct SColourShift {
    uint32_t redMask;   /**< the screen's red mask, moved so its top bit is bit 6 */
    uint32_t greenMask; /**< the same for green */
    uint32_t blueMask;  /**< the same for blue */
    int32_t redShift;   /**< how far red moves to its field: positive up, negative down */
    int32_t greenShift; /**< the same for green */
    int32_t blueShift;  /**< the same for blue */
} SColourShift;

/** A palette: 256 colour words that bitmaps refer to by counted reference. */
typedef struct SCommonPalette {
    SCommonHeader header;  /**< size, reference count, destructor */
    SCommonLink link;      /**< membership in the record's palette list */
    uint32_t entries[256]; /**< colour words: byte 0 red, 1 green, 2 blue */
} SCommonPalette;

/** A bitmap: a surface in the screen's pixel format, reference-counted. */
struct SCommonBitmap {
    SCommonHeader header;    /**< size, reference count, destructor */
    SCommonLink link;        /**< membership in the record's bitmap list */
    uint8_t isAllocated;     /**< has a surface for the current screen */
    uint8_t isLocked;        /**< between LockBitmap and UnlockBitmap */
    uint8_t isInitialized;   /**< the pixels hold defined content */
    uint8_t isScreen;        /**< follows the screen's width and height */
    SCommonPalette *palette; /**< the bitmap's counted palette reference, or null */
    SBitmapInfo info;        /**< the surface; the host writes `pitch` and `bits` */
};

/* ---- Public slots (the host calls these) ---------------------------------- */
/* Each takes the record first; the slot of the same name in SCommonRec holds one. */

/** Slot `Done`: finalize (deallocating first if allocated) and drop the record's reference. */
typedef vantu_bool(VANTU_CALL *DoneFunc)(SCommonRec *record);
/** Slot `AllocWindow`: a screen in the host's window; the memory driver always refuses. */
typedef vantu_bool(VANTU_CALL *AllocWindowFunc)(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                                uint32_t windowArg);
/** Slot `AllocFullScreen`: a full-screen mode; the memory driver always refuses. */
typedef vantu_bool(VANTU_CALL *AllocFullScreenFunc)(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                                    uint32_t fullScreenArg, uint32_t width, uint32_t height,
                                                    uint32_t bitsPerPixel, uint32_t fullScreenArg2,
                                                    uint32_t fullScreenArg3);
/** Slot `AllocBuffer`: make the host's buffer the screen and ready the driver; false leaves it not allocated. */
typedef vantu_bool(VANTU_CALL *AllocBufferFunc)(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                                const SBitmapInfo *buffer);
/** Slot `Dealloc`: end the allocation in force (true also when none is); the host's buffer stays the host's. */
typedef vantu_bool(VANTU_CALL *DeallocFunc)(SCommonRec *record);
/** Slot `SetDebugMsgFunc`: route debug messages to `func` (null: back to the entry point's function); true. */
typedef vantu_bool(VANTU_CALL *SetDebugMsgFuncFunc)(SCommonRec *record, DebugMsgFunc func);
/** Slot `SetCallbacks`: replace the surface callbacks (null clears them), optionally returning the old ones; true. */
typedef vantu_bool(VANTU_CALL *SetCallbacksFunc)(SCommonRec *record, const SCommonCallbacks *callbacks,
                                                 SCommonCallbacks *oldCallbacks);
/** Slot `DrawBegin`: take the drawing lock (waits up to 10 s); pointer to the record's `version`, or null. */
typedef void *(VANTU_CALL *DrawBeginFunc)(SCommonRec *record);
/** Slot `DrawEnd`: release the drawing lock; false, and nothing changes, when not drawing or when called
 * from a thread that does not own the lock (unless the drawing thread ended without DrawEnd: then any
 * thread's DrawEnd ends that drawing). */
typedef vantu_bool(VANTU_CALL *DrawEndFunc)(SCommonRec *record);
/** Slot `Flip`: present the screen; false while drawing. */
typedef vantu_bool(VANTU_CALL *FlipFunc)(SCommonRec *record);
/** Slot `FlipToPrimary`: present to the primary surface; false while drawing. */
typedef vantu_bool(VANTU_CALL *FlipToPrimaryFunc)(SCommonRec *record);
/** Slot `Sync`: true exactly when the driver is ready and not drawing. */
typedef vantu_bool(VANTU_CALL *SyncFunc)(SCommonRec *record);
/** Slot `InitPalette`: new palette from `count` (0..256) colour words, the rest 0; null if refused. */
typedef SCommonPalette *(VANTU_CALL *InitPaletteFunc)(SCommonRec *record, const uint32_t *colours, int32_t count);
/** Slot `DonePalette`: drop the caller's reference to a palette; true (false for a null palette). */
typedef vantu_bool(VANTU_CALL *DonePaletteFunc)(SCommonRec *record, SCommonPalette *palette);
/** Slot `GetScreenColor`: pixel value of colour word `colour` for `bitmap` on the current screen (0 only for
 * colour 0). */
typedef uint32_t(VANTU_CALL *GetScreenColorFunc)(SCommonRec *record, SCommonBitmap *bitmap, uint32_t colour);
/** Slot `InitBitmap`: new bitmap of the given size, allocated now if the driver is ready; null if refused. */
typedef SCommonBitmap *(VANTU_CALL *InitBitmapFunc)(SCommonRec *record, int32_t width, int32_t height);
/** Slot `InitScreenBitmap`: new bitmap that follows the screen's size; null if refused. */
typedef SCommonBitmap *(VANTU_CALL *InitScreenBitmapFunc)(SCommonRec *record);
/** Slot `DoneBitmap`: drop the caller's reference to a bitmap (and its palette's with the last one); false for
 * the screen bitmap. */
typedef vantu_bool(VANTU_CALL *DoneBitmapFunc)(SCommonRec *record, SCommonBitmap *bitmap);
/** Slot `SetBitmapPalette`: give a bitmap a counted reference to `palette` (null drops it); true. */
typedef vantu_bool(VANTU_CALL *SetBitmapPaletteFunc)(SCommonRec *record, SCommonBitmap *bitmap,
                                                     SCommonPalette *palette);
/** Slot `GetBitmapInfo`: the bitmap's own surface description, valid as long as the bitmap. */
typedef SBitmapInfo *(VANTU_CALL *GetBitmapInfoFunc)(SCommonRec *record, SCommonBitmap *bitmap);
/** Slot `IsBitmapInitialized`: whether the bitmap's pixels hold defined content. */
typedef vantu_bool(VANTU_CALL *IsBitmapInitializedFunc)(SCommonRec *record, SCommonBitmap *bitmap);
/** Slot `ClearBitmap`: fill the whole bitmap with a pixel value; false if not allocated, locked or without bits. */
typedef vantu_bool(VANTU_CALL *ClearBitmapFunc)(SCommonRec *record, SCommonBitmap *bitmap, uint32_t pixel);
/** Slot `CopyBitmap`: copy a clipped rectangle (0 size: the source's), opaque or with pixel 0 transparent. */
typedef vantu_bool(VANTU_CALL *CopyBitmapFunc)(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                               int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                                               int32_t copyWidth, int32_t copyHeight, vantu_bool transparent);
/** Slot `CopyEntireBitmap`: copy all of `src` with its top-left pixel at (dstX, dstY), clipped. */
typedef vantu_bool(VANTU_CALL *CopyEntireBitmapFunc)(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                                     int32_t dstX, int32_t dstY, vantu_bool transparent);
/** Slot `LockBitmap`: mark an allocated bitmap locked and return its description; null if refused. */
typedef SBitmapInfo *(VANTU_CALL *LockBitmapFunc)(SCommonRec *record, SCommonBitmap *bitmap);
/** Slot `UnlockBitmap`: unlock a locked bitmap and mark it initialized; false if it was not locked. */
typedef vantu_bool(VANTU_CALL *UnlockBitmapFunc)(SCommonRec *record, SCommonBitmap *bitmap);

/* ---- Internal hooks (the common layer calls these into the concrete driver) */

/** Hook `DoAlloc`: start an allocation: store flags and sub-device, create the screen, ready. */
typedef vantu_bool(VANTU_CALL *DoAllocFunc)(SCommonRec *record, uint32_t flags, int32_t subDevice);
/** Hook `DoDealloc`: end an allocation: unready and drop the screen. */
typedef vantu_bool(VANTU_CALL *DoDeallocFunc)(SCommonRec *record);
/** Hook `DoAllocSurfaces`: create the screen and make the driver ready. */
typedef vantu_bool(VANTU_CALL *DoAllocSurfacesFunc)(SCommonRec *record);
/** Hook `DoDeallocSurfaces`: stop being ready and drop the screen. */
typedef vantu_bool(VANTU_CALL *DoDeallocSurfacesFunc)(SCommonRec *record);
/** Hooks `AllocScreenBitmap` and `AllocBitmap`: give one bitmap (the screen bitmap or any other) its surface. */
typedef vantu_bool(VANTU_CALL *AllocBitmapFunc)(SCommonRec *record, SCommonBitmap *bitmap);
/** Hooks `DeallocScreenBitmap` and `DeallocBitmap`: take one bitmap's surface away. */
typedef vantu_bool(VANTU_CALL *DeallocBitmapFunc)(SCommonRec *record, SCommonBitmap *bitmap);
/** Hook `RestoreLostSurfaces`: make sure the surfaces are usable before drawing or presenting. */
typedef vantu_bool(VANTU_CALL *RestoreLostSurfacesFunc)(SCommonRec *record);

/* ---- The driver record ----------------------------------------------------- */

/** @brief The driver record: the driver's description, its state, the
 * public slots the host calls and the internal hooks the common layer calls.
 *
 * The host reads fields and calls slots at fixed positions; the opaque words
 * carry no meaning and stay zero. */
struct SCommonRec {
    SCommonHeader header;        /**< size, reference count (the host may raise it), no destructor */
    uint32_t version;            /**< 2; DrawBegin returns this field's address */
    uint32_t build;              /**< 2 */
    uint32_t opaque20;           /**< opaque */
    const char *name;            /**< "Memory screen driver" */
    int32_t numSubDevices;       /**< highest sub-device accepted */
    uint32_t opaque32;           /**< opaque */
    uint8_t allocated;           /**< an allocation is in force */
    SCommonBitmap *screenBitmap; /**< the bitmap that stands for the screen */
    SBitmapInfo screenInfo;      /**< all zero while no screen exists */
    uint32_t opaque84[8];        /**< opaque */
    DebugMsgFunc hostDebugFunc;  /**< the entry point's debug function */

    /* Public slots. */
    DoneFunc Done;                               /**< see ::DoneFunc */
    AllocWindowFunc AllocWindow;                 /**< see ::AllocWindowFunc */
    AllocFullScreenFunc AllocFullScreen;         /**< see ::AllocFullScreenFunc */
    AllocBufferFunc AllocBuffer;                 /**< see ::AllocBufferFunc */
    DeallocFunc Dealloc;                         /**< see ::DeallocFunc */
    SetDebugMsgFuncFunc SetDebugMsgFunc;         /**< see ::SetDebugMsgFuncFunc */
    SetCallbacksFunc SetCallbacks;               /**< see ::SetCallbacksFunc */
    DrawBeginFunc DrawBegin;                     /**< see ::DrawBeginFunc */
    DrawEndFunc DrawEnd;                         /**< see ::DrawEndFunc */
    FlipFunc Flip;                               /**< see ::FlipFunc */
    FlipToPrimaryFunc FlipToPrimary;             /**< see ::FlipToPrimaryFunc */
    SyncFunc Sync;                               /**< see ::SyncFunc */
    InitPaletteFunc InitPalette;                 /**< see ::InitPaletteFunc */
    DonePaletteFunc DonePalette;                 /**< see ::DonePaletteFunc */
    GetScreenColorFunc GetScreenColor;           /**< see ::GetScreenColorFunc; null until the first readying */
    InitBitmapFunc InitBitmap;                   /**< see ::InitBitmapFunc */
    InitScreenBitmapFunc InitScreenBitmap;       /**< see ::InitScreenBitmapFunc */
    DoneBitmapFunc DoneBitmap;                   /**< see ::DoneBitmapFunc */
    SetBitmapPaletteFunc SetBitmapPalette;       /**< see ::SetBitmapPaletteFunc */
    GetBitmapInfoFunc GetBitmapInfo;             /**< see ::GetBitmapInfoFunc */
    IsBitmapInitializedFunc IsBitmapInitialized; /**< see ::IsBitmapInitializedFunc */
    ClearBitmapFunc ClearBitmap;                 /**< see ::ClearBitmapFunc */
    CopyBitmapFunc CopyBitmap;                   /**< see ::CopyBitmapFunc */
    CopyEntireBitmapFunc CopyEntireBitmap;       /**< see ::CopyEntireBitmapFunc */
    LockBitmapFunc LockBitmap;                   /**< see ::LockBitmapFunc */
    UnlockBitmapFunc UnlockBitmap;               /**< see ::UnlockBitmapFunc */

    uint32_t hostHandle;       /**< the entry point's opaque value; 0 after finalization */
    uint32_t opaque228;        /**< opaque */
    DebugMsgFunc debugMsgFunc; /**< set through SetDebugMsgFunc; wins over hostDebugFunc */

    /* Internal hooks. */
    DoAllocFunc DoAlloc;                         /**< see ::DoAllocFunc */
    DoDeallocFunc DoDealloc;                     /**< see ::DoDeallocFunc */
    DoAllocSurfacesFunc DoAllocSurfaces;         /**< see ::DoAllocSurfacesFunc */
    DoDeallocSurfacesFunc DoDeallocSurfaces;     /**< see ::DoDeallocSurfacesFunc */
    AllocBitmapFunc AllocScreenBitmap;           /**< see ::AllocBitmapFunc; serves the screen bitmap */
    AllocBitmapFunc AllocBitmap;                 /**< see ::AllocBitmapFunc; serves every other bitmap */
    DeallocBitmapFunc DeallocScreenBitmap;       /**< see ::DeallocBitmapFunc; serves the screen bitmap */
    DeallocBitmapFunc DeallocBitmap;             /**< see ::DeallocBitmapFunc; serves every other bitmap */
    RestoreLostSurfacesFunc RestoreLostSurfaces; /**< see ::RestoreLostSurfacesFunc */

    void *drawMutex;    /**< serializes drawing; null after finalization */
    uint32_t allocMode; /**< 0 none, 1 window, 2 full screen, 3 buffer */

    /* Allocation parameters: windowArg up to subDevice are zeroed as one block. */
    uint32_t windowArg;        /**< last argument of AllocWindow */
    uint32_t fullScreenArg;    /**< fourth argument of AllocFullScreen */
    uint32_t fullScreenArg2;   /**< eighth argument of AllocFullScreen */
    uint32_t fullScreenArg3;   /**< ninth argument of AllocFullScreen */
    uint32_t opaque296;        /**< opaque */
    uint32_t fullScreenWidth;  /**< width asked of AllocFullScreen */
    uint32_t fullScreenHeight; /**< height asked of AllocFullScreen */
    uint32_t fullScreenDepth;  /**< bits per pixel asked of AllocFullScreen */
    SBitmapInfo bufferInfo;    /**< copy of the description given to AllocBuffer */
    uint32_t allocFlags;       /**< flags of the current allocation */
    int32_t subDevice;         /**< sub-device of the current allocation */

    SColourShift colourShift;   /**< generic conversion data; zero unless it is in use */
    uint8_t readied;            /**< conversion chosen and every bitmap allocated */
    uint8_t surfacesAllocated;  /**< the host's allocSurfaces has been told */
    SCommonCallbacks callbacks; /**< the host's surface callbacks */
    uint8_t drawing;            /**< between a successful DrawBegin and DrawEnd */
    SCommonList palettes;       /**< every palette made for this record, in creation order */
    SCommonList bitmaps;        /**< every bitmap, the screen bitmaps included, in creation order */
};

/** The memory driver's record: the common record and one unused word. */
typedef struct SMEMRec {
    SCommonRec common; /**< the record the host sees */
    uint32_t unused;   /**< nothing reads it */
} SMEMRec;

/* ---- Entry point ------------------------------------------------------------ */

/** The type of VANTU_DLL_Init(), for a host that looks it up by name. */
typedef SCommonRec *(VANTU_CALL *VantuDllInitFunc)(uint32_t hostHandle, DebugMsgFunc hostDebugFunc);
/** @brief The library's one export: a new, independent driver record, ended
 * by its `Done` slot; null if memory is exhausted.
 * @param hostHandle an opaque value kept in the record's `hostHandle`
 * @param hostDebugFunc where the record's debug messages go (may be null);
 *        it also becomes the module-wide default debug function for every
 *        record of the loaded library */
VANTU_EXPORT SCommonRec *VANTU_CALL VANTU_DLL_Init(uint32_t hostHandle, DebugMsgFunc hostDebugFunc);

/* ---- Layout checks ------------------------------------------------------------ */

/** A compile-time check in C and C++ alike. */
#if defined(__cplusplus)
#define VANTU_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VANTU_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
VANTU_STATIC_ASSERT(sizeof(SCommonHeader) == 12, "SCommonHeader");
VANTU_STATIC_ASSERT(sizeof(SCommonLink) == 12, "SCommonLink");
VANTU_STATIC_ASSERT(sizeof(SBitmapInfo) == 40, "SBitmapInfo");
VANTU_STATIC_ASSERT(sizeof(SCommonRec) == 420, "SCommonRec");
VANTU_STATIC_ASSERT(sizeof(SMEMRec) == 424, "SMEMRec");
VANTU_STATIC_ASSERT(sizeof(SCommonBitmap) == 72, "SCommonBitmap");
VANTU_STATIC_ASSERT(sizeof(SCommonPalette) == 1048, "SCommonPalette");
VANTU_STATIC_ASSERT(offsetof(SCommonBitmap, isAllocated) == 24, "bitmap flags");
VANTU_STATIC_ASSERT(offsetof(SCommonBitmap, palette) == 28, "bitmap palette");
VANTU_STATIC_ASSERT(offsetof(SCommonBitmap, info) == 32, "bitmap info");
VANTU_STATIC_ASSERT(offsetof(SCommonPalette, entries) == 24, "palette entries");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, version) == 12, "version");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, build) == 16, "build");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, name) == 24, "name");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, numSubDevices) == 28, "numSubDevices");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, allocated) == 36, "allocated");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, screenBitmap) == 40, "screenBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, screenInfo) == 44, "screenInfo");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, opaque84) == 84, "opaque84");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, hostDebugFunc) == 116, "hostDebugFunc");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, Done) == 120, "Done");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, AllocWindow) == 124, "AllocWindow");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, AllocFullScreen) == 128, "AllocFullScreen");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, AllocBuffer) == 132, "AllocBuffer");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, Dealloc) == 136, "Dealloc");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, SetDebugMsgFunc) == 140, "SetDebugMsgFunc");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, SetCallbacks) == 144, "SetCallbacks");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DrawBegin) == 148, "DrawBegin");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DrawEnd) == 152, "DrawEnd");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, Flip) == 156, "Flip");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, FlipToPrimary) == 160, "FlipToPrimary");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, Sync) == 164, "Sync");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, InitPalette) == 168, "InitPalette");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DonePalette) == 172, "DonePalette");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, GetScreenColor) == 176, "GetScreenColor");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, InitBitmap) == 180, "InitBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, InitScreenBitmap) == 184, "InitScreenBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DoneBitmap) == 188, "DoneBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, SetBitmapPalette) == 192, "SetBitmapPalette");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, GetBitmapInfo) == 196, "GetBitmapInfo");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, IsBitmapInitialized) == 200, "IsBitmapInitialized");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, ClearBitmap) == 204, "ClearBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, CopyBitmap) == 208, "CopyBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, CopyEntireBitmap) == 212, "CopyEntireBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, LockBitmap) == 216, "LockBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, UnlockBitmap) == 220, "UnlockBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, hostHandle) == 224, "hostHandle");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, opaque228) == 228, "opaque228");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, debugMsgFunc) == 232, "debugMsgFunc");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DoAlloc) == 236, "DoAlloc");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DoDealloc) == 240, "DoDealloc");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DoAllocSurfaces) == 244, "DoAllocSurfaces");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DoDeallocSurfaces) == 248, "DoDeallocSurfaces");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, AllocScreenBitmap) == 252, "AllocScreenBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, AllocBitmap) == 256, "AllocBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DeallocScreenBitmap) == 260, "DeallocScreenBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, DeallocBitmap) == 264, "DeallocBitmap");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, RestoreLostSurfaces) == 268, "RestoreLostSurfaces");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, drawMutex) == 272, "drawMutex");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, allocMode) == 276, "allocMode");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, windowArg) == 280, "windowArg");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, fullScreenArg) == 284, "fullScreenArg");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, fullScreenArg2) == 288, "fullScreenArg2");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, fullScreenArg3) == 292, "fullScreenArg3");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, opaque296) == 296, "opaque296");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, fullScreenWidth) == 300, "fullScreenWidth");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, fullScreenHeight) == 304, "fullScreenHeight");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, fullScreenDepth) == 308, "fullScreenDepth");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, bufferInfo) == 312, "bufferInfo");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, allocFlags) == 352, "allocFlags");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, subDevice) == 356, "subDevice");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, colourShift) == 360, "colourShift");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, readied) == 384, "readied");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, surfacesAllocated) == 385, "surfacesAllocated");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, callbacks) == 388, "callbacks");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, drawing) == 400, "drawing");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, palettes) == 404, "palettes");
VANTU_STATIC_ASSERT(offsetof(SCommonRec, bitmaps) == 412, "bitmaps");
#endif

#ifdef __cplusplus
}
#endif

#endif /* VANTU_DRIVER_H */
