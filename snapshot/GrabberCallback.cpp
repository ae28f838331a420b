#include "snapshot/GrabberCallback.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "settings/SettingsFile.h"
#include "base/FileWriting.h"
#include "base/TimestampName.h"
#include "snapshot/JpegConversion.h"

std::atomic<int> snapshotArmed{0};
CGrabberCallback grabberCallback;

namespace {

// The handlers are set on the UI thread and called on the streaming thread.
std::mutex& HandlersMutex() {
    static std::mutex mutex;
    return mutex;
}
std::function<bool()> jpegConverter;
std::function<void(const std::string&)> photoFailed;
std::function<void(const std::string&)> photoStored;

void PutU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void TellFailed(const std::string& why) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(HandlersMutex());
        handler = photoFailed;
    }
    if (handler) handler(why);
}

void TellStored(const std::string& path) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(HandlersMutex());
        handler = photoStored;
    }
    if (handler) handler(path);
}

// photoFolder + "/YYYYmmdd HHMMSS", from local time read once.
std::string PhotoStem(const std::string& folder) { return folder + "/" + TimestampName(std::time(nullptr)); }

// One photo at a time, written in the order taken.
class PhotoWriter {
public:
    ~PhotoWriter() {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        wake.notify_all();
        if (thread.joinable()) thread.join();
    }
    void Submit(std::function<void()> job) {
        std::lock_guard lock(mutex);
        if (!thread.joinable()) thread = std::thread([this] { Work(); });
        jobs.push_back(std::move(job));
        wake.notify_all();
    }
    void WaitUntilIdle() {
        std::unique_lock lock(mutex);
        if (thread.get_id() == std::this_thread::get_id()) return;  // from a handler
        idle.wait(lock, [this] { return jobs.empty() && !busy; });
    }

private:
    void Work() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || !jobs.empty(); });
            if (jobs.empty()) return;  // quit, with nothing left to write
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            busy = true;
            lock.unlock();
            job();
            lock.lock();
            busy = false;
            idle.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<std::function<void()>> jobs;
    bool busy = false;
    bool quit = false;
    std::thread thread;
};

// Made at the first photo, so it goes before the settings it reads.
PhotoWriter& Writer() {
    static PhotoWriter writer;
    return writer;
}

}  // namespace

CGrabberCallback::CGrabberCallback() {
    std::memset(tempBitmapPath, 0, sizeof tempBitmapPath);
    std::strcpy(tempBitmapPath, "temp.bmp");
}

HRESULT CGrabberCallback::SampleCB(double, void*) { return S_OK; }

HRESULT CGrabberCallback::BufferCB(double time, uint8_t* buffer, int32_t length) {
    return SizedBufferCB(time, buffer, length, frameWidth.load(), frameHeight.load());
}

HRESULT CGrabberCallback::SizedBufferCB(double, uint8_t* buffer, int32_t length, int32_t width, int32_t height) {
    if (snapshotArmed.load() == 0) return S_OK;
    if (!buffer) return E_POINTER;  // the flag stays raised: the next frame is taken
    if (photoBeingWritten.exchange(true)) return S_OK;  // this photo's frame is taken already
    auto frame = std::make_shared<std::vector<uint8_t>>(buffer, buffer + std::max<int32_t>(length, 0));
    Writer().Submit([this, frame, width, height] {
        WritePhoto(frame->data(), static_cast<int32_t>(frame->size()), width, height);
        // One photo taken of those asked for: a press while it was written
        // is the next frame's, under a name of its own ("-2" in one second).
        int armed = snapshotArmed.load();
        while (armed > 0 && !snapshotArmed.compare_exchange_weak(armed, armed - 1)) {
        }
        photoBeingWritten.store(false);
    });
    return S_OK;
}

void CGrabberCallback::SetJpegConverter(std::function<bool()> converter) {
    std::lock_guard lock(HandlersMutex());
    jpegConverter = std::move(converter);
}

void CGrabberCallback::SetPhotoHandlers(std::function<void(const std::string&)> onFailed,
                                        std::function<void(const std::string&)> onStored) {
    Writer().WaitUntilIdle();
    std::lock_guard lock(HandlersMutex());
    photoFailed = std::move(onFailed);
    photoStored = std::move(onStored);
}

int CGrabberCallback::WriteSnapshot(const uint8_t* frame, int32_t length) {
    WritePhoto(frame, length, frameWidth.load(), frameHeight.load());
    return 0;
}

// The frame's size is read when it is taken: a build in between may change it.
void CGrabberCallback::WritePhoto(const uint8_t* frame, int32_t length, int32_t width, int32_t height) {
    if (!frame || length < 0) return;

    uint8_t fileHeader[14] = {'B', 'M'};
    PutU32(fileHeader + 2, static_cast<uint32_t>(length) + 54);
    PutU32(fileHeader + 10, 54);
    uint8_t infoHeader[40] = {};
    PutU32(infoHeader + 0, 40);
    PutU32(infoHeader + 4, static_cast<uint32_t>(width));
    PutU32(infoHeader + 8, static_cast<uint32_t>(height));
    PutU16(infoHeader + 12, 1);
    PutU16(infoHeader + 14, 24);

    // The temporary files live in the start directory itself, whatever the
    // current directory is now.
    const std::string bitmapPath = appDirectory + "/" + tempBitmapPath;
    const std::string jpegPath = appDirectory + "/temp.jpg";
    const WriteBlock blocks[] = {{fileHeader, sizeof fileHeader}, {infoHeader, sizeof infoHeader},
                                 {frame, static_cast<std::size_t>(length)}};
    // Through a fresh temporary renamed over the name: a link planted at
    // "temp.bmp" in a shared start folder is replaced, not written through.
    FileError error;
    if (!WriteFileAtomically(bitmapPath, blocks, 3, AtomicWriteOptions{}, &error)) {
        TellFailed("照片未保存：" + error.Text());
        return;
    }

    std::string folder;
    int32_t format;
    {
        std::lock_guard lock(SettingsMutex());
        folder = UsablePhotoFolder(settings);
        format = settings.photoFormat;
    }
    const std::string stem = PhotoStem(folder);

    std::string source = bitmapPath, extension = ".bmp";
    if (format != 0) {
        std::function<bool()> converter;
        {
            std::lock_guard lock(HandlersMutex());
            converter = jpegConverter;
        }
        // A stale temp.jpg of an earlier photo must never be stored under this name.
        ::unlink(jpegPath.c_str());
        bool converted;
        std::string why;
        if (converter) {
            converted = converter();
        } else {
            // Straight from the grabbed pixels: the same picture as temp.bmp.
            const int32_t stride = (width * 3 + 3) & ~3;
            converted = height > 0 && static_cast<int64_t>(stride) * height <= length &&
                        EncodeBitmapPixelsToJpeg(frame, width, height, stride, true, jpegPath, &why);
        }
        struct stat jpegStatus {};
        if (converted && ::lstat(jpegPath.c_str(), &jpegStatus) == 0 && S_ISREG(jpegStatus.st_mode)) {
            source = jpegPath;
            extension = ".jpg";
        } else {
            TellFailed("JPEG 转换失败，照片已存为位图" + (why.empty() ? std::string() : "（" + why + "）"));
        }
    }

    std::string stored;
    if (!CopyToNewFile(source, stem, extension, &stored, &error)) {
        TellFailed("照片未保存：" + error.Text());
        return;
    }
    TellStored(stored);
}
