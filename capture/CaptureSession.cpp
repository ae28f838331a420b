// The capture session: building the capture graph, running it and the video
// window. Its recordings are in CaptureSessionRecording.cpp, the pictures
// turned and mirrored in CaptureSessionPicture.cpp, its device
// catalogue in DeviceCatalogue.cpp, its event handling in
// CaptureSessionEvents.cpp.

#include "capture/CaptureSession.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "capture/CapturePlatform.h"
#include "capture/VideoModes.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"

int32_t videoWidth = 0;
int32_t videoHeight = 0;

CCaptureSession::BusyScope::~BusyScope() {
    if (--session.busyDepth > 0) return;
    std::function<void()> notify;
    {
        std::lock_guard lock(session.eventMutex);
        if (!session.pendingFailures.empty()) notify = session.eventNotifier;
    }
    if (notify) notify();
}

CCaptureSession::CCaptureSession(std::unique_ptr<ICapturePlatform> platformToUse)
    : platform(std::move(platformToUse)) {
    ownerWindow = nullptr;
    videoWindow = nullptr;
    mediaControl = nullptr;
    graphBuilder.reset();
    captureBuilder.reset();
    sampleGrabber.reset();
}

CCaptureSession::~CCaptureSession() { TearDown(); }

void CCaptureSession::UsePlatform(std::unique_ptr<ICapturePlatform> newPlatform) {
    TearDown();
    if (platform) {
        platform->SetWaitHook(nullptr);
        platform->SetDeviceChangeHandler(nullptr);
    }
    platform = std::move(newPlatform);
    if (platform) {
        platform->SetWaitHook(waitHook);
        platform->SetDeviceChangeHandler(deviceChangeHandler);
    }
}

void CCaptureSession::SetWaitHook(std::function<void()> hook) {
    waitHook = std::move(hook);
    if (platform) platform->SetWaitHook(waitHook);
}

void CCaptureSession::SetDeviceChangeHandler(std::function<void()> handler) {
    deviceChangeHandler = std::move(handler);
    if (platform) platform->SetDeviceChangeHandler(deviceChangeHandler);
}

void CCaptureSession::TearDown() {
    BusyScope busy(*this);
    ReleaseGraph();
    videoCaptureFilter.reset();
    audioCaptureFilter.reset();
    videoCompressorFilter.reset();
    audioCompressorFilter.reset();
    deviceEnumerator.reset();
}

void CCaptureSession::ShowMessage(const std::string& message) {
    if (messageHandler)
        messageHandler(message);
    else
        std::cerr << message << '\n';
}

HRESULT CCaptureSession::Fail(const std::string& message, HRESULT status) {
    ShowMessage(message);
    return FAILED(status) ? status : E_FAIL;
}

// The message of a failed step, with the platform's reason on a line of
// its own: which camera did not start, say.
std::string CCaptureSession::WithReason(const std::string& message) {
    const std::string reason = graphBuilder ? graphBuilder->LastFailureReason() : std::string();
    return reason.empty() ? message : message + "\n" + reason;
}

// ---------------------------------------------------------------- the graph

HRESULT CCaptureSession::CreateGraph() {
    if (!platform) return E_FAIL;
    std::unique_ptr<IGraphBuilder> graph;
    HRESULT hr = platform->CreateFilterGraph(graph);
    std::unique_ptr<ICaptureGraphBuilder2> builder;
    HRESULT hrBuilder = platform->CreateCaptureGraphBuilder(builder);
    if (FAILED(hr) || !graph) return FAILED(hr) ? hr : E_FAIL;
    if (FAILED(hrBuilder) || !builder) return FAILED(hrBuilder) ? hrBuilder : E_FAIL;
    graphBuilder = std::move(graph);
    captureBuilder = std::move(builder);

    captureBuilder->SetFiltergraph(graphBuilder.get());
    WatchGraphErrors();
    soundLevels->Clear();
    graphBuilder->SetSoundLevelHandler([levels = soundLevels](const SoundLevel& level) { levels->Put(level); });

    mediaControl = graphBuilder->QueryMediaControl();
    if (!mediaControl) return E_NOINTERFACE;
    videoWindow = graphBuilder->QueryVideoWindow();
    return videoWindow ? S_OK : E_NOINTERFACE;
}

// Stops and releases the graph of an earlier build, finishing its recording,
// and takes its video window out of the owner.
void CCaptureSession::ReleaseGraph() {
    if (captureBuilder && captureBuilder->HasRecording()) {
        std::string error;
        if (!EndRecording(error)) ShowMessage("录相未能结束：" + error);
    }
    if (mediaControl) mediaControl->Stop();
    if (videoWindow) {
        videoWindow->PutVisible(false);
        videoWindow->PutOwner(nullptr);
    }
    {
        std::lock_guard lock(eventMutex);
        ++graphGeneration;  // whatever the old graph still reports is stale
        pendingFailures.clear();
    }
    mediaControl = nullptr;
    videoWindow = nullptr;
    graphState = CaptureState::Graph::None;
    currentCameraIdentity.clear();
    captureBuilder.reset();
    graphBuilder.reset();
    sampleGrabber.reset();
    ownerWindow = nullptr;
}

HRESULT CCaptureSession::BuildGraph(int32_t videoDevice, int32_t videoCompressor,
                                    int32_t audioCompressor, IOwnerWindow* owner) {
    BusyScope busy(*this);
    // A new build starts from new objects; the graph of an earlier build is
    // stopped and released first so that it leaves nothing running.
    ReleaseGraph();
    currentVideoMode.reset();
    rotation = captureChoice.rotation;
    mirrored = captureChoice.mirrored;

    HRESULT hr = CreateGraph();
    if (FAILED(hr)) return Fail("Failed to get video interfaces!", hr);

    videoCaptureFilter.reset();
    // The chosen camera by its identity where known: cameras may have come or
    // gone since the choice, and entry `videoDevice` be another one now.
    const std::string& cameraPath = captureChoice.videoDevicePath;
    if (cameraPath.empty()) {
        BindVideoDevice(videoDevice, videoCaptureFilter);
    } else if (!BindVideoDeviceByPath(cameraPath, videoCaptureFilter)) {
        const std::string& camera = captureChoice.videoDeviceName.empty() ? cameraPath : captureChoice.videoDeviceName;
        return Fail("无法使用所选的视频设备！\n摄像头“" + camera + "”已不再连接。",
                    E_FAIL);
    }
    if (!videoCaptureFilter) return Fail("无法使用所选的视频设备！", E_FAIL);
    currentCameraIdentity = cameraPath;  // the profile keeps its settings by it
    if (currentCameraIdentity.empty()) ReadVideoDevicePath(videoDevice, currentCameraIdentity);
    ChooseVideoMode();
    graphBuilder->AddFilter(videoCaptureFilter, "Capture Filter");

    videoCompressorFilter.reset();
    if (videoCompressor >= 0) {
        if (!BindVideoCompressor(videoCompressor, videoCompressorFilter) || !videoCompressorFilter)
            return Fail("无法使用所选的视频压缩器！", E_FAIL);
        graphBuilder->AddFilter(videoCompressorFilter, "Compressor");
    }
    audioCompressorFilter.reset();
    if (audioCompressor >= 0) {
        if (!BindAudioCompressor(audioCompressor, audioCompressorFilter) || !audioCompressorFilter)
            return Fail("无法使用所选的音频压缩器！", E_FAIL);
        graphBuilder->AddFilter(audioCompressorFilter, "Filter 2");
    }

    hr = platform->CreateSampleGrabber(sampleGrabber);
    if (!sampleGrabber)
        return Fail("Fail to create SampleGrabber, maybe qedit.dll is not registered?", hr);
    FilterPtr grabberFilter = sampleGrabber;

    hr = sampleGrabber->SetMediaTypeRGB24();
    if (FAILED(hr)) return Fail("Fail to set media type!", hr);

    hr = graphBuilder->AddFilter(grabberFilter, "Grabber");
    if (FAILED(hr)) return Fail("Fail to put sample grabber in graph", hr);

    // The chosen audio input (the system's default unless another was
    // chosen). Without one the preview and the recording go on without sound.
    BindAudioInput();
    if (audioCaptureFilter) {
        hr = graphBuilder->AddFilter(audioCaptureFilter, "audio Capture");
        if (FAILED(hr)) return Fail(WithReason("无法使用所选的声音输入！"), hr);
    }

    // Turned as the pipeline is built: the connected size is the turned one.
    if (FAILED(graphBuilder->SetRotation(rotation))) rotation = 0;

    hr = captureBuilder->RenderStream(PinCategory::Preview, MediaType::Video, videoCaptureFilter,
                                      grabberFilter, nullptr);
    if (FAILED(hr)) return Fail(WithReason("Can't build the graph"), hr);

    ConnectedVideoFormat format;
    hr = sampleGrabber->GetConnectedMediaType(format);
    if (FAILED(hr)) return Fail(WithReason("Failt to read the connected media type"), hr);
    videoWidth = format.width;
    videoHeight = format.height;
    grabberCallback.frameWidth.store(format.width);
    grabberCallback.frameHeight.store(format.height);

    sampleGrabber->SetBufferSamples(false);
    sampleGrabber->SetOneShot(false);
    sampleGrabber->SetCallback(&grabberCallback, 1);

    ownerWindow = owner;
    SetupVideoWindow();

    hr = mediaControl->Run();
    if (FAILED(hr)) return Fail(WithReason("Couldn't run the graph!"), hr);
    graphState = CaptureState::Graph::Running;
    return S_OK;
}

void CCaptureSession::SetupVideoWindow() {
    if (!videoWindow) return;
    if (FAILED(videoWindow->PutOwner(ownerWindow))) return;
    if (FAILED(videoWindow->PutMirrored(mirrored))) mirrored = false;
    FitVideoWindow();
    videoWindow->PutVisible(true);
}

void CCaptureSession::FitVideoWindow() {
    if (!videoWindow || !ownerWindow) return;
    const WindowRect client = ownerWindow->ClientRect();
    const WindowRect source{0, 0, grabberCallback.frameWidth.load(), grabberCallback.frameHeight.load()};
    const WindowRect placed = LetterboxRect(source, client);
    videoWindow->SetWindowPosition(placed.left, placed.top, placed.Width(), placed.Height());
}

WindowRect CCaptureSession::LetterboxRect(const WindowRect& source, const WindowRect& target) {
    const int32_t tw = target.right - target.left;
    const int32_t th = target.bottom - target.top;
    const int32_t sw = source.right - source.left;
    const int32_t sh = source.bottom - source.top;
    // A source without a size has no aspect ratio to keep: fill the target.
    if (sw <= 0 || sh <= 0 || tw <= 0 || th <= 0) return WindowRect{0, 0, std::max(tw, 0), std::max(th, 0)};

    const double ratio = static_cast<double>(sw) / static_cast<double>(sh);
    // Compared as doubles so that a very wide source cannot overflow the int.
    const double fullHeightWidth = std::trunc(th * ratio);
    int32_t w, h;
    if (fullHeightWidth > tw) {
        w = tw;
        h = static_cast<int32_t>(std::trunc(tw / ratio));
    } else {
        w = static_cast<int32_t>(fullHeightWidth);
        h = th;
    }
    const int32_t x = (tw - w) / 2;
    const int32_t y = (th - h) / 2;
    return WindowRect{x, y, x + w, y + h};
}

HRESULT CCaptureSession::Run() {
    BusyScope busy(*this);
    if (!mediaControl) return S_OK;
    const HRESULT hr = mediaControl->Run();
    if (FAILED(hr)) {
        // A camera unplugged while stopped, say: the user learns which.
        graphState = CaptureState::Graph::Stopped;
        return Fail(WithReason("Couldn't run the graph!"), hr);
    }
    graphState = CaptureState::Graph::Running;
    return hr;
}

HRESULT CCaptureSession::Pause() {
    BusyScope busy(*this);
    if (!mediaControl) return S_OK;
    const HRESULT hr = mediaControl->Pause();
    if (SUCCEEDED(hr)) {
        graphState = CaptureState::Graph::Paused;
        return hr;
    }
    // A pipeline that could not pause (its camera hung) is given up: nothing
    // runs now, and a take under way keeps what reached its file.
    graphState = CaptureState::Graph::Stopped;
    const std::string message = WithReason("视频无法暂停。");  // before the take's end can change the reason
    return Fail(message + EndTakeForMessage(), hr);
}

HRESULT CCaptureSession::Stop() {
    BusyScope busy(*this);
    if (!mediaControl) return S_OK;
    // Stop ends the recording: the file gets its index and the branch leaves
    // the graph, so a later Start video previews without touching the file.
    if (captureBuilder && captureBuilder->HasRecording()) {
        std::string error;
        if (!EndRecording(error)) ShowMessage("录相未能正常结束：" + error);
    }
    graphState = CaptureState::Graph::Stopped;
    return mediaControl->Stop();
}

void CCaptureSession::ArmSnapshot(int value) { snapshotArmed.store(value); }

CCaptureSession& TheCaptureSession() {
    static CCaptureSession session;
    return session;
}
