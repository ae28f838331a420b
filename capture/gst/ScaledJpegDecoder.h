#pragma once
// A JPEG camera's pictures decoded for the preview at about the size they
// are shown: straight at 1/2, 1/4 or 1/8 of their size by the decoder's
// DCT scaling -- the largest reduction that still covers the shown size --
// and scaled the rest of the way by the preview's own scaler. A picture
// shown at half its size or larger is decoded whole, as before: in the
// JPEG's own planes where what follows takes them (a mirror takes no 4:2:2),
// else in the preview's 32-bit layout.
//
//   tee -> queue -> scaled JPEG decoder -> convert(+scale) -> sink
//
// The decoder reads the shown size once per picture, so a new size takes
// effect between two pictures. Photos and recordings keep the camera's
// size: a picture the grabber asks for while the preview is reduced is
// decoded whole as well, for the grabber alone; recordings take the
// camera's JPEG frames from the tee.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/VideoWindow.h"
#include "capture/gst/Result.h"

namespace lumora::gst {

struct PictureSize {
    int32_t width = 0, height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The size the preview shows (set by the UI thread) and the size of the
// camera's pictures (found by the decoder), for the streaming threads.
class PreviewDecodeScale {
public:
    // UI thread: the picture is shown at this size (0 x 0: not known).
    void Show(int32_t width, int32_t height) { shown.store(Pack({width, height})); }
    PictureSize Shown() const { return Unpack(shown.load()); }
    // The camera's picture size, once a picture came (0 x 0 before).
    void NotePicture(PictureSize size) { picture.store(Pack(size)); }
    PictureSize Picture() const { return Unpack(picture.load()); }

private:
    static uint64_t Pack(PictureSize s) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(s.width)) << 32) | static_cast<uint32_t>(s.height);
    }
    static PictureSize Unpack(uint64_t v) {
        return {static_cast<int32_t>(v >> 32), static_cast<int32_t>(v & 0xffffffffu)};
    }
    std::atomic<uint64_t> shown{0};
    std::atomic<uint64_t> picture{0};
};

// 1, 2, 4 or 8: how many times smaller a `picture` is decoded to cover
// `shown` (1 when nothing is shown).
int DecodeReduction(PictureSize picture, PictureSize shown);

// Whole pictures for the grabber while the preview is reduced; both called
// on the streaming thread.
struct WholePictureTaker {
    std::function<bool()> wanted;
    // The picture in the preview's 32-bit layout (see VideoFrame), at the
    // camera's size; `seconds` its presentation time.
    std::function<void(double seconds, const VideoFrame& frame)> take;
};

// A new decoder element (floating) following `scale`.
Result<GstElement*> MakeScaledJpegDecoder(std::shared_ptr<PreviewDecodeScale> scale, WholePictureTaker taker);

}  // namespace lumora::gst
