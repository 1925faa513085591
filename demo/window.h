// vantu-demo --window: the scene animated in a window through the window
// driver (libvantu_sdl.so), the demo being the host that owns the window and
// pumps its events.
#ifndef VANTU_DEMO_WINDOW_H
#define VANTU_DEMO_WINDOW_H

#include <string>

#include "options.h"

// Runs the window mode; on failure returns false with a one-line reason in `error`.
bool RunWindow(const Options &options, std::string &error);

#endif
