// What the C++ interface (vantu.hpp) promises beyond the slots it calls: the
// library it loads and the reasons it gives, the records it owns and their
// reference counts, the locks it releases, the debug messages it routes and
// the pixels its views address. The built driver is loaded as a host does.
#include <vantu/vantu.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const kDriverPath = VANTU_MEM_PATH;

const vantu::Library &Loaded() {
    static const vantu::Library library = vantu::Library::Open(kDriverPath);
    return library;
}

int Listed(const SCommonList &list) {
    int n = 0;
    for (const SCommonLink *link = list.first; link != nullptr; link = link->next)
        ++n;
    return n;
}

// A record with a 16-bit 5-6-5 screen of 8x6 pixels over `pixels`.
struct Screen16 {
    std::vector<std::uint16_t> pixels = std::vector<std::uint16_t>(8 * 6, 0);
    vantu::Driver driver;
    explicit Screen16(vantu::DebugSink sink = {}) : driver(vantu::Driver::Create(Loaded(), sink)) {
        const bool ok = driver.AllocBuffer(vantu::Describe(pixels.data(), 8, 6, 16, 16, 0xF800, 0x07E0, 0x001F));
        EXPECT_TRUE(ok);
    }
};

TEST(CppLibrary, RefusalsSayWhy) {
    const struct {
        const char *path;
        std::string text;   // what Error() says, or starts with
        bool reasonFollows; // the loader's own reason comes after `text`
    } cases[] = {
        {nullptr, "no driver library path given", false},
        {"", "no driver library path given", false},
        {VANTU_CPP_MISSING, std::string("cannot load driver library '") + VANTU_CPP_MISSING + "': ", true},
        {VANTU_CPP_NOT_A_LIBRARY,
         std::string("cannot load driver library '") + VANTU_CPP_NOT_A_LIBRARY + "': ", true},
        {VANTU_NOENTRY_PATH,
         std::string("driver library '") + VANTU_NOENTRY_PATH + "' has no entry point VANTU_DLL_Init", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path != nullptr ? c.path : "(null)");
        const vantu::Library library = vantu::Library::Open(c.path);
        EXPECT_FALSE(library);
        EXPECT_EQ(library.Init(), nullptr);
        EXPECT_EQ(library.Handle(), nullptr) << "a library without the entry point is unloaded again";
        const std::string error = library.Error();
        if (c.reasonFollows) {
            EXPECT_EQ(error.rfind(c.text, 0), 0u) << error;
            EXPECT_GT(error.size(), c.text.size()) << error;
        } else {
            EXPECT_EQ(error, c.text);
        }
    }

    // A path too long for the text is cut, not written past its end.
    const std::string longPath(2000, 'x');
    const vantu::Library cut = vantu::Library::Open(longPath.c_str());
    EXPECT_EQ(std::strlen(cut.Error()), 511u);
}

// Every member of an empty Driver, and of a record whose slots are all null,
// answers false, empty or 0 without calling anything.
TEST(CppDriver, EmptyHandlesAndNullSlotsCallNothing) {
    SCommonRec blank{}; // all slots null
    SBitmapInfo info{};
    const std::uint32_t colours[2] = {1, 2};
    for (const bool adopted : {false, true}) {
        SCOPED_TRACE(adopted ? "record with null slots" : "empty handle");
        vantu::Driver d = adopted ? vantu::Driver::Adopt(&blank) : vantu::Driver::Create(nullptr);
        EXPECT_EQ(bool(d), adopted);
        EXPECT_FALSE(d.AllocWindow(0, 0, 0));
        EXPECT_FALSE(d.AllocFullScreen(0, 0, 0, 640, 480, 32));
        EXPECT_FALSE(d.AllocBuffer(info));
        EXPECT_FALSE(d.Dealloc());
        EXPECT_FALSE(d.SetDebugMsgFunc(nullptr));
        EXPECT_FALSE(d.SetCallbacks(nullptr));
        EXPECT_FALSE(d.DrawBegin());
        EXPECT_FALSE(d.DrawEnd());
        EXPECT_FALSE(d.Flip());
        EXPECT_FALSE(d.FlipToPrimary());
        EXPECT_FALSE(d.Sync());
        EXPECT_FALSE(d.InitPalette(colours));
        EXPECT_EQ(d.GetScreenColor(nullptr, 0x7F), 0u);
        EXPECT_FALSE(d.InitBitmap(4, 4));
        EXPECT_FALSE(d.InitScreenBitmap());
        EXPECT_FALSE(d.SetBitmapPalette(nullptr, nullptr));
        EXPECT_EQ(d.GetBitmapInfo(nullptr), nullptr);
        EXPECT_FALSE(d.SetBitmapSurface(nullptr, &info, 4));
        EXPECT_FALSE(d.IsBitmapInitialized(nullptr));
        EXPECT_FALSE(d.ClearBitmap(nullptr, 1));
        EXPECT_FALSE(d.CopyBitmap(nullptr, nullptr, 0, 0, 0, 0, 0, 0, false));
        EXPECT_FALSE(d.CopyEntireBitmap(nullptr, nullptr, 0, 0, true));
        EXPECT_FALSE(d.LockBitmap(nullptr));
        EXPECT_FALSE(d.UnlockBitmap(nullptr));
        EXPECT_STREQ(d.Name(), "");
        EXPECT_FALSE(d.ScreenBitmap());
        EXPECT_FALSE(d.Done());
        EXPECT_FALSE(d) << "Done empties the handle whatever its result";
    }
    EXPECT_FALSE(vantu::Driver::Create(vantu::Library()));
}

TEST(CppDriver, OwnsOneRecordUntilDone) {
    ASSERT_TRUE(Loaded()) << Loaded().Error();
    EXPECT_STREQ(Loaded().Error(), "");
    vantu::Driver d = vantu::Driver::Create(Loaded(), {}, 0x5678);
    ASSERT_TRUE(d);
    SCommonRec *const record = d.Record();
    EXPECT_EQ(record->hostHandle, 0x5678u);
    EXPECT_STREQ(d.Name(), "Memory screen driver");
    EXPECT_EQ(d.ScreenBitmap().Get(), record->screenBitmap);
    EXPECT_EQ(d.GetScreenColor(d.ScreenBitmap(), 0x7F), 0u) << "the slot is null before the first readying";

    vantu::Driver moved = std::move(d);
    EXPECT_FALSE(d);
    EXPECT_EQ(moved.Record(), record);
    vantu::Driver &self = moved;
    moved = std::move(self);
    EXPECT_EQ(moved.Record(), record);

    // Assigning over a record ends it: Done, whose last message reaches its sink.
    std::vector<std::string> texts;
    auto keep = [&texts](const char *text) { texts.emplace_back(text); };
    vantu::Driver replaced = vantu::Driver::Create(Loaded(), keep);
    replaced = vantu::Driver::Create(Loaded());
    EXPECT_EQ(texts.back(), "VANTU: Finalizing: Memory screen driver\n");
    EXPECT_TRUE(replaced);

    // Release hands the record over; the C host ends it.
    SCommonRec *const released = moved.Release();
    EXPECT_EQ(released, record);
    EXPECT_FALSE(moved);
    vantu::Driver adopted = vantu::Driver::Adopt(released);
    EXPECT_TRUE(adopted.Done());
}

struct Messages {
    std::vector<std::string> texts;
    std::vector<SCommonRec *> records;
    void operator()(SCommonRec *record, const char *text) {
        records.push_back(record);
        texts.emplace_back(text);
    }
};

std::vector<std::string> gPlain;
void PlainSink(const char *text) { gPlain.emplace_back(text); }

// Each record's messages reach its own sink, from the entry point's first one
// to Done's last, through moves; none after Release.
TEST(CppDriver, DebugMessagesReachTheRecordsSink) {
    const std::string init = "VANTU: Initializing: Memory screen driver (version: 2, build: 2)\n";
    const std::string fin = "VANTU: Finalizing: Memory screen driver\n";
    Messages first, second;
    gPlain.clear();
    {
        vantu::Driver a = vantu::Driver::Create(Loaded(), first);
        vantu::Driver b = vantu::Driver::Create(Loaded(), PlainSink);
        vantu::Driver silent = vantu::Driver::Create(Loaded());
        ASSERT_EQ(first.texts, std::vector<std::string>{init});
        EXPECT_EQ(first.records, std::vector<SCommonRec *>{a.Record()}) << "the sink is given the record";
        ASSERT_EQ(gPlain, std::vector<std::string>{init});

        vantu::Driver movedA = std::move(a);
        std::vector<std::uint32_t> pixels(4);
        ASSERT_TRUE(movedA.AllocBuffer(vantu::Describe(pixels.data(), 2, 2, 8, 32, 0xFF0000, 0xFF00, 0xFF)));
        EXPECT_GT(first.texts.size(), 3u) << "messages follow the move";
        EXPECT_EQ(gPlain.size(), 1u) << "none of them reaches another record's sink";
        ASSERT_TRUE(silent.AllocBuffer(vantu::Describe(pixels.data(), 2, 2, 8, 32)));
        EXPECT_EQ(gPlain.size(), 1u);

        const size_t before = first.texts.size();
        ASSERT_TRUE(movedA.SetDebugSink(PlainSink));
        ASSERT_TRUE(movedA.Dealloc());
        EXPECT_EQ(first.texts.size(), before) << "a new sink replaces the old one";
        EXPECT_GT(gPlain.size(), 1u);

        SCommonRec *const raw = b.Release();
        gPlain.clear();
        EXPECT_TRUE(raw->Done(raw));
        EXPECT_TRUE(gPlain.empty()) << "a released record's messages no longer reach the sink";
        gPlain.clear();
        first.texts.clear();
    }
    EXPECT_EQ(gPlain, std::vector<std::string>{fin}) << "Done's last message reaches the sink";
    EXPECT_TRUE(first.texts.empty());

    // Null function pointers make empty sinks.
    EXPECT_FALSE(vantu::DebugSink(static_cast<void (*)(const char *)>(nullptr)));
    EXPECT_FALSE(vantu::DebugSink(nullptr));
}

// Copies, moves and assignments of palette handles against the palette's
// own count, down to the last owner, which frees it.
TEST(CppHandles, PaletteReferencesAsTheRecordCountsThem) {
    vantu::Driver d = vantu::Driver::Create(Loaded());
    const SCommonList &palettes = d.Record()->palettes;
    const std::uint32_t colours[] = {0, 0x7F, 0x7F00};
    {
        vantu::Palette p = d.InitPalette(colours);
        ASSERT_TRUE(p);
        EXPECT_EQ(p.Entries()[1], 0x7Fu);
        EXPECT_EQ(p.Entries()[3], 0u);
        SCommonPalette *const record = p.Get();
        EXPECT_EQ(p.RefCount(), 1);
        {
            vantu::Palette copy = p;
            EXPECT_EQ(copy.Get(), record);
            EXPECT_EQ(p.RefCount(), 2);
            vantu::Palette moved = std::move(copy);
            EXPECT_FALSE(copy);
            EXPECT_EQ(p.RefCount(), 2) << "a move takes no reference";
            const vantu::Palette &self = moved;
            moved = self; // self-assignment: the same one reference
            EXPECT_EQ(p.RefCount(), 2);
            moved = std::move(const_cast<vantu::Palette &>(self));
            EXPECT_EQ(p.RefCount(), 2);
            EXPECT_EQ(moved.Get(), record);
        }
        EXPECT_EQ(p.RefCount(), 1);

        // Assigning over the last owner of another palette frees that one.
        vantu::Palette other = d.InitPalette(colours, 1);
        EXPECT_EQ(Listed(palettes), 2);
        other = p;
        EXPECT_EQ(Listed(palettes), 1);
        EXPECT_EQ(p.RefCount(), 2);
        other = vantu::Palette();
        EXPECT_EQ(p.RefCount(), 1);

        // A bitmap holds its own reference: the palette outlives its handle.
        vantu::Bitmap b = d.InitBitmap(2, 2);
        ASSERT_TRUE(d.SetBitmapPalette(b, p));
        EXPECT_EQ(p.RefCount(), 2);
        EXPECT_TRUE(p.Reset());
        EXPECT_FALSE(p);
        EXPECT_FALSE(p.Reset()) << "an empty handle gives nothing up";
        EXPECT_EQ(record->header.refCount, 1);
        EXPECT_EQ(Listed(palettes), 1);
        EXPECT_TRUE(d.DoneBitmap(b));
        EXPECT_EQ(Listed(palettes), 0) << "the bitmap was the last owner";
    }

    // Counts a careless host wrote: a copy takes no reference it cannot count.
    vantu::Palette p = d.InitPalette(colours);
    for (const std::int32_t written : {0, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(written);
        p.Get()->header.refCount = written;
        const vantu::Palette copy = p;
        EXPECT_FALSE(copy);
        EXPECT_EQ(p.Get()->header.refCount, written);
    }
    p.Get()->header.refCount = 1;

    // Adopt and Release pass one reference between C and C++.
    SCommonPalette *const raw = p.Release();
    EXPECT_FALSE(p);
    EXPECT_EQ(raw->header.refCount, 1);
    vantu::Palette adopted = vantu::Palette::Adopt(d.Record(), raw);
    EXPECT_EQ(adopted.Get(), raw);
    EXPECT_FALSE(vantu::Palette::Adopt(d.Record(), nullptr));
}

TEST(CppHandles, BitmapReferencesAndTheirPalette) {
    vantu::Driver d = vantu::Driver::Create(Loaded());
    const SCommonList &bitmaps = d.Record()->bitmaps;
    const int placeholder = Listed(bitmaps);
    const std::uint32_t colours[] = {0, 0x7F};
    vantu::Palette p = d.InitPalette(colours);
    {
        vantu::Bitmap b = d.InitBitmap(4, 3);
        ASSERT_TRUE(b);
        EXPECT_EQ(Listed(bitmaps), placeholder + 1);
        ASSERT_TRUE(d.SetBitmapPalette(b, p));
        vantu::Bitmap copy = b;
        EXPECT_EQ(b.RefCount(), 2);
        EXPECT_TRUE(copy.Reset());
        EXPECT_EQ(b.RefCount(), 1);
        EXPECT_EQ(p.RefCount(), 2) << "the palette goes only with the bitmap's last reference";
        vantu::Bitmap assigned;
        assigned = b;
        const vantu::Bitmap &self = assigned;
        assigned = self;
        EXPECT_EQ(b.RefCount(), 2);
        b = std::move(assigned);
        EXPECT_EQ(b.RefCount(), 1) << "assigning a reference over its twin gives one up";
        vantu::Bitmap screenFollower = d.InitScreenBitmap();
        EXPECT_TRUE(screenFollower);
        EXPECT_EQ(Listed(bitmaps), placeholder + 2);
    }
    EXPECT_EQ(Listed(bitmaps), placeholder);
    EXPECT_EQ(p.RefCount(), 1);

    // The screen bitmap is never the host's to give up: adopted, its DoneBitmap is refused.
    vantu::Bitmap screen = vantu::Bitmap::Adopt(d.Record(), d.ScreenBitmap().Get());
    EXPECT_FALSE(screen.Reset());
    EXPECT_EQ(Listed(bitmaps), placeholder);
}

bool DrawAndLeaveEarly(vantu::Driver &d, bool early) {
    const vantu::DrawLock lock = d.DrawBegin();
    if (!lock || early)
        return false;
    return true;
}

TEST(CppLocks, DrawLockEndsOnEveryPath) {
    Screen16 s;
    vantu::Driver &d = s.driver;
    for (const bool early : {true, false}) {
        DrawAndLeaveEarly(d, early);
        EXPECT_FALSE(d.Record()->drawing);
        EXPECT_TRUE(d.Sync());
    }

    vantu::DrawLock lock = d.DrawBegin();
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock.Fields(), &d.Record()->version);
    EXPECT_EQ(&lock.ScreenInfo(), &d.Record()->screenInfo);
    EXPECT_EQ(lock.ScreenPixels<std::uint16_t>().Row(1), s.pixels.data() + 8);
    EXPECT_FALSE(d.DrawBegin()) << "a second DrawBegin fails while drawing";
    EXPECT_FALSE(d.Flip());
    vantu::DrawLock moved = std::move(lock);
    EXPECT_FALSE(lock);
    EXPECT_FALSE(lock.End());
    EXPECT_TRUE(d.Record()->drawing);
    moved = vantu::DrawLock(); // assignment ends the lock it replaces
    EXPECT_FALSE(d.Record()->drawing);
    EXPECT_TRUE(d.Flip());
    EXPECT_EQ(vantu::DrawLock().ScreenInfo().bits, nullptr);

    vantu::DrawLock again = d.DrawBegin();
    EXPECT_TRUE(again.End());
    EXPECT_FALSE(again.End());
    EXPECT_FALSE(d.DrawEnd());
}

TEST(CppLocks, BitmapLockUnlocksAndMarksInitialized) {
    Screen16 s;
    vantu::Driver &d = s.driver;
    vantu::Bitmap b = d.InitBitmap(3, 2);
    std::uint16_t memory[6] = {};
    ASSERT_TRUE(d.SetBitmapSurface(b, memory, 6));
    EXPECT_FALSE(d.IsBitmapInitialized(b));
    {
        const vantu::BitmapLock lock = d.LockBitmap(b);
        ASSERT_TRUE(lock);
        EXPECT_EQ(lock.Info(), d.GetBitmapInfo(b));
        EXPECT_EQ(lock.Pixels<std::uint16_t>().Row(1), memory + 3);
        EXPECT_FALSE(lock.Pixels<std::uint32_t>().Row(0)) << "16-bit pixels are not 32-bit ones";
        EXPECT_FALSE(d.LockBitmap(b)) << "locked already";
        EXPECT_FALSE(d.ClearBitmap(b, 1));
    }
    EXPECT_TRUE(d.IsBitmapInitialized(b));
    EXPECT_TRUE(d.ClearBitmap(b, 0x1234));
    EXPECT_EQ(memory[5], 0x1234);
    vantu::BitmapLock moved = d.LockBitmap(b);
    vantu::BitmapLock target = std::move(moved);
    EXPECT_FALSE(moved.End());
    EXPECT_TRUE(target.End());
    EXPECT_FALSE(target.View().Row(0));
}

// Views over one block of memory, top-down and bottom-up, every pixel size:
// rows where the driver puts them, nothing addressed outside the rows.
TEST(CppViews, RowsAndBoundsTopDownAndBottomUp) {
    constexpr std::int32_t kW = 5, kH = 4, kStride = 5 * 4 + 3; // 3 bytes of padding per row
    for (const std::uint32_t bpp : {8u, 16u, 24u, 32u}) {
        for (const bool bottomUp : {false, true}) {
            SCOPED_TRACE(::testing::Message() << bpp << " bits, " << (bottomUp ? "bottom-up" : "top-down"));
            std::vector<unsigned char> memory(kStride * kH, 0xA5);
            unsigned char *const base = memory.data();
            const SBitmapInfo info = bottomUp ? vantu::DescribeBottomUp(base, kW, kH, kStride, bpp)
                                              : vantu::Describe(base, kW, kH, kStride, bpp);
            const vantu::SurfaceView view(info);
            const std::uint32_t p = bpp / 8;
            EXPECT_EQ(view.PixelBytes(), p);
            EXPECT_EQ(view.Pitch(), bottomUp ? -kStride : kStride);
            for (std::int32_t y = 0; y < kH; ++y)
                EXPECT_EQ(view.Row(y), base + (bottomUp ? kH - 1 - y : y) * kStride);
            for (const auto &[x, y] : std::vector<std::pair<int, int>>{
                     {-1, 0}, {0, -1}, {kW, 0}, {0, kH}, {INT32_MIN, 0}, {0, INT32_MAX}}) {
                EXPECT_FALSE(view.Contains(x, y));
                EXPECT_EQ(view.Pixel(x, y), nullptr);
            }
            EXPECT_EQ(view.Row(-1), nullptr);
            EXPECT_EQ(view.Row(kH), nullptr);
            EXPECT_EQ(view.Pixel(kW - 1, 0), view.Row(0) + (kW - 1) * p);

            // Writing every pixel, and trying beyond, touches only the pixels.
            const auto fill = [&](auto pixels) {
                EXPECT_FALSE(pixels.Empty());
                for (std::int32_t y = -1; y <= kH; ++y)
                    for (std::int32_t x = -1; x <= kW; ++x)
                        EXPECT_EQ(pixels.Set(x, y, 0), view.Contains(x, y));
                EXPECT_EQ(pixels.Get(-1, 0), 0u);
            };
            if (bpp == 8)
                fill(view.As<std::uint8_t>());
            else if (bpp == 16)
                fill(view.As<std::uint16_t>());
            else if (bpp == 32)
                fill(view.As<std::uint32_t>());
            else
                for (std::int32_t y = 0; y < kH; ++y)
                    std::memset(view.Row(y), 0, static_cast<size_t>(kW) * p);
            for (size_t i = 0; i < memory.size(); ++i)
                EXPECT_EQ(memory[i], i % kStride < size_t{kW * p} ? 0 : 0xA5) << "byte " << i;
            EXPECT_TRUE(view.As<std::uint16_t>().Empty() == (bpp != 16));
        }
    }
}

// Fields a careless host wrote: sizes that read negative, no bits, no pixel size.
TEST(CppViews, DescriptionsThatHoldNoPixels) {
    std::uint32_t pixel = 0x11223344;
    const SBitmapInfo cases[] = {
        vantu::Describe(&pixel, -1, 1, 4, 32), vantu::Describe(&pixel, 1, -1, 4, 32),
        vantu::Describe(&pixel, 0, 1, 4, 32),  vantu::Describe(nullptr, 1, 1, 4, 32),
        vantu::Describe(&pixel, 1, 1, 4, 4),   SBitmapInfo{0xFFFFFFFDu, 4, 4, 0, 32, 0, 0, 0, 0, &pixel},
    };
    for (const SBitmapInfo &info : cases) {
        SCOPED_TRACE(::testing::Message() << int(info.width) << "x" << int(info.height) << "x" << info.bitsPerPixel);
        const vantu::SurfaceView view(info);
        EXPECT_TRUE(view.Empty());
        EXPECT_GE(view.Width(), 0);
        EXPECT_GE(view.Height(), 0);
        EXPECT_EQ(view.Row(0), nullptr);
        EXPECT_FALSE(view.As<std::uint32_t>().Set(0, 0, 1));
    }
    EXPECT_EQ(pixel, 0x11223344u);
    EXPECT_TRUE(vantu::SurfaceView().Empty());
    EXPECT_EQ(vantu::DescribeBottomUp(nullptr, 4, 4, 16, 32).bits, nullptr);
}

// The driver and the views agree on where a bottom-up screen's pixels are.
TEST(CppViews, DriverAndViewAgreeOnABottomUpScreen) {
    vantu::Driver d = vantu::Driver::Create(Loaded());
    std::vector<std::uint32_t> memory(6 * 4 + 1, 0xA5A5A5A5u);
    ASSERT_TRUE(d.AllocBuffer(vantu::DescribeBottomUp(memory.data(), 5, 4, 6 * 4, 32, 0xFF0000, 0xFF00, 0xFF)));
    vantu::Bitmap dot = d.InitBitmap(1, 1);
    std::uint32_t dotPixel = 0;
    ASSERT_TRUE(d.SetBitmapSurface(dot, &dotPixel, 4));
    const std::uint32_t white = d.GetScreenColor(d.ScreenBitmap(), vantu::ColourWord(127, 127, 127));
    ASSERT_TRUE(d.ClearBitmap(d.ScreenBitmap(), 0));
    ASSERT_TRUE(d.ClearBitmap(dot, white));
    ASSERT_TRUE(d.CopyEntireBitmap(d.ScreenBitmap(), dot, 3, 1, false));
    const vantu::DrawLock lock = d.DrawBegin();
    const vantu::PixelView<std::uint32_t> screen = lock.ScreenPixels<std::uint32_t>();
    for (std::int32_t y = 0; y < 4; ++y)
        for (std::int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(screen.Get(x, y), x == 3 && y == 1 ? white : 0u) << x << "," << y;
    EXPECT_EQ(memory[2 * 6 + 3], white) << "row 1 of 4 is the third row in memory";
}

TEST(CppColours, WordsAndComponentsBothWays) {
    static_assert(vantu::ColourWord(127, 127, 127) == 0x7F7F7Fu);
    static_assert(vantu::ColourWord(0xFF, 0x80, 0x1FF) == 0x7F007Fu);
    static_assert(vantu::ColourWord8(255, 128, 1) == 0x00407Fu);
    for (std::uint32_t c = 0; c < 128; ++c) {
        const std::uint32_t word = vantu::ColourWord(c, 127 - c, c / 2);
        EXPECT_EQ(vantu::Red(word), c);
        EXPECT_EQ(vantu::Green(word), 127 - c);
        EXPECT_EQ(vantu::Blue(word), c / 2);
        EXPECT_EQ(vantu::ColourWord8(vantu::Red8(word), vantu::Green8(word), vantu::Blue8(word)), word);
    }
    EXPECT_EQ(vantu::Red(0xFFFFFFFFu), 127u) << "bits 7, 15, 23 and the fourth byte are no component";

    // The 8-bit components are what the driver's 8-8-8 conversion writes.
    vantu::Driver d = vantu::Driver::Create(Loaded());
    std::uint32_t pixel = 0;
    ASSERT_TRUE(d.AllocBuffer(vantu::Describe(&pixel, 1, 1, 4, 32, 0xFF0000, 0xFF00, 0xFF)));
    for (const std::uint32_t word : {0x7F7F7Fu, 0x010203u, 0x400020u}) {
        const std::uint32_t expected = vantu::Red8(word) << 16 | vantu::Green8(word) << 8 | vantu::Blue8(word);
        EXPECT_EQ(d.GetScreenColor(d.ScreenBitmap(), word), expected);
    }
}

} // namespace
