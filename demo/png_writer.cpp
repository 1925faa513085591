#include "png_writer.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "scene.h"

namespace {

// libpng reports errors by longjmp; this frame holds no C++ objects so that
// nothing is skipped by the jump.
bool WriteRows(FILE *file, const RgbImage &image) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(image.width) * 3u;
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, image.rgb.data() + stride * static_cast<size_t>(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void DrawLabel(RgbImage &sheet, int left, int top, const std::string &text) {
    for (char ch : text) {
        if (ch >= '0' && ch <= '9')
            for (int y = 0; y < 5 * kLabelScale; ++y)
                for (int x = 0; x < 3 * kLabelScale; ++x) {
                    const int px = left + x, py = top + y;
                    if (px >= sheet.width || py >= sheet.height ||
                        !(scene::kDigits[ch - '0'][y / kLabelScale] & (4 >> (x / kLabelScale))))
                        continue;
                    std::memset(sheet.rgb.data() + (static_cast<size_t>(py) * static_cast<size_t>(sheet.width) +
                                                    static_cast<size_t>(px)) *
                                                       3u,
                                220, 3);
                }
        left += 4 * kLabelScale;
    }
}

} // namespace

bool WritePng(const std::string &path, const RgbImage &image, std::string &error) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    const bool written = WriteRows(file, image);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "cannot write '" + path + "': PNG output failed";
        std::remove(path.c_str());
        return false;
    }
    return true;
}

RgbImage Thumbnail(const RgbImage &image) {
    const int step = (std::max(image.width, image.height) + kMaxTile - 1) / kMaxTile;
    if (step <= 1)
        return image;
    RgbImage tile;
    tile.width = (image.width + step - 1) / step;
    tile.height = (image.height + step - 1) / step;
    tile.rgb.resize(static_cast<size_t>(tile.width) * static_cast<size_t>(tile.height) * 3u);
    uint8_t *out = tile.rgb.data();
    for (int y = 0; y < tile.height; ++y)
        for (int x = 0; x < tile.width; ++x, out += 3) {
            const size_t from =
                (static_cast<size_t>(y) * static_cast<size_t>(step) * static_cast<size_t>(image.width) +
                 static_cast<size_t>(x) * static_cast<size_t>(step)) *
                3u;
            std::memcpy(out, image.rgb.data() + from, 3);
        }
    return tile;
}

RgbImage ContactSheet(const std::vector<RgbImage> &tiles, const std::vector<std::string> &labels) {
    RgbImage sheet;
    sheet.width = kSheetGap;
    for (const RgbImage &tile : tiles) {
        sheet.width += tile.width + kSheetGap;
        sheet.height = std::max(sheet.height, tile.height + 2 * kSheetGap + kLabelHeight);
    }
    sheet.rgb.assign(static_cast<size_t>(sheet.width) * static_cast<size_t>(sheet.height) * 3u, 40);
    int left = kSheetGap;
    for (const RgbImage &tile : tiles) {
        const size_t rowBytes = static_cast<size_t>(tile.width) * 3u;
        for (int y = 0; y < tile.height; ++y)
            std::memcpy(sheet.rgb.data() + (static_cast<size_t>(y + kSheetGap) * static_cast<size_t>(sheet.width) +
                                            static_cast<size_t>(left)) *
                                               3u,
                        tile.rgb.data() + rowBytes * static_cast<size_t>(y), rowBytes);
        const size_t i = static_cast<size_t>(&tile - tiles.data());
        if (i < labels.size())
            DrawLabel(sheet, left, tile.height + 2 * kSheetGap, labels[i]);
        left += tile.width + kSheetGap;
    }
    return sheet;
}
