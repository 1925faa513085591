// PNG output: one image per format and a contact sheet of all of them.
#ifndef VANTU_DEMO_PNG_WRITER_H
#define VANTU_DEMO_PNG_WRITER_H

#include <string>
#include <vector>

#include "formats.h"

// Writes `image` as an 8-bit RGB PNG; on failure returns false with a
// one-line reason in `error`.
bool WritePng(const std::string &path, const RgbImage &image, std::string &error);

// Tiles no wider or taller than this on the contact sheet; larger images are
// shrunk by a whole factor.
inline constexpr int kMaxTile = 512;
inline constexpr int kSheetGap = 8;

// Reduces an image to tile size by taking every n-th pixel.
RgbImage Thumbnail(const RgbImage &image);

// Height of the label strip under the tiles: digits 5 pixels high, scaled.
inline constexpr int kLabelScale = 2;
inline constexpr int kLabelHeight = 5 * kLabelScale + kSheetGap;

// Places the tiles side by side, left to right, on a dark ground with a gap
// around each one and each tile's label (digits only) underneath.
RgbImage ContactSheet(const std::vector<RgbImage> &tiles, const std::vector<std::string> &labels);

#endif
