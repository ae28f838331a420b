// The graph's pictures turned for a camera mounted upside down or on its
// side, and its preview mirrored as a self-view; both kept for every
// pipeline the graph builds.

#include "capture/gst/GstGraph.h"
#include "capture/gst/PictureFlip.h"

namespace lumora::gst {

// The turn's videoflip changes its output size at once. A pipeline whose
// tee carries the camera's JPEG frames has none: it is built again with
// the pictures decoded before the tee, at once when it plays, else at the
// next run (a paused one keeps its picture until then).
HRESULT GstGraph::SetRotation(int32_t degrees) {
    if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270) return E_FAIL;
    if (recording) return E_FAIL;  // its file keeps the size it started with
    if (degrees == orientation.rotation) return S_OK;
    orientation.rotation = degrees;
    if (!built) return S_OK;
    if (built->turn) {
        SetFlipDirection(built->turn, TurnDirection(degrees));
        return S_OK;
    }
    pipelineStale = true;
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(built->pipeline.get(), &current, &pending, 0);
    const bool playing = current == GST_STATE_PLAYING || pending == GST_STATE_PLAYING;
    return playing ? Reported(Start()) : S_OK;
}

// The native sink's mirror after the grabber's tap; for a painted preview,
// the window is told to paint mirrored.
HRESULT GstGraph::PutMirrored(bool mirrored) {
    orientation.mirrored = mirrored;
    frames.PaintMirrored(mirrored);
    if (built) SetFlipDirection(built->display.mirror, MirrorDirection(mirrored));
    return S_OK;
}

}  // namespace lumora::gst
