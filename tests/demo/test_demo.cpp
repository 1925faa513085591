// Decodes the demo's images and checks them against the scene layout; runs
// the demo with bad arguments and checks it refuses them cleanly.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats.h"
#include "png_writer.h"
#include "scene.h"

// Short test names: the format's name instead of its bytes.
void PrintTo(const ScreenFormat &format, std::ostream *os) { *os << format.name; }

namespace {

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t *At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

bool Decode(const std::string &path, Decoded &out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) != 0;
}

// What the scene shows at (x, y): the topmost sprite, panel or band.
uint32_t ExpectedAt(int x, int y, int w, int h) {
    const int size = scene::SpriteSize(w, h);
    const auto sprites = scene::Sprites(w, h);
    for (auto it = sprites.rbegin(); it != sprites.rend(); ++it) {
        const int sx = x - it->x, sy = y - it->y;
        if (sx < 0 || sy < 0 || sx >= size || sy >= size || !scene::ShapeCovers(it->shape, size, sx, sy))
            continue;
        const bool lit = it->shape == scene::Shape::Circle && scene::HighlightCovers(size, sx, sy);
        return lit ? it->highlight : it->body;
    }
    const auto panels = scene::Panels(w, h);
    for (auto it = panels.rbegin(); it != panels.rend(); ++it)
        if (it->Contains(x, y))
            return it->colour;
    return scene::BandColourAt(y, h);
}

// Largest channel error a format's quantisation can cause: a w-bit field
// drops the 7-bit component's low 7-w bits.
int Tolerance(const ScreenFormat &format, uint32_t mask) {
    if (format.palettized)
        return 1;
    const int bits = std::min(7, std::popcount(mask));
    return (1 << (7 - bits)) * 255 / 127 + 2;
}

// Empty if the pixel matches the colour word within the format's tolerance.
std::string Mismatch(const ScreenFormat &format, const uint8_t *rgb, uint32_t colour) {
    const uint32_t components[3] = {scene::Red(colour), scene::Green(colour), scene::Blue(colour)};
    const uint32_t masks[3] = {format.redMask, format.greenMask, format.blueMask};
    for (int c = 0; c < 3; ++c)
        if (std::abs(rgb[c] - ChannelFromComponent(components[c])) > Tolerance(format, masks[c]))
            return "got (" + std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]) +
                   ") for colour word " + std::to_string(colour);
    return {};
}

struct Run {
    const char *dir;
    int width, height;
};
constexpr Run kRuns[] = {{VANTU_DEMO_OUT, 320, 200}, {VANTU_DEMO_OUT_SMALL, 61, 43}};

void PrintTo(const Run &run, std::ostream *os) { *os << run.width << "x" << run.height; }

class DemoImage : public ::testing::TestWithParam<std::tuple<Run, ScreenFormat>> {};

TEST_P(DemoImage, KeyPixelsShowTheScene) {
    const auto [run, format] = GetParam();
    Decoded img;
    ASSERT_TRUE(Decode(std::string(run.dir) + "/demo-" + std::string(format.name) + ".png", img));
    const int w = run.width, h = run.height, s = scene::SpriteSize(w, h);
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    using namespace scene;
    const auto sp = Sprites(w, h);
    const Rect panel = Panels(w, h)[0];
    const int mid = s / 2;
    struct Point {
        const char *what;
        int x, y;
        uint32_t colour;
    };
    const Point points[] = {
        {"free sprite body", sp[kFree].x + mid, sp[kFree].y + mid, kRed},
        {"free sprite highlight", sp[kFree].x + mid - HighlightRadius(s), sp[kFree].y + mid - HighlightRadius(s),
         kRedLight},
        {"free sprite corner shows band", sp[kFree].x, sp[kFree].y, BandColourAt(sp[kFree].y, h)},
        {"diamond corner shows band", sp[kInterior2].x + s - 1, sp[kInterior2].y, BandColourAt(sp[kInterior2].y, h)},
        {"sprite corner shows panel", sp[kOverPanel].x, sp[kOverPanel].y, kAmber},
        {"panel", panel.x + 1, panel.y + 1, kAmber},
        {"clipped left", 0, sp[kLeftEdge].y + mid, kViolet},
        {"clipped top", sp[kTopEdge].x + mid, 0, kCyan},
        {"clipped right", w - 1, sp[kRightEdge].y + mid, kYellow},
        {"clipped bottom", sp[kBottomEdge].x + mid, h - 1, kRed},
        {"corner sprite", 0, 0, kGreen},
        {"top band at the right edge", w - 1, 0, kBandColours[0]},
        {"bottom band at the left edge", 0, h - 1, BandColourAt(h - 1, h)},
    };
    for (const Point &p : points) {
        ASSERT_TRUE(p.x >= 0 && p.x < w && p.y >= 0 && p.y < h) << p.what;
        EXPECT_EQ(Mismatch(format, img.At(p.x, p.y), p.colour), "") << p.what << " at " << p.x << "," << p.y;
    }
}

TEST_P(DemoImage, EveryPixelMatchesTheLayout) {
    const auto [run, format] = GetParam();
    Decoded img;
    ASSERT_TRUE(Decode(std::string(run.dir) + "/demo-" + std::string(format.name) + ".png", img));
    int bad = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const std::string m = Mismatch(format, img.At(x, y), ExpectedAt(x, y, img.width, img.height));
            if (!m.empty() && ++bad <= 5)
                ADD_FAILURE() << x << "," << y << ": " << m;
        }
    EXPECT_EQ(bad, 0);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, DemoImage,
                         ::testing::Combine(::testing::ValuesIn(kRuns), ::testing::ValuesIn(kScreenFormats)),
                         [](const auto &param) {
                             return std::to_string(std::get<0>(param.param).width) + "_" +
                                    std::string(std::get<1>(param.param).name);
                         });

TEST(DemoSheet, HoldsEveryFormatSideBySide) {
    Decoded sheet;
    ASSERT_TRUE(Decode(std::string(VANTU_DEMO_OUT) + "/demo-sheet.png", sheet));
    const int n = static_cast<int>(kScreenFormats.size());
    EXPECT_EQ(sheet.width, kSheetGap + n * (320 + kSheetGap));
    EXPECT_EQ(sheet.height, 200 + 2 * kSheetGap + kLabelHeight);
    for (int i = 0; i < n; ++i) {
        Decoded tile;
        ASSERT_TRUE(Decode(std::string(VANTU_DEMO_OUT) + "/demo-" + std::string(kScreenFormats[i].name) + ".png", tile));
        for (const auto &[x, y] : {std::pair{0, 0}, std::pair{160, 100}, std::pair{319, 199}}) {
            const uint8_t *a = sheet.At(kSheetGap + i * (320 + kSheetGap) + x, kSheetGap + y);
            const uint8_t *b = tile.At(x, y);
            EXPECT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << kScreenFormats[i].name << " " << x << "," << y;
        }
    }
}

// Runs the demo; returns its exit status and everything it printed.
int RunDemo(const std::string &args, std::string &output) {
    const std::string command = std::string("\"") + VANTU_DEMO_EXE + "\" " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[512];
    output.clear();
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DemoArguments, BadOnesGiveOneLineAndFailure) {
    const std::string scratch = VANTU_DEMO_SCRATCH;
    std::filesystem::create_directories(scratch);
    const std::string file = scratch + "/plain-file";
    std::FILE *f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const std::string out = " --out \"" + scratch + "/never\"";
    const struct {
        std::string args;
        const char *message;
    } cases[] = {
        {"--formats 888,999" + out, "unknown format '999'"},
        {"--formats ''" + out, "unknown format ''"},
        {"--formats 565," + out, "unknown format ''"},
        {"--size 0x200" + out, "bad size"},
        {"--size 320x0" + out, "bad size"},
        {"--size 8193x10" + out, "bad size"},
        {"--size 320" + out, "bad size"},
        {"--size 12x-3" + out, "bad size"},
        {"--size 99999999999x2" + out, "bad size"},
        {"--bogus" + out, "unknown argument"},
        {"--verbose=yes" + out, "takes no value"},
        {"--out", "needs a value"},
        {"--out \"" + file + "/sub\"", "cannot create output folder"},
        {"--library /nonexistent/libnothing.so" + out, "cannot load driver library"},
        {std::string("--library \"") + VANTU_DEMO_NOENTRY + "\"" + out, "no entry point VANTU_DLL_Init"},
    };
    for (const auto &c : cases) {
        std::string output;
        EXPECT_NE(RunDemo(c.args, output), 0) << c.args;
        EXPECT_EQ(output.rfind("vantu-demo: ", 0), 0u) << c.args << " -> " << output;
        EXPECT_NE(output.find(c.message), std::string::npos) << c.args << " -> " << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << c.args << " -> " << output;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch + "/never/demo-sheet.png"));
}

TEST(DemoArguments, HelpVerboseAndTinyScreens) {
    std::string output;
    EXPECT_EQ(RunDemo("--help", output), 0);
    for (const char *option : {"--out", "--formats", "--size", "--library", "--verbose"})
        EXPECT_NE(output.find(option), std::string::npos) << option;

    const std::string dir = std::string(VANTU_DEMO_SCRATCH) + "/tiny";
    EXPECT_EQ(RunDemo("--verbose --formats 8,24 --size 9x5 --out \"" + dir + "\"", output), 0) << output;
    EXPECT_NE(output.find("VANTU: Initializing: Memory screen driver"), std::string::npos) << output;
    EXPECT_NE(output.find(dir + "/demo-24.png"), std::string::npos) << output;
    for (const char *size : {"1x1", "2x7", "7x2"})
        EXPECT_EQ(RunDemo(std::string("--size ") + size + " --out \"" + dir + "\"", output), 0) << size << output;
}

} // namespace
