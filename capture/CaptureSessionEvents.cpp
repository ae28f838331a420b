// The capture session's events: failures the graph reports from its
// streaming threads, queued and handled later on the UI thread, and the
// handlers through which the session tells the shell.

#include <string>

#include "capture/CaptureSession.h"

void CCaptureSession::SetMessageHandler(std::function<void(const std::string&)> handler) {
    messageHandler = std::move(handler);
}

void CCaptureSession::SetEventNotifier(std::function<void()> notifier) {
    std::lock_guard lock(eventMutex);
    eventNotifier = std::move(notifier);
}

void CCaptureSession::SetGraphStoppedHandler(std::function<void()> handler) {
    graphStoppedHandler = std::move(handler);
}

void CCaptureSession::SetRecordingStoppedHandler(std::function<void()> handler) {
    recordingStoppedHandler = std::move(handler);
}

void CCaptureSession::SetRecordingJournal(std::function<void(const std::string&, bool)> journal) {
    recordingJournal = std::move(journal);
}

void CCaptureSession::SetNoticeHandler(std::function<void(const std::string&)> handler) {
    noticeHandler = std::move(handler);
}

// Failures are tagged with the current generation; handling one starts a new
// generation, so whatever the same failure still reports is dropped.
void CCaptureSession::WatchGraphErrors() {
    uint64_t generation;
    {
        std::lock_guard lock(eventMutex);
        generation = ++graphGeneration;
        pendingFailures.clear();
    }
    graphBuilder->SetErrorHandler(
        [this, generation](const GraphError& error) { OnGraphError(generation, error); });
}

// Streaming thread.
void CCaptureSession::OnGraphError(uint64_t generation, const GraphError& error) {
    std::function<void()> notify;
    {
        std::lock_guard lock(eventMutex);
        if (generation != graphGeneration) return;
        pendingFailures.push_back({generation, error});
        notify = eventNotifier;
    }
    if (notify) notify();
}

void CCaptureSession::ProcessPendingEvents() {
    if (Busy()) return;  // taken up when the operation under way ends
    BusyScope busy(*this);
    std::deque<GraphFailure> failures;
    uint64_t current;
    {
        std::lock_guard lock(eventMutex);
        failures.swap(pendingFailures);
        current = graphGeneration;
    }
    for (const GraphFailure& failure : failures) {
        if (failure.generation != current || !mediaControl || !graphBuilder) continue;
        if (failure.error.noticeOnly) {
            if (noticeHandler) noticeHandler(failure.error.reason);
            continue;
        }
        const bool previewGoesOn = failure.error.recordingOnly;
        const std::string takeNote = EndTakeForMessage();
        if (!previewGoesOn) {
            mediaControl->Stop();
            graphState = CaptureState::Graph::Stopped;
        }
        WatchGraphErrors();

        // A full disk is said once, in words of our own; the note on the
        // take names its file and whether it ended whole.
        const std::string message =
            failure.error.diskFull ? "磁盘已满，录相已停止。" + takeNote
                                   : (previewGoesOn ? "录相已停止：" : "捕获已停止：") + failure.error.reason + takeNote;
        // The shell takes down its picture before the message box opens
        // over it.
        if (previewGoesOn) {
            if (recordingStoppedHandler) recordingStoppedHandler();
        } else if (graphStoppedHandler) {
            graphStoppedHandler();
        }
        ShowMessage(message);
        break;  // one failure often arrives as several reports
    }
}
