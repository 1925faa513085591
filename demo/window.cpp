#include "window.h"

#include <SDL.h>

#include <cstdio>

#include "loader.h"
#include "png_writer.h"
#include "render.h"

namespace {

void PrintDebugMessage(const char *text) { std::fputs(text, stderr); }

// Whether the user asked to stop: the window closed, or Escape.
bool StopRequested() {
    SDL_Event event;
    bool stop = false;
    while (SDL_PollEvent(&event) != 0)
        stop = stop || event.type == SDL_QUIT ||
               (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) ||
               (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE);
    return stop;
}

// The window and SDL's video, the host's own: made first, given up last.
class HostWindow {
  public:
    HostWindow(int width, int height, std::string &error) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            error = std::string("no video: ") + SDL_GetError();
            return;
        }
        video_ = true;
        window_ = SDL_CreateWindow("vantu-demo", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, 0);
        if (window_ == nullptr)
            error = std::string("no window: ") + SDL_GetError();
    }
    ~HostWindow() {
        if (window_ != nullptr)
            SDL_DestroyWindow(window_);
        if (video_)
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    HostWindow(const HostWindow &) = delete;
    HostWindow &operator=(const HostWindow &) = delete;
    uint32_t Id() const { return window_ != nullptr ? SDL_GetWindowID(window_) : 0; }

  private:
    bool video_ = false;
    SDL_Window *window_ = nullptr;
};

} // namespace

bool RunWindow(const Options &options, std::string &error) {
    const HostWindow window(options.width, options.height, error);
    if (!error.empty())
        return false;
    const std::string path = options.library.empty() ? DefaultLibraryPath(kWindowDriverFileName) : options.library;
    const vantu::Library library = OpenDriverLibrary(path);
    if (!library) {
        error = library.Error();
        return false;
    }
    RgbImage last;
    {
        // The record and its screen go before the window (Dealloc, then Done).
        SceneRenderer renderer(error);
        const vantu::DebugSink debug = options.verbose ? vantu::DebugSink(PrintDebugMessage) : vantu::DebugSink();
        if (!renderer.OpenWindow(library.Init(), debug, window.Id()))
            return false;
        // About 60 frames a second on screen; as fast as it goes when counted.
        for (int frame = 1; options.frames == 0 || frame <= options.frames; ++frame) {
            const Uint64 start = SDL_GetTicks64();
            if (StopRequested() || !renderer.Draw(frame) || !renderer.Present())
                break;
            if (options.frames == 0 && SDL_GetTicks64() - start < 16)
                SDL_Delay(static_cast<Uint32>(16 - (SDL_GetTicks64() - start)));
        }
        last = renderer.Picture();
        if (!renderer.Close())
            return false;
    }
    if (!options.screenshot.empty()) {
        if (!WritePng(options.screenshot, last, error))
            return false;
        std::printf("%s\n", options.screenshot.c_str());
    }
    return true;
}
