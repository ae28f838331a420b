#include "avi/AviKeyPictures.h"

#include <cctype>
#include <string>

namespace avi {
namespace {

enum class Kind { Standalone, H264, Vp8, Mpeg4 };

Kind KindOf(uint32_t handler) {
    std::string fourcc;
    for (int i = 0; i < 4; ++i) fourcc += static_cast<char>(std::toupper(static_cast<int>((handler >> (8 * i)) & 0xff)));
    if (fourcc == "H264" || fourcc == "X264" || fourcc == "AVC1") return Kind::H264;
    if (fourcc == "VP80") return Kind::Vp8;
    if (fourcc == "FMP4" || fourcc == "DIVX" || fourcc == "XVID" || fourcc == "DX50" || fourcc == "MP4V")
        return Kind::Mpeg4;
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

// MPEG-4 Visual (DivX, Xvid): the coding type of the picture (VOP) is I.
bool Mpeg4Key(const unsigned char* d, std::size_t size) {
    for (std::size_t i = 0; i + 4 < size; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xb6) return (d[i + 4] >> 6) == 0;
    return true;
}

}  // namespace

bool NeedsLookForKey(uint32_t handler) { return KindOf(handler) != Kind::Standalone; }

bool IsKeyPicture(uint32_t handler, const char* data, std::size_t size) {
    switch (KindOf(handler)) {
    case Kind::H264: return H264Key(Bytes(data), size);
    case Kind::Vp8: return size == 0 || (Bytes(data)[0] & 1) == 0;  // the frame tag's first bit: 0 = key
    case Kind::Mpeg4: return Mpeg4Key(Bytes(data), size);
    case Kind::Standalone: break;
    }
    return true;
}

}  // namespace avi
