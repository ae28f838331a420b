#pragma once
// The sample grabber's callback: writes the first frame that arrives while
// snapshotArmed is raised as a photo into the photo folder.
//
// PUBLIC API used by the engine and the shell -- keep these signatures.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/SampleGrabber.h"
#include "settings/SettingsRecord.h"

// How many photos are asked for and not yet written: each Take photo adds
// one, each frame written as a photo takes one.
extern std::atomic<int> snapshotArmed;

class CGrabberCallback : public ISampleGrabberCB {
public:
    CGrabberCallback();

    HRESULT SampleCB(double sampleTime, void* sample) override;
    HRESULT BufferCB(double sampleTime, uint8_t* buffer, int32_t length) override;
    // The frame's own size goes into the photo's header (a picture turned
    // just now may not have the size of frameWidth and frameHeight yet).
    HRESULT SizedBufferCB(double sampleTime, uint8_t* buffer, int32_t length, int32_t width,
                          int32_t height) override;
    // Only an armed snapshot needs the frame, and only until it was taken:
    // one atomic load for every other frame.
    bool WantsBuffer() override {
        return snapshotArmed.load(std::memory_order_relaxed) != 0 && !photoBeingWritten.load();
    }

    // Writes temp.bmp, converts it when JPEG is asked for, stores the photo.
    // Returns 0 in every case; failures go to the photo-failure handler.
    int WriteSnapshot(const uint8_t* frame, int32_t length);

    // Written by BuildGraph on the UI thread, read on the streaming thread.
    std::atomic<int32_t> frameWidth{0};
    std::atomic<int32_t> frameHeight{0};
    char tempBitmapPath[kPathBufferSize];  // "temp.bmp", a bare name resolved in appDirectory

    // The view's ConvertBitmapToJpeg: reads temp.bmp, writes temp.jpg in
    // appDirectory, returns whether temp.jpg was written now. When not set,
    // the snapshot code converts on its own.
    void SetJpegConverter(std::function<bool()> converter);

    // Told (on the streaming thread) when a photo could not be stored, with a
    // sentence for the status bar; and told the stored file's path on success.
    // Also waits for a photo still being written, so that it is not lost
    // and no handler is called after it was taken away.
    void SetPhotoHandlers(std::function<void(const std::string&)> onFailed,
                          std::function<void(const std::string&)> onStored);

private:
    void WritePhoto(const uint8_t* frame, int32_t length, int32_t width, int32_t height);

    // The armed photo's frame is copied on the streaming thread and written
    // on a thread of its own: a slow photo folder (a network share, a USB
    // stick) never holds up the preview or a recording.
    std::atomic<bool> photoBeingWritten{false};
};

// The one callback object of the process.
extern CGrabberCallback grabberCallback;
