// examples/host.c's host through the C++ interface: the same steps, with the
// record, the sprite and the drawing lock given back by their handles.
//
//   host [path-to-driver]        exits 0 when every step did what it should
#include <vantu/vantu.hpp>

#include <cstdint>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
constexpr const char *kDriver = "VANTU MEM.dll";
#else
constexpr const char *kDriver = "libvantu_mem.so";
#endif
constexpr int W = 320, H = 200, SPRITE = 16;

static bool Run(const char *path) {
    const vantu::Library library = vantu::Library::Open(path);
    if (!library) {
        std::fprintf(stderr, "host: %s\n", library.Error());
        return false;
    }
    // Every debug message ("VANTU: ...") goes to stdout; the record is Done when `driver` goes.
    vantu::Driver driver = vantu::Driver::Create(library, [](const char *text) { std::fputs(text, stdout); });
    std::vector<std::uint16_t> pixels(W * H); // the screen: 5-6-5 pixels in the host's memory
    if (!driver || !driver.AllocBuffer(vantu::Describe(pixels.data(), W, H, W * 2, 16, 0xF800, 0x07E0, 0x001F)))
        return false;
    const vantu::BitmapRef screen = driver.ScreenBitmap();
    const std::uint32_t blue = driver.GetScreenColor(screen, vantu::ColourWord(0, 0, 127));
    const std::uint32_t red = driver.GetScreenColor(screen, vantu::ColourWord(127, 0, 0));
    const std::uint32_t white = driver.GetScreenColor(screen, vantu::ColourWord(127, 127, 127));
    bool ok = driver.ClearBitmap(screen, blue) && pixels.front() == blue && pixels.back() == blue;
    if (vantu::DrawLock lock = driver.DrawBegin()) // direct drawing, DrawEnd when the lock goes
        ok = lock.ScreenPixels<std::uint16_t>().Set(W / 2, H / 2, std::uint16_t(white)) && ok;
    ok = driver.Flip() && ok;

    // A bitmap gets its size and format from the driver, its pixels from the host.
    std::uint16_t spritePixels[SPRITE * SPRITE];
    const vantu::Bitmap sprite = driver.InitBitmap(SPRITE, SPRITE); // DoneBitmap when it goes
    ok = driver.SetBitmapSurface(sprite, spritePixels, SPRITE * 2) && driver.ClearBitmap(sprite, red) &&
         driver.CopyEntireBitmap(screen, sprite, 8, 8, false) && pixels[8 * W + 8] == red && ok;
    return driver.Dealloc() && ok;
}

int main(int argc, char **argv) {
    const bool ok = Run(argc > 1 ? argv[1] : kDriver);
    std::puts(ok ? "host: done" : "host: failed");
    return ok ? 0 : 1;
}
