#pragma once
// The picture turned (a camera mounted upside down or on its side) or
// mirrored (the preview as a self-view) by GStreamer's videoflip. At the
// identity direction it is made to pass its buffers through untouched, so
// one that is in the pipeline for a later change costs nothing meanwhile.

#include <gst/gst.h>

#include <cstdint>

#include "capture/gst/Result.h"

namespace lumora::gst {

// videoflip's "video-direction" for a clockwise turn of `degrees` (0, 90,
// 180, 270), and for a mirrored or plain picture.
int TurnDirection(int32_t degrees);
int MirrorDirection(bool mirrored);
bool QuarterTurn(int32_t degrees);

// Whether videoflip takes the pictures that leave `upstream` as they are
// (it turns the common raw layouts, not every one a camera may send): in
// one of the layouts `upstream` offers, for an upstream that settles on
// one its peer takes; in every one, for a decoder that picks its layout by
// the picture (jpegdec).
bool FlipTakes(GstElement* upstream);
bool FlipTakesEvery(GstElement* upstream);

// A videoflip set to `direction`, added to `bin`, not linked.
Result<GstElement*> AddFlip(GstBin* bin, int direction);
// Any thread: the flip's direction from its next picture on.
void SetFlipDirection(GstElement* flip, int direction);

}  // namespace lumora::gst
