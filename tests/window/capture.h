// Reading back what the X server shows in a window (kept apart from the
// tests: Xlib's macros and GoogleTest's names do not mix).
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, rows top to bottom
    uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// The window's content as the server has it, read on SDL's own connection
// so that it follows every request the presentation made. Empty when the
// window is null or not an X11 window of 8-8-8 pixels.
Shot Capture(SDL_Window *window);
