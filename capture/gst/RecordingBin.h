#pragma once
// A recording as a branch that joins the running preview and leaves it
// again, so the camera is never stopped or reopened for it:
//
//   camera tee -> queue -> videorate -> [convert -> compressor | jpegparse] -> mux -> fdsink
//   sound source -> queue (gap filler) -> convert -> resample -> level -> convert -> [compressor | S16LE] --^
//
// All of it lives in one bin. It joins through a request pad of the
// camera's tee, and leaves by being unlinked there, sent an end of stream
// (the multiplexer then writes its index) and stopped. The multiplexer is
// the container's (RecordingContainers.h); its inputs keep the disk's room
// for that index (capture/RecordingRoom.h).

#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/FileWriting.h"
#include "base/RecordingContainer.h"
#include "capture/gst/CallbackGate.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/SoundGapFiller.h"

namespace lumora::gst {

// The multiplexer and file writer of a recording.
class MuxFilter : public IBaseFilter {
public:
    explicit MuxFilter(std::string p) : path(std::move(p)) {}
    std::string path;
};

// What was rendered for a recording.
struct RecordingBranch {
    std::string path;
    MediaSubtype container = MediaSubtype::Avi;
    // What the file sink writes to; shared so that an abandoned pipeline
    // keeps it open (its number never reaches another file) until it is gone.
    std::shared_ptr<UniqueFd> file;
    std::shared_ptr<GstFilter> videoSource, videoCompressor, audioSource, audioCompressor;
    bool videoRendered = false;
    bool audioRendered = false;
    bool keepCameraJpeg = true;  // see RecordsCameraJpeg
};

// The branch's elements while it is in the pipeline.
struct RecordingBin {
    ElementPtr bin;
    GstElement* fileSink = nullptr;
    PadPtr entry;    // the bin's picture input
    PadPtr teePad;   // the camera tee's pad that feeds it
    std::vector<PadPtr> eosEntryPads;
    ProbeList probes;
    std::shared_ptr<SoundGapFiller> soundWatch;
    GstElement* soundSource = nullptr;  // the bin's
    std::string path;
    // Set once the branch has failed (a full disk, say): from then on the
    // tee keeps its pictures, so that the failure never reaches the camera.
    std::shared_ptr<std::atomic<bool>> failed = std::make_shared<std::atomic<bool>>(false);

    // Links the branch to the tee's pad `pad` (taken).
    bool Join(GstPad* pad);

};

// What the camera's tee hands on.
struct CameraFrames {
    bool jpeg = false;        // the camera's JPEG frames, undecoded
    bool lentMemory = false;  // every frame is memory the camera takes back when it goes
};

Status BuildRecordingBin(RecordingBin& out, const RecordingBranch& recording, const CameraFrames& frames,
                         GstElement* pipeline, const GatePtr& gate);

// Whether a recording with this compressor keeps a JPEG camera's frames as
// they come: with the JPEG one, unless the graph was told not to (a
// benchmark that compares).
bool RecordsCameraJpeg(const GstFilter* videoCompressor, bool keepCameraJpeg);

}  // namespace lumora::gst
