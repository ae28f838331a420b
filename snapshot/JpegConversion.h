#pragma once
// Bitmap file to JPEG file, quality 60, same pixel size, upright.

#include <cstdint>
#include <string>

constexpr int kJpegQuality = 60;

// Reads the 24-bit bitmap at `bitmapPath` and writes `jpegPath`. Returns
// false (and writes nothing) when the input is missing or not such a bitmap,
// or the output cannot be written; `error` then says why.
bool ConvertBitmapFileToJpeg(const std::string& bitmapPath, const std::string& jpegPath,
                             std::string* error = nullptr);

// Encodes a 24-bit blue-green-red pixel array held in memory (rows of
// `stride` bytes, bottom-up when `bottomUp`) straight to `jpegPath`, which is
// replaced only once the whole JPEG has been written.
bool EncodeBitmapPixelsToJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                              bool bottomUp, const std::string& jpegPath, std::string* error = nullptr);
