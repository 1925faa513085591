#include "options.h"

#include <charconv>
#include <string_view>

namespace {

bool ParseSide(std::string_view text, int &side) {
    if (text.empty() || text.size() > 6)
        return false;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, side);
    return ec == std::errc() && ptr == end && side >= 1 && side <= kMaxSide;
}

bool ParseSize(std::string_view text, Options &options, std::string &error) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos || !ParseSide(text.substr(0, x), options.width) ||
        !ParseSide(text.substr(x + 1), options.height)) {
        error =
            "bad size '" + std::string(text) + "': expected WxH with each side from 1 to " + std::to_string(kMaxSide);
        return false;
    }
    return true;
}

bool ParseCount(std::string_view option, std::string_view text, int &count, std::string &error) {
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, count);
    if (text.empty() || ec != std::errc() || ptr != end || count < 1 || count > kMaxFrame) {
        error = "bad " + std::string(option) + " '" + std::string(text) + "': expected a number from 1 to " +
                std::to_string(kMaxFrame);
        return false;
    }
    return true;
}

bool ParseFormats(std::string_view list, Options &options, std::string &error) {
    options.formats.clear();
    while (true) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        const ScreenFormat *format = FindScreenFormat(name);
        if (format == nullptr) {
            error = "unknown format '" + std::string(name) + "' (known: 8,555,565,888,24,444)";
            return false;
        }
        bool seen = false;
        for (const ScreenFormat *f : options.formats)
            seen = seen || f == format;
        if (!seen)
            options.formats.push_back(format);
        if (comma == std::string_view::npos)
            return true;
        list.remove_prefix(comma + 1);
    }
}

} // namespace

bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error) {
    bool formatsGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        const bool takesValue = arg == "--out" || arg == "--formats" || arg == "--size" || arg == "--library" ||
                                arg == "--frame" || arg == "--frames" || arg == "--screenshot";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                error = "option " + std::string(arg) + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            error = "option " + std::string(arg) + " takes no value";
            return false;
        }

        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--out") {
            if (value.empty()) {
                error = "option --out needs a folder";
                return false;
            }
            options.outDir = value;
        } else if (arg == "--library") {
            if (value.empty()) {
                error = "option --library needs a path";
                return false;
            }
            options.library = value;
        } else if (arg == "--size") {
            if (!ParseSize(value, options, error))
                return false;
            options.sizeGiven = true;
        } else if (arg == "--frame") {
            if (!ParseCount(arg, value, options.frame, error))
                return false;
        } else if (arg == "--window") {
            options.window = true;
        } else if (arg == "--frames") {
            if (!ParseCount(arg, value, options.frames, error))
                return false;
        } else if (arg == "--screenshot") {
            if (value.empty()) {
                error = "option --screenshot needs a file";
                return false;
            }
            options.screenshot = value;
        } else if (arg == "--formats") {
            if (!ParseFormats(value, options, error))
                return false;
            formatsGiven = true;
        } else {
            error = "unknown argument '" + std::string(arg) + "' (see --help)";
            return false;
        }
    }
    if (options.window && (formatsGiven || options.frame != 0)) {
        error = "--formats and --frame are for the memory driver's images, not for --window";
        return false;
    }
    if (!options.window && (options.frames != 0 || !options.screenshot.empty())) {
        error = "--frames and --screenshot need --window";
        return false;
    }
    if (options.window && !options.sizeGiven)
        options.width = 640, options.height = 400;
    if (!formatsGiven)
        for (const ScreenFormat &format : kScreenFormats)
            options.formats.push_back(&format);
    return true;
}

std::string UsageText(const char *program) {
    return std::string("Usage: ") + program + " [options]\n" +
           "Loads the memory screen driver, draws the same scene into a memory screen of\n"
           "each pixel format and writes one PNG per format plus a contact sheet.\n"
           "\n"
           "Options:\n"
           "  --out DIR       folder for the images, created if missing (default: demo-out)\n"
           "  --formats LIST  comma-separated formats (default: all):\n"
           "                    8    8-bit palettized      555  16-bit 5-5-5\n"
           "                    565  16-bit 5-6-5          888  32-bit 8-8-8\n"
           "                    24   24-bit 8-8-8          444  16-bit 4-4-4\n"
           "  --size WxH      screen size, each side 1.." +
           std::to_string(kMaxSide) +
           " (default: 320x200)\n"
           "  --frame N       draw frame N of the animation instead of the still scene\n"
           "  --library PATH  driver library to load (default: beside this program;\n"
           "                  libvantu_sdl.so with --window)\n"
           "  --verbose       print the driver's debug messages on stderr\n"
           "  --help          show this text\n"
           "\n"
           "Window mode (the window driver, SDL2):\n"
           "  --window        animate the scene in a window of --size (default: 640x400)\n"
           "                  through the window driver until the window is closed\n"
           "  --frames N      stop after N frames\n"
           "  --screenshot F  write the last frame the driver presented to F as PNG\n";
}
