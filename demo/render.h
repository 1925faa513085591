// Drawing the demo scene, as a host does: only through the slots of a driver
// record (vantu.hpp), on a memory screen (the memory driver) or in a window
// (the window driver).
#ifndef VANTU_DEMO_RENDER_H
#define VANTU_DEMO_RENDER_H

#include <cstdint>
#include <string>
#include <vector>

#include <vantu/vantu.hpp>

#include "formats.h"
#include "scene.h"

// One driver record, its screen and the scene's bitmaps. Every step returns
// false on failure with a one-line reason in the `error` given at creation.
class SceneRenderer {
  public:
    explicit SceneRenderer(std::string &error) : error_(error) {}
    ~SceneRenderer() { Close(); }
    SceneRenderer(const SceneRenderer &) = delete;
    SceneRenderer &operator=(const SceneRenderer &) = delete;

    // A record from `entry` whose screen is a host buffer of `width` x
    // `height` pixels in `format` (rows padded with bytes that must survive).
    bool OpenBuffer(VantuDllInitFunc entry, vantu::DebugSink debug, const ScreenFormat &format, int width,
                    int height);
    // A record from `entry` whose screen is the host's window `windowId` (a
    // window driver's 32-bit 8-8-8 screen of the window's size).
    bool OpenWindow(VantuDllInitFunc entry, vantu::DebugSink debug, uint32_t windowId);
    // Draws frame `frame` between DrawBegin and DrawEnd: 0 is the still scene;
    // from 1 on the shapes move and the frame's number shows at the top left.
    bool Draw(int frame);
    // Flip, and on a host buffer the check that no row's padding changed.
    bool Present();
    // What the screen holds now, as RGB.
    RgbImage Picture() const;
    // Gives everything back in the order the driver expects, each step checked.
    bool Close();

  private:
    struct HostBitmap {
        std::vector<uint8_t> storage; // used when the driver gives the bitmap no pixels
        vantu::Bitmap bitmap;
    };
    bool Fail(const std::string &what) {
        error_ = what;
        return false;
    }
    bool Check(bool ok, const char *what) { return ok || Fail(std::string(what) + " failed"); }
    bool Ready(int width, int height);
    bool MakeBitmap(int width, int height, HostBitmap &out);
    uint32_t Pixel(vantu::BitmapRef target, uint32_t colour) { return driver_.GetScreenColor(target, colour); }
    bool DrawBackground();
    bool DrawPanels(int frame);
    bool PaintShape(scene::Shape shape, bool highlight, uint32_t colour);
    bool DrawSprites(int frame);
    bool DrawCounter(int frame);
    bool PaddingIntact() const;

    std::string &error_;
    const ScreenFormat *format_ = nullptr;
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> buffer_; // the screen, when it is host memory
    uint32_t pitch_ = 0;
    vantu::Driver driver_;
    vantu::BitmapRef screen_;
    std::vector<uint32_t> paletteColours_;
    vantu::Palette palette_;
    HostBitmap band_, solid_, sprite_, counter_;
};

// A record from `entry` with a host buffer of `width` x `height` pixels in
// `format`, frame `frame` of the scene drawn and presented, everything torn
// down again; the buffer's content as RGB. On failure returns false with a
// one-line reason in `error`.
bool RenderScene(VantuDllInitFunc entry, vantu::DebugSink debug, const ScreenFormat &format, int width, int height,
                 int frame, RgbImage &image, std::string &error);

#endif
