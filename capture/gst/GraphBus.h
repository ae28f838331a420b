#pragma once
// What a graph learns from its running pipeline -- failures, the end of
// stream, the negotiated picture format -- and the waits for it. Only the
// first failure of a run is reported to the error handler; failures while
// a recording is being started belong to the one who starts it.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "capture/CapturePlatform.h"

namespace lumora::gst {

// Guarded by GraphBus; read by the predicates of GraphBus::WaitUntil.
struct BusState {
    // The first failure since the pipeline last started: what a state
    // change, a wait or a recording's end that it spoiled fails with.
    std::string failure;
    std::string recordingError;  // the first failure while a recording starts
    bool awaitingRecording = false;
    bool errorReported = false;
    bool pipelineFailed = false;
    bool eosSeen = false;
    bool formatKnown = false;
    ConnectedVideoFormat negotiated;
};

class GraphBus {
public:
    void SetErrorHandler(std::function<void(const GraphError&)> handler);
    void SetLevelHandler(std::function<void(const SoundLevel&)> handler);

    // A new pipeline: nothing known of it yet.
    void ResetForBuild();
    // A run from a stopped pipeline: failures are reported afresh.
    void ResetForRun();
    // Why the pipeline failed since it last started ("" when it did not).
    std::string Failure();
    // Failures from now until StopAwaitingRecording are the starter's.
    void AwaitRecording();
    void StopAwaitingRecording();

    // Streaming threads (and the UI thread for failures found there).
    // `duringStateChange`: posted while the caller changes the state, who
    // reports the failed change itself.
    void Fail(const std::string& reason, bool recordingOnly, bool duringStateChange, bool diskFull = false);
    void Notice(const std::string& note);
    // The recording must end while its disk still holds the index; nothing
    // has failed, and the pipeline goes on.
    void DiskFull();
    // A reading of the sound input's level, handed on as it comes.
    void Level(const SoundLevel& level);
    void EndOfStream();
    // An end of stream is on its way: the one seen before is forgotten.
    void ExpectEndOfStream();
    void FormatNegotiated(ConnectedVideoFormat format);
    void Wake();

    // Waits until `done(state)` or `limit` passes, running `whileWaiting`
    // (without the lock) about every 20 ms. Returns what `done` last said.
    bool WaitUntil(const std::function<bool(const BusState&)>& done, std::chrono::milliseconds limit,
                   const std::function<void()>& whileWaiting);
    // A look at the state under the lock.
    template <typename F>
    auto Read(F&& f) {
        std::lock_guard lock(mutex);
        return f(static_cast<const BusState&>(state));
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    BusState state;
    std::function<void(const GraphError&)> errorHandler;
    std::function<void(const SoundLevel&)> levelHandler;
};

}  // namespace lumora::gst
