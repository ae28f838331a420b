#include "snapshot/JpegConversion.h"

#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "snapshot/FileWriting.h"

namespace {

uint32_t U32(const std::vector<uint8_t>& d, std::size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
uint16_t U16(const std::vector<uint8_t>& d, std::size_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); }

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool EncodeBitmapPixelsToJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                              bool bottomUp, const std::string& jpegPath, std::string* error) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 3)
        return Fail(error, "the picture has no usable size");
    tjhandle encoder = tjInitCompress();
    if (!encoder) return Fail(error, "the JPEG encoder could not start");
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int flags = (bottomUp ? TJFLAG_BOTTOMUP : 0) | TJFLAG_FASTDCT;
    const int result = tjCompress2(encoder, pixels, width, stride, height, TJPF_BGR, &jpeg, &jpegSize,
                                   TJSAMP_420, kJpegQuality, flags);
    bool ok = result == 0;
    std::string why = ok ? "" : std::string("JPEG encoding failed: ") + tjGetErrorStr2(encoder);
    // Written beside the target and renamed over it, so a failure never
    // leaves a half-written (or an old) JPEG under the name.
    if (ok) ok = WriteFileAtomically(jpegPath, jpeg, jpegSize, &why);
    tjFree(jpeg);
    tjDestroy(encoder);
    return ok || Fail(error, why);
}

bool ConvertBitmapFileToJpeg(const std::string& bitmapPath, const std::string& jpegPath, std::string* error) {
    std::ifstream in(bitmapPath, std::ios::binary | std::ios::ate);
    if (!in) return Fail(error, "cannot read \"" + bitmapPath + "\": " + std::strerror(errno));
    // One read of the whole file: a photo is on the streaming thread's clock.
    const std::streamoff size = in.tellg();
    if (size < 0) return Fail(error, "cannot read \"" + bitmapPath + "\"");
    std::vector<uint8_t> file(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(file.data()), size))
        return Fail(error, "cannot read \"" + bitmapPath + "\"");
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M')
        return Fail(error, "\"" + bitmapPath + "\" is not a bitmap");
    const uint32_t offset = U32(file, 10);
    const int32_t width = static_cast<int32_t>(U32(file, 18));
    const int32_t rawHeight = static_cast<int32_t>(U32(file, 22));
    if (U16(file, 28) != 24 || U32(file, 30) != 0)
        return Fail(error, "\"" + bitmapPath + "\" is not an uncompressed 24-bit bitmap");
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 65535)
        return Fail(error, "\"" + bitmapPath + "\" has no usable size");
    const bool bottomUp = rawHeight > 0;
    const int32_t height = bottomUp ? rawHeight : -rawHeight;
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~3ull;
    // Never read past the file: a short bitmap (a full disk) is refused.
    if (offset < 54 || offset > file.size() || stride * static_cast<uint64_t>(height) > file.size() - offset)
        return Fail(error, "\"" + bitmapPath + "\" is shorter than its picture");
    return EncodeBitmapPixelsToJpeg(&file[offset], width, height, static_cast<int32_t>(stride), bottomUp,
                                    jpegPath, error);
}
