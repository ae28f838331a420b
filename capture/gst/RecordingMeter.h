#pragma once
// What reached the recording branch and the file, counted on the
// streaming threads and read on the UI thread.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>

namespace lumora::gst {

struct RecordingMeter {
    std::atomic<uint64_t> framesOffered{0};  // pictures that entered the branch
    std::atomic<uint64_t> bytesToFile{0};
    // Running time of the first recorded picture and the end of the latest (ns, -1: none yet).
    std::atomic<int64_t> firstTime{-1};
    std::atomic<int64_t> lastTime{-1};
    std::atomic<bool> fileSinkFailed{false};

    // A new recording starts counting afresh.
    void Restart() {
        bytesToFile.store(0);
        fileSinkFailed.store(false);
        framesOffered.store(0);
        firstTime.store(-1);
        lastTime.store(-1);
    }

    void Recorded(GstBuffer* buffer) {
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) return;
        const GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0;
        int64_t unset = -1;
        firstTime.compare_exchange_strong(unset, static_cast<int64_t>(GST_BUFFER_PTS(buffer)));
        lastTime.store(static_cast<int64_t>(GST_BUFFER_PTS(buffer) + duration));
    }

    // true for the first bytes of the file.
    bool Written(GstBuffer* buffer) { return buffer && bytesToFile.fetch_add(gst_buffer_get_size(buffer)) == 0; }

    double Seconds() const {
        const int64_t first = firstTime.load(), last = lastTime.load();
        return first >= 0 && last > first ? static_cast<double>(last - first) / GST_SECOND : 0.0;
    }
};

}  // namespace lumora::gst
