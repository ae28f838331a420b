#include "capture/RecordingFlusher.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct CRecordingFlusher::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::atomic<unsigned> syncs{0};
};

void CRecordingFlusher::Start(std::shared_ptr<UniqueFd> file, std::chrono::milliseconds interval) {
    Stop();
    shared.reset();
    if (!file || !file->Valid()) return;
    shared = std::make_shared<Shared>();
    // Detached: it holds what it uses, and ends at the next wake-up after
    // Stop. A sync stuck on a slow disk never holds up the caller.
    std::thread([state = shared, file = std::move(file), interval] {
        std::unique_lock lock(state->mutex);
        while (!state->wake.wait_for(lock, interval, [&] { return state->stopping; })) {
            lock.unlock();
            ::fdatasync(file->Get());
            state->syncs.fetch_add(1);
            lock.lock();
        }
        lock.unlock();
        ::fdatasync(file->Get());  // the end of the file too
        state->syncs.fetch_add(1);
    }).detach();
}

void CRecordingFlusher::Stop() {
    if (!shared) return;
    {
        std::lock_guard lock(shared->mutex);
        shared->stopping = true;
    }
    shared->wake.notify_all();
}

unsigned CRecordingFlusher::SyncCount() const { return shared ? shared->syncs.load() : 0; }
