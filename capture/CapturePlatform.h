#pragma once
// What the capture session needs from the media platform: a device
// enumerator with one class enumerator per category, filters bound from its
// entries, a filter graph with media control and a video window, a capture
// graph builder that renders streams into it, and a sample grabber.
//
// The session talks only to these interfaces, so the engine can run on
// GStreamer (capture/gst/), on a fake in tests, or on another platform.
// Statuses are HRESULT-like (base/SampleGrabber.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/RecordingContainer.h"
#include "base/SampleGrabber.h"
#include "capture/CameraControls.h"
#include "capture/VideoWindow.h"

enum class DeviceCategory {
    VideoInputDevice,
    VideoCompressor,
    AudioCompressor,
    AudioInputDevice,
};

// One picture mode a camera offers: size, frame rate and the form of its
// frames ("MJPEG" for JPEG frames, else the raw layout: "YUY2", "NV12"...).
struct VideoMode {
    int32_t width = 0;
    int32_t height = 0;
    int32_t rateNumerator = 0;  // frames per second, as a fraction
    int32_t rateDenominator = 1;
    std::string format;

    double FramesPerSecond() const {
        return rateDenominator > 0 ? static_cast<double>(rateNumerator) / rateDenominator : 0.0;
    }
    bool IsMjpeg() const { return format == "MJPEG"; }
    bool operator==(const VideoMode&) const = default;
};

// The stream configuration of a video input device: the modes it offers,
// and the one it is to run in.
class IAMStreamConfig {
public:
    virtual ~IAMStreamConfig() = default;
    // The offered modes, without repeats, in the platform's order.
    virtual HRESULT GetModes(std::vector<VideoMode>& modes) = 0;
    // From the next build of a graph on; the mode must be one of GetModes.
    virtual HRESULT SetFormat(const VideoMode& mode) = 0;
};

// A filter bound from a catalogue entry (or made by the platform). Only the
// platform that made it knows what it holds.
class IBaseFilter {
public:
    virtual ~IBaseFilter() = default;
    // Video input devices answer with their stream configuration.
    virtual IAMStreamConfig* QueryStreamConfig() { return nullptr; }
};
using FilterPtr = std::shared_ptr<IBaseFilter>;

// One entry of a class enumerator.
class IMoniker {
public:
    virtual ~IMoniker() = default;
    // Opens the entry's properties and reads its display name (UTF-8).
    // A failure means the entry has no readable name.
    virtual HRESULT ReadFriendlyName(std::string& name) = 0;
    // A stable identity of a device, the same each time it is listed (also
    // after it was plugged out and in again where the system can tell).
    // Compressors have none.
    virtual HRESULT ReadDevicePath(std::string& path) {
        path.clear();
        return E_NOTIMPL;
    }
    virtual HRESULT BindToObject(FilterPtr& filter) = 0;
};

class IEnumMoniker {
public:
    virtual ~IEnumMoniker() = default;
    virtual void Reset() = 0;
    // S_OK with the next entry, S_FALSE when none is left.
    virtual HRESULT Next(std::unique_ptr<IMoniker>& entry) = 0;
};

class ICreateDevEnum {
public:
    virtual ~ICreateDevEnum() = default;
    // S_OK with an enumerator; S_FALSE without one for an empty category.
    virtual HRESULT CreateClassEnumerator(DeviceCategory category,
                                          std::unique_ptr<IEnumMoniker>& enumerator) = 0;
};

// The size of the video format connected to the grabber.
struct ConnectedVideoFormat {
    int32_t width = 0;
    int32_t height = 0;
};

// Takes every frame of the preview stream as a 24-bit bitmap pixel array
// (blue-green-red, rows bottom-up, rows filled to multiples of 4 bytes) and
// hands it to the callback, then to the graph's video window.
class ISampleGrabber : public IBaseFilter {
public:
    virtual HRESULT SetMediaTypeRGB24() = 0;
    // Waits (bounded) for the format to be negotiated when it is not yet.
    virtual HRESULT GetConnectedMediaType(ConnectedVideoFormat& format) = 0;
    virtual HRESULT SetBufferSamples(bool buffer) = 0;
    virtual HRESULT SetOneShot(bool oneShot) = 0;
    // selector 1: BufferCB for every frame. The callback must outlive the graph.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, int selector) = 0;
};

class IMediaControl {
public:
    virtual ~IMediaControl() = default;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
};

// The graph's video window: frames of the grabber shown in a child of the owner.
class IGraphVideoWindow {
public:
    virtual ~IGraphVideoWindow() = default;
    // Attaches a child window of `owner` (nullptr detaches the current one).
    virtual HRESULT PutOwner(IOwnerWindow* owner) = 0;
    virtual HRESULT PutVisible(bool visible) = 0;
    virtual HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
    // The preview shown mirrored left to right, as a self-view; photos and
    // recordings stay as the camera sees.
    virtual HRESULT PutMirrored(bool mirrored) { return mirrored ? E_NOTIMPL : S_OK; }
};

// A failure of the running graph. `recordingOnly`: it came from the
// recording branch (the file writer, a compressor, the audio input), so the
// preview can go on without it.
struct GraphError {
    std::string reason;
    bool recordingOnly = false;
    // Nothing stopped: a note for the user (a sound input that stalls, say).
    bool noticeOnly = false;
    // With recordingOnly: the recording's disk is full. Mostly the room for
    // the file's index is still there (RecordingRoom.h) and the take is
    // ended as Stop ends it; a write that failed first leaves the repair.
    bool diskFull = false;
};

// What a recording has written so far: the time span of the pictures that
// reached the multiplexer, and the bytes that reached the file.
struct RecordingProgress {
    double seconds = 0;
    uint64_t bytes = 0;
};

// One reading of a sound input's level: the loudest channel's peak and RMS
// over the last tenth of a second, in dB of full scale (0 = the loudest).
constexpr double kSilentDecibels = -100.0;  // silence reads this, not minus infinity
struct SoundLevel {
    double peakDb = kSilentDecibels;
    double rmsDb = kSilentDecibels;
};

// Measures a sound input from its creation until it is destroyed.
class ISoundMeter {
public:
    virtual ~ISoundMeter() = default;
};

class IGraphBuilder {
public:
    virtual ~IGraphBuilder() = default;
    virtual HRESULT AddFilter(const FilterPtr& filter, const std::string& name) = 0;
    virtual IMediaControl* QueryMediaControl() = 0;
    virtual IGraphVideoWindow* QueryVideoWindow() = 0;
    // Called on a streaming thread when the running graph fails (a device that
    // stops working or goes away, a write that fails), once for each run: what
    // follows from the first failure is not reported again. The receiver
    // stops the graph from the UI thread.
    virtual void SetErrorHandler(std::function<void(const GraphError&)> handler) = 0;
    // Why the latest build, run or state change failed, naming the device
    // where one was at fault ("" when the platform cannot tell).
    virtual std::string LastFailureReason() { return {}; }
    // The settings of the camera rendered into the graph, once its stream
    // is built (nullptr before, or on a platform without any); owned by
    // the graph.
    virtual ICameraControls* QueryCameraControls() { return nullptr; }
    // Called on a streaming thread about ten times a second with the level
    // of the graph's sound input while it runs (previewing or recording).
    virtual void SetSoundLevelHandler(std::function<void(const SoundLevel&)> handler) { (void)handler; }
    // The camera's pictures turned clockwise by `degrees` (0, 90, 180 or
    // 270) for the preview, photos and recordings alike, from now on (a
    // camera mounted upside down or on its side); at 90 and 270 their width
    // and height swap. Refused (E_FAIL) while a recording is rendered: its
    // file keeps the size it started with.
    virtual HRESULT SetRotation(int32_t degrees) { return degrees == 0 ? S_OK : E_NOTIMPL; }
};

enum class PinCategory { Preview, Capture };
enum class MediaType { Video, Audio };

class ICaptureGraphBuilder2 {
public:
    virtual ~ICaptureGraphBuilder2() = default;
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    // Preview: source through the grabber (intermediate) to a renderer.
    // Capture: source through the compressor (intermediate, may be null) into
    // the multiplexer made by SetOutputFileName (sink).
    virtual HRESULT RenderStream(PinCategory category, MediaType type, const FilterPtr& source,
                                 const FilterPtr& intermediate, const FilterPtr& sink) = 0;
    // A multiplexer of the container `type` writing to `path`, put into
    // the graph.
    virtual HRESULT SetOutputFileName(MediaSubtype type, const std::string& path, FilterPtr& multiplexer) = 0;
    // Whether a file of `type` holds the pictures of `videoCompressor`
    // (null: uncompressed) and, `withSound`, the sound of `audioCompressor`
    // (null: uncompressed). false with `reason`, naming what it cannot
    // hold and what to choose instead. Asked before anything is written.
    virtual bool CheckOutputType(MediaSubtype type, const FilterPtr& videoCompressor, bool withSound,
                                 const FilterPtr& audioCompressor, std::string& reason) {
        (void)type, (void)videoCompressor, (void)withSound, (void)audioCompressor, (void)reason;
        return true;
    }

    // The recording branch. Starting checks what can be checked at once and
    // reports a reason; finishing ends the file properly (index written) and
    // takes the branch out of the graph, so the next Run previews only.
    virtual HRESULT ConfirmRecordingStarted(std::string& error) = 0;
    virtual HRESULT FinishRecording(std::string& error) = 0;
    virtual bool HasRecording() const = 0;
    // false when no recording branch is in the graph.
    virtual bool GetRecordingProgress(RecordingProgress& progress) const = 0;
};

class ICapturePlatform {
public:
    virtual ~ICapturePlatform() = default;
    virtual HRESULT CreateDeviceEnumerator(std::unique_ptr<ICreateDevEnum>& enumerator) = 0;
    virtual HRESULT CreateFilterGraph(std::unique_ptr<IGraphBuilder>& graph) = 0;
    virtual HRESULT CreateCaptureGraphBuilder(std::unique_ptr<ICaptureGraphBuilder2>& builder) = 0;
    virtual HRESULT CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) = 0;

    // Called on the waiting (UI) thread every few tens of milliseconds
    // while an operation waits for a device (a camera starting, say), so
    // the window keeps painting. No operation waits on a device unbounded.
    virtual void SetWaitHook(std::function<void()> hook) = 0;
    // Called from any thread when a capture device is plugged in or out.
    virtual void SetDeviceChangeHandler(std::function<void()> handler) = 0;
    // A meter of the sound input `source` on its own, apart from any graph
    // (the device dialog's); `handler` is called on a streaming thread,
    // never after the meter is destroyed.
    virtual HRESULT CreateSoundMeter(const FilterPtr& source, std::function<void(const SoundLevel&)> handler,
                                     std::unique_ptr<ISoundMeter>& meter) {
        (void)source;
        (void)handler;
        meter.reset();
        return E_NOTIMPL;
    }
};
