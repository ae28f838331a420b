#pragma once
// What the platform's objects share with the application: the hook run
// while the UI thread waits for a device, and the handler told of devices
// plugged in or out. Either may be set or cleared at any time.

#include <functional>
#include <mutex>
#include <utility>

#include "capture/VideoWindow.h"

namespace lumora::gst {

// A callback set on one thread and called on another.
class SharedCallback {
public:
    void Set(std::function<void()> callback) {
        std::lock_guard lock(mutex);
        current = std::move(callback);
    }
    // Called without the lock held, so the callback may set it again.
    void operator()() {
        std::function<void()> callback;
        {
            std::lock_guard lock(mutex);
            callback = current;
        }
        if (callback) callback();
    }

private:
    std::mutex mutex;
    std::function<void()> current;
};

struct PlatformHooks {
    SharedCallback waitHook;      // the waiting (UI) thread
    SharedCallback deviceChange;  // any thread
    // Set once when the platform is made: the video windows can be native
    // windows that the platform's own sink draws into.
    NativeVideoWindows nativeWindows;
};

}  // namespace lumora::gst
