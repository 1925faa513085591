// Compiled, never run: every template and member of vantu.hpp instantiated
// under the strict flags a host may use (tests/CMakeLists.txt builds it at
// C++17 and C++20 with -fno-exceptions -fno-rtti and warnings as errors).
#include <vantu/vantu.hpp>

#include <cstdint>

namespace {

struct Counter {
    int n = 0;
    void operator()(const char *) { ++n; }
};
struct RecordCounter {
    int *n;
    void operator()(SCommonRec *, const char *) const { ++*n; }
};
void Text(const char *) {}

template <class T>
std::uint32_t Touch(const vantu::PixelView<T> &view) {
    std::uint32_t sum = 0;
    if (T *row = view.Row(0))
        sum += row[0];
    sum += view.Get(0, 0);
    sum += view.Set(0, 0, T{1}) ? 1u : 0u;
    sum += static_cast<std::uint32_t>(view.Width() + view.Height() + view.Pitch());
    sum += view.Contains(1, 1) && !view.Empty() ? 1u : 0u;
    return sum + view.Bytes().PixelBytes();
}

} // namespace

int VantuHeaderCheck(const char *path) {
    static_assert(vantu::ColourWord8(255, 255, 255) == vantu::ColourWord(127, 127, 127), "colour words");
    vantu::Library library = vantu::Library::Open(path);
    if (!library)
        return library.Error()[0];
    Counter counter;
    int recordMessages = 0;
    const RecordCounter records{&recordMessages};
    vantu::Driver quiet = vantu::Driver::Create(library.Init());
    vantu::Driver a = vantu::Driver::Create(library, counter, 7);
    vantu::Driver b = vantu::Driver::Create(library, Text);
    vantu::Driver c = vantu::Driver::Create(library, [](SCommonRec *, const char *) {});
    vantu::Driver e = vantu::Driver::Create(library, records);
    vantu::Driver d = std::move(a);
    std::uint32_t pixels[4] = {};
    const std::uint32_t colours[] = {0, 0x7F};
    int score = 0;
    score += d.AllocBuffer(vantu::Describe(pixels, 2, 2, 8, 32, 0xFF0000, 0xFF00, 0xFF)) ? 1 : 0;
    score += d.AllocWindow(0, 0, 1) || d.AllocFullScreen(0, 0, 0, 64, 48, 32) ? 1 : 0;
    SCommonCallbacks old{};
    score += d.SetCallbacks(nullptr, &old) && d.SetDebugMsgFunc(nullptr) && d.SetDebugSink(counter) ? 1 : 0;
    vantu::Palette palette = d.InitPalette(colours);
    vantu::Palette copy = palette;
    score += d.DonePalette(copy) ? 1 : 0;
    vantu::Bitmap bitmap = d.InitBitmap(2, 2);
    vantu::Bitmap follower = d.InitScreenBitmap();
    score += d.SetBitmapSurface(bitmap, pixels, 8) && d.SetBitmapPalette(bitmap, palette) ? 1 : 0;
    score += d.SetBitmapPalette(bitmap, nullptr) && d.IsBitmapInitialized(bitmap) ? 1 : 0;
    score += static_cast<int>(d.GetScreenColor(d.ScreenBitmap(), vantu::ColourWord(1, 2, 3)) & 1u);
    score += d.ClearBitmap(bitmap, 1) && d.CopyBitmap(d.ScreenBitmap(), bitmap, 0, 0, 0, 0, 0, 0, true) ? 1 : 0;
    score += d.CopyEntireBitmap(d.ScreenBitmap(), bitmap, 1, 1, false) ? 1 : 0;
    if (const SBitmapInfo *info = d.GetBitmapInfo(bitmap))
        score += static_cast<int>(info->width);
    {
        const vantu::BitmapLock lock = d.LockBitmap(bitmap);
        score += lock ? static_cast<int>(Touch(lock.Pixels<std::uint32_t>()) + lock.View().PixelBytes()) : 0;
        score += lock.Info() != nullptr ? 1 : 0;
    }
    score += d.UnlockBitmap(bitmap) ? 1 : 0;
    {
        vantu::DrawLock lock = d.DrawBegin();
        score +=
            static_cast<int>(Touch(lock.ScreenPixels<std::uint8_t>()) + Touch(lock.ScreenPixels<std::uint16_t>()));
        score += static_cast<int>(lock.ScreenInfo().width) + (lock.Fields() != nullptr ? 1 : 0);
        score += lock.Screen().Pixel(0, 0) != nullptr ? 1 : 0;
        score += lock.End() ? 1 : 0;
    }
    score += d.DrawEnd() || d.Flip() || d.FlipToPrimary() || d.Sync() ? 1 : 0;
    const vantu::SurfaceView view(vantu::DescribeBottomUp(pixels, 2, 2, 8, 32));
    score += static_cast<int>(Touch(view.As<std::uint32_t>()) + view.BitsPerPixel()) + (view.Bits() ? 1 : 0);
    score += static_cast<int>(vantu::Red8(vantu::ColourWord8(1, 2, 3)) + vantu::Green8(0) + vantu::Blue8(0));
    score += palette.Entries() != nullptr && palette.RefCount() > 0 && bitmap.RefCount() > 0 ? 1 : 0;
    score += d.DoneBitmap(follower) && d.Dealloc() ? 1 : 0;
    score += *d.Name() + static_cast<int>(d.ScreenInfo().width) + (d.Record() != nullptr ? 1 : 0);
    vantu::Palette adoptedPalette = vantu::Palette::Adopt(d.Record(), palette.Release());
    vantu::Bitmap adoptedBitmap = vantu::Bitmap::Adopt(d.Record(), bitmap.Release());
    score += adoptedPalette.Reset() && adoptedBitmap.Reset() ? 1 : 0;
    vantu::Driver adopted = vantu::Driver::Adopt(c.Release());
    score += adopted.Done() && b.Done() && e.Done() && quiet.Done() ? 1 : 0;
    vantu::Library moved = std::move(library);
    score += moved.Handle() != nullptr ? 1 : 0;
    return score + counter.n + recordMessages;
}
