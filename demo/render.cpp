#include "render.h"

#include <algorithm>
#include <string>

namespace {

constexpr uint8_t kPadByte = 0xA5; // fills the screen rows' padding, which must survive

// The format a window driver's screen has: the one of the list that matches.
const ScreenFormat *FormatOf(const SBitmapInfo &info) {
    for (const ScreenFormat &format : kScreenFormats)
        if (format.bitsPerPixel == info.bitsPerPixel && format.redMask == info.redMask &&
            format.greenMask == info.greenMask && format.blueMask == info.blueMask)
            return &format;
    return nullptr;
}

} // namespace

bool SceneRenderer::OpenBuffer(VantuDllInitFunc entry, vantu::DebugSink debug, const ScreenFormat &format, int width,
                               int height) {
    driver_ = vantu::Driver::Create(entry, debug);
    if (!driver_)
        return Fail("VANTU_DLL_Init returned no record");
    const uint32_t rowBytes = static_cast<uint32_t>(width) * (format.bitsPerPixel / 8);
    pitch_ = (rowBytes + 16u + 3u) & ~3u; // some padding after every row
    buffer_.assign(static_cast<size_t>(pitch_) * static_cast<size_t>(height), kPadByte);
    const SBitmapInfo description =
        vantu::Describe(buffer_.data(), width, height, static_cast<int32_t>(pitch_), format.bitsPerPixel,
                        format.redMask, format.greenMask, format.blueMask);
    format_ = &format;
    return Check(driver_.AllocBuffer(description), "AllocBuffer") && Ready(width, height);
}

bool SceneRenderer::OpenWindow(VantuDllInitFunc entry, vantu::DebugSink debug, uint32_t windowId) {
    driver_ = vantu::Driver::Create(entry, debug);
    if (!driver_)
        return Fail("VANTU_DLL_Init returned no record");
    if (!Check(driver_.AllocWindow(0, 0, windowId), "AllocWindow"))
        return false;
    const SBitmapInfo &screen = driver_.ScreenInfo();
    format_ = FormatOf(screen);
    if (format_ == nullptr)
        return Fail("the window's screen has a format the demo does not draw");
    return Ready(static_cast<int>(screen.width), static_cast<int>(screen.height));
}

// The screen is there: its palette (8 bits) and the scene's bitmaps.
bool SceneRenderer::Ready(int width, int height) {
    width_ = width;
    height_ = height;
    screen_ = driver_.ScreenBitmap();
    if (!screen_ || driver_.Record()->GetScreenColor == nullptr)
        return Fail("the allocation left no screen bitmap or colour conversion");
    if (format_->palettized) {
        // Entry 0 stays black and is never chosen; the scene's colours follow.
        paletteColours_.assign(1, 0u);
        for (uint32_t colour : scene::AllColours())
            paletteColours_.push_back(colour);
        palette_ = driver_.InitPalette(paletteColours_.data(), static_cast<int32_t>(paletteColours_.size()));
        if (!palette_)
            return Fail("InitPalette failed");
        paletteColours_.resize(256, 0u);
        if (!Check(driver_.SetBitmapPalette(screen_, palette_), "SetBitmapPalette"))
            return false;
    }
    const int spriteSize = scene::SpriteSize(width, height);
    int solidWidth = spriteSize, solidHeight = spriteSize;
    for (const scene::Rect &panel : scene::Panels(width, height)) {
        solidWidth = std::max(solidWidth, panel.w);
        solidHeight = std::max(solidHeight, panel.h);
    }
    // The counter: up to 7 digits of 3x5 cells, a cell of `scale` pixels.
    const int scale = std::max(1, height / 100);
    return MakeBitmap(width, scene::BandHeight(height), band_) && MakeBitmap(solidWidth, solidHeight, solid_) &&
           MakeBitmap(spriteSize, spriteSize, sprite_) && MakeBitmap(7 * 4 * scale, 5 * scale, counter_);
}

// A window driver gives a bitmap pixels of its own (and frees them itself);
// the memory driver leaves that to the host.
bool SceneRenderer::MakeBitmap(int width, int height, HostBitmap &out) {
    out.bitmap = driver_.InitBitmap(width, height);
    if (!out.bitmap)
        return Fail("InitBitmap failed");
    const SBitmapInfo *info = driver_.GetBitmapInfo(out.bitmap);
    if (info == nullptr)
        return Fail("GetBitmapInfo failed");
    if (info->bits == nullptr) {
        const uint32_t pitch = (static_cast<uint32_t>(width) * (info->bitsPerPixel / 8) + 7u) & ~3u;
        out.storage.assign(static_cast<size_t>(pitch) * static_cast<size_t>(height), 0);
        if (!Check(driver_.SetBitmapSurface(out.bitmap, out.storage.data(), static_cast<int32_t>(pitch)),
                   "GetBitmapInfo"))
            return false;
    }
    return !palette_ || Check(driver_.SetBitmapPalette(out.bitmap, palette_), "SetBitmapPalette");
}

// Bands cleared one after another into one bitmap and each copied across.
bool SceneRenderer::DrawBackground() {
    const int bandHeight = scene::BandHeight(height_);
    if (!Check(driver_.ClearBitmap(screen_, Pixel(screen_, scene::kBandColours[0])), "ClearBitmap(screen)"))
        return false;
    for (int i = 0; i < scene::kBands; ++i) {
        if (!Check(driver_.ClearBitmap(band_.bitmap, Pixel(band_.bitmap, scene::kBandColours[i])),
                   "ClearBitmap(band)") ||
            !Check(driver_.CopyBitmap(screen_, band_.bitmap, 0, 0, 0, i * bandHeight, 0, 0, false),
                   "CopyBitmap(band)"))
            return false;
    }
    return true;
}

// Panels: a part of one solid bitmap, cleared to each panel's colour.
bool SceneRenderer::DrawPanels(int frame) {
    const int bob = scene::Bob(frame, height_ / 16);
    for (const scene::Rect &panel : scene::Panels(width_, height_)) {
        if (!Check(driver_.ClearBitmap(solid_.bitmap, Pixel(solid_.bitmap, panel.colour)), "ClearBitmap(solid)") ||
            !Check(driver_.CopyBitmap(screen_, solid_.bitmap, 0, 0, panel.x, panel.y + bob, panel.w, panel.h, false),
                   "CopyBitmap(panel)"))
            return false;
    }
    return true;
}

// Copies runs of a solid colour into the sprite bitmap, row by row, wherever
// the shape (or a circle's highlight) covers it.
bool SceneRenderer::PaintShape(scene::Shape shape, bool highlight, uint32_t colour) {
    const SBitmapInfo *info = driver_.GetBitmapInfo(sprite_.bitmap);
    const int size = static_cast<int>(info->width);
    if (!Check(driver_.ClearBitmap(solid_.bitmap, Pixel(solid_.bitmap, colour)), "ClearBitmap(solid)"))
        return false;
    const auto covers = [&](int x, int y) {
        return highlight ? scene::HighlightCovers(size, x, y) : scene::ShapeCovers(shape, size, x, y);
    };
    for (int y = 0; y < size; ++y) {
        int x = 0;
        while (x < size) {
            while (x < size && !covers(x, y))
                ++x;
            const int start = x;
            while (x < size && covers(x, y))
                ++x;
            if (x > start &&
                !Check(driver_.CopyBitmap(sprite_.bitmap, solid_.bitmap, 0, 0, start, y, x - start, 1, false),
                       "CopyBitmap(sprite row)"))
                return false;
        }
    }
    return true;
}

// Sprites on a transparent square, copied with pixel 0 as the colour key;
// in the animation each drifts to the right at its own speed.
bool SceneRenderer::DrawSprites(int frame) {
    const int size = scene::SpriteSize(width_, height_);
    int speed = 0;
    for (const scene::Sprite &sprite : scene::Sprites(width_, height_)) {
        const int x = scene::Moved(sprite.x, frame, 1 + speed++ % 3, size, width_);
        if (!Check(driver_.ClearBitmap(sprite_.bitmap, 0), "ClearBitmap(sprite)") ||
            !PaintShape(sprite.shape, false, sprite.body) ||
            (sprite.shape == scene::Shape::Circle && !PaintShape(sprite.shape, true, sprite.highlight)) ||
            !Check(driver_.CopyEntireBitmap(screen_, sprite_.bitmap, x, sprite.y, true), "CopyEntireBitmap"))
            return false;
    }
    return true;
}

// The frame's number in 3x5 digits, lit cells copied from the solid bitmap
// into a transparent one, which goes onto the screen keyed.
bool SceneRenderer::DrawCounter(int frame) {
    const int scale = static_cast<int>(driver_.GetBitmapInfo(counter_.bitmap)->height) / 5;
    if (!Check(driver_.ClearBitmap(counter_.bitmap, 0), "ClearBitmap(counter)") ||
        !Check(driver_.ClearBitmap(solid_.bitmap, Pixel(solid_.bitmap, scene::kCounter)), "ClearBitmap(solid)"))
        return false;
    const std::string digits = std::to_string(frame % 10000000);
    for (size_t i = 0; i < digits.size(); ++i)
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x)
                if ((scene::kDigits[digits[i] - '0'][y] & (4 >> x)) != 0 &&
                    !Check(driver_.CopyBitmap(counter_.bitmap, solid_.bitmap, 0, 0,
                                              (static_cast<int>(i) * 4 + x) * scale, y * scale, scale, scale, false),
                           "CopyBitmap(counter)"))
                    return false;
    return Check(driver_.CopyEntireBitmap(screen_, counter_.bitmap, 2 * scale, 2 * scale, true),
                 "CopyEntireBitmap(counter)");
}

bool SceneRenderer::Draw(int frame) {
    vantu::DrawLock drawing = driver_.DrawBegin(); // DrawEnd on every way out
    if (!drawing)
        return Fail("DrawBegin failed");
    if (!DrawBackground() || !DrawPanels(frame) || !DrawSprites(frame) || (frame > 0 && !DrawCounter(frame)))
        return false;
    return Check(drawing.End(), "DrawEnd");
}

bool SceneRenderer::Present() {
    if (!Check(driver_.Flip(), "Flip"))
        return false;
    return PaddingIntact() || Fail("the driver wrote into the padding after a screen row");
}

bool SceneRenderer::PaddingIntact() const {
    const size_t rowBytes = static_cast<size_t>(width_) * (format_->bitsPerPixel / 8);
    for (size_t at = 0; at < buffer_.size(); at += pitch_)
        if (!std::all_of(buffer_.begin() + static_cast<ptrdiff_t>(at + rowBytes),
                         buffer_.begin() + static_cast<ptrdiff_t>(at + pitch_),
                         [](uint8_t b) { return b == kPadByte; }))
            return false;
    return true;
}

RgbImage SceneRenderer::Picture() const {
    const SBitmapInfo &screen = driver_.ScreenInfo();
    if (format_ == nullptr || screen.bits == nullptr)
        return {};
    return ToRgb(*format_, static_cast<const uint8_t *>(screen.bits), screen.pitch, width_, height_,
                 paletteColours_.data());
}

bool SceneRenderer::Close() {
    if (!driver_)
        return error_.empty();
    for (HostBitmap *b : {&band_, &solid_, &sprite_, &counter_})
        if (b->bitmap && !b->bitmap.Reset() && error_.empty())
            error_ = "DoneBitmap failed";
    if (palette_ && !palette_.Reset() && error_.empty())
        error_ = "DonePalette failed";
    if (!driver_.Dealloc() && error_.empty())
        error_ = "Dealloc failed";
    if (!driver_.Done() && error_.empty())
        error_ = "Done failed";
    return error_.empty();
}

bool RenderScene(VantuDllInitFunc entry, vantu::DebugSink debug, const ScreenFormat &format, int width, int height,
                 int frame, RgbImage &image, std::string &error) {
    error.clear();
    {
        SceneRenderer renderer(error);
        if (renderer.OpenBuffer(entry, debug, format, width, height) && renderer.Draw(frame) && renderer.Present())
            image = renderer.Picture();
        renderer.Close();
    }
    if (!error.empty())
        error = std::string(format.name) + ": " + error;
    return error.empty();
}
