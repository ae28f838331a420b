#pragma once
// A camera that stops sending pictures while its pipeline plays is taken
// down and started again once, inside the same pipeline: the preview comes
// back by itself, and a recording goes on in its file (its picture rate
// fills the gap with the last picture, see RecordingBin.h). A second stall
// within a minute of the first is the camera's failure, as is a restart
// that fails or hangs.
//
// The watch runs on a thread of its own and only reads a flag that each
// picture sets (BuiltPipeline::pictureSeen). The restart is a job of the
// pipeline's worker, so it never meets a state change that the UI thread
// asked for; it does nothing once the pipeline no longer plays.

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/gst/PipelineWorker.h"

namespace lumora::gst {

// What a restart takes down and starts again: the camera's chain, its own
// element first, and the flag that hides the restart from what follows
// the chain (see PipelineBuilder::Build); a PipeWire camera's node.
struct CameraChain {
    std::vector<GstElement*> elements;
    std::shared_ptr<std::atomic<bool>> resuming = std::make_shared<std::atomic<bool>>(false);
    std::string pipewireNode;  // "": none
};

// Worker thread: the chain to NULL and back to the pipeline's state, on
// its clock and base time; a PipeWire node is put to rest between the two
// (PipeWireCameraRest.h), so that a virtual camera has pictures again. Success without a change when the pipeline
// does not play (it was paused or stopped meanwhile).
GstStateChangeReturn RestartCameraChain(const CameraChain& chain, GstElement* pipeline);

enum class CameraStall {
    Restarted,      // the camera was started again
    StalledAgain,   // within a minute of the last restart: not tried again
    RestartFailed,  // it could not start again
    RestartHung,    // it did not start again within the limit
};

class CameraWatch {
public:
    struct Target {
        std::shared_ptr<std::atomic<bool>> pictureSeen;  // set by every picture
        std::weak_ptr<PipelineWorker> worker;
        CameraChain chain;
        // On the watch's thread, once a stall has been dealt with.
        std::function<void(CameraStall)> tell;
    };

    CameraWatch(std::chrono::milliseconds stallLimit, std::chrono::milliseconds restartLimit);
    ~CameraWatch();
    CameraWatch(const CameraWatch&) = delete;
    CameraWatch& operator=(const CameraWatch&) = delete;

    // UI thread: `target`'s pipeline plays; pictures are due from now on.
    void Watch(Target target);
    // UI thread: they are not (it is about to pause, stop or go).
    void Stop();

private:
    void Run();
    // With the lock held (and given up meanwhile): `target` stalled.
    void Restart(std::unique_lock<std::mutex>& lock, const Target& target);

    const std::chrono::milliseconds stallLimit;
    const std::chrono::milliseconds restartLimit;
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Target> watched;
    uint64_t generation = 0;  // counts Watch and Stop: a late outcome is dropped
    std::chrono::steady_clock::time_point lastPicture;
    std::optional<std::chrono::steady_clock::time_point> lastRestart;
    bool quit = false;
    std::thread thread;  // started with the first watch
};

}  // namespace lumora::gst
