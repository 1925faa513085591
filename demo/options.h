// Command line of vantu-demo.
#ifndef VANTU_DEMO_OPTIONS_H
#define VANTU_DEMO_OPTIONS_H

#include <string>
#include <vector>

#include "formats.h"

inline constexpr int kMaxSide = 8192;

struct Options {
    std::string outDir = "demo-out";
    std::vector<const ScreenFormat *> formats; // in the order given, no repeats
    int width = 320;
    int height = 200;
    std::string library; // empty: beside the executable
    bool verbose = false;
    bool help = false;
};

// Parses argv; on failure returns false with a one-line reason in `error`.
bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error);

// The text printed by --help.
std::string UsageText(const char *program);

#endif
