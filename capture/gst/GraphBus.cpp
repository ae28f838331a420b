#include "capture/gst/GraphBus.h"

#include <cerrno>

#include "base/SystemErrorText.h"

namespace lumora::gst {

namespace {
constexpr auto kWaitSlice = std::chrono::milliseconds(20);
}

void GraphBus::SetErrorHandler(std::function<void(const GraphError&)> handler) {
    std::lock_guard lock(mutex);
    errorHandler = std::move(handler);
}

void GraphBus::SetLevelHandler(std::function<void(const SoundLevel&)> handler) {
    std::lock_guard lock(mutex);
    levelHandler = std::move(handler);
}

void GraphBus::Level(const SoundLevel& level) {
    std::function<void(const SoundLevel&)> report;
    {
        std::lock_guard lock(mutex);
        report = levelHandler;
    }
    if (report) report(level);
}

void GraphBus::ResetForBuild() {
    std::lock_guard lock(mutex);
    state.formatKnown = false;
    state.pipelineFailed = false;
    state.errorReported = false;
    state.eosSeen = false;
    state.failure.clear();
}

void GraphBus::ResetForRun() {
    std::lock_guard lock(mutex);
    state.eosSeen = false;
    state.pipelineFailed = false;
    state.errorReported = false;
    state.failure.clear();
}

std::string GraphBus::Failure() {
    std::lock_guard lock(mutex);
    return state.failure;
}

void GraphBus::AwaitRecording() {
    std::lock_guard lock(mutex);
    state.awaitingRecording = true;
    state.recordingError.clear();
}

void GraphBus::StopAwaitingRecording() {
    std::lock_guard lock(mutex);
    state.awaitingRecording = false;
}

void GraphBus::Fail(const std::string& reason, bool recordingOnly, bool duringStateChange, bool diskFull) {
    std::function<void(const GraphError&)> report;
    {
        std::lock_guard lock(mutex);
        if (!state.pipelineFailed) state.failure = reason;  // the first failure is the cause
        state.pipelineFailed = true;
        if (state.awaitingRecording) {
            if (state.recordingError.empty()) state.recordingError = reason;
        } else if (!duringStateChange && !state.errorReported) {
            state.errorReported = true;
            report = errorHandler;
        }
        changed.notify_all();
    }
    GraphError failure{reason, recordingOnly};
    failure.diskFull = diskFull;
    if (report) report(failure);
}

void GraphBus::Notice(const std::string& note) {
    std::function<void(const GraphError&)> report;
    {
        std::lock_guard lock(mutex);
        report = errorHandler;
    }
    if (report) report(GraphError{note, true, true});
}

void GraphBus::DiskFull() {
    std::function<void(const GraphError&)> report;
    {
        std::lock_guard lock(mutex);
        report = errorHandler;
    }
    GraphError full{SystemErrorText(ENOSPC), true};
    full.diskFull = true;
    if (report) report(full);
}

void GraphBus::EndOfStream() {
    std::lock_guard lock(mutex);
    state.eosSeen = true;
    changed.notify_all();
}

void GraphBus::ExpectEndOfStream() {
    std::lock_guard lock(mutex);
    state.eosSeen = false;
}

void GraphBus::FormatNegotiated(ConnectedVideoFormat format) {
    std::lock_guard lock(mutex);
    state.negotiated = format;
    state.formatKnown = true;
    changed.notify_all();
}

void GraphBus::Wake() {
    std::lock_guard lock(mutex);
    changed.notify_all();
}

bool GraphBus::WaitUntil(const std::function<bool(const BusState&)>& done, std::chrono::milliseconds limit,
                         const std::function<void()>& whileWaiting) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mutex);
    for (;;) {
        if (changed.wait_for(lock, kWaitSlice, [&] { return done(state); })) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        lock.unlock();
        if (whileWaiting) whileWaiting();
        lock.lock();
    }
}

}  // namespace lumora::gst
