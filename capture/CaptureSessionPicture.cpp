// The capture session's picture: the preview mirrored as a self-view, and
// every picture turned for a camera mounted upside down or on its side.

#include <utility>

#include "capture/CaptureSession.h"
#include "snapshot/GrabberCallback.h"

namespace {

bool QuarterTurn(int32_t degrees) { return degrees == 90 || degrees == 270; }

}  // namespace

void CCaptureSession::SetMirrored(bool mirror) {
    mirrored = mirror;
    if (videoWindow && FAILED(videoWindow->PutMirrored(mirror))) mirrored = false;
}

bool CCaptureSession::SetRotation(int32_t degrees) {
    BusyScope busy(*this);
    if (degrees == rotation) return true;
    if (RecordingActive()) return false;
    const HRESULT hr = graphBuilder ? graphBuilder->SetRotation(degrees) : S_OK;
    if (hr == E_NOTIMPL) return false;
    if (graphBuilder && QuarterTurn(degrees) != QuarterTurn(rotation)) {
        std::swap(videoWidth, videoHeight);
        grabberCallback.frameWidth.store(videoWidth);
        grabberCallback.frameHeight.store(videoHeight);
    }
    rotation = degrees;
    if (FAILED(hr)) {
        // The pipeline built again for the turn did not start: the camera
        // is named, and the next Start video tries again.
        graphState = CaptureState::Graph::Stopped;
        ShowMessage(WithReason("Couldn't run the graph!"));
        return false;
    }
    FitVideoWindow();
    return true;
}
