// Command line of vantu-demo.
#ifndef VANTU_DEMO_OPTIONS_H
#define VANTU_DEMO_OPTIONS_H

#include <string>
#include <vector>

#include "formats.h"

inline constexpr int kMaxSide = 8192;
inline constexpr int kMaxFrame = 9999999;

struct Options {
    std::string outDir = "demo-out";
    std::vector<const ScreenFormat *> formats; // in the order given, no repeats
    int width = 320;
    int height = 200;
    bool sizeGiven = false;
    std::string library; // empty: beside the executable
    int frame = 0;       // the memory driver's images: the animation's frame (0: the still scene)
    bool window = false; // the window driver, animating in a window
    int frames = 0;      // window: stop after this many frames (0: when the window is closed)
    std::string screenshot; // window: the last frame as PNG
    bool verbose = false;
    bool help = false;
};

// Parses argv; on failure returns false with a one-line reason in `error`.
bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error);

// The text printed by --help.
std::string UsageText(const char *program);

#endif
