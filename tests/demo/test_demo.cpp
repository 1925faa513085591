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

// Largest channel error a format's quantisation can cause: a w-bit field
// drops the 7-bit component's low 7-w bits.
int Tolerance(const ScreenFormat &format, uint32_t mask) {
    if (format.palettized)
        return 1;
    const int bits = std::min(7, std::popcount(mask));
    return (1 << (7 - bits)) * 255 / 127 + 2;
}

// Whether the pixel shows the colour word within the format's tolerance.
bool Matches(const ScreenFormat &format, const uint8_t *rgb, uint32_t colour) {
    const uint32_t components[3] = {scene::Red(colour), scene::Green(colour), scene::Blue(colour)};
    const uint32_t masks[3] = {format.redMask, format.greenMask, format.blueMask};
    for (int c = 0; c < 3; ++c)
        if (std::abs(rgb[c] - ChannelFromComponent(components[c])) > Tolerance(format, masks[c]))
            return false;
    return true;
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
    const int mid = s / 2;
    const struct {
        const char *what;
        int x, y;
        uint32_t colour;
    } points[] = {
        {"free sprite body", sp[kFree].x + mid, sp[kFree].y + mid, kRed},
        {"free sprite highlight", sp[kFree].x + mid - HighlightRadius(s), sp[kFree].y + mid - HighlightRadius(s),
         kRedLight},
        {"transparent corner shows band", sp[kFree].x, sp[kFree].y, BandColourAt(sp[kFree].y, h)},
        {"transparent corner shows panel", sp[kOverPanel].x, sp[kOverPanel].y, kAmber},
        {"clipped left", 0, sp[kLeftEdge].y + mid, kViolet},
        {"clipped top", sp[kTopEdge].x + mid, 0, kCyan},
        {"clipped right", w - 1, sp[kRightEdge].y + mid, kYellow},
        {"clipped bottom", sp[kBottomEdge].x + mid, h - 1, kRed},
        {"corner sprite", 0, 0, kGreen},
        {"bottom band", 0, h - 1, BandColourAt(h - 1, h)},
    };
    for (const auto &p : points) {
        ASSERT_LT(unsigned(p.x), unsigned(w)) << p.what << ": inside the image";
        ASSERT_LT(unsigned(p.y), unsigned(h)) << p.what;
        const uint8_t *rgb = img.At(p.x, p.y);
        EXPECT_TRUE(Matches(format, rgb, p.colour)) << p.what << " at " << p.x << "," << p.y << ": got "
                                                    << int(rgb[0]) << "," << int(rgb[1]) << "," << int(rgb[2]);
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, DemoImage,
                         ::testing::Combine(::testing::ValuesIn(kRuns), ::testing::ValuesIn(kScreenFormats)),
                         [](const auto &p) {
                             return std::to_string(std::get<0>(p.param).width) + "_" +
                                    std::string(std::get<1>(p.param).name);
                         });

#if defined(VANTU_DEMO_OUT_WINDOW)
// What the window driver presented after 120 frames is what the memory
// driver draws for frame 120, pixel for pixel; the shapes have moved and the
// counter shows.
TEST(DemoWindow, LastFrameIsTheMemoryDriversFrame) {
    Decoded window, memory, still;
    ASSERT_TRUE(Decode(std::string(VANTU_DEMO_OUT_WINDOW) + "/window-120.png", window));
    ASSERT_TRUE(Decode(std::string(VANTU_DEMO_OUT_WINDOW) + "/demo-888.png", memory));
    ASSERT_TRUE(Decode(std::string(VANTU_DEMO_OUT) + "/demo-888.png", still));
    ASSERT_EQ(window.width, 320);
    ASSERT_EQ(window.height, 200);
    EXPECT_TRUE(window.rgb == memory.rgb);
    EXPECT_FALSE(window.rgb == still.rgb);
    // "120" in cells of 2 pixels from (4, 4): the 1's top cell, column 1.
    EXPECT_TRUE(Matches(kScreenFormats[3], window.At(6, 4), scene::kCounter));
}
#endif

// Runs the demo; returns its exit status and everything it printed.
int RunDemo(const std::string &args, std::string &output) {
    const std::string command = std::string("\"") + VANTU_DEMO_EXE + "\" " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    char buffer[512];
    output.clear();
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DemoArguments, BadOnesGiveOneLineAndFailure) {
    const std::string scratch = VANTU_DEMO_SCRATCH;
    std::filesystem::create_directories(scratch);
    const std::string out = " --out \"" + scratch + "/never\"";
    const struct {
        std::string args;
        const char *message;
    } cases[] = {
        {"--formats 888,999" + out, "unknown format '999'"},
        {"--size 99999999999x2" + out, "bad size"},
        {"--verbose=yes" + out, "takes no value"},
        {"--out", "needs a value"},
        {std::string("--library \"") + VANTU_DEMO_NOENTRY + "\"" + out, "no entry point VANTU_DLL_Init"},
        {"--frame 0" + out, "bad --frame '0'"},
        {"--frames 5" + out, "need --window"},
        {"--window --formats 8", "not for --window"},
        {"--window --frames -1", "bad --frames"},
    };
    for (const auto &c : cases) {
        std::string output;
        EXPECT_NE(RunDemo(c.args, output), 0) << c.args;
        // One line: the program's name, then the message.
        EXPECT_EQ(output.rfind("vantu-demo: ", 0), 0u) << output;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch + "/never/demo-sheet.png"));
}

TEST(DemoArguments, HelpVerboseAndTinyScreens) {
    std::string output;
    EXPECT_EQ(RunDemo("--help", output), 0);
    EXPECT_NE(output.find("--library"), std::string::npos) << output;
    const std::string dir = std::string(VANTU_DEMO_SCRATCH) + "/tiny";
    EXPECT_EQ(RunDemo("--verbose --formats 8,24 --size 9x5 --out \"" + dir + "\"", output), 0) << output;
    EXPECT_NE(output.find("VANTU: Initializing: Memory screen driver"), std::string::npos) << output;
    EXPECT_NE(output.find(dir + "/demo-24.png"), std::string::npos) << output;
    for (const char *size : {"1x1", "2x7", "7x2"})
        EXPECT_EQ(RunDemo(std::string("--size ") + size + " --out \"" + dir + "\"", output), 0) << size << output;
}

} // namespace
