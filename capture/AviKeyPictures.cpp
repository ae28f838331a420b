#include "capture/AviKeyPictures.h"

#include <cctype>
#include <string>

namespace avi {
namespace {

enum class Kind { Standalone, H264, Vp8, Mpeg };

Kind KindOf(uint32_t handler) {
    std::string fourcc;
    for (int i = 0; i < 4; ++i) fourcc += static_cast<char>(std::toupper(static_cast<int>((handler >> (8 * i)) & 0xff)));
    if (fourcc == "H264" || fourcc == "X264" || fourcc == "AVC1") return Kind::H264;
    if (fourcc == "VP80") return Kind::Vp8;
    if (fourcc == "MPG2" || fourcc == "MPG1" || fourcc == "MPEG") return Kind::Mpeg;
    return Kind::Standalone;
}

const unsigned char* Bytes(const char* data) { return reinterpret_cast<const unsigned char*>(data); }

// H.264 as a byte stream: an IDR slice (5) or the parameter sets x264 puts
// before one (7) make a key picture.
bool H264Key(const unsigned char* d, std::size_t size) {
    bool startCodes = false;
    for (std::size_t i = 0; i + 3 < size; ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
        startCodes = true;
        const int type = d[i + 3] & 0x1f;
        if (type == 5 || type == 7) return true;
        if (type == 1) return false;  // a slice of a picture that leans on others
    }
    return !startCodes;
}

// MPEG-1/2: a sequence header, or a picture whose coding type is I.
bool MpegKey(const unsigned char* d, std::size_t size) {
    for (std::size_t i = 0; i + 5 < size; ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
        if (d[i + 3] == 0xb3) return true;
        if (d[i + 3] == 0x00) return ((d[i + 5] >> 3) & 7) == 1;
    }
    return true;
}

}  // namespace

bool NeedsLookForKey(uint32_t handler) { return KindOf(handler) != Kind::Standalone; }

bool IsKeyPicture(uint32_t handler, const char* data, std::size_t size) {
    switch (KindOf(handler)) {
    case Kind::H264: return H264Key(Bytes(data), size);
    case Kind::Vp8: return size == 0 || (Bytes(data)[0] & 1) == 0;  // the frame tag's first bit: 0 = key
    case Kind::Mpeg: return MpegKey(Bytes(data), size);
    case Kind::Standalone: break;
    }
    return true;
}

}  // namespace avi
