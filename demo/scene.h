// The demo scene's layout and colours, shared by the demo and its tests so
// both agree on where every shape lands. Everything is a function of the
// screen size, so any size from 1x1 upwards gives a well-defined scene.
#ifndef VANTU_DEMO_SCENE_H
#define VANTU_DEMO_SCENE_H

#include <algorithm>
#include <array>
#include <cstdint>

namespace scene {

// A colour word: 7-bit components, red in the low byte.
constexpr uint32_t Colour(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }
constexpr uint32_t Red(uint32_t colour) { return colour & 0x7Fu; }
constexpr uint32_t Green(uint32_t colour) { return (colour >> 8) & 0x7Fu; }
constexpr uint32_t Blue(uint32_t colour) { return (colour >> 16) & 0x7Fu; }

// Horizontal background bands, top to bottom, dusk sky to warm horizon.
constexpr int kBands = 8;
constexpr std::array<uint32_t, kBands> kBandColours = {Colour(12, 18, 58),  Colour(22, 26, 68), Colour(34, 34, 76),
                                                       Colour(50, 40, 82),  Colour(68, 46, 84), Colour(88, 54, 80),
                                                       Colour(106, 64, 72), Colour(120, 80, 60)};

constexpr int BandHeight(int height) { return std::max(1, (height + kBands - 1) / kBands); }
constexpr uint32_t BandColourAt(int y, int height) {
    return kBandColours[static_cast<size_t>(std::min(kBands - 1, y / BandHeight(height)))];
}

struct Rect {
    int x, y, w, h;
    uint32_t colour;
    constexpr bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// Colours of the panels and sprites.
constexpr uint32_t kAmber = Colour(118, 84, 24), kCream = Colour(112, 110, 92);
constexpr uint32_t kRed = Colour(122, 28, 34), kRedLight = Colour(127, 104, 100);
constexpr uint32_t kGreen = Colour(36, 112, 52), kGreenLight = Colour(100, 127, 110);
constexpr uint32_t kViolet = Colour(92, 40, 120), kVioletLight = Colour(118, 96, 127);
constexpr uint32_t kYellow = Colour(124, 108, 16), kCyan = Colour(20, 104, 118);
constexpr std::array<uint32_t, 10> kShapeColours = {kAmber,      kCream,  kRed,         kRedLight, kGreen,
                                                    kGreenLight, kViolet, kVioletLight, kYellow,   kCyan};

// Two opaque panels; the second overlaps the first's lower right corner.
constexpr std::array<Rect, 2> Panels(int width, int height) {
    return {Rect{width * 9 / 16, height / 8, width / 4 + 1, height / 4 + 1, kAmber},
            Rect{width * 11 / 16, height * 5 / 16, width / 5 + 1, height / 5 + 1, kCream}};
}

enum class Shape { Circle, Diamond };

// A sprite is drawn on a transparent (pixel 0) square of SpriteSize pixels;
// circles carry a lighter highlight towards their top left.
struct Sprite {
    Shape shape;
    int x, y; // top-left corner of the square, may lie off screen
    uint32_t body;
    uint32_t highlight;
};

constexpr int SpriteSize(int width, int height) { return std::max(4, std::min(width, height) / 4); }

// Whether pixel (px, py) of a sprite square of side `size` is inside the shape.
constexpr bool ShapeCovers(Shape shape, int size, int px, int py) {
    const int dx = 2 * px + 1 - size;
    const int dy = 2 * py + 1 - size;
    if (shape == Shape::Circle)
        return dx * dx + dy * dy <= size * size;
    return (dx < 0 ? -dx : dx) + (dy < 0 ? -dy : dy) <= size;
}

// Radius and centre offset of a circle's highlight, in sprite pixels.
constexpr int HighlightRadius(int size) { return std::max(1, size / 6); }
constexpr bool HighlightCovers(int size, int px, int py) {
    const int r = HighlightRadius(size);
    const int dx = 2 * px + 1 - (size - 2 * r);
    const int dy = 2 * py + 1 - (size - 2 * r);
    return dx * dx + dy * dy <= 4 * r * r;
}

// Which sprite sits where; the tests look pixels up by these names.
enum SpriteIndex {
    kFree,       // interior, over the background only
    kOverPanel,  // its transparent corner lies on the first panel
    kInterior2,  // interior diamond
    kLeftEdge,   // centre on column 0
    kTopEdge,    // centre on row 0
    kRightEdge,  // centre on the last column
    kBottomEdge, // centre on the last row
    kCorner,     // hangs over the top-left corner
    kSpriteCount
};

constexpr std::array<Sprite, kSpriteCount> Sprites(int width, int height) {
    const int s = SpriteSize(width, height);
    const int h = s / 2;
    const Rect panel = Panels(width, height)[0];
    return {Sprite{Shape::Circle, width / 6 - h, height / 2 - h, kRed, kRedLight},
            Sprite{Shape::Circle, panel.x + panel.w - h, panel.y + panel.h - h, kGreen, kGreenLight},
            Sprite{Shape::Diamond, width * 3 / 8 - h, height * 3 / 5 - h, kYellow, kYellow},
            Sprite{Shape::Circle, -h, height * 3 / 4 - h, kViolet, kVioletLight},
            Sprite{Shape::Diamond, width * 3 / 8 - h, -h, kCyan, kCyan},
            Sprite{Shape::Diamond, width - 1 - h, height / 3 - h, kYellow, kYellow},
            Sprite{Shape::Circle, width * 3 / 4 - h, height - 1 - h, kRed, kRedLight},
            Sprite{Shape::Diamond, -s / 3, -s / 3, kGreen, kGreen}};
}

// ---- Animation (the window mode's frames; frame 0 is the still scene) ----------

// Where a sprite of side `size` that starts at `start` is after `frame` frames
// at `speed` pixels a frame: it leaves at the right and comes back at the left.
constexpr int Moved(int start, int frame, int speed, int size, int width) {
    const int span = width + size;
    return ((start + size + frame * speed) % span + span) % span - size;
}

// The panels rise and sink by up to `amplitude` pixels, one pixel a frame.
constexpr int Bob(int frame, int amplitude) {
    if (amplitude <= 0)
        return 0;
    const int t = frame % (4 * amplitude);
    return t < amplitude ? t : t < 3 * amplitude ? 2 * amplitude - t : t - 4 * amplitude;
}
static_assert(Moved(-7, 0, 3, 10, 100) == -7 && Moved(95, 2, 3, 10, 100) == -9 && Bob(0, 5) == 0 && Bob(7, 5) == 3);

// 3x5 digits (the frame counter, the contact sheet's labels): one row per
// byte, bit 2 the leftmost column.
constexpr uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7},
                                    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2},
                                    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr uint32_t kCounter = Colour(127, 127, 127);

// Every colour the scene uses, for the shared palette of the 8-bit screen.
constexpr std::array<uint32_t, kBands + kShapeColours.size() + 1> AllColours() {
    std::array<uint32_t, kBands + kShapeColours.size() + 1> all{};
    size_t n = 0;
    for (uint32_t c : kBandColours)
        all[n++] = c;
    for (uint32_t c : kShapeColours)
        all[n++] = c;
    all[n++] = kCounter;
    return all;
}

} // namespace scene

#endif
