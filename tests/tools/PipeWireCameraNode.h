// A camera published through PipeWire as a webcam's node is: a Video/Source
// node that drives its own graph, one YUY2 picture per tick of its own
// timer, in buffers PipeWire allocates and shares with each client.
//
// gst-launch's pipewiresink served as the test camera before: it follows
// another driver, and when a client connects while it is between paused and
// streaming it can lose the buffers it released meanwhile and wait for them
// for good, so that the client sees one picture and then nothing.

#pragma once

#include <pipewire/pipewire.h>

#include <cstdint>
#include <functional>
#include <string>

class PipeWireCameraNode {
public:
    // Fills one picture (YUY2, `stride` bytes a row); `frame` counts from 0.
    using Draw = std::function<void(uint8_t* pixels, int stride, uint64_t frame)>;

    // The node lives on `loop`; with a thread loop, call under its lock.
    PipeWireCameraNode(pw_loop* loop, const std::string& name, int width, int height, int fps, Draw draw);
    ~PipeWireCameraNode();
    PipeWireCameraNode(const PipeWireCameraNode&) = delete;
    PipeWireCameraNode& operator=(const PipeWireCameraNode&) = delete;

    // Ticks fall on `origin` + k/fps of CLOCK_MONOTONIC from then on, so
    // that the pictures' instants are known to whoever draws them.
    void SetTickOrigin(uint64_t origin) { tickOrigin = origin; }

    bool Published() const { return published; }

private:
    static void OnProcess(void* self);
    static void OnTick(void* self, uint64_t expirations);
    static void OnStateChanged(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void OnParamChanged(void* self, uint32_t id, const spa_pod* param);

    pw_loop* loop;
    int width, height, fps;
    Draw draw;
    pw_stream* stream = nullptr;
    spa_source* timer = nullptr;
    uint64_t frame = 0;
    uint64_t tickOrigin = 0;  // 0: wherever streaming starts
    bool published = false;
};

// "WIDTHxHEIGHT" with an even width (YUY2 packs two pixels in four bytes).
bool ParsePictureSize(const char* text, int& width, int& height);
