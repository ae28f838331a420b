#pragma once
// Puts what a recording has written on the disk every few seconds, so that
// a power cut or a crash loses at most that much of a long take. The sync
// runs on a thread of its own: the streaming threads never wait for the
// disk, and neither does the UI thread when the recording ends (a sync
// still under way is left to finish on its own).

#include <chrono>
#include <memory>

#include "base/FileWriting.h"

class CRecordingFlusher {
public:
    static constexpr std::chrono::milliseconds kDefaultInterval{2000};

    CRecordingFlusher() = default;
    ~CRecordingFlusher() { Stop(); }
    CRecordingFlusher(const CRecordingFlusher&) = delete;
    CRecordingFlusher& operator=(const CRecordingFlusher&) = delete;

    // Syncs `file` every `interval` until Stop (a running flusher moves to
    // the new file). The descriptor stays open while a sync may use it.
    void Start(std::shared_ptr<UniqueFd> file, std::chrono::milliseconds interval = kDefaultInterval);
    // Ends the flusher after one last sync, without waiting for it.
    void Stop();
    // Syncs done so far by the current or last flusher (for tests).
    unsigned SyncCount() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};
