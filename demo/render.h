// Drawing the demo scene into one memory screen, as a host does: only
// through the slots of a driver record.
#ifndef VANTU_DEMO_RENDER_H
#define VANTU_DEMO_RENDER_H

#include <string>

#include <vantu/vantu.hpp>

#include "formats.h"

// Creates a record with `entry` (its debug messages to `debug`), gives it a host buffer of `width` x `height`
// pixels in `format`, draws the scene, tears everything down again and
// returns the buffer's content as RGB. On failure returns false with a
// one-line reason in `error`.
bool RenderScene(VantuDllInitFunc entry, vantu::DebugSink debug, const ScreenFormat &format, int width, int height,
                 RgbImage &image, std::string &error);

#endif
