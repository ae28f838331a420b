#pragma once
// Bitmap file to JPEG file, quality 60, same pixel size, upright.

#include <string>

constexpr int kJpegQuality = 60;

// Reads the 24-bit bitmap at `bitmapPath` and writes `jpegPath`. Returns
// false (and writes nothing) when the input is missing or not such a bitmap,
// or the output cannot be written; `error` then says why.
bool ConvertBitmapFileToJpeg(const std::string& bitmapPath, const std::string& jpegPath,
                             std::string* error = nullptr);
