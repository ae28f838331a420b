#pragma once
// The sample grabber's callback contract: the running graph calls BufferCB on
// its streaming thread for every frame that passes the grabber.

#include <cstdint>

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline bool FAILED(HRESULT hr) { return hr < 0; }
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

class ISampleGrabberCB {
public:
    virtual ~ISampleGrabberCB() = default;
    // Not used: the session selects the buffer callback.
    virtual HRESULT SampleCB(double sampleTime, void* sample) = 0;
    // `buffer` holds the frame as a 24-bit bitmap pixel array: blue-green-red,
    // rows bottom-up, each row filled to a multiple of 4 bytes. Valid only
    // during the call.
    virtual HRESULT BufferCB(double sampleTime, uint8_t* buffer, int32_t length) = 0;
    // BufferCB with the frame's own size, from a grabber that knows it: a
    // frame of another size than the one connected (the picture was just
    // turned) is then stored with its own.
    virtual HRESULT SizedBufferCB(double sampleTime, uint8_t* buffer, int32_t length, int32_t width, int32_t height) {
        (void)width;
        (void)height;
        return BufferCB(sampleTime, buffer, length);
    }
    // Whether BufferCB would do anything with the next frame. A grabber may
    // skip laying out (and handing on) a frame that nobody wants.
    virtual bool WantsBuffer() { return true; }
};
