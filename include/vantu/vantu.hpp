/**
 * @file vantu/vantu.hpp
 * @brief The C++ interface for hosts: loading a driver library, owning
 * handles for the driver record, palettes and bitmaps, scoped locks, pixel
 * views and colour words.
 *
 * A thin layer over `<vantu/driver.h>`, which stays the binary interface:
 * every member that acts calls exactly one slot of the record (its
 * description names the slot) or writes one field a C host would write
 * itself. Header only; C++17 or later; builds with `-fno-exceptions
 * -fno-rtti`; allocates nothing beyond what the slots allocate.
 *
 * Results, the same everywhere: a slot's `bool` comes back as a `bool`
 * (false when the handle is empty or the record leaves the slot null, so no
 * call through a null pointer is ever made), a creation comes back as a
 * handle that may be empty, and only loading a library, the one step whose
 * failure has a reason to tell, keeps a text (Library::Error). Everything a
 * caller should look at is `[[nodiscard]]`.
 *
 * Lifetimes, as with the C calls: a Driver must go before the Library it
 * came from (its slots are code in that library), and palettes, bitmaps and
 * locks before the Driver they came from (DonePalette and DoneBitmap are
 * called through its record). Declared in that order, C++ ends them in the
 * right one by itself.
 */
#ifndef VANTU_VANTU_HPP
#define VANTU_VANTU_HPP

#include <vantu/driver.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <mutex>
#endif

#if !defined(_MSVC_LANG) && __cplusplus < 201703L
#error "vantu.hpp needs C++17 or later"
#endif

/// Everything the C++ interface declares.
namespace vantu {

// ---- Colour words and surface descriptions ----------------------------------------------

/// @name Colour words
/// A colour word holds three 7-bit components (0 to 127) in its low three
/// bytes, red in the lowest; the colour word 0 is the one colour that
/// converts to the transparent pixel 0. 8-bit components map to 7 bits by
/// dropping their lowest bit, and back by doubling, as the driver's 8-8-8
/// conversion does (white is 254, 254, 254).
/// @{

/// The colour word of 7-bit components; bits above the seventh are dropped.
constexpr std::uint32_t ColourWord(std::uint32_t red, std::uint32_t green, std::uint32_t blue) noexcept {
    return (red & 0x7Fu) | (green & 0x7Fu) << 8 | (blue & 0x7Fu) << 16;
}
/// The colour word of 8-bit components (each halved to 7 bits).
constexpr std::uint32_t ColourWord8(std::uint32_t red, std::uint32_t green, std::uint32_t blue) noexcept {
    return ColourWord((red & 0xFFu) >> 1, (green & 0xFFu) >> 1, (blue & 0xFFu) >> 1);
}
/// The red component (0 to 127) of a colour word.
constexpr std::uint32_t Red(std::uint32_t colour) noexcept { return colour & 0x7Fu; }
/// The green component (0 to 127) of a colour word.
constexpr std::uint32_t Green(std::uint32_t colour) noexcept { return colour >> 8 & 0x7Fu; }
/// The blue component (0 to 127) of a colour word.
constexpr std::uint32_t Blue(std::uint32_t colour) noexcept { return colour >> 16 & 0x7Fu; }
/// The red component as 8 bits (0 to 254).
constexpr std::uint32_t Red8(std::uint32_t colour) noexcept { return Red(colour) << 1; }
/// The green component as 8 bits (0 to 254).
constexpr std::uint32_t Green8(std::uint32_t colour) noexcept { return Green(colour) << 1; }
/// The blue component as 8 bits (0 to 254).
constexpr std::uint32_t Blue8(std::uint32_t colour) noexcept { return Blue(colour) << 1; }
/// @}

/// @brief A surface description of host memory stored top row first.
/// @param bits the first pixel of the top row
/// @param width,height the size in pixels
/// @param pitch bytes from one row to the next (negative: rows stored bottom-up, `bits` at the top row)
/// @param bitsPerPixel 8, 16, 24 or 32
/// @param redMask,greenMask,blueMask the pixel's colour fields (0 for 8-bit screens)
constexpr SBitmapInfo Describe(void *bits, std::int32_t width, std::int32_t height, std::int32_t pitch,
                               std::uint32_t bitsPerPixel, std::uint32_t redMask = 0, std::uint32_t greenMask = 0,
                               std::uint32_t blueMask = 0) noexcept {
    return SBitmapInfo{static_cast<std::uint32_t>(width),
                       static_cast<std::uint32_t>(height),
                       static_cast<std::uint32_t>(pitch),
                       0,
                       bitsPerPixel,
                       redMask,
                       greenMask,
                       blueMask,
                       0,
                       bits};
}

/// @brief A surface description of host memory stored last row first, as
/// Windows device-independent bitmaps are: `bits` at the top row of the
/// picture (the last row in memory) and the negative row step as pitch.
/// @param memory the lowest address of the block (the picture's bottom row)
/// @param width,height the size in pixels
/// @param stride bytes from one row to the next in memory (positive)
/// @param bitsPerPixel 8, 16, 24 or 32
/// @param redMask,greenMask,blueMask the pixel's colour fields
inline SBitmapInfo DescribeBottomUp(void *memory, std::int32_t width, std::int32_t height, std::int32_t stride,
                                    std::uint32_t bitsPerPixel, std::uint32_t redMask = 0,
                                    std::uint32_t greenMask = 0, std::uint32_t blueMask = 0) noexcept {
    unsigned char *top = static_cast<unsigned char *>(memory);
    if (height > 0 && top != nullptr)
        top += static_cast<std::ptrdiff_t>(height - 1) * stride;
    return Describe(top, width, height, -stride, bitsPerPixel, redMask, greenMask, blueMask);
}

// ---- Pixel views ------------------------------------------------------------------------------

template <class T>
class PixelView;

/// @brief Bytes of a described surface, row by row, as the driver reads them.
///
/// A snapshot of the description's size, pitch, pixel size and address,
/// taken when the view is made. Sizes are read as signed (a width or height
/// that reads 0 or negative holds no pixels), the pitch as the signed step
/// between rows, so row y is at `bits + y * pitch` for bottom-up surfaces
/// too. Nothing outside the described rows is ever addressed: Row() and
/// Pixel() give null there. The memory itself is the host's to keep valid.
class SurfaceView {
  public:
    /// An empty view: no rows.
    SurfaceView() noexcept = default;
    /// A view of the surface `info` describes.
    explicit SurfaceView(const SBitmapInfo &info) noexcept
        : bits_(static_cast<unsigned char *>(info.bits)), width_(static_cast<std::int32_t>(info.width)),
          height_(static_cast<std::int32_t>(info.height)), pitch_(static_cast<std::int32_t>(info.pitch)),
          bitsPerPixel_(info.bitsPerPixel) {
        if (width_ < 0 || bits_ == nullptr)
            width_ = 0;
        if (height_ < 0 || bits_ == nullptr)
            height_ = 0;
    }
    /// Pixels in a row; 0 when the width reads 0 or negative or there are no bits.
    std::int32_t Width() const noexcept { return width_; }
    /// Rows; 0 when the height reads 0 or negative or there are no bits.
    std::int32_t Height() const noexcept { return height_; }
    /// The signed byte step from one row to the next (negative: bottom-up).
    std::int32_t Pitch() const noexcept { return pitch_; }
    /// Bits per pixel as described.
    std::uint32_t BitsPerPixel() const noexcept { return bitsPerPixel_; }
    /// Bytes per pixel: bits per pixel divided by 8.
    std::uint32_t PixelBytes() const noexcept { return bitsPerPixel_ / 8; }
    /// The described address of the top row's first pixel.
    void *Bits() const noexcept { return bits_; }
    /// Whether the view holds no pixel at all.
    bool Empty() const noexcept { return width_ == 0 || height_ == 0 || PixelBytes() == 0; }
    /// Whether pixel (x, y) lies inside the surface.
    bool Contains(std::int32_t x, std::int32_t y) const noexcept {
        return !Empty() && x >= 0 && x < width_ && y >= 0 && y < height_;
    }
    /// The first byte of row y, or null outside the rows.
    unsigned char *Row(std::int32_t y) const noexcept { return Contains(0, y) ? RowAt(y) : nullptr; }
    /// The first byte of pixel (x, y), or null outside the surface.
    unsigned char *Pixel(std::int32_t x, std::int32_t y) const noexcept {
        return Contains(x, y) ? RowAt(y) + static_cast<std::size_t>(x) * PixelBytes() : nullptr;
    }
    /// The same surface as pixels of type `T`: empty unless its pixel size is `sizeof(T)`.
    template <class T>
    PixelView<T> As() const noexcept;

  private:
    unsigned char *RowAt(std::int32_t y) const noexcept {
        // The step is signed 32-bit on every build: on a 32-bit machine this
        // is the wrap-around of bits + y * pitch, on a 64-bit one the same row.
        const std::int64_t offset = static_cast<std::int64_t>(y) * pitch_;
        return reinterpret_cast<unsigned char *>(reinterpret_cast<std::uintptr_t>(bits_) +
                                                 static_cast<std::uintptr_t>(offset));
    }

    unsigned char *bits_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t pitch_ = 0;
    std::uint32_t bitsPerPixel_ = 0;
};

/// @brief A surface as pixels of one size: `std::uint8_t`, `std::uint16_t` or
/// `std::uint32_t` for 1-, 2- and 4-byte pixels (3-byte pixels go through
/// SurfaceView's bytes).
///
/// Empty when the described pixel size differs from `sizeof(T)`. Get() and
/// Set() check bounds and work at any alignment; Row() hands out the row
/// itself, which the host reads as `T` only when its memory is aligned for it.
template <class T>
class PixelView {
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t> ||
                      std::is_same_v<T, std::uint32_t>,
                  "pixels are std::uint8_t, std::uint16_t or std::uint32_t");

  public:
    /// An empty view.
    PixelView() noexcept = default;
    /// A view of the surface `info` describes; empty unless its pixels are `sizeof(T)` bytes.
    explicit PixelView(const SBitmapInfo &info) noexcept : PixelView(SurfaceView(info)) {}
    /// The pixels of `bytes`; empty unless its pixels are `sizeof(T)` bytes.
    explicit PixelView(const SurfaceView &bytes) noexcept {
        if (bytes.PixelBytes() == sizeof(T))
            bytes_ = bytes;
    }
    /// Pixels in a row (0 for an empty view).
    std::int32_t Width() const noexcept { return bytes_.Width(); }
    /// Rows (0 for an empty view).
    std::int32_t Height() const noexcept { return bytes_.Height(); }
    /// The signed byte step from one row to the next.
    std::int32_t Pitch() const noexcept { return bytes_.Pitch(); }
    /// Whether the view holds no pixel.
    bool Empty() const noexcept { return bytes_.Empty(); }
    /// Whether pixel (x, y) lies inside the surface.
    bool Contains(std::int32_t x, std::int32_t y) const noexcept { return bytes_.Contains(x, y); }
    /// Row y as `Width()` pixels, or null outside the rows.
    T *Row(std::int32_t y) const noexcept { return reinterpret_cast<T *>(bytes_.Row(y)); }
    /// Pixel (x, y), or 0 outside the surface.
    T Get(std::int32_t x, std::int32_t y) const noexcept {
        T value = 0;
        if (const unsigned char *at = bytes_.Pixel(x, y))
            std::memcpy(&value, at, sizeof value);
        return value;
    }
    /// Writes pixel (x, y); false, and nothing written, outside the surface.
    bool Set(std::int32_t x, std::int32_t y, T value) const noexcept {
        unsigned char *at = bytes_.Pixel(x, y);
        if (at == nullptr)
            return false;
        std::memcpy(at, &value, sizeof value);
        return true;
    }
    /// The same surface as bytes.
    const SurfaceView &Bytes() const noexcept { return bytes_; }

  private:
    SurfaceView bytes_;
};

template <class T>
PixelView<T> SurfaceView::As() const noexcept {
    return PixelView<T>(*this);
}

// ---- Debug messages ---------------------------------------------------------------------------

/// @brief Where a driver's debug messages go: any callable taking the text
/// (`const char *`, "VANTU: ..." ending in a newline), or the record and the
/// text (`SCommonRec *, const char *`).
///
/// Function pointers and lambdas without captures are kept by value. Any
/// other callable is kept by reference, so it must be an lvalue that lives as
/// long as the Driver it is given to (a temporary one does not compile).
class DebugSink {
  public:
    /// No sink: messages go nowhere.
    constexpr DebugSink() noexcept = default;

    /// A sink that calls `callable`, as described above.
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, DebugSink>>>
    DebugSink(F &&callable) noexcept { // NOLINT: converts implicitly, like a function pointer
        using D = std::decay_t<F>;
        if constexpr (std::is_convertible_v<D, FullFunction>) {
            target_.full = callable; // a null function pointer leaves the sink empty
            call_ = target_.full != nullptr ? &CallFull : nullptr;
        } else if constexpr (std::is_convertible_v<D, TextFunction>) {
            target_.text = callable;
            call_ = target_.text != nullptr ? &CallText : nullptr;
        } else {
            static_assert(std::is_lvalue_reference_v<F>,
                          "a callable with state is kept by reference: pass an lvalue that outlives the driver");
            target_.object = const_cast<void *>(static_cast<const volatile void *>(&callable));
            call_ = &CallObject<std::remove_reference_t<F>>;
        }
    }

    /// Whether a callable is set.
    explicit operator bool() const noexcept { return call_ != nullptr; }
    /// Hands one message to the callable (nothing without one).
    void operator()(SCommonRec *record, const char *text) const {
        if (call_ != nullptr)
            call_(target_, record, text);
    }

  private:
    using TextFunction = void (*)(const char *);
    using FullFunction = void (*)(SCommonRec *, const char *);
    union Target {
        void *object;
        TextFunction text;
        FullFunction full;
    };
    static void CallText(const Target &t, SCommonRec *, const char *text) { t.text(text); }
    static void CallFull(const Target &t, SCommonRec *record, const char *text) { t.full(record, text); }
    template <class C>
    static void CallObject(const Target &t, SCommonRec *record, const char *text) {
        C &callable = *static_cast<C *>(t.object);
        if constexpr (std::is_invocable_v<C &, SCommonRec *, const char *>)
            callable(record, text);
        else
            callable(text);
    }

    Target target_{nullptr};
    void (*call_)(const Target &, SCommonRec *, const char *) = nullptr;
};

/// Internals of the header; not for hosts.
namespace detail {

// A record's sink, linked into one list for the process: the driver hands a
// debug function only the record, so the one function given to every
// record (RouteMessage) finds the sink by the record. The link lives inside
// the Driver that owns the record and moves with it.
struct SinkLink {
    SinkLink *next = nullptr;
    SinkLink *prev = nullptr;
    SCommonRec *record = nullptr;
    DebugSink sink;
    bool linked = false;
};

// Windows: a slim reader/writer lock, which every MinGW threading model has
// (std::mutex is missing from some).
#if defined(_WIN32)
class ListMutex {
  public:
    void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

  private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
#else
using ListMutex = std::mutex;
#endif

class ListLock {
  public:
    explicit ListLock(ListMutex &mutex) noexcept : mutex_(mutex) { mutex_.lock(); }
    ~ListLock() { mutex_.unlock(); }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;

  private:
    ListMutex &mutex_;
};

struct SinkList {
    ListMutex mutex;
    SinkLink *head = nullptr;
};

inline SinkList &Sinks() noexcept {
    static SinkList list;
    return list;
}

// The sink of the Driver this thread is creating: the record's first message
// ("Initializing") comes from inside the entry point, before the record is known.
inline thread_local const DebugSink *creatingSink = nullptr;

// Newest first, so that a record created at the address of one just ended
// (whose Driver is still unlinking) finds its own sink.
inline void Link(SinkLink &link) noexcept {
    SinkList &list = Sinks();
    const ListLock lock(list.mutex);
    if (link.linked)
        return;
    link.prev = nullptr;
    link.next = list.head;
    if (list.head != nullptr)
        list.head->prev = &link;
    list.head = &link;
    link.linked = true;
}

inline void UnlinkLocked(SinkList &list, SinkLink &link) noexcept {
    if (!link.linked)
        return;
    (link.prev != nullptr ? link.prev->next : list.head) = link.next;
    if (link.next != nullptr)
        link.next->prev = link.prev;
    link.next = link.prev = nullptr;
    link.linked = false;
}

inline void Unlink(SinkLink &link) noexcept {
    SinkList &list = Sinks();
    const ListLock lock(list.mutex);
    UnlinkLocked(list, link);
}

// `to` takes `from`'s place in the list (and its record and sink).
inline void MoveLink(SinkLink &to, SinkLink &from) noexcept {
    SinkList &list = Sinks();
    const ListLock lock(list.mutex);
    UnlinkLocked(list, to);
    to.record = from.record;
    to.sink = from.sink;
    if (!from.linked)
        return;
    to.prev = from.prev;
    to.next = from.next;
    (to.prev != nullptr ? to.prev->next : list.head) = &to;
    if (to.next != nullptr)
        to.next->prev = &to;
    to.linked = true;
    from.next = from.prev = nullptr;
    from.linked = false;
}

// The debug function every record with a sink is given.
inline void VANTU_CALL RouteMessage(SCommonRec *record, const char *text) {
    DebugSink sink;
    if (creatingSink != nullptr) {
        sink = *creatingSink;
    } else if (record != nullptr) {
        SinkList &list = Sinks();
        const ListLock lock(list.mutex);
        for (const SinkLink *link = list.head; link != nullptr; link = link->next)
            if (link->record == record) {
                sink = link->sink;
                break;
            }
    }
    sink(record, text); // outside the lock: the sink may call slots that send messages
}

} // namespace detail

// ---- Loading a driver library -----------------------------------------------------------------

/// @brief A driver library loaded by path (`dlopen`, or `LoadLibraryA` on
/// Windows) with its entry point `VANTU_DLL_Init`; unloaded when it goes.
///
/// Any driver library that exports `VANTU_DLL_Init` will do. Move-only.
class Library {
  public:
    /// No library; Error() is empty.
    Library() noexcept = default;
    /// Unloads the library: Close().
    ~Library() { Close(); }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    /// Takes over `other`'s library; `other` is left empty.
    Library(Library &&other) noexcept { *this = std::move(other); }
    /// Unloads this library and takes over `other`'s.
    Library &operator=(Library &&other) noexcept {
        if (this != &other) {
            Close();
            module_ = std::exchange(other.module_, nullptr);
            init_ = std::exchange(other.init_, nullptr);
            std::memcpy(error_, other.error_, sizeof error_);
            other.error_[0] = '\0';
        }
        return *this;
    }

    /// @brief Loads the library at `path` and finds `VANTU_DLL_Init` in it.
    ///
    /// The path is taken as the platform's loader takes it: on Linux a name
    /// without a slash is searched for in the library paths, not the working
    /// folder. On failure the result is empty and Error() says why:
    /// "no driver library path given", "cannot load driver library 'PATH':
    /// REASON" (the loader's own reason) or "driver library 'PATH' has no
    /// entry point VANTU_DLL_Init". Texts longer than 511 bytes are cut.
    [[nodiscard]] static Library Open(const char *path) noexcept {
        Library library;
        if (path == nullptr || *path == '\0') {
            library.SetError("no driver library path given", "", "");
            return library;
        }
#if defined(_WIN32)
        HMODULE module = LoadLibraryA(path);
        if (module == nullptr) {
            const DWORD code = GetLastError();
            char reason[256] = {};
            const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                           0, reason, sizeof reason, nullptr);
            std::size_t end = n < sizeof reason ? n : sizeof reason - 1;
            while (end > 0 && (reason[end - 1] == '\n' || reason[end - 1] == '\r' || reason[end - 1] == ' '))
                --end;
            reason[end] = '\0';
            char text[300];
            std::snprintf(text, sizeof text, "error %lu%s%s", static_cast<unsigned long>(code), end ? ": " : "",
                          reason);
            library.SetError("cannot load driver library '", path, "': ", text);
            return library;
        }
        const FARPROC symbol = GetProcAddress(module, "VANTU_DLL_Init");
#else
        void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char *reason = dlerror();
            library.SetError("cannot load driver library '", path, "': ", reason != nullptr ? reason : "unknown");
            return library;
        }
        void *const symbol = dlsym(module, "VANTU_DLL_Init");
#endif
        if (symbol == nullptr) {
            library.module_ = module;
            library.Close();
            library.SetError("driver library '", path, "' has no entry point VANTU_DLL_Init");
            return library;
        }
        library.module_ = module;
        // An object or procedure address to a function pointer: what the
        // platform's loader guarantees, spelled without a cast.
        static_assert(sizeof symbol == sizeof library.init_, "function and symbol addresses differ in size");
        std::memcpy(&library.init_, &symbol, sizeof library.init_);
        return library;
    }

    /// Whether the library is loaded and has its entry point.
    explicit operator bool() const noexcept { return init_ != nullptr; }
    /// The library's `VANTU_DLL_Init`, or null.
    VantuDllInitFunc Init() const noexcept { return init_; }
    /// Why Open() failed; empty after a success.
    const char *Error() const noexcept { return error_; }
    /// The loader's handle (`void *` from `dlopen`, or the `HMODULE`), or null.
    void *Handle() const noexcept { return module_; }
    /// Unloads the library (every Driver made from it must be gone); Error() stays.
    void Close() noexcept {
        if (module_ != nullptr) {
#if defined(_WIN32)
            FreeLibrary(static_cast<HMODULE>(module_));
#else
            dlclose(module_);
#endif
        }
        module_ = nullptr;
        init_ = nullptr;
    }

  private:
    void SetError(const char *a, const char *b, const char *c, const char *d = "") noexcept {
        std::snprintf(error_, sizeof error_, "%s%s%s%s", a, b, c, d);
    }

    void *module_ = nullptr;
    VantuDllInitFunc init_ = nullptr;
    char error_[512] = {};
};

// ---- Handles ----------------------------------------------------------------------------------

class Driver;
class Bitmap;

/// @brief A bitmap named but not owned: a Bitmap's, the screen bitmap, or
/// any `SCommonBitmap *` a C part of the host holds.
///
/// Made implicitly from those, so the Driver's members take all of them. Not
/// from a temporary Bitmap, whose reference would be gone at once.
class BitmapRef {
  public:
    /// Null.
    constexpr BitmapRef() noexcept = default;
    /// The bitmap record `bitmap` (null allowed).
    constexpr BitmapRef(SCommonBitmap *bitmap) noexcept : bitmap_(bitmap) {} // NOLINT: implicit by design
    /// The bitmap `owner` holds.
    BitmapRef(const Bitmap &owner) noexcept; // NOLINT: implicit by design
    BitmapRef(Bitmap &&) = delete;
    /// The bitmap record, or null.
    constexpr SCommonBitmap *Get() const noexcept { return bitmap_; }
    /// Whether it names a bitmap.
    constexpr explicit operator bool() const noexcept { return bitmap_ != nullptr; }

  private:
    SCommonBitmap *bitmap_ = nullptr;
};

namespace detail {

// Raises a record's count the way the records count holders; false, and
// nothing changed, for a record already given up (count below 1) or one
// whose count cannot grow.
inline bool AddReference(SCommonHeader &header) noexcept {
    if (header.refCount < 1 || header.refCount == INT32_MAX)
        return false;
    ++header.refCount;
    return true;
}

// One reference to a palette or bitmap record of `Owner`'s driver record,
// given up through the slot `Done`.
template <class Record, class DoneSlot, DoneSlot SCommonRec::*Done>
class Reference {
  public:
    Reference() noexcept = default;
    Reference(SCommonRec *driver, Record *record) noexcept : driver_(driver), record_(record) {
        if (record_ == nullptr)
            driver_ = nullptr;
    }
    ~Reference() { (void)Reset(); }
    Reference(const Reference &other) noexcept {
        if (other.record_ != nullptr && AddReference(other.record_->header)) {
            driver_ = other.driver_;
            record_ = other.record_;
        }
    }
    Reference &operator=(const Reference &other) noexcept {
        if (this != &other) {
            Reference copy(other); // the new reference is taken before the old one goes
            *this = std::move(copy);
        }
        return *this;
    }
    Reference(Reference &&other) noexcept
        : driver_(std::exchange(other.driver_, nullptr)), record_(std::exchange(other.record_, nullptr)) {}
    Reference &operator=(Reference &&other) noexcept {
        if (this != &other) {
            (void)Reset();
            driver_ = std::exchange(other.driver_, nullptr);
            record_ = std::exchange(other.record_, nullptr);
        }
        return *this;
    }
    bool Reset() noexcept {
        SCommonRec *const driver = std::exchange(driver_, nullptr);
        Record *const record = std::exchange(record_, nullptr);
        if (record == nullptr || driver == nullptr || driver->*Done == nullptr)
            return false;
        return (driver->*Done)(driver, record) != 0;
    }
    Record *Release() noexcept {
        driver_ = nullptr;
        return std::exchange(record_, nullptr);
    }
    Record *Get() const noexcept { return record_; }

  private:
    SCommonRec *driver_ = nullptr;
    Record *record_ = nullptr;
};

} // namespace detail

/// @brief One reference to a palette (`SCommonPalette`), given up with the
/// `DonePalette` slot when the handle goes.
///
/// A copy is one more reference as the records count them (`refCount` + 1;
/// a copy of a palette whose count reads below 1 is empty); assignment takes
/// the new reference before it gives up the old one, so self-assignment is
/// harmless. The palette lives on while any bitmap holds it.
class Palette {
  public:
    /// No palette.
    Palette() noexcept = default;
    /// @brief Takes over one reference the host already holds to `palette`
    /// of driver record `driver` (from a C `InitPalette`, say).
    [[nodiscard]] static Palette Adopt(SCommonRec *driver, SCommonPalette *palette) noexcept {
        Palette p;
        p.ref_ = Ref(driver, palette);
        return p;
    }
    /// Whether the handle holds a palette.
    explicit operator bool() const noexcept { return ref_.Get() != nullptr; }
    /// The palette record, or null.
    SCommonPalette *Get() const noexcept { return ref_.Get(); }
    /// The palette's 256 colour words, which the host may rewrite; null when empty.
    std::uint32_t *Entries() const noexcept { return Get() != nullptr ? Get()->entries : nullptr; }
    /// The palette's reference count (0 when empty).
    std::int32_t RefCount() const noexcept { return Get() != nullptr ? Get()->header.refCount : 0; }
    /// @brief Gives the reference up now: the `DonePalette` slot. Returns its
    /// result (false when empty); the handle is empty afterwards.
    bool Reset() noexcept { return ref_.Reset(); }
    /// Hands the reference to the caller, who must give it up; the handle is empty afterwards.
    [[nodiscard]] SCommonPalette *Release() noexcept { return ref_.Release(); }

  private:
    using Ref = detail::Reference<SCommonPalette, DonePaletteFunc, &SCommonRec::DonePalette>;
    Ref ref_;
};

/// @brief One reference to a bitmap (`SCommonBitmap`), given up with the
/// `DoneBitmap` slot when the handle goes.
///
/// Copies count as for Palette. The bitmap's palette reference goes with the
/// bitmap's last reference. The screen bitmap is never held by a Bitmap:
/// Driver::ScreenBitmap() names it through a BitmapRef.
class Bitmap {
  public:
    /// No bitmap.
    Bitmap() noexcept = default;
    /// @brief Takes over one reference the host already holds to `bitmap` of
    /// driver record `driver` (from a C `InitBitmap`, say).
    [[nodiscard]] static Bitmap Adopt(SCommonRec *driver, SCommonBitmap *bitmap) noexcept {
        Bitmap b;
        b.ref_ = Ref(driver, bitmap);
        return b;
    }
    /// Whether the handle holds a bitmap.
    explicit operator bool() const noexcept { return ref_.Get() != nullptr; }
    /// The bitmap record, or null.
    SCommonBitmap *Get() const noexcept { return ref_.Get(); }
    /// The bitmap's reference count (0 when empty).
    std::int32_t RefCount() const noexcept { return Get() != nullptr ? Get()->header.refCount : 0; }
    /// @brief Gives the reference up now: the `DoneBitmap` slot. Returns its
    /// result (false when empty); the handle is empty afterwards.
    bool Reset() noexcept { return ref_.Reset(); }
    /// Hands the reference to the caller, who must give it up; the handle is empty afterwards.
    [[nodiscard]] SCommonBitmap *Release() noexcept { return ref_.Release(); }

  private:
    using Ref = detail::Reference<SCommonBitmap, DoneBitmapFunc, &SCommonRec::DoneBitmap>;
    Ref ref_;
};

inline BitmapRef::BitmapRef(const Bitmap &owner) noexcept : bitmap_(owner.Get()) {}

/// @brief The drawing lock of one record, held from a successful `DrawBegin`
/// to `DrawEnd`, which it calls when it goes (on every path out of a scope).
///
/// Empty when `DrawBegin` failed. `DrawEnd` must come from the thread that
/// called `DrawBegin`: a lock moved to another thread and ended there gets
/// false and leaves the lock held.
class [[nodiscard]] DrawLock {
  public:
    /// Not drawing.
    DrawLock() noexcept = default;
    /// Ends drawing if the lock is held: End().
    ~DrawLock() { (void)End(); }
    DrawLock(const DrawLock &) = delete;
    DrawLock &operator=(const DrawLock &) = delete;
    /// Takes over `other`'s lock.
    DrawLock(DrawLock &&other) noexcept
        : record_(std::exchange(other.record_, nullptr)), fields_(std::exchange(other.fields_, nullptr)) {}
    /// Ends this lock and takes over `other`'s.
    DrawLock &operator=(DrawLock &&other) noexcept {
        if (this != &other) {
            (void)End();
            record_ = std::exchange(other.record_, nullptr);
            fields_ = std::exchange(other.fields_, nullptr);
        }
        return *this;
    }
    /// Whether `DrawBegin` succeeded and the lock is held.
    explicit operator bool() const noexcept { return record_ != nullptr; }
    /// What `DrawBegin` returned: the address of the record's `version` field (null when empty).
    void *Fields() const noexcept { return fields_; }
    /// @brief The screen's description (`screenInfo`, past the `version`
    /// field DrawBegin's result points at); all zero when there is no screen
    /// or the lock is empty.
    const SBitmapInfo &ScreenInfo() const noexcept {
        static const SBitmapInfo none{};
        if (fields_ == nullptr)
            return none;
        const unsigned char *version = static_cast<const unsigned char *>(fields_);
        const auto *record = reinterpret_cast<const SCommonRec *>(version - offsetof(SCommonRec, version));
        return record->screenInfo;
    }
    /// The screen's bytes.
    SurfaceView Screen() const noexcept { return SurfaceView(ScreenInfo()); }
    /// The screen's pixels as `T` (empty unless the screen's pixels are `sizeof(T)` bytes).
    template <class T>
    PixelView<T> ScreenPixels() const noexcept {
        return PixelView<T>(ScreenInfo());
    }
    /// @brief Ends drawing now: the `DrawEnd` slot. Returns its result
    /// (false when empty); the lock is empty afterwards.
    bool End() noexcept {
        SCommonRec *const record = std::exchange(record_, nullptr);
        fields_ = nullptr;
        return record != nullptr && record->DrawEnd != nullptr && record->DrawEnd(record) != 0;
    }

  private:
    friend class Driver;
    DrawLock(SCommonRec *record, void *fields) noexcept
        : record_(fields != nullptr ? record : nullptr), fields_(fields) {}

    SCommonRec *record_ = nullptr;
    void *fields_ = nullptr;
};

/// @brief One bitmap locked with `LockBitmap` and unlocked with
/// `UnlockBitmap` (which marks it initialized) when it goes.
///
/// Empty when `LockBitmap` refused (the bitmap not allocated, or locked already).
class [[nodiscard]] BitmapLock {
  public:
    /// Not locked.
    BitmapLock() noexcept = default;
    /// Unlocks the bitmap if it is locked: End().
    ~BitmapLock() { (void)End(); }
    BitmapLock(const BitmapLock &) = delete;
    BitmapLock &operator=(const BitmapLock &) = delete;
    /// Takes over `other`'s lock.
    BitmapLock(BitmapLock &&other) noexcept
        : record_(std::exchange(other.record_, nullptr)), bitmap_(std::exchange(other.bitmap_, nullptr)),
          info_(std::exchange(other.info_, nullptr)) {}
    /// Unlocks this bitmap and takes over `other`'s lock.
    BitmapLock &operator=(BitmapLock &&other) noexcept {
        if (this != &other) {
            (void)End();
            record_ = std::exchange(other.record_, nullptr);
            bitmap_ = std::exchange(other.bitmap_, nullptr);
            info_ = std::exchange(other.info_, nullptr);
        }
        return *this;
    }
    /// Whether the bitmap is locked.
    explicit operator bool() const noexcept { return info_ != nullptr; }
    /// The bitmap's description as `LockBitmap` returned it (null when empty); the host may write it.
    SBitmapInfo *Info() const noexcept { return info_; }
    /// The bitmap's bytes (empty when not locked).
    SurfaceView View() const noexcept { return info_ != nullptr ? SurfaceView(*info_) : SurfaceView(); }
    /// The bitmap's pixels as `T` (empty unless its pixels are `sizeof(T)` bytes).
    template <class T>
    PixelView<T> Pixels() const noexcept {
        return info_ != nullptr ? PixelView<T>(*info_) : PixelView<T>();
    }
    /// @brief Unlocks now: the `UnlockBitmap` slot. Returns its result (false
    /// when empty); the lock is empty afterwards.
    bool End() noexcept {
        SCommonRec *const record = std::exchange(record_, nullptr);
        SCommonBitmap *const bitmap = std::exchange(bitmap_, nullptr);
        info_ = nullptr;
        return record != nullptr && record->UnlockBitmap != nullptr && record->UnlockBitmap(record, bitmap) != 0;
    }

  private:
    friend class Driver;
    BitmapLock(SCommonRec *record, SCommonBitmap *bitmap, SBitmapInfo *info) noexcept
        : record_(info != nullptr ? record : nullptr), bitmap_(info != nullptr ? bitmap : nullptr), info_(info) {}

    SCommonRec *record_ = nullptr;
    SCommonBitmap *bitmap_ = nullptr;
    SBitmapInfo *info_ = nullptr;
};

/// @brief One driver record, from the entry point to `Done`, which it calls
/// when it goes; every slot of the record as a member. Move-only.
///
/// Members that act call exactly the slot they are named after, with the
/// record first and the arguments in the slot's order, and return its result
/// (`vantu_bool` as `bool`). An empty Driver, or a slot the record leaves
/// null (`GetScreenColor` before the first readying), gives false, an empty
/// handle or 0 without any call.
class Driver {
  public:
    /// No record.
    Driver() noexcept = default;
    /// Ends the record if the handle holds one: Done().
    ~Driver() { (void)Done(); }
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;
    /// Takes over `other`'s record and sink.
    Driver(Driver &&other) noexcept : record_(std::exchange(other.record_, nullptr)) {
        detail::MoveLink(link_, other.link_);
    }
    /// Ends this record (`Done`) and takes over `other`'s.
    Driver &operator=(Driver &&other) noexcept {
        if (this != &other) {
            (void)Done();
            record_ = std::exchange(other.record_, nullptr);
            detail::MoveLink(link_, other.link_);
        }
        return *this;
    }

    /// @brief A new record from a driver library's entry point:
    /// `init(hostHandle, f)`, where `f` routes the record's debug messages to
    /// `sink`, or is null without one.
    ///
    /// The entry point makes its debug function the default of every record
    /// of its library that has none; with a sink that is this header's router,
    /// which gives a record without a sink of its own nothing. Empty when
    /// `init` is null or returns null.
    [[nodiscard]] static Driver Create(VantuDllInitFunc init, DebugSink sink = {},
                                       std::uint32_t hostHandle = 0) noexcept {
        Driver driver;
        if (init == nullptr)
            return driver;
        if (!sink) {
            driver.record_ = init(hostHandle, nullptr);
            return driver;
        }
        driver.link_.sink = sink;
        const DebugSink *const outer = detail::creatingSink;
        detail::creatingSink = &driver.link_.sink;
        driver.record_ = init(hostHandle, detail::RouteMessage);
        detail::creatingSink = outer;
        if (driver.record_ != nullptr) {
            driver.link_.record = driver.record_;
            detail::Link(driver.link_);
        }
        return driver;
    }
    /// A new record from `library`'s entry point, as Create(VantuDllInitFunc, DebugSink, std::uint32_t).
    [[nodiscard]] static Driver Create(const Library &library, DebugSink sink = {},
                                       std::uint32_t hostHandle = 0) noexcept {
        return Create(library.Init(), sink, hostHandle);
    }
    /// Takes over a record the host made itself (from a C call of the entry point); no sink.
    [[nodiscard]] static Driver Adopt(SCommonRec *record) noexcept {
        Driver driver;
        driver.record_ = record;
        return driver;
    }

    /// Whether the handle holds a record.
    explicit operator bool() const noexcept { return record_ != nullptr; }
    /// The record, for its fields and for C code; null when empty.
    SCommonRec *Record() const noexcept { return record_; }
    /// @brief Hands the record to the caller, who must end it with `Done`; its
    /// messages no longer reach the sink. The handle is empty afterwards.
    [[nodiscard]] SCommonRec *Release() noexcept {
        detail::Unlink(link_);
        return std::exchange(record_, nullptr);
    }
    /// The driver's display name (`name`), or "" when empty.
    const char *Name() const noexcept { return record_ != nullptr && record_->name != nullptr ? record_->name : ""; }
    /// The screen bitmap (`screenBitmap`): not owned, valid until the screen changes.
    BitmapRef ScreenBitmap() const noexcept { return record_ != nullptr ? record_->screenBitmap : nullptr; }
    /// The screen's description (`screenInfo`); all zero while there is no screen.
    const SBitmapInfo &ScreenInfo() const noexcept {
        static const SBitmapInfo none{};
        return record_ != nullptr ? record_->screenInfo : none;
    }

    /// @name Lifecycle and allocation
    /// @{

    /// @brief The `Done` slot: finalizes the record (deallocating first) and
    /// drops its reference. The handle is empty afterwards, whatever the result.
    bool Done() noexcept {
        if (record_ == nullptr)
            return false;
        SCommonRec *const record = record_;
        const bool done = record->Done != nullptr && record->Done(record) != 0;
        // Unlinked only now: "Finalizing" is sent from inside Done.
        detail::Unlink(link_);
        record_ = nullptr;
        return done;
    }
    /// The `AllocWindow` slot: a screen in the host's window (a window driver's).
    [[nodiscard]] bool AllocWindow(std::uint32_t flags, std::int32_t subDevice, std::uint32_t windowArg) noexcept {
        return Has(&SCommonRec::AllocWindow) && record_->AllocWindow(record_, flags, subDevice, windowArg) != 0;
    }
    /// The `AllocFullScreen` slot: a full-screen mode (a window driver's).
    [[nodiscard]] bool AllocFullScreen(std::uint32_t flags, std::int32_t subDevice, std::uint32_t fullScreenArg,
                                       std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                                       std::uint32_t fullScreenArg2 = 0, std::uint32_t fullScreenArg3 = 0) noexcept {
        return Has(&SCommonRec::AllocFullScreen) &&
               record_->AllocFullScreen(record_, flags, subDevice, fullScreenArg, width, height, bitsPerPixel,
                                        fullScreenArg2, fullScreenArg3) != 0;
    }
    /// @brief The `AllocBuffer` slot: makes the host memory `buffer` describes
    /// the screen (the memory driver's). The slot's arguments are (flags,
    /// sub-device, buffer); here the buffer comes first so that the other two
    /// can default to 0.
    [[nodiscard]] bool AllocBuffer(const SBitmapInfo &buffer, std::uint32_t flags = 0,
                                   std::int32_t subDevice = 0) noexcept {
        return Has(&SCommonRec::AllocBuffer) && record_->AllocBuffer(record_, flags, subDevice, &buffer) != 0;
    }
    /// The `Dealloc` slot: ends the allocation in force (true also when none is).
    [[nodiscard]] bool Dealloc() noexcept { return Has(&SCommonRec::Dealloc) && record_->Dealloc(record_) != 0; }
    /// The `SetDebugMsgFunc` slot: a C debug function for this record (null: back to the entry point's).
    [[nodiscard]] bool SetDebugMsgFunc(DebugMsgFunc func) noexcept {
        return Has(&SCommonRec::SetDebugMsgFunc) && record_->SetDebugMsgFunc(record_, func) != 0;
    }
    /// @brief The `SetDebugMsgFunc` slot with this header's router, which
    /// sends the record's messages to `sink` from now on (an empty sink: nowhere).
    [[nodiscard]] bool SetDebugSink(DebugSink sink) noexcept {
        if (record_ == nullptr)
            return false;
        {
            detail::SinkList &list = detail::Sinks();
            const detail::ListLock lock(list.mutex);
            link_.record = record_;
            link_.sink = sink;
        }
        detail::Link(link_);
        return SetDebugMsgFunc(detail::RouteMessage);
    }
    /// The `SetCallbacks` slot: the host's surface callbacks (null clears them), the old ones into `old`.
    [[nodiscard]] bool SetCallbacks(const SCommonCallbacks *callbacks, SCommonCallbacks *old = nullptr) noexcept {
        return Has(&SCommonRec::SetCallbacks) && record_->SetCallbacks(record_, callbacks, old) != 0;
    }
    /// @}

    /// @name Drawing lock and presentation
    /// @{

    /// @brief The `DrawBegin` slot: the drawing lock, held until the result
    /// goes (`DrawEnd`); empty when `DrawBegin` returned null.
    [[nodiscard]] DrawLock DrawBegin() noexcept {
        if (!Has(&SCommonRec::DrawBegin))
            return DrawLock();
        return DrawLock(record_, record_->DrawBegin(record_));
    }
    /// @brief The `DrawEnd` slot, for a lock taken through Record(); a
    /// DrawLock calls it by itself.
    [[nodiscard]] bool DrawEnd() noexcept { return Has(&SCommonRec::DrawEnd) && record_->DrawEnd(record_) != 0; }
    /// The `Flip` slot: presents the screen (false while drawing).
    [[nodiscard]] bool Flip() noexcept { return Has(&SCommonRec::Flip) && record_->Flip(record_) != 0; }
    /// The `FlipToPrimary` slot: presents to the primary surface (false while drawing).
    [[nodiscard]] bool FlipToPrimary() noexcept {
        return Has(&SCommonRec::FlipToPrimary) && record_->FlipToPrimary(record_) != 0;
    }
    /// The `Sync` slot: true exactly when the driver is ready and not drawing.
    [[nodiscard]] bool Sync() noexcept { return Has(&SCommonRec::Sync) && record_->Sync(record_) != 0; }
    /// @}

    /// @name Palettes and colours
    /// @{

    /// @brief The `InitPalette` slot: a palette of `count` (0 to 256) colour
    /// words, the rest 0; empty when refused.
    [[nodiscard]] Palette InitPalette(const std::uint32_t *colours, std::int32_t count) noexcept {
        if (!Has(&SCommonRec::InitPalette))
            return Palette();
        return Palette::Adopt(record_, record_->InitPalette(record_, colours, count));
    }
    /// The `InitPalette` slot with all of `colours` (at most 256).
    template <std::size_t N>
    [[nodiscard]] Palette InitPalette(const std::uint32_t (&colours)[N]) noexcept {
        static_assert(N <= 256, "a palette holds 256 colour words");
        return InitPalette(colours, static_cast<std::int32_t>(N));
    }
    /// The `DonePalette` slot, through the handle: Palette::Reset().
    [[nodiscard]] bool DonePalette(Palette &palette) noexcept { return palette.Reset(); }
    /// The `GetScreenColor` slot: the pixel value of colour word `colour` for `target`.
    [[nodiscard]] std::uint32_t GetScreenColor(BitmapRef target, std::uint32_t colour) noexcept {
        return Has(&SCommonRec::GetScreenColor) ? record_->GetScreenColor(record_, target.Get(), colour) : 0;
    }
    /// The `SetBitmapPalette` slot: `bitmap` takes a counted reference to `palette`.
    [[nodiscard]] bool SetBitmapPalette(BitmapRef bitmap, const Palette &palette) noexcept {
        return SetBitmapPalette(bitmap, palette.Get());
    }
    /// The `SetBitmapPalette` slot with a palette record (null drops the bitmap's palette).
    [[nodiscard]] bool SetBitmapPalette(BitmapRef bitmap, SCommonPalette *palette) noexcept {
        return Has(&SCommonRec::SetBitmapPalette) && record_->SetBitmapPalette(record_, bitmap.Get(), palette) != 0;
    }
    /// @}

    /// @name Bitmaps
    /// @{

    /// @brief The `InitBitmap` slot: a bitmap of the given size in the
    /// screen's format, without pixel memory (SetBitmapSurface gives it the
    /// host's); empty when refused.
    [[nodiscard]] Bitmap InitBitmap(std::int32_t width, std::int32_t height) noexcept {
        if (!Has(&SCommonRec::InitBitmap))
            return Bitmap();
        return Bitmap::Adopt(record_, record_->InitBitmap(record_, width, height));
    }
    /// The `InitScreenBitmap` slot: a bitmap that follows the screen's size; empty when refused.
    [[nodiscard]] Bitmap InitScreenBitmap() noexcept {
        if (!Has(&SCommonRec::InitScreenBitmap))
            return Bitmap();
        return Bitmap::Adopt(record_, record_->InitScreenBitmap(record_));
    }
    /// The `DoneBitmap` slot, through the handle: Bitmap::Reset().
    [[nodiscard]] bool DoneBitmap(Bitmap &bitmap) noexcept { return bitmap.Reset(); }
    /// The `GetBitmapInfo` slot: the bitmap's own description, which the host may write; null when refused.
    [[nodiscard]] SBitmapInfo *GetBitmapInfo(BitmapRef bitmap) noexcept {
        return Has(&SCommonRec::GetBitmapInfo) ? record_->GetBitmapInfo(record_, bitmap.Get()) : nullptr;
    }
    /// @brief The `GetBitmapInfo` slot, then its `bits` and `pitch` written:
    /// how a host gives a bitmap of InitBitmap its pixel memory. False when
    /// the slot gives no description.
    [[nodiscard]] bool SetBitmapSurface(BitmapRef bitmap, void *bits, std::int32_t pitch) noexcept {
        SBitmapInfo *const info = GetBitmapInfo(bitmap);
        if (info == nullptr)
            return false;
        info->pitch = static_cast<std::uint32_t>(pitch);
        info->bits = bits;
        return true;
    }
    /// The `IsBitmapInitialized` slot: whether the bitmap's pixels hold defined content.
    [[nodiscard]] bool IsBitmapInitialized(BitmapRef bitmap) noexcept {
        return Has(&SCommonRec::IsBitmapInitialized) && record_->IsBitmapInitialized(record_, bitmap.Get()) != 0;
    }
    /// The `ClearBitmap` slot: fills the bitmap with pixel value `pixel`.
    [[nodiscard]] bool ClearBitmap(BitmapRef bitmap, std::uint32_t pixel) noexcept {
        return Has(&SCommonRec::ClearBitmap) && record_->ClearBitmap(record_, bitmap.Get(), pixel) != 0;
    }
    /// @brief The `CopyBitmap` slot: the source rectangle at (srcX, srcY) of
    /// `copyWidth` x `copyHeight` (0: the source's) to (dstX, dstY), clipped;
    /// `transparent` keeps the destination where the source pixel is 0.
    [[nodiscard]] bool CopyBitmap(BitmapRef dst, BitmapRef src, std::int32_t srcX, std::int32_t srcY,
                                  std::int32_t dstX, std::int32_t dstY, std::int32_t copyWidth,
                                  std::int32_t copyHeight, bool transparent) noexcept {
        return Has(&SCommonRec::CopyBitmap) &&
               record_->CopyBitmap(record_, dst.Get(), src.Get(), srcX, srcY, dstX, dstY, copyWidth, copyHeight,
                                   transparent ? 1 : 0) != 0;
    }
    /// The `CopyEntireBitmap` slot: all of `src` with its top-left pixel at (dstX, dstY), clipped.
    [[nodiscard]] bool CopyEntireBitmap(BitmapRef dst, BitmapRef src, std::int32_t dstX, std::int32_t dstY,
                                        bool transparent) noexcept {
        return Has(&SCommonRec::CopyEntireBitmap) &&
               record_->CopyEntireBitmap(record_, dst.Get(), src.Get(), dstX, dstY, transparent ? 1 : 0) != 0;
    }
    /// @brief The `LockBitmap` slot: the bitmap locked until the result goes
    /// (`UnlockBitmap`); empty when refused.
    [[nodiscard]] BitmapLock LockBitmap(BitmapRef bitmap) noexcept {
        if (!Has(&SCommonRec::LockBitmap))
            return BitmapLock();
        return BitmapLock(record_, bitmap.Get(), record_->LockBitmap(record_, bitmap.Get()));
    }
    /// The `UnlockBitmap` slot, for a lock taken through Record(); a BitmapLock calls it by itself.
    [[nodiscard]] bool UnlockBitmap(BitmapRef bitmap) noexcept {
        return Has(&SCommonRec::UnlockBitmap) && record_->UnlockBitmap(record_, bitmap.Get()) != 0;
    }
    /// @}

  private:
    template <class Slot>
    bool Has(Slot SCommonRec::*slot) const noexcept {
        return record_ != nullptr && record_->*slot != nullptr;
    }

    SCommonRec *record_ = nullptr;
    detail::SinkLink link_;
};

} // namespace vantu

#endif // VANTU_VANTU_HPP
