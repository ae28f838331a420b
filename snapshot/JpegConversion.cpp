#include "snapshot/JpegConversion.h"

#include <turbojpeg.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "base/FileWriting.h"
#include "base/SystemErrorText.h"

namespace {

uint8_t Byte(const std::string& d, std::size_t at) { return static_cast<uint8_t>(d[at]); }
uint32_t U32(const std::string& d, std::size_t at) {
    return Byte(d, at) | Byte(d, at + 1) << 8 | Byte(d, at + 2) << 16 | static_cast<uint32_t>(Byte(d, at + 3)) << 24;
}
uint16_t U16(const std::string& d, std::size_t at) { return static_cast<uint16_t>(Byte(d, at) | Byte(d, at + 1) << 8); }

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool EncodeBitmapPixelsToJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                              bool bottomUp, const std::string& jpegPath, std::string* error) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 3)
        return Fail(error, "画面没有可用的尺寸");
    tjhandle encoder = tjInitCompress();
    if (!encoder) return Fail(error, "JPEG 编码器无法启动");
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int flags = (bottomUp ? TJFLAG_BOTTOMUP : 0) | TJFLAG_FASTDCT;
    const int result = tjCompress2(encoder, pixels, width, stride, height, TJPF_BGR, &jpeg, &jpegSize,
                                   TJSAMP_420, kJpegQuality, flags);
    bool ok = result == 0;
    std::string why = ok ? "" : std::string("JPEG 编码失败：") + tjGetErrorStr2(encoder);
    // Written beside the target and renamed over it, so a failure never
    // leaves a half-written (or an old) JPEG under the name.
    // A link planted at the name is replaced, never written through.
    if (ok) {
        const WriteBlock block{jpeg, jpegSize};
        FileError failure;
        ok = WriteFileAtomically(jpegPath, &block, 1, AtomicWriteOptions{}, &failure);
        if (!ok) why = failure.Text();
    }
    tjFree(jpeg);
    tjDestroy(encoder);
    return ok || Fail(error, why);
}

bool ConvertBitmapFileToJpeg(const std::string& bitmapPath, const std::string& jpegPath, std::string* error) {
    // Not through a link, and never blocking on a FIFO put at the name.
    FileError failure;
    const UniqueFd in = OpenRegularFileForReading(bitmapPath, Links::Refuse, &failure);
    if (!in.Valid()) return Fail(error, failure.Text());
    // One read of the whole file: a photo is on the streaming thread's clock.
    std::string file;
    if (!ReadUpTo(in.Get(), std::numeric_limits<std::size_t>::max(), file))
        return Fail(error, "无法读取“" + bitmapPath + "”：" + SystemErrorText(errno));
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M')
        return Fail(error, "“" + bitmapPath + "”不是位图文件");
    const uint32_t offset = U32(file, 10);
    const int32_t width = static_cast<int32_t>(U32(file, 18));
    const int32_t rawHeight = static_cast<int32_t>(U32(file, 22));
    if (U16(file, 28) != 24 || U32(file, 30) != 0)
        return Fail(error, "“" + bitmapPath + "”不是未压缩的 24 位位图");
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 65535)
        return Fail(error, "“" + bitmapPath + "”没有可用的尺寸");
    const bool bottomUp = rawHeight > 0;
    const int32_t height = bottomUp ? rawHeight : -rawHeight;
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~3ull;
    // Never read past the file: a short bitmap (a full disk) is refused.
    if (offset < 54 || offset > file.size() || stride * static_cast<uint64_t>(height) > file.size() - offset)
        return Fail(error, "“" + bitmapPath + "”比它的画面短");
    return EncodeBitmapPixelsToJpeg(reinterpret_cast<const uint8_t*>(file.data()) + offset, width, height, static_cast<int32_t>(stride), bottomUp,
                                    jpegPath, error);
}
