#pragma once
// A JPEG frame's header, read with a TurboJPEG handle that is replaced when
// the read fails: TurboJPEG (2.1) leaves a handle that failed inside a
// frame's headers, where every later frame would fail as well.

#include <turbojpeg.h>

namespace lumora::gst {

struct JpegHeader {
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
};

inline void RenewJpegHandle(tjhandle& handle) {
    if (handle) tjDestroy(handle);
    handle = tjInitDecompress();
}

// False, with the handle renewed, for a frame whose header cannot be read.
inline bool ReadJpegHeader(tjhandle& handle, const unsigned char* data, unsigned long size, JpegHeader& header) {
    if (tjDecompressHeader3(handle, data, size, &header.width, &header.height, &header.subsampling,
                            &header.colorspace) == 0 &&
        header.width > 0 && header.height > 0)
        return true;
    RenewJpegHandle(handle);
    return false;
}

}  // namespace lumora::gst
