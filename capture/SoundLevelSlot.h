#pragma once
// The latest reading of a sound meter, handed from the streaming thread
// that measures to the UI thread that shows it.

#include <cstdint>
#include <mutex>

#include "capture/CapturePlatform.h"

class SoundLevelSlot {
public:
    // Any thread.
    void Put(const SoundLevel& level) {
        std::lock_guard lock(mutex);
        latest = level;
        ++count;
    }
    // The latest reading into `level`; returns how many readings came so far
    // (0: none yet), so a reader can tell a new one from the one it saw.
    uint64_t Read(SoundLevel& level) const {
        std::lock_guard lock(mutex);
        level = latest;
        return count;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        latest = SoundLevel{};
        count = 0;
    }

private:
    mutable std::mutex mutex;
    SoundLevel latest;
    uint64_t count = 0;
};
