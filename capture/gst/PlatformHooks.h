#pragma once
// What the platform's objects share with the application: the hook run
// while the UI thread waits for a device, and the handler told of devices
// plugged in or out. Either may be set or cleared at any time.

#include <functional>
#include <mutex>
#include <utility>

namespace lumora::gst {

class PlatformHooks {
public:
    void SetWaitHook(std::function<void()> hook) {
        std::lock_guard lock(mutex);
        waitHook = std::move(hook);
    }
    // The waiting thread (the UI thread).
    void RunWaitHook() {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex);
            hook = waitHook;
        }
        if (hook) hook();
    }
    void SetDeviceChangeHandler(std::function<void()> handler) {
        std::lock_guard lock(mutex);
        deviceChangeHandler = std::move(handler);
    }
    // Any thread.
    void NotifyDeviceChange() {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex);
            handler = deviceChangeHandler;
        }
        if (handler) handler();
    }

private:
    std::mutex mutex;
    std::function<void()> waitHook;
    std::function<void()> deviceChangeHandler;
};

}  // namespace lumora::gst
