#include "render.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scene.h"

namespace {

constexpr uint8_t kPadByte = 0xA5; // fills the screen rows' padding, which must survive

// A bitmap whose pixels live in memory the demo allocated and owns.
struct HostBitmap {
    SCommonBitmap *bitmap = nullptr;
    void *storage = nullptr;
};

class Session {
  public:
    Session(const ScreenFormat &format, std::string &error) : format_(format), error_(error) {}
    ~Session() { TearDown(); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool Run(VantuDllInitFunc entry, DebugMsgFunc debug, int width, int height, RgbImage &image);

  private:
    bool Fail(const std::string &what) {
        error_ = what;
        return false;
    }
    bool Check(vantu_bool ok, const char *what) { return ok != 0 || Fail(std::string(what) + " failed"); }

    bool AllocScreen(int width, int height);
    bool MakeBitmap(int width, int height, HostBitmap &out);
    uint32_t Pixel(SCommonBitmap *target, uint32_t colour) { return rec_->GetScreenColor(rec_, target, colour); }
    bool DrawBackground(int height);
    bool DrawPanels(int width, int height);
    bool PaintShape(scene::Shape shape, bool highlight, uint32_t colour);
    bool DrawSprites(int width, int height);
    bool PaddingIntact() const;
    void TearDown();

    const ScreenFormat &format_;
    std::string &error_;
    SCommonRec *rec_ = nullptr;
    SCommonBitmap *screen_ = nullptr;
    uint8_t *buffer_ = nullptr;
    uint32_t pitch_ = 0;
    uint32_t rowBytes_ = 0;
    uint32_t rows_ = 0;
    std::vector<uint32_t> paletteColours_;
    SCommonPalette *palette_ = nullptr;
    HostBitmap band_, solid_, sprite_;
    bool drawing_ = false;
};

bool Session::AllocScreen(int width, int height) {
    const uint32_t bytes = format_.bitsPerPixel / 8;
    rowBytes_ = static_cast<uint32_t>(width) * bytes;
    pitch_ = (rowBytes_ + 16u + 3u) & ~3u; // some padding after every row
    rows_ = static_cast<uint32_t>(height);
    buffer_ = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(pitch_) * rows_));
    if (buffer_ == nullptr)
        return Fail("out of memory for the screen buffer");
    std::memset(buffer_, kPadByte, static_cast<size_t>(pitch_) * rows_);

    SBitmapInfo description{};
    description.width = static_cast<uint32_t>(width);
    description.height = rows_;
    description.pitch = pitch_;
    description.bitsPerPixel = format_.bitsPerPixel;
    description.redMask = format_.redMask;
    description.greenMask = format_.greenMask;
    description.blueMask = format_.blueMask;
    description.bits = buffer_;
    if (!Check(rec_->AllocBuffer(rec_, 0, 0, &description), "AllocBuffer"))
        return false;
    screen_ = rec_->screenBitmap;
    if (screen_ == nullptr || rec_->GetScreenColor == nullptr)
        return Fail("AllocBuffer left no screen bitmap or colour conversion");

    if (format_.palettized) {
        // Entry 0 stays black and is never chosen; the scene's colours follow.
        paletteColours_.assign(1, 0u);
        for (uint32_t colour : scene::AllColours())
            paletteColours_.push_back(colour);
        palette_ = rec_->InitPalette(rec_, paletteColours_.data(), static_cast<int32_t>(paletteColours_.size()));
        if (palette_ == nullptr)
            return Fail("InitPalette failed");
        paletteColours_.resize(256, 0u);
        return Check(rec_->SetBitmapPalette(rec_, screen_, palette_), "SetBitmapPalette");
    }
    return true;
}

bool Session::MakeBitmap(int width, int height, HostBitmap &out) {
    out.bitmap = rec_->InitBitmap(rec_, width, height);
    if (out.bitmap == nullptr)
        return Fail("InitBitmap failed");
    SBitmapInfo *info = rec_->GetBitmapInfo(rec_, out.bitmap);
    if (info == nullptr)
        return Fail("GetBitmapInfo failed");
    const uint32_t pitch = (static_cast<uint32_t>(width) * (info->bitsPerPixel / 8) + 7u) & ~3u;
    out.storage = std::calloc(static_cast<size_t>(pitch) * static_cast<size_t>(height), 1);
    if (out.storage == nullptr)
        return Fail("out of memory for a bitmap");
    info->pitch = pitch;
    info->bits = out.storage;
    return palette_ == nullptr || Check(rec_->SetBitmapPalette(rec_, out.bitmap, palette_), "SetBitmapPalette");
}

// Bands cleared one after another into one bitmap and each copied across.
bool Session::DrawBackground(int height) {
    const int bandHeight = scene::BandHeight(height);
    if (!Check(rec_->ClearBitmap(rec_, screen_, Pixel(screen_, scene::kBandColours[0])), "ClearBitmap(screen)"))
        return false;
    for (int i = 0; i < scene::kBands; ++i) {
        if (!Check(rec_->ClearBitmap(rec_, band_.bitmap, Pixel(band_.bitmap, scene::kBandColours[i])),
                   "ClearBitmap(band)") ||
            !Check(rec_->CopyBitmap(rec_, screen_, band_.bitmap, 0, 0, 0, i * bandHeight, 0, 0, 0),
                   "CopyBitmap(band)"))
            return false;
    }
    return true;
}

// Panels: a part of one solid bitmap, cleared to each panel's colour.
bool Session::DrawPanels(int width, int height) {
    for (const scene::Rect &panel : scene::Panels(width, height)) {
        if (!Check(rec_->ClearBitmap(rec_, solid_.bitmap, Pixel(solid_.bitmap, panel.colour)),
                   "ClearBitmap(solid)") ||
            !Check(rec_->CopyBitmap(rec_, screen_, solid_.bitmap, 0, 0, panel.x, panel.y, panel.w, panel.h, 0),
                   "CopyBitmap(panel)"))
            return false;
    }
    return true;
}

// Copies runs of a solid colour into the sprite bitmap, row by row, wherever
// the shape (or a circle's highlight) covers it.
bool Session::PaintShape(scene::Shape shape, bool highlight, uint32_t colour) {
    const SBitmapInfo *info = rec_->GetBitmapInfo(rec_, sprite_.bitmap);
    const int size = static_cast<int>(info->width);
    if (!Check(rec_->ClearBitmap(rec_, solid_.bitmap, Pixel(solid_.bitmap, colour)), "ClearBitmap(solid)"))
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
                !Check(rec_->CopyBitmap(rec_, sprite_.bitmap, solid_.bitmap, 0, 0, start, y, x - start, 1, 0),
                       "CopyBitmap(sprite row)"))
                return false;
        }
    }
    return true;
}

// Sprites on a transparent square, copied with pixel 0 as the colour key.
bool Session::DrawSprites(int width, int height) {
    for (const scene::Sprite &sprite : scene::Sprites(width, height)) {
        if (!Check(rec_->ClearBitmap(rec_, sprite_.bitmap, 0), "ClearBitmap(sprite)") ||
            !PaintShape(sprite.shape, false, sprite.body) ||
            (sprite.shape == scene::Shape::Circle && !PaintShape(sprite.shape, true, sprite.highlight)) ||
            !Check(rec_->CopyEntireBitmap(rec_, screen_, sprite_.bitmap, sprite.x, sprite.y, 1), "CopyEntireBitmap"))
            return false;
    }
    return true;
}

bool Session::PaddingIntact() const {
    for (uint32_t y = 0; y < rows_; ++y) {
        const uint8_t *row = buffer_ + static_cast<size_t>(y) * pitch_;
        if (!std::all_of(row + rowBytes_, row + pitch_, [](uint8_t b) { return b == kPadByte; }))
            return false;
    }
    return true;
}

bool Session::Run(VantuDllInitFunc entry, DebugMsgFunc debug, int width, int height, RgbImage &image) {
    rec_ = entry(0, debug);
    if (rec_ == nullptr)
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

    if (rec_->DrawBegin(rec_) == nullptr)
        return Fail("DrawBegin failed");
    drawing_ = true;
    if (!DrawBackground(height) || !DrawPanels(width, height) || !DrawSprites(width, height))
        return false;
    drawing_ = false;
    if (!Check(rec_->DrawEnd(rec_), "DrawEnd") || !Check(rec_->Flip(rec_), "Flip"))
        return false;
    if (!PaddingIntact())
        return Fail("the driver wrote into the padding after a screen row");

    image = ToRgb(format_, buffer_, pitch_, width, height, paletteColours_.data());
    TearDown();
    return error_.empty();
}

// Gives everything back in the order the driver expects: the host's bitmaps
// and palette first, then the allocation, then the record; the memory last.
void Session::TearDown() {
    if (rec_ != nullptr) {
        if (drawing_)
            rec_->DrawEnd(rec_);
        drawing_ = false;
        for (HostBitmap *b : {&band_, &solid_, &sprite_}) {
            if (b->bitmap != nullptr && rec_->DoneBitmap(rec_, b->bitmap) == 0 && error_.empty())
                error_ = "DoneBitmap failed";
            b->bitmap = nullptr;
        }
        if (palette_ != nullptr && rec_->DonePalette(rec_, palette_) == 0 && error_.empty())
            error_ = "DonePalette failed";
        palette_ = nullptr;
        if (rec_->Dealloc(rec_) == 0 && error_.empty())
            error_ = "Dealloc failed";
        if (rec_->Done(rec_) == 0 && error_.empty())
            error_ = "Done failed";
        rec_ = nullptr;
    }
    for (HostBitmap *b : {&band_, &solid_, &sprite_}) {
        std::free(b->storage);
        b->storage = nullptr;
    }
    std::free(buffer_);
    buffer_ = nullptr;
}

} // namespace

bool RenderScene(VantuDllInitFunc entry, DebugMsgFunc debug, const ScreenFormat &format, int width, int height,
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
