#pragma once
// The fake owner with a native window the platform's video sink may draw
// into, as the view's on X11.

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "tests/engine/FakePlatform.h"

class NativeOwner : public FakeOwner {
public:
    uint64_t NativeWindowId() override { return window; }
    void SetNativeHandlers(std::function<void()> redrawHandler, std::function<VideoFrame()> latest) override {
        redraw = std::move(redrawHandler);
        latestDrawn = std::move(latest);
    }
    void FrameDrawn() override { drawn.fetch_add(1); }

    uint64_t window = 0;
    std::function<void()> redraw;
    std::function<VideoFrame()> latestDrawn;
    std::atomic<int> drawn{0};
};
