// Presentation: how the window driver puts its back buffer on a screen. The
// driver keeps the back buffer in system memory and knows nothing of the
// windowing system; a backend opens a presenter on a window, shows frames in
// it and recreates what the system loses. One backend is built into a
// library (SDL2 on Linux; a GDI one, with the window argument as an HWND,
// fits the same table).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantu::window {

// One frame as the driver hands it over: the back buffer's pixels in the
// screen's format, and for 8-bit screens the colours the 256 indices show.
struct Frame {
    const uint8_t *bits; // top row
    ptrdiff_t pitch;     // bytes from one row to the next
    int32_t width;
    int32_t height;
    uint32_t bitsPerPixel;   // 8, 16 (5-6-5), 24 (3-byte 8-8-8) or 32 (8-8-8)
    const uint32_t *palette; // 8 bits: 256 colours as 0x00RRGGBB; null otherwise
};

// A backend's state for one shown screen; only the backend looks inside.
struct Presenter;

struct Backend {
    // Take and give back the windowing system for one driver record; every
    // other entry runs between the two. Acquire may be called again after it
    // failed; Release only after it succeeded.
    bool (*Acquire)();
    void (*Release)();
    // The highest display index there is (0 with one display or none).
    int32_t (*HighestDisplay)();
    // A presenter on the host's window named by `windowArg`, showing the back
    // buffer 1:1 at its top-left; the window's size in pixels goes to `width`
    // and `height`. Null when no such window exists, it has no pixels, or it
    // cannot be presented to.
    Presenter *(*OpenWindow)(uint32_t windowArg, int32_t *width, int32_t *height);
    // A window of the backend's own, titled `title`, covering display
    // `display`, showing a back buffer of `width` x `height` pixels scaled to
    // it, aspect kept, centred, black around it. Null on failure.
    Presenter *(*OpenFullScreen)(int32_t display, int32_t width, int32_t height, const char *title);
    // Whether the presenter can show frames, recreating what the system lost.
    bool (*Restore)(Presenter *presenter);
    // Show `frame` (converted where its format needs it).
    bool (*Present)(Presenter *presenter, const Frame &frame);
    // Give the presenter up (and, in full-screen mode, its window).
    void (*Close)(Presenter *presenter);
};

// The backend this library is built with.
const Backend &PlatformBackend();

} // namespace vantu::window
