#include "capture.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

Shot Capture(SDL_Window *window) {
    Shot shot;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return shot;
    Display *display = info.info.x11.display;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, info.info.x11.window, &attributes))
        return shot;
    XImage *image = XGetImage(display, info.info.x11.window, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return shot;
    if (image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF) {
        shot.width = attributes.width;
        shot.height = attributes.height;
        shot.pixels.reserve(size_t(shot.width) * size_t(shot.height));
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                shot.pixels.push_back(uint32_t(XGetPixel(image, x, y)) & 0xFFFFFF);
    }
    XDestroyImage(image);
    return shot;
}
