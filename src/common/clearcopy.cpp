// Software clear and copy: the flag checks, the locking through the record's
// slots, the clipping and the hand-over of clipped blocks of rows to the pixel
// kernels.
//
// A surface description is read as the 32-bit machine reads it: width and
// height are signed (a negative one describes nothing), and pitch is the
// signed 32-bit step from one row to the next, so a bottom-up buffer (bits at
// its last row in memory, pitch = -stride) works on every build. Rectangles
// are clipped in 64-bit arithmetic, since sums such as srcX + width leave the
// i32 range, and no pointer is formed before the whole block of rows it
// starts has been found to lie inside the address space.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common.h"
#include "pixels.h"

namespace {

constexpr int64_t kI32Max = INT32_MAX;
constexpr int64_t kI32Min = INT32_MIN;

struct Rect64 {
    int64_t left;
    int64_t top;
    int64_t right;
    int64_t bottom;
};

// Clip `rect` to [0, boundWidth) x [0, boundHeight), cutting `other` by the
// same amounts on the same sides. Rejects, changing nothing, a rectangle that
// starts at or beyond the bounds or ends before 0; an empty one is accepted.
// Inlined: a small copy's whole cost before its first pixel is a few dozen
// instructions, and a call each for the two clips was a tenth of it.
[[gnu::always_inline]] inline bool ClipRect64(Rect64 &other, Rect64 &rect, int64_t boundWidth, int64_t boundHeight) {
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

constexpr int32_t Saturate32(int64_t value) {
    return static_cast<int32_t>(value < kI32Min ? kI32Min : value > kI32Max ? kI32Max : value);
}

// A locked SBitmapInfo as the pixel paths read it.
struct Surface {
    uint8_t *bits;
    int64_t width;  // signed: 0 or less describes no pixels
    int64_t height; // signed, likewise
    int64_t pitch;  // signed 32-bit row step
    uint32_t pixelSize;
};

Surface Read(const SBitmapInfo &info) {
    return {static_cast<uint8_t *>(info.bits), static_cast<int32_t>(info.width), static_cast<int32_t>(info.height),
            static_cast<int32_t>(info.pitch), info.bitsPerPixel / 8};
}

// Rows of one surface that a kernel works on: the first byte, the signed row
// step, and the byte addresses the rows cover, [lo, hi).
struct Block {
    uint8_t *first;
    ptrdiff_t pitch;
    uintptr_t lo;
    uintptr_t hi;
};

// The block of `rows` rows from row `top`, each `rowBytes` bytes from pixel
// `left`, all three already clipped to the surface. False when its extent
// (from the lower of the first and last rows to the end of the higher) would
// leave the address space or the range of pointer differences: no memory can
// be described that way, and no pointer is formed for it.
[[gnu::always_inline]] inline bool Locate(const Surface &s, int64_t left, int64_t top, int64_t rows, int64_t rowBytes,
                                          Block &out) {
    // |top|, |rows| < 2^31, |pitch| <= 2^31, pixel size < 2^29: every term
    // below stays under 2^63.
    const int64_t column = left * s.pixelSize;
    const int64_t first = top * s.pitch + column;
    const int64_t last = (top + rows - 1) * s.pitch + column;
    const int64_t lo = first < last ? first : last;
    const int64_t hi = (first < last ? last : first) + rowBytes;
    const uint64_t base = reinterpret_cast<uintptr_t>(s.bits);
    if (lo < -static_cast<int64_t>(PTRDIFF_MAX) || hi > static_cast<int64_t>(PTRDIFF_MAX))
        return false;
    if (lo < 0 && static_cast<uint64_t>(-lo) > base)
        return false;
    if (hi > 0 && static_cast<uint64_t>(hi) > UINTPTR_MAX - base)
        return false;
    out.first = s.bits + static_cast<ptrdiff_t>(first);
    out.pitch = static_cast<ptrdiff_t>(s.pitch);
    out.lo = static_cast<uintptr_t>(base + static_cast<uint64_t>(lo));
    out.hi = static_cast<uintptr_t>(base + static_cast<uint64_t>(hi));
    return true;
}

// Opaque rows of `rowBytes` bytes, or keyed rows of `rowBytes / p` pixels of
// 1 to 4 bytes; source and destination must not share a byte.
void Move(const vantu::PixelKernels &kernels, uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src,
          ptrdiff_t srcPitch, int64_t rowBytes, int32_t rows, uint32_t p, bool keyed) {
    if (keyed) {
        kernels.copyKeyed[p](dst, dstPitch, src, srcPitch, static_cast<int32_t>(rowBytes / p), rows);
        return;
    }
    if (rowBytes <= kI32Max) {
        kernels.copy(dst, dstPitch, src, srcPitch, static_cast<int32_t>(rowBytes), rows);
        return;
    }
    // Rows longer than a kernel's i32 count go over in pieces.
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *dstRow = dst + y * dstPitch;
        const uint8_t *srcRow = src + y * srcPitch;
        for (int64_t done = 0; done < rowBytes;) {
            const int64_t piece = rowBytes - done < kI32Max ? rowBytes - done : kI32Max;
            kernels.copy(dstRow + done, 0, srcRow + done, 0, static_cast<int32_t>(piece), 1);
            done += piece;
        }
    }
}

// One row whose destination overlaps its own source, `delta` bytes further
// on: through a small buffer, a piece at a time, starting at the end the
// shift moves towards, so that every source byte is read before it is
// overwritten.
void ShiftRow(const vantu::PixelKernels &kernels, uint8_t *dst, const uint8_t *src, int64_t rowBytes, uint32_t p,
              bool keyed, int64_t delta) {
    if (!keyed) {
        std::memmove(dst, src, static_cast<size_t>(rowBytes));
        return;
    }
    uint8_t buffer[1024];
    const int64_t piece = static_cast<int64_t>(sizeof buffer / p * p);
    for (int64_t done = 0; done < rowBytes; done += piece) {
        const int64_t bytes = rowBytes - done < piece ? rowBytes - done : piece;
        const int64_t at = delta > 0 ? rowBytes - done - bytes : done;
        std::memcpy(buffer, src + at, static_cast<size_t>(bytes));
        kernels.copyKeyed[p](dst + at, 0, buffer, 0, static_cast<int32_t>(bytes / p), 1);
    }
}

// Whether a row of `a` shares a byte with a row of `b`, both `rows` rows of
// `rowBytes` bytes: the rows of both, taken in address order, each checked
// against the furthest end the other block's rows have reached so far.
bool RowsShareBytes(const Block &a, const Block &b, int64_t rowBytes, int32_t rows) {
    const uint64_t aStep = static_cast<uint64_t>(a.pitch < 0 ? -static_cast<int64_t>(a.pitch) : a.pitch);
    const uint64_t bStep = static_cast<uint64_t>(b.pitch < 0 ? -static_cast<int64_t>(b.pitch) : b.pitch);
    const auto bytes = static_cast<uint64_t>(rowBytes);
    uint64_t aEnd = 0, bEnd = 0; // 0 until a row of that block was taken: no row ends at address 0
    for (int32_t i = 0, j = 0; i < rows || j < rows;) {
        const uint64_t aRow = a.lo + static_cast<uint64_t>(i) * aStep;
        const uint64_t bRow = b.lo + static_cast<uint64_t>(j) * bStep;
        if (j == rows || (i < rows && aRow <= bRow)) {
            if (aRow < bEnd)
                return true;
            aEnd = aRow + bytes > aEnd ? aRow + bytes : aEnd;
            ++i;
        } else {
            if (bRow < aEnd)
                return true;
            bEnd = bRow + bytes > bEnd ? bRow + bytes : bEnd;
            ++j;
        }
    }
    return false;
}

// The clipped block from `src` to `dst` with the result of a copy through a
// temporary when the two share memory (a host scrolling its screen through a
// second bitmap over the same buffer). False only when such a temporary was
// needed and memory for it could not be had.
bool Transfer(const vantu::PixelKernels &kernels, const Block &dst, const Block &src, int64_t rowBytes, int32_t rows,
              uint32_t p, bool keyed) {
    if (dst.hi <= src.lo || src.hi <= dst.lo) {
        Move(kernels, dst.first, dst.pitch, src.first, src.pitch, rowBytes, rows, p, keyed);
        return true;
    }
    const int64_t pitch = src.pitch;
    if (dst.pitch == src.pitch && (pitch < 0 ? -pitch : pitch) >= rowBytes) {
        // One shift moves every row by the same `delta` bytes: walking the
        // rows, and each row's bytes, from the end the shift moves towards
        // reads every source byte before it is overwritten (memmove's rule).
        const int64_t delta = static_cast<int64_t>(reinterpret_cast<uintptr_t>(dst.first)) -
                              static_cast<int64_t>(reinterpret_cast<uintptr_t>(src.first));
        if (delta == 0)
            return true; // every pixel onto itself
        const bool lastRowFirst = (delta > 0) == (pitch > 0);
        const ptrdiff_t step = lastRowFirst ? -dst.pitch : dst.pitch;
        uint8_t *d = lastRowFirst ? dst.first + (rows - 1) * dst.pitch : dst.first;
        const uint8_t *s = lastRowFirst ? src.first + (rows - 1) * src.pitch : src.first;
        if ((delta < 0 ? -delta : delta) >= rowBytes) {
            Move(kernels, d, step, s, step, rowBytes, rows, p, keyed);
            return true;
        }
        for (int32_t y = 0; y < rows; ++y)
            ShiftRow(kernels, d + y * step, s + y * step, rowBytes, p, keyed, delta);
        return true;
    }
    // Rows of different pitches, or rows that overlap each other: no walking
    // order fits every such case, so through a real temporary, the one
    // allocation a copy makes, and only when the rows share bytes (surfaces
    // whose rows interleave without touching go directly).
    if (!RowsShareBytes(dst, src, rowBytes, rows)) {
        Move(kernels, dst.first, dst.pitch, src.first, src.pitch, rowBytes, rows, p, keyed);
        return true;
    }
    const uint64_t bytes = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(rows);
    if (bytes > SIZE_MAX / 2)
        return false;
    auto *temporary = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(bytes)));
    if (temporary == nullptr)
        return false;
    const auto tempPitch = static_cast<ptrdiff_t>(rowBytes);
    Move(kernels, temporary, tempPitch, src.first, src.pitch, rowBytes, rows, p, false);
    Move(kernels, dst.first, dst.pitch, temporary, tempPitch, rowBytes, rows, p, keyed);
    std::free(temporary);
    return true;
}

// A copy between two locked surfaces: refused (false) when either has no
// pixels or their pixel sizes differ, since one pixel size addresses both;
// then clipped and moved. False too when a temporary it needed could not be
// had. A keyed copy knows 1- to 4-byte pixels; other sizes are left alone.
bool DoCopy(const SBitmapInfo &dstInfo, const SBitmapInfo &srcInfo, int32_t srcX, int32_t srcY, int32_t dstX,
            int32_t dstY, int32_t copyWidth, int32_t copyHeight, bool transparent) {
    const Surface dstSurface = Read(dstInfo), srcSurface = Read(srcInfo);
    const uint32_t p = srcSurface.pixelSize;
    if (dstSurface.bits == nullptr || srcSurface.bits == nullptr || p != dstSurface.pixelSize)
        return false;
    const int64_t w = copyWidth != 0 ? copyWidth : srcSurface.width;
    const int64_t h = copyHeight != 0 ? copyHeight : srcSurface.height;
    Rect64 s{srcX, srcY, srcX + w, srcY + h};
    Rect64 d{dstX, dstY, dstX + w, dstY + h};
    if (!ClipRect64(s, d, dstSurface.width, dstSurface.height) ||
        !ClipRect64(d, s, srcSurface.width, srcSurface.height))
        return true;
    // Every cut was made on both rectangles, so D has S's size; a non-empty
    // S now lies inside the source and D inside the destination.
    const int64_t n = s.right - s.left;
    const int64_t m = s.bottom - s.top;
    if (n <= 0 || m <= 0 || p == 0 || (transparent && p > 4))
        return true;
    const int64_t rowBytes = n * p;
    Block src{}, dst{};
    if (!Locate(srcSurface, s.left, s.top, m, rowBytes, src) || !Locate(dstSurface, d.left, d.top, m, rowBytes, dst))
        return true;
    return Transfer(vantu::ActiveKernels(), dst, src, rowBytes, static_cast<int32_t>(m), p, transparent);
}

// A bitmap locked through the record's LockBitmap slot for the length of one
// operation, and unlocked through UnlockBitmap when it ends, on every path.
class SlotLock {
  public:
    SlotLock(SCommonRec *record, SCommonBitmap *bitmap)
        : record_(record), bitmap_(bitmap),
          info_(CallOrCommon(record->LockBitmap, CommonLockBitmap, record, bitmap)) {}
    ~SlotLock() {
        if (info_ != nullptr)
            CallOrCommon(record_->UnlockBitmap, CommonUnlockBitmap, record_, bitmap_);
    }
    SlotLock(const SlotLock &) = delete;
    SlotLock &operator=(const SlotLock &) = delete;
    const SBitmapInfo *info() const { return info_; }

  private:
    SCommonRec *record_;
    SCommonBitmap *bitmap_;
    const SBitmapInfo *info_;
};

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
    const SlotLock lock(record, bitmap);
    if (lock.info() == nullptr || lock.info()->bits == nullptr)
        return 0;
    const Surface s = Read(*lock.info());
    const uint32_t p = s.pixelSize;
    // Sizes the fill does not know (0, 5 bytes and more) are left as they are.
    Block rows{};
    if (p >= 1 && p <= 4 && s.width > 0 && s.height > 0 && Locate(s, 0, 0, s.height, s.width * p, rows))
        vantu::ActiveKernels().fill[p](rows.first, rows.pitch, static_cast<int32_t>(s.width),
                                       static_cast<int32_t>(s.height), pixel);
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

vantu_bool VANTU_CALL CommonCopyBitmapSW(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src, int32_t srcX,
                                         int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth,
                                         int32_t copyHeight, vantu_bool transparent) {
    if (record == nullptr ||
        !CommonCopyBitmap(record, dst, src, srcX, srcY, dstX, dstY, copyWidth, copyHeight, transparent))
        return 0;
    // Source first, then destination; released in the reverse order.
    const SlotLock srcLock(record, src);
    const SlotLock dstLock(record, dst);
    const SBitmapInfo *srcInfo = srcLock.info(), *dstInfo = dstLock.info();
    if (srcInfo == nullptr || dstInfo == nullptr)
        return 0;
    return DoCopy(*dstInfo, *srcInfo, srcX, srcY, dstX, dstY, copyWidth, copyHeight, transparent != 0) ? 1 : 0;
}

vantu_bool VANTU_CALL CommonCopyBitmapFail(SCommonRec *, SCommonBitmap *, SCommonBitmap *, int32_t, int32_t, int32_t,
                                           int32_t, int32_t, int32_t, vantu_bool) {
    return 0;
}

void CommonDoCopyBitmapSW(SCommonRec *, const SBitmapInfo *dstInfo, const SBitmapInfo *srcInfo, int32_t srcX,
                          int32_t srcY, int32_t dstX, int32_t dstY, int32_t copyWidth, int32_t copyHeight,
                          vantu_bool transparent) {
    if (dstInfo != nullptr && srcInfo != nullptr)
        DoCopy(*dstInfo, *srcInfo, srcX, srcY, dstX, dstY, copyWidth, copyHeight, transparent != 0);
}

// ---- Whole-bitmap copy -------------------------------------------------------------------------

vantu_bool VANTU_CALL CommonCopyEntireBitmap(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src, int32_t dstX,
                                             int32_t dstY, vantu_bool transparent) {
    return CommonCopyBitmap(record, dst, src, 0, 0, dstX, dstY, 0, 0, transparent);
}

vantu_bool VANTU_CALL CommonCopyEntireBitmapSW(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                               int32_t dstX, int32_t dstY, vantu_bool transparent) {
    return CommonCopyBitmapSW(record, dst, src, 0, 0, dstX, dstY, 0, 0, transparent);
}

vantu_bool VANTU_CALL CommonCopyEntireBitmapDefault(SCommonRec *record, SCommonBitmap *dst, SCommonBitmap *src,
                                                    int32_t dstX, int32_t dstY, vantu_bool transparent) {
    if (record == nullptr)
        return 0;
    return CallOrCommon(record->CopyBitmap, CommonCopyBitmapSW, record, dst, src, 0, 0, dstX, dstY, 0, 0,
                        transparent);
}

vantu_bool VANTU_CALL CommonCopyEntireBitmapFail(SCommonRec *, SCommonBitmap *, SCommonBitmap *, int32_t, int32_t,
                                                 vantu_bool) {
    return 0;
}

} // extern "C"
