// Software clear and copy: the flag checks, the locking through the record's
// slots, the clipping and the hand-over of clipped rectangles to the pixel
// kernels.
//
// All rectangle arithmetic is done in 64 bits: coordinates are i32 and sizes
// come from u32 fields, so sums such as srcX + width can leave the i32 range,
// and a clip computed in 32 bits would then wrap and address outside the
// surface. Byte offsets are checked against ptrdiff_t before any pointer is
// formed.
#include <cstdint>

#include "common.h"
#include "pixels.h"

namespace {

struct Rect64 {
    int64_t left;
    int64_t top;
    int64_t right;
    int64_t bottom;
};

// Clip `rect` to [0, boundWidth) x [0, boundHeight), cutting `other` by the
// same amounts on the same sides. Rejects, changing nothing, a rectangle that
// starts at or beyond the bounds or ends before 0; an empty one is accepted.
bool ClipRect64(Rect64 &other, Rect64 &rect, int64_t boundWidth, int64_t boundHeight) {
    if (rect.left >= boundWidth || rect.top >= boundHeight || rect.right < 0 || rect.bottom < 0)
        return false;
    if (rect.left < 0) {
        other.left -= rect.left;
        rect.left = 0;
    }
    if (rect.top < 0) {
        other.top -= rect.top;
        rect.top = 0;
    }
    if (rect.right > boundWidth) {
        other.right -= rect.right - boundWidth;
        rect.right = boundWidth;
    }
    if (rect.bottom > boundHeight) {
        other.bottom -= rect.bottom - boundHeight;
        rect.bottom = boundHeight;
    }
    return true;
}

constexpr int64_t kI32Max = INT32_MAX;
constexpr int64_t kI32Min = INT32_MIN;

constexpr int32_t Saturate32(int64_t value) {
    return static_cast<int32_t>(value < kI32Min ? kI32Min : value > kI32Max ? kI32Max : value);
}

// A u32 width or height as a bound: anything past the i32 range counts as INT32_MAX.
constexpr int64_t Bound(uint32_t value) { return value > kI32Max ? kI32Max : static_cast<int64_t>(value); }

constexpr uint32_t PixelSize(const SBitmapInfo &info) { return info.bitsPerPixel / 8; }

// Whether the byte span of `rows` rows from row `top`, each reaching `rowEnd`
// bytes into its row, can be addressed from `bits` with ptrdiff_t offsets.
// Rows end below 2^31, pitches below 2^32 and row ends below 2^61, so the sum
// cannot overflow 64 bits.
bool SpanFits(uint64_t top, uint64_t rows, uint32_t pitch, uint64_t rowEnd) {
    const uint64_t end = (top + rows - 1) * pitch + rowEnd;
    return end <= static_cast<uint64_t>(PTRDIFF_MAX);
}

// The kernels take a ptrdiff_t pitch; a single row never advances by it.
ptrdiff_t KernelPitch(uint32_t pitch, int64_t rows) { return rows > 1 ? static_cast<ptrdiff_t>(pitch) : 0; }

uint8_t *PixelAt(const SBitmapInfo &info, int64_t x, int64_t y, uint32_t pixelSize) {
    const uint64_t offset =
        static_cast<uint64_t>(y) * info.pitch + static_cast<uint64_t>(x) * pixelSize;
    return static_cast<uint8_t *>(info.bits) + static_cast<ptrdiff_t>(offset);
}

SBitmapInfo *LockThroughSlot(SCommonRec *record, SCommonBitmap *bitmap) {
    return record->LockBitmap != nullptr ? record->LockBitmap(record, bitmap) : nullptr;
}

void UnlockThroughSlot(SCommonRec *record, SCommonBitmap *bitmap) {
    if (record->UnlockBitmap != nullptr)
        record->UnlockBitmap(record, bitmap);
}

// Opaque copy of `rows` rows of `rowBytes` bytes; rows longer than a kernel's
// i32 count go over in pieces.
void CopyBytes(const vantu::PixelKernels &kernels, uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src,
               ptrdiff_t srcPitch, uint64_t rowBytes, int32_t rows) {
    if (rowBytes <= static_cast<uint64_t>(kI32Max)) {
        kernels.copy(dst, dstPitch, src, srcPitch, static_cast<int32_t>(rowBytes), rows);
        return;
    }
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *dstRow = dst + y * dstPitch;
        const uint8_t *srcRow = src + y * srcPitch;
        for (uint64_t done = 0; done < rowBytes;) {
            const uint64_t left = rowBytes - done;
            const int32_t piece = static_cast<int32_t>(left < static_cast<uint64_t>(kI32Max) ? left : kI32Max);
            const auto at = static_cast<ptrdiff_t>(done);
            kernels.copy(dstRow + at, 0, srcRow + at, 0, piece, 1);
            done += static_cast<uint64_t>(piece);
        }
    }
}

void DoCopy(const SBitmapInfo &dstInfo, const SBitmapInfo &srcInfo, int32_t srcX, int32_t srcY, int32_t dstX,
            int32_t dstY, int32_t copyWidth, int32_t copyHeight, bool transparent) {
    const uint32_t p = PixelSize(srcInfo);
    // One pixel size addresses both surfaces; any other pairing would write
    // the destination at the wrong places.
    if (p != PixelSize(dstInfo) || dstInfo.bits == nullptr || srcInfo.bits == nullptr)
        return;

    const int64_t w = copyWidth != 0 ? copyWidth : Bound(srcInfo.width);
    const int64_t h = copyHeight != 0 ? copyHeight : Bound(srcInfo.height);
    Rect64 s{srcX, srcY, srcX + w, srcY + h};
    Rect64 d{dstX, dstY, dstX + w, dstY + h};
    if (!ClipRect64(s, d, Bound(dstInfo.width), Bound(dstInfo.height)))
        return;
    if (!ClipRect64(d, s, Bound(srcInfo.width), Bound(srcInfo.height)))
        return;
    // Every cut was made on both rectangles, so D has S's size; and a
    // non-empty S now lies inside the source, D inside the destination.
    const int64_t n = s.right - s.left;
    const int64_t m = s.bottom - s.top;
    if (n <= 0 || m <= 0 || p == 0)
        return;

    const uint64_t rowBytes = static_cast<uint64_t>(n) * p;
    if (!SpanFits(static_cast<uint64_t>(s.top), static_cast<uint64_t>(m), srcInfo.pitch,
                  static_cast<uint64_t>(s.left) * p + rowBytes) ||
        !SpanFits(static_cast<uint64_t>(d.top), static_cast<uint64_t>(m), dstInfo.pitch,
                  static_cast<uint64_t>(d.left) * p + rowBytes))
        return;

    const vantu::PixelKernels &kernels = vantu::ActiveKernels();
    uint8_t *dst = PixelAt(dstInfo, d.left, d.top, p);
    const uint8_t *src = PixelAt(srcInfo, s.left, s.top, p);
    const ptrdiff_t dstPitch = KernelPitch(dstInfo.pitch, m);
    const ptrdiff_t srcPitch = KernelPitch(srcInfo.pitch, m);
    const auto rows = static_cast<int32_t>(m);
    if (!transparent) {
        CopyBytes(kernels, dst, dstPitch, src, srcPitch, rowBytes, rows);
        return;
    }
    // The keyed copy knows 1- to 4-byte pixels only; other sizes are left alone.
    if (p <= 4)
        kernels.copyKeyed[p](dst, dstPitch, src, srcPitch, static_cast<int32_t>(n), rows);
}

} // namespace

extern "C" {

vantu_bool CommonClipRect(SCommonRect *other, SCommonRect *rect, int32_t boundWidth, int32_t boundHeight) {
    if (other == nullptr || rect == nullptr)
        return 0;
    Rect64 o{other->left, other->top, other->right, other->bottom};
    Rect64 r{rect->left, rect->top, rect->right, rect->bottom};
    if (!ClipRect64(o, r, boundWidth, boundHeight))
        return 0;
    // `rect` ends between its old values and the bounds, so it fits; `other`
    // can be cut past the i32 range and is held at its ends.
    *other = {Saturate32(o.left), Saturate32(o.top), Saturate32(o.right), Saturate32(o.bottom)};
    *rect = {Saturate32(r.left), Saturate32(r.top), Saturate32(r.right), Saturate32(r.bottom)};
    return 1;
}

// ---- Clear -------------------------------------------------------------------------------------

vantu_bool VANTU_CALL CommonClearBitmap(SCommonRec *, SCommonBitmap *bitmap, uint32_t) {
    if (bitmap == nullptr || !bitmap->isAllocated)
        return 0;
    bitmap->isInitialized = 1;
    return 1;
}

vantu_bool VANTU_CALL CommonClearBitmapSW(SCommonRec *record, SCommonBitmap *bitmap, uint32_t pixel) {
    if (record == nullptr || !CommonClearBitmap(record, bitmap, pixel))
        return 0;
    const SBitmapInfo *info = LockThroughSlot(record, bitmap);
    if (info == nullptr)
        return 0;
    if (info->bits == nullptr) {
        UnlockThroughSlot(record, bitmap);
        return 0;
    }
    const uint32_t p = PixelSize(*info);
    const int64_t n = Bound(info->width);
    const int64_t rows = Bound(info->height);
    // Sizes the fill does not know (0, 5 bytes and more) are left as they are.
    if (p >= 1 && p <= 4 && n > 0 && rows > 0 &&
        SpanFits(0, static_cast<uint64_t>(rows), info->pitch, static_cast<uint64_t>(n) * p)) {
        vantu::ActiveKernels().fill[p](static_cast<uint8_t *>(info->bits), KernelPitch(info->pitch, rows),
                                       static_cast<int32_t>(n), static_cast<int32_t>(rows), pixel);
    }
    UnlockThroughSlot(record, bitmap);
    return 1;
}

vantu_bool VANTU_CALL CommonClearBitmapFail(SCommonRec *, SCommonBitmap *, uint32_t) { return 0; }

// ---- Rectangle copy ----------------------------------------------------------------------------

vantu_bool VANTU_CALL CommonCopyBitmap(SCommonRec *, SCommonBitmap *dst, SCommonBitmap *src, int32_t, int32_t,
                                       int32_t, int32_t, int32_t, int32_t, vantu_bool) {
    if (dst == nullptr || src == nullptr)
        return 0;
    if (!dst->isAllocated || !src->isAllocated || !src->isInitialized)
        return 0;
    dst->isInitialized = 1;
    return 1;
}

vantu_bool VANTU_CALL CommonCopyBitmapSW(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                         int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                                         int32_t copyWidth, int32_t copyHeight, vantu_bool transparent) {
    if (record == nullptr || dst == nullptr || src == nullptr)
        return 0;
    if (!CommonCopyBitmap(record, dst, src, srcX, srcY, dstX, dstY, copyWidth, copyHeight, transparent))
        return 0;
    // Source first, then destination; released in the reverse order.
    const SBitmapInfo *srcInfo = LockThroughSlot(record, src);
    const SBitmapInfo *dstInfo = LockThroughSlot(record, dst);
    if (srcInfo == nullptr) {
        if (dstInfo != nullptr)
            UnlockThroughSlot(record, dst);
        return 0;
    }
    if (dstInfo == nullptr) {
        UnlockThroughSlot(record, src);
        return 0;
    }
    const bool usable =
        dstInfo->bits != nullptr && srcInfo->bits != nullptr && PixelSize(*dstInfo) == PixelSize(*srcInfo);
    if (usable)
        CommonDoCopyBitmapSW(record, dstInfo, srcInfo, srcX, srcY, dstX, dstY, copyWidth, copyHeight,
                             transparent);
    UnlockThroughSlot(record, dst);
    UnlockThroughSlot(record, src);
    return usable ? 1 : 0;
}

vantu_bool VANTU_CALL CommonCopyBitmapFail(SCommonRec *, SCommonBitmap *, SCommonBitmap *, int32_t, int32_t,
                                           int32_t, int32_t, int32_t, int32_t, vantu_bool) {
    return 0;
}

void CommonDoCopyBitmapSW(SCommonRec *, const SBitmapInfo *dstInfo, const SBitmapInfo *srcInfo, int32_t srcX,
                          int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth, int32_t copyHeight,
                          vantu_bool transparent) {
    if (dstInfo == nullptr || srcInfo == nullptr)
        return;
    DoCopy(*dstInfo, *srcInfo, srcX, srcY, dstX, dstY, copyWidth, copyHeight, transparent != 0);
}

// ---- Whole-bitmap copy -------------------------------------------------------------------------

vantu_bool VANTU_CALL CommonCopyEntireBitmap(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                             int32_t dstX, int32_t dstY, vantu_bool transparent) {
    return CommonCopyBitmap(record, dst, src, 0, 0, dstX, dstY, 0, 0, transparent);
}

vantu_bool VANTU_CALL CommonCopyEntireBitmapSW(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                               int32_t dstX, int32_t dstY, vantu_bool transparent) {
    return CommonCopyBitmapSW(record, dst, src, 0, 0, dstX, dstY, 0, 0, transparent);
}

vantu_bool VANTU_CALL CommonCopyEntireBitmapDefault(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                                    int32_t dstX, int32_t dstY, vantu_bool transparent) {
    if (record == nullptr || record->CopyBitmap == nullptr)
        return 0;
    return record->CopyBitmap(record, dst, src, 0, 0, dstX, dstY, 0, 0, transparent);
}

vantu_bool VANTU_CALL CommonCopyEntireBitmapFail(SCommonRec *, SCommonBitmap *, SCommonBitmap *, int32_t,
                                                 int32_t, vantu_bool) {
    return 0;
}

} // extern "C"
