#include "render.h"

#include <algorithm>
#include <vector>

#include "scene.h"

namespace {

constexpr uint8_t kPadByte = 0xA5; // fills the screen rows' padding, which must survive

// A bitmap whose pixels live in memory the demo allocated and owns.
struct HostBitmap {
    std::vector<uint8_t> storage;
    vantu::Bitmap bitmap;
};

// One record and what the scene needs of it. The members go in the order the
// driver expects: the host's bitmaps and palette before the record, the
// screen's memory after it.
class Session {
  public:
    Session(const ScreenFormat &format, std::string &error) : format_(format), error_(error) {}
    ~Session() { TearDown(); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool Run(VantuDllInitFunc entry, vantu::DebugSink debug, int width, int height, RgbImage &image);

  private:
    bool Fail(const std::string &what) {
        error_ = what;
        return false;
    }
    bool Check(bool ok, const char *what) { return ok || Fail(std::string(what) + " failed"); }

    bool AllocScreen(int width, int height);
    bool MakeBitmap(int width, int height, HostBitmap &out);
    uint32_t Pixel(vantu::BitmapRef target, uint32_t colour) { return driver_.GetScreenColor(target, colour); }
    bool DrawBackground(int height);
    bool DrawPanels(int width, int height);
    bool PaintShape(scene::Shape shape, bool highlight, uint32_t colour);
    bool DrawSprites(int width, int height);
    bool PaddingIntact() const;
    void TearDown();

    const ScreenFormat &format_;
    std::string &error_;
    std::vector<uint8_t> buffer_; // the screen
    uint32_t pitch_ = 0;
    uint32_t rowBytes_ = 0;
    uint32_t rows_ = 0;
    vantu::Driver driver_;
    vantu::BitmapRef screen_;
    std::vector<uint32_t> paletteColours_;
    vantu::Palette palette_;
    HostBitmap band_, solid_, sprite_;
};

bool Session::AllocScreen(int width, int height) {
    const uint32_t bytes = format_.bitsPerPixel / 8;
    rowBytes_ = static_cast<uint32_t>(width) * bytes;
    pitch_ = (rowBytes_ + 16u + 3u) & ~3u; // some padding after every row
    rows_ = static_cast<uint32_t>(height);
    buffer_.assign(static_cast<size_t>(pitch_) * rows_, kPadByte);

    const SBitmapInfo description =
        vantu::Describe(buffer_.data(), width, height, static_cast<int32_t>(pitch_), format_.bitsPerPixel,
                        format_.redMask, format_.greenMask, format_.blueMask);
    if (!Check(driver_.AllocBuffer(description), "AllocBuffer"))
        return false;
    screen_ = driver_.ScreenBitmap();
    if (!screen_ || driver_.Record()->GetScreenColor == nullptr)
        return Fail("AllocBuffer left no screen bitmap or colour conversion");

    if (format_.palettized) {
        // Entry 0 stays black and is never chosen; the scene's colours follow.
        paletteColours_.assign(1, 0u);
        for (uint32_t colour : scene::AllColours())
            paletteColours_.push_back(colour);
        palette_ = driver_.InitPalette(paletteColours_.data(), static_cast<int32_t>(paletteColours_.size()));
        if (!palette_)
            return Fail("InitPalette failed");
        paletteColours_.resize(256, 0u);
        return Check(driver_.SetBitmapPalette(screen_, palette_), "SetBitmapPalette");
    }
    return true;
}

bool Session::MakeBitmap(int width, int height, HostBitmap &out) {
    out.bitmap = driver_.InitBitmap(width, height);
    if (!out.bitmap)
        return Fail("InitBitmap failed");
    const SBitmapInfo *info = driver_.GetBitmapInfo(out.bitmap);
    if (info == nullptr)
        return Fail("GetBitmapInfo failed");
    const uint32_t pitch = (static_cast<uint32_t>(width) * (info->bitsPerPixel / 8) + 7u) & ~3u;
    out.storage.assign(static_cast<size_t>(pitch) * static_cast<size_t>(height), 0);
    if (!Check(driver_.SetBitmapSurface(out.bitmap, out.storage.data(), static_cast<int32_t>(pitch)),
               "GetBitmapInfo"))
        return false;
    return !palette_ || Check(driver_.SetBitmapPalette(out.bitmap, palette_), "SetBitmapPalette");
}

bool Session::DrawBackground(int height) {
    const int bandHeight = scene::BandHeight(height);
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
bool Session::DrawPanels(int width, int height) {
    for (const scene::Rect &panel : scene::Panels(width, height)) {
        if (!Check(driver_.ClearBitmap(solid_.bitmap, Pixel(solid_.bitmap, panel.colour)), "ClearBitmap(solid)") ||
            !Check(driver_.CopyBitmap(screen_, solid_.bitmap, 0, 0, panel.x, panel.y, panel.w, panel.h, false),
                   "CopyBitmap(panel)"))
            return false;
    }
    return true;
}

// Copies runs of a solid colour into the sprite bitmap, row by row, wherever
// the shape (or a circle's highlight) covers it.
bool Session::PaintShape(scene::Shape shape, bool highlight, uint32_t colour) {
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

// Sprites on a transparent square, copied with pixel 0 as the colour key.
bool Session::DrawSprites(int width, int height) {
    for (const scene::Sprite &sprite : scene::Sprites(width, height)) {
        if (!Check(driver_.ClearBitmap(sprite_.bitmap, 0), "ClearBitmap(sprite)") ||
            !PaintShape(sprite.shape, false, sprite.body) ||
            (sprite.shape == scene::Shape::Circle && !PaintShape(sprite.shape, true, sprite.highlight)) ||
            !Check(driver_.CopyEntireBitmap(screen_, sprite_.bitmap, sprite.x, sprite.y, true), "CopyEntireBitmap"))
            return false;
    }
    return true;
}

bool Session::PaddingIntact() const {
    for (uint32_t y = 0; y < rows_; ++y) {
        const uint8_t *row = buffer_.data() + static_cast<size_t>(y) * pitch_;
        if (!std::all_of(row + rowBytes_, row + pitch_, [](uint8_t b) { return b == kPadByte; }))
            return false;
    }
    return true;
}

bool Session::Run(VantuDllInitFunc entry, vantu::DebugSink debug, int width, int height, RgbImage &image) {
    driver_ = vantu::Driver::Create(entry, debug);
    if (!driver_)
        return Fail("VANTU_DLL_Init returned no record");
    if (!AllocScreen(width, height))
        return false;

    const int spriteSize = scene::SpriteSize(width, height);
    int solidWidth = spriteSize, solidHeight = spriteSize;
    for (const scene::Rect &panel : scene::Panels(width, height)) {
        solidWidth = std::max(solidWidth, panel.w);
        solidHeight = std::max(solidHeight, panel.h);
    }
    if (!MakeBitmap(width, scene::BandHeight(height), band_) || !MakeBitmap(solidWidth, solidHeight, solid_) ||
        !MakeBitmap(spriteSize, spriteSize, sprite_))
        return false;

    {
        vantu::DrawLock drawing = driver_.DrawBegin(); // DrawEnd on every way out
        if (!drawing)
            return Fail("DrawBegin failed");
        if (!DrawBackground(height) || !DrawPanels(width, height) || !DrawSprites(width, height))
            return false;
        if (!Check(drawing.End(), "DrawEnd"))
            return false;
    }
    if (!Check(driver_.Flip(), "Flip"))
        return false;
    if (!PaddingIntact())
        return Fail("the driver wrote into the padding after a screen row");

    image = ToRgb(format_, buffer_.data(), pitch_, width, height, paletteColours_.data());
    TearDown();
    return error_.empty();
}

// Gives everything back in the order the driver expects, each step checked:
// the host's bitmaps and palette first, then the allocation, then the record.
void Session::TearDown() {
    if (!driver_)
        return;
    for (HostBitmap *b : {&band_, &solid_, &sprite_})
        if (b->bitmap && !b->bitmap.Reset() && error_.empty())
            error_ = "DoneBitmap failed";
    if (palette_ && !palette_.Reset() && error_.empty())
        error_ = "DonePalette failed";
    if (!driver_.Dealloc() && error_.empty())
        error_ = "Dealloc failed";
    if (!driver_.Done() && error_.empty())
        error_ = "Done failed";
}

} // namespace

bool RenderScene(VantuDllInitFunc entry, vantu::DebugSink debug, const ScreenFormat &format, int width, int height,
                 RgbImage &image, std::string &error) {
    error.clear();
    bool ok = false;
    {
        Session session(format, error);
        ok = session.Run(entry, debug, width, height, image);
    }
    if (!error.empty())
        error = std::string(format.name) + ": " + error;
    return ok && error.empty();
}
