// The SDL2 backend: a renderer and a streaming 0x00RRGGBB texture on the
// host's window (window mode) or on a borderless window of the backend's own
// at a display's bounds (full screen). Frames go up through the texture:
// 32-bit ones as they are, the others converted while the texture is locked.
//
// SDL's rendering belongs to the thread that made the presenter; on any
// other thread nothing here calls SDL. SDL reports a lost renderer (device
// or targets reset) and a window moved to another display through its
// events, which the host pumps; an event watch notes them, and the next
// Restore on the presenter's thread recreates the renderer and the texture.
#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "frame_convert.h"
#include "pixels.h"
#include "present.h"

namespace vantu::window {

struct Presenter {
    SDL_Window *window = nullptr;
    Uint32 windowId = 0;
    bool ownWindow = false; // full screen: the backend made the window and destroys it
    bool fit = false;       // full screen: scaled to the output, aspect kept
    int width = 0;          // the back buffer's size, the texture's
    int height = 0;
    SDL_Renderer *renderer = nullptr;
    SDL_Texture *texture = nullptr;
    SDL_threadID thread = 0;
    std::atomic<bool> lost{false};
};

namespace {

// The largest back buffer side shown: the texture limit of common GPUs, which
// SDL's software renderer (which has none) is held to as well.
constexpr int kMaxSide = 16384;

int SDLCALL NoteLoss(void *userdata, SDL_Event *event) {
    auto *presenter = static_cast<Presenter *>(userdata);
    const bool reset = event->type == SDL_RENDER_TARGETS_RESET || event->type == SDL_RENDER_DEVICE_RESET;
    const bool moved = event->type == SDL_WINDOWEVENT && event->window.windowID == presenter->windowId &&
                       event->window.event == SDL_WINDOWEVENT_DISPLAY_CHANGED;
    if (reset || moved)
        presenter->lost.store(true, std::memory_order_release);
    return 0;
}

bool OnPresenterThread(const Presenter *presenter) { return SDL_ThreadID() == presenter->thread; }

// The window may have gone behind the driver's back (a host that destroyed
// its window before Dealloc); an ID is never given to another window.
bool WindowAlive(const Presenter *presenter) {
    return presenter->window != nullptr && SDL_GetWindowFromID(presenter->windowId) == presenter->window;
}

bool RendererAlive(const Presenter *presenter) {
    return presenter->renderer != nullptr && WindowAlive(presenter) &&
           SDL_GetRenderer(presenter->window) == presenter->renderer;
}

// A renderer SDL no longer knows is not touched: its window took it along.
void DestroyRendering(Presenter *presenter) {
    if (RendererAlive(presenter))
        SDL_DestroyRenderer(presenter->renderer); // the texture goes with it
    presenter->renderer = nullptr;
    presenter->texture = nullptr;
}

// SDL chooses the renderer (the host steers it with SDL_HINT_RENDER_DRIVER
// and the vsync hint). A window that has a renderer already is the host's to
// draw on, not ours.
bool CreateRendering(Presenter *presenter) {
    if (SDL_GetRenderer(presenter->window) != nullptr)
        return false;
    presenter->renderer = SDL_CreateRenderer(presenter->window, -1, 0);
    if (presenter->renderer == nullptr)
        return false;
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(presenter->renderer, &info);
    if ((info.max_texture_width > 0 && presenter->width > info.max_texture_width) ||
        (info.max_texture_height > 0 && presenter->height > info.max_texture_height)) {
        SDL_DestroyRenderer(presenter->renderer);
        presenter->renderer = nullptr;
        return false;
    }
    presenter->texture = SDL_CreateTexture(presenter->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                           presenter->width, presenter->height);
    if (presenter->texture == nullptr) {
        SDL_DestroyRenderer(presenter->renderer);
        presenter->renderer = nullptr;
        return false;
    }
    // Scaled pixels stay whole: each shows one back-buffer pixel.
    SDL_SetTextureScaleMode(presenter->texture, SDL_ScaleModeNearest);
    SDL_SetRenderDrawColor(presenter->renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    return true;
}

void Close(Presenter *presenter) {
    if (presenter == nullptr)
        return;
    SDL_DelEventWatch(NoteLoss, presenter);
    DestroyRendering(presenter);
    if (presenter->ownWindow && WindowAlive(presenter))
        SDL_DestroyWindow(presenter->window);
    presenter->~Presenter();
    std::free(presenter);
}

Presenter *Open(SDL_Window *window, bool ownWindow, bool fit, int width, int height) {
    void *memory = width <= kMaxSide && height <= kMaxSide ? std::calloc(1, sizeof(Presenter)) : nullptr;
    if (memory == nullptr) {
        if (ownWindow)
            SDL_DestroyWindow(window);
        return nullptr;
    }
    auto *presenter = new (memory) Presenter;
    presenter->window = window;
    presenter->windowId = SDL_GetWindowID(window);
    presenter->ownWindow = ownWindow;
    presenter->fit = fit;
    presenter->width = width;
    presenter->height = height;
    presenter->thread = SDL_ThreadID();
    if (!CreateRendering(presenter)) {
        Close(presenter);
        return nullptr;
    }
    SDL_AddEventWatch(NoteLoss, presenter);
    return presenter;
}

bool Acquire() {
    // A host that does not use SDL keeps its own SIGINT and SIGTERM handling:
    // when the driver is the one starting SDL's events, SDL installs no
    // signal handlers (unless the host asked for them).
    const bool quietSignals = SDL_WasInit(SDL_INIT_EVENTS) == 0 && SDL_GetHint(SDL_HINT_NO_SIGNAL_HANDLERS) == nullptr;
    if (quietSignals)
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Counted by SDL: the host's own SDL_InitSubSystem and SDL_QuitSubSystem
    // calls pair with theirs, ours with ours.
    const bool ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (quietSignals)
        SDL_ResetHint(SDL_HINT_NO_SIGNAL_HANDLERS);
    return ok;
}

void Release() { SDL_QuitSubSystem(SDL_INIT_VIDEO); }

int32_t HighestDisplay() {
    const int displays = SDL_GetNumVideoDisplays();
    return displays > 1 ? displays - 1 : 0;
}

Presenter *OpenWindow(uint32_t windowArg, int32_t *width, int32_t *height) {
    SDL_Window *window = SDL_GetWindowFromID(windowArg);
    if (window == nullptr)
        return nullptr;
    int w = 0, h = 0;
    SDL_GetWindowSizeInPixels(window, &w, &h);
    if (w <= 0 || h <= 0)
        return nullptr;
    *width = w;
    *height = h;
    return Open(window, false, false, w, h);
}

// A borderless window at the display's bounds covers it under any X server,
// a window manager or none; the full-screen flag tells window managers to
// keep it above their panels.
Presenter *OpenFullScreen(int32_t display, int32_t width, int32_t height, const char *title) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(display, &bounds) != 0)
        return nullptr;
    SDL_Window *window = SDL_CreateWindow(title, bounds.x, bounds.y, bounds.w, bounds.h,
                                          SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (window == nullptr)
        return nullptr;
    SDL_RaiseWindow(window);
    return Open(window, true, true, width, height);
}

bool Restore(Presenter *presenter) {
    const bool lost = presenter->lost.load(std::memory_order_acquire);
    // Only the presenter's own thread may recreate anything.
    if (!OnPresenterThread(presenter))
        return !lost;
    if (!lost && RendererAlive(presenter))
        return true;
    if (!WindowAlive(presenter))
        return false;
    // Cleared first, so that a loss reported during the recreation is kept.
    presenter->lost.store(false, std::memory_order_release);
    DestroyRendering(presenter);
    if (CreateRendering(presenter))
        return true;
    presenter->lost.store(true, std::memory_order_release);
    return false;
}

// The largest rectangle of the back buffer's shape inside the output, centred.
SDL_Rect Fitted(int width, int height, int outWidth, int outHeight) {
    int64_t w = outWidth;
    int64_t h = (int64_t{outWidth} * height + width / 2) / width;
    if (h > outHeight) {
        h = outHeight;
        w = (int64_t{outHeight} * width + height / 2) / height;
    }
    return {static_cast<int>((outWidth - w) / 2), static_cast<int>((outHeight - h) / 2), static_cast<int>(w),
            static_cast<int>(h)};
}

bool Upload(Presenter *presenter, const Frame &frame) {
    if (frame.bitsPerPixel == 32)
        return SDL_UpdateTexture(presenter->texture, nullptr, frame.bits, static_cast<int>(frame.pitch)) == 0;
    void *pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(presenter->texture, nullptr, &pixels, &pitch) != 0)
        return false;
    auto *out = static_cast<uint8_t *>(pixels);
    switch (frame.bitsPerPixel) {
    case 8:
        ActiveKernels().expandPalette(out, pitch, frame.bits, frame.pitch, frame.width, frame.height, frame.palette);
        break;
    case 16: Convert565Rows(out, pitch, frame.bits, frame.pitch, frame.width, frame.height); break;
    default: Convert24Rows(out, pitch, frame.bits, frame.pitch, frame.width, frame.height); break;
    }
    SDL_UnlockTexture(presenter->texture);
    return true;
}

bool Present(Presenter *presenter, const Frame &frame) {
    if (!OnPresenterThread(presenter) || presenter->renderer == nullptr || frame.width != presenter->width ||
        frame.height != presenter->height)
        return false;
    if (!Upload(presenter, frame))
        return false;
    int outWidth = 0, outHeight = 0;
    if (SDL_GetRendererOutputSize(presenter->renderer, &outWidth, &outHeight) != 0)
        return false;
    const SDL_Rect to = presenter->fit ? Fitted(frame.width, frame.height, outWidth, outHeight)
                                       : SDL_Rect{0, 0, frame.width, frame.height};
    // Black wherever the frame does not reach (the renderer's buffers hold
    // nothing defined between frames); nothing else is drawn.
    if (to.x > 0 || to.y > 0 || to.x + to.w < outWidth || to.y + to.h < outHeight)
        SDL_RenderClear(presenter->renderer);
    if (SDL_RenderCopy(presenter->renderer, presenter->texture, nullptr, &to) != 0)
        return false;
    SDL_RenderPresent(presenter->renderer);
    return true;
}

constexpr Backend kSdl = {Acquire, Release, HighestDisplay, OpenWindow, OpenFullScreen, Restore, Present, Close};

} // namespace

const Backend &PlatformBackend() { return kSdl; }

} // namespace vantu::window
