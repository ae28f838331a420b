#include "capture/gst/CameraWatch.h"

#include <algorithm>

#include "capture/gst/GstHandles.h"
#include "capture/gst/PipeWireCameraRest.h"

namespace lumora::gst {

namespace {

constexpr auto kTick = std::chrono::milliseconds(100);
// A stall this soon after a restart is the camera's failure.
constexpr auto kSecondStallWindow = std::chrono::minutes(1);
// How long the node a restart left may take to idle.
constexpr auto kPipeWireIdleLimit = std::chrono::milliseconds(500);

}  // namespace

GstStateChangeReturn RestartCameraChain(const CameraChain& chain, GstElement* pipeline) {
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline, &state, &pending, 0);
    if (state != GST_STATE_PLAYING || pending != GST_STATE_VOID_PENDING || chain.elements.empty())
        return GST_STATE_CHANGE_SUCCESS;
    for (GstElement* element : chain.elements)
        if (gst_element_set_state(element, GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE)
            return GST_STATE_CHANGE_FAILURE;
    if (!chain.pipewireNode.empty()) SuspendWhenIdle(chain.pipewireNode, kPipeWireIdleLimit, nullptr);
    chain.resuming->store(true);
    // Its pictures are stamped with the pipeline's running time again.
    const ObjectPtr<GstClock> clock(gst_element_get_clock(pipeline));
    const GstClockTime base = gst_element_get_base_time(pipeline);
    // Downstream first: the camera's element pushes as soon as it plays.
    for (auto it = chain.elements.rbegin(); it != chain.elements.rend(); ++it) {
        if (clock) gst_element_set_clock(*it, clock.get());
        gst_element_set_base_time(*it, base);
        // PipeWire's source (1.4) waits in its start until the producer
        // sends again, which a stalled one may not do for long: it starts on
        // a thread of GStreamer's, and a failure comes as the stream's error.
        if (*it == chain.elements.front() && !chain.pipewireNode.empty()) {
            gst_element_call_async(
                *it, [](GstElement* source, gpointer) { gst_element_set_state(source, GST_STATE_PLAYING); },
                nullptr, nullptr);
            continue;
        }
        if (gst_element_set_state(*it, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            return GST_STATE_CHANGE_FAILURE;
    }
    return GST_STATE_CHANGE_SUCCESS;
}

CameraWatch::CameraWatch(std::chrono::milliseconds stall, std::chrono::milliseconds restart)
    : stallLimit(stall), restartLimit(restart) {}

CameraWatch::~CameraWatch() {
    {
        std::lock_guard lock(mutex);
        quit = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

void CameraWatch::Watch(Target target) {
    std::lock_guard lock(mutex);
    target.pictureSeen->store(false, std::memory_order_relaxed);
    watched = std::move(target);
    ++generation;
    lastPicture = std::chrono::steady_clock::now();
    if (!thread.joinable()) thread = std::thread([this] { Run(); });
}

void CameraWatch::Stop() {
    std::lock_guard lock(mutex);
    watched.reset();
    ++generation;
}

void CameraWatch::Run() {
    std::unique_lock lock(mutex);
    while (!quit) {
        wake.wait_for(lock, kTick);
        if (quit || !watched) continue;
        const auto now = std::chrono::steady_clock::now();
        if (watched->pictureSeen->exchange(false, std::memory_order_relaxed)) {
            lastPicture = now;
            continue;
        }
        if (now - lastPicture < stallLimit) continue;
        const Target stalled = *watched;
        if (lastRestart && now - *lastRestart < kSecondStallWindow) {
            watched.reset();
            lock.unlock();
            stalled.tell(CameraStall::StalledAgain);
            lock.lock();
            continue;
        }
        Restart(lock, stalled);
    }
}

void CameraWatch::Restart(std::unique_lock<std::mutex>& lock, const Target& target) {
    lastRestart = std::chrono::steady_clock::now();
    const uint64_t asked = generation;
    lock.unlock();
    std::optional<GstStateChangeReturn> result;
    if (const std::shared_ptr<PipelineWorker> worker = target.worker.lock())
        result = worker->Perform([chain = target.chain](GstElement* pipeline) {
            return RestartCameraChain(chain, pipeline);
        }, restartLimit, nullptr);
    lock.lock();
    if (generation != asked) return;  // paused, stopped or run again meanwhile: nothing to tell
    const bool restarted = result && *result != GST_STATE_CHANGE_FAILURE;
    if (restarted) {
        lastPicture = std::chrono::steady_clock::now();  // its time to send one again
    } else {
        watched.reset();
    }
    lock.unlock();
    target.tell(restarted ? CameraStall::Restarted : result ? CameraStall::RestartFailed : CameraStall::RestartHung);
    lock.lock();
}

}  // namespace lumora::gst
