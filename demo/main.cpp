// vantu-demo: loads the memory screen driver like any host, draws one scene
// into a memory screen of every requested pixel format and writes the results
// as PNG images; with --window, animates the scene in a window through the
// window driver.
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "loader.h"
#include "options.h"
#include "png_writer.h"
#include "render.h"
#if defined(VANTU_DEMO_WINDOW)
#include "window.h"
#endif

namespace {

void PrintDebugMessage(const char *text) { std::fputs(text, stderr); }

int Failure(const std::string &message) {
    std::fprintf(stderr, "vantu-demo: %s\n", message.c_str());
    return 1;
}

int Run(int argc, char **argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error))
        return Failure(error);
    if (options.help) {
        std::fputs(UsageText("vantu-demo").c_str(), stdout);
        return 0;
    }
    if (options.window) {
#if defined(VANTU_DEMO_WINDOW)
        return RunWindow(options, error) ? 0 : Failure(error);
#else
        return Failure("--window: this vantu-demo was built without SDL2");
#endif
    }

    namespace fs = std::filesystem;
    const fs::path outDir(options.outDir);
    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (ec || !fs::is_directory(outDir, ec))
        return Failure("cannot create output folder '" + options.outDir + "'" +
                       (ec ? ": " + ec.message() : std::string()));

    const std::string libraryPath = options.library.empty() ? DefaultLibraryPath() : options.library;
    const vantu::Library library = OpenDriverLibrary(libraryPath);
    if (!library)
        return Failure(library.Error());

    std::vector<RgbImage> tiles;
    std::vector<std::string> labels;
    for (const ScreenFormat *format : options.formats) {
        RgbImage image;
        const vantu::DebugSink debug = options.verbose ? vantu::DebugSink(PrintDebugMessage) : vantu::DebugSink();
        if (!RenderScene(library.Init(), debug, *format, options.width, options.height, options.frame, image, error))
            return Failure(error);
        const std::string path = (outDir / ("demo-" + std::string(format->name) + ".png")).string();
        if (!WritePng(path, image, error))
            return Failure(error);
        std::printf("%s\n", path.c_str());
        tiles.push_back(Thumbnail(image));
        labels.emplace_back(format->name);
    }

    const std::string sheetPath = (outDir / "demo-sheet.png").string();
    if (!WritePng(sheetPath, ContactSheet(tiles, labels), error))
        return Failure(error);
    std::printf("%s\n", sheetPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc &) {
        return Failure("out of memory");
    }
}
