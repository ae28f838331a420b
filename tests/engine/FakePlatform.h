#pragma once
// A scripted capture platform: catalogue entries with or without readable
// names, and a graph that records what the session asks of it and fails
// where a test tells it to.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CapturePlatform.h"

struct FakeEntry {
    FakeEntry(std::string n, bool r = true, std::string p = "", std::vector<VideoMode> m = {})
        : name(std::move(n)), readable(r), path(std::move(p)), modes(std::move(m)) {}
    std::string name;
    bool readable = true;
    std::string path;               // the device's identity ("" = none)
    std::vector<VideoMode> modes;   // a camera's modes (none: no stream configuration)
};

struct FakeFilter : IBaseFilter, IAMStreamConfig {
    explicit FakeFilter(std::string n, std::vector<VideoMode> m = {}, std::vector<VideoMode>* set = nullptr)
        : name(std::move(n)), modes(std::move(m)), formatsSet(set) {}
    IAMStreamConfig* QueryStreamConfig() override { return modes.empty() ? nullptr : this; }
    HRESULT GetModes(std::vector<VideoMode>& out) override {
        out = modes;
        return S_OK;
    }
    HRESULT SetFormat(const VideoMode& mode) override {
        if (formatsSet) formatsSet->push_back(mode);
        return S_OK;
    }
    std::string name;
    std::vector<VideoMode> modes;
    std::vector<VideoMode>* formatsSet;
};

// Everything a fake graph did, shared with the test that made the platform.
struct FakeScript {
    std::map<DeviceCategory, std::vector<FakeEntry>> entries;
    bool enumeratorFails = false;
    bool createGraphFails = false;
    bool grabberCreateFails = false;
    bool setMediaTypeFails = false;
    bool addGrabberFails = false;
    bool addAudioInputFails = false;
    bool renderFails = false;
    bool connectedTypeFails = false;
    bool runFails = false;
    bool pauseFails = false;  // as a pipeline given up because its camera hung
    bool recordingFailsToStart = false;
    bool outputFails = false;         // the recording file's multiplexer cannot be made
    bool captureRenderFails = false;  // nor the recording's first branch
    bool recordingFailsToEnd = false;  // as a branch whose end never arrives
    ConnectedVideoFormat format{640, 480};
    std::shared_ptr<ICameraControls> cameraControls;  // what the built graph's camera offers

    std::vector<std::string> addedFilters;
    std::vector<std::string> calls;  // "Run", "Pause", "Stop", "Render Capture Video", ...
    std::function<void(const GraphError&)> errorHandler;
    bool recording = false;
    RecordingProgress progress;
    int finishedRecordings = 0;
    std::function<void()> waitHook;
    std::function<void()> deviceChangeHandler;
    std::vector<VideoMode> formatsSet;  // every SetFormat on a camera
};

class FakeMoniker : public IMoniker {
public:
    FakeMoniker(FakeEntry e, std::vector<VideoMode>* set) : entry(std::move(e)), formatsSet(set) {}
    HRESULT ReadFriendlyName(std::string& name) override {
        if (!entry.readable) return E_FAIL;
        name = entry.name;
        return S_OK;
    }
    HRESULT ReadDevicePath(std::string& path) override {
        path = entry.path;
        return entry.path.empty() ? E_NOTIMPL : S_OK;
    }
    HRESULT BindToObject(FilterPtr& filter) override {
        filter = std::make_shared<FakeFilter>(entry.name.empty() ? "<unnamed>" : entry.name, entry.modes, formatsSet);
        return S_OK;
    }

private:
    FakeEntry entry;
    std::vector<VideoMode>* formatsSet;
};

class FakeEnum : public IEnumMoniker {
public:
    FakeEnum(std::vector<FakeEntry> e, std::vector<VideoMode>* set) : entries(std::move(e)), formatsSet(set) {}
    void Reset() override { next = 0; }
    HRESULT Next(std::unique_ptr<IMoniker>& out) override {
        if (next >= entries.size()) return S_FALSE;
        out = std::make_unique<FakeMoniker>(entries[next++], formatsSet);
        return S_OK;
    }

private:
    std::vector<FakeEntry> entries;
    std::vector<VideoMode>* formatsSet;
    std::size_t next = 0;
};

class FakeDevEnum : public ICreateDevEnum {
public:
    explicit FakeDevEnum(std::shared_ptr<FakeScript> s) : script(std::move(s)) {}
    HRESULT CreateClassEnumerator(DeviceCategory category, std::unique_ptr<IEnumMoniker>& out) override {
        auto found = script->entries.find(category);
        if (found == script->entries.end() || found->second.empty()) return S_FALSE;
        out = std::make_unique<FakeEnum>(found->second, &script->formatsSet);
        return S_OK;
    }

private:
    std::shared_ptr<FakeScript> script;
};

class FakeGrabber : public ISampleGrabber {
public:
    explicit FakeGrabber(std::shared_ptr<FakeScript> s) : script(std::move(s)) {}
    HRESULT SetMediaTypeRGB24() override { return script->setMediaTypeFails ? E_FAIL : S_OK; }
    HRESULT GetConnectedMediaType(ConnectedVideoFormat& format) override {
        if (script->connectedTypeFails) return E_FAIL;
        format = script->format;
        return S_OK;
    }
    HRESULT SetBufferSamples(bool) override { return S_OK; }
    HRESULT SetOneShot(bool) override { return S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* cb, int) override {
        callback = cb;
        return S_OK;
    }
    ISampleGrabberCB* callback = nullptr;

private:
    std::shared_ptr<FakeScript> script;
};

class FakeGraph : public IGraphBuilder, public IMediaControl, public IGraphVideoWindow {
public:
    explicit FakeGraph(std::shared_ptr<FakeScript> s) : script(std::move(s)) {}
    HRESULT AddFilter(const FilterPtr& filter, const std::string& name) override {
        if (name == "Grabber" && script->addGrabberFails) return E_FAIL;
        if (name == "audio Capture" && script->addAudioInputFails) return E_FAIL;
        if (!filter) return E_POINTER;
        script->addedFilters.push_back(name);
        return S_OK;
    }
    IMediaControl* QueryMediaControl() override { return this; }
    IGraphVideoWindow* QueryVideoWindow() override { return this; }
    ICameraControls* QueryCameraControls() override { return script->cameraControls.get(); }
    void SetErrorHandler(std::function<void(const GraphError&)> handler) override {
        script->errorHandler = std::move(handler);
    }
    HRESULT Run() override {
        script->calls.push_back("Run");
        if (script->waitHook) script->waitHook();
        return script->runFails ? E_FAIL : S_OK;
    }
    HRESULT Pause() override {
        script->calls.push_back("Pause");
        return script->pauseFails ? E_FAIL : S_OK;
    }
    HRESULT Stop() override {
        script->calls.push_back("Stop");
        return S_OK;
    }
    HRESULT PutOwner(IOwnerWindow* newOwner) override {
        if (owner) owner->DetachVideoWindow();
        owner = newOwner;
        window = owner ? owner->AttachVideoWindow() : nullptr;
        return S_OK;
    }
    HRESULT PutVisible(bool visible) override {
        if (!window) return E_FAIL;
        window->SetVisible(visible);
        return S_OK;
    }
    HRESULT SetWindowPosition(int32_t l, int32_t t, int32_t w, int32_t h) override {
        if (!window) return E_FAIL;
        window->SetWindowPosition(l, t, w, h);
        return S_OK;
    }

private:
    std::shared_ptr<FakeScript> script;
    IOwnerWindow* owner = nullptr;
    IVideoWindow* window = nullptr;
};

class FakeCaptureBuilder : public ICaptureGraphBuilder2 {
public:
    explicit FakeCaptureBuilder(std::shared_ptr<FakeScript> s) : script(std::move(s)) {}
    HRESULT SetFiltergraph(IGraphBuilder*) override { return S_OK; }
    HRESULT RenderStream(PinCategory category, MediaType type, const FilterPtr&, const FilterPtr& intermediate,
                         const FilterPtr&) override {
        std::string call = std::string("Render ") + (category == PinCategory::Preview ? "Preview" : "Capture") +
                           (type == MediaType::Video ? " Video" : " Audio");
        if (auto named = std::dynamic_pointer_cast<FakeFilter>(intermediate)) call += " via " + named->name;
        script->calls.push_back(call);
        if (category == PinCategory::Preview && script->renderFails) return E_FAIL;
        if (category == PinCategory::Capture && script->captureRenderFails) return E_FAIL;
        if (category == PinCategory::Capture) script->recording = true;
        return S_OK;
    }
    HRESULT SetOutputFileName(MediaSubtype, const std::string& path, FilterPtr& mux) override {
        script->calls.push_back("Output " + path);
        if (script->outputFails) return E_FAIL;
        mux = std::make_shared<FakeFilter>("mux");
        return S_OK;
    }
    HRESULT ConfirmRecordingStarted(std::string& error) override {
        if (!script->recordingFailsToStart) return S_OK;
        error = "the compressor will not link";
        return E_FAIL;
    }
    HRESULT FinishRecording(std::string& error) override {
        if (!script->recording) return S_OK;
        script->recording = false;
        ++script->finishedRecordings;
        if (!script->recordingFailsToEnd) return S_OK;
        error = "录相没有及时结束，文件可能缺少索引";
        return E_FAIL;
    }
    bool HasRecording() const override { return script->recording; }
    bool GetRecordingProgress(RecordingProgress& progress) const override {
        if (!script->recording) return false;
        progress = script->progress;
        return true;
    }

private:
    std::shared_ptr<FakeScript> script;
};

class FakePlatform : public ICapturePlatform {
public:
    explicit FakePlatform(std::shared_ptr<FakeScript> s) : script(std::move(s)) {}
    HRESULT CreateDeviceEnumerator(std::unique_ptr<ICreateDevEnum>& out) override {
        if (script->enumeratorFails) return E_FAIL;
        out = std::make_unique<FakeDevEnum>(script);
        return S_OK;
    }
    HRESULT CreateFilterGraph(std::unique_ptr<IGraphBuilder>& graph) override {
        if (script->createGraphFails) return E_FAIL;
        graph = std::make_unique<FakeGraph>(script);
        return S_OK;
    }
    HRESULT CreateCaptureGraphBuilder(std::unique_ptr<ICaptureGraphBuilder2>& builder) override {
        builder = std::make_unique<FakeCaptureBuilder>(script);
        return S_OK;
    }
    HRESULT CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) override {
        if (script->grabberCreateFails) return E_OUTOFMEMORY;
        grabber = std::make_shared<FakeGrabber>(script);
        return S_OK;
    }
    void SetWaitHook(std::function<void()> hook) override { script->waitHook = std::move(hook); }
    void SetDeviceChangeHandler(std::function<void()> handler) override {
        script->deviceChangeHandler = std::move(handler);
    }

private:
    std::shared_ptr<FakeScript> script;
};

// An owner window that counts what the graph does with it.
class FakeOwner : public IOwnerWindow, public IVideoWindow {
public:
    WindowRect ClientRect() const override { return client; }
    IVideoWindow* AttachVideoWindow() override {
        ++attached;
        return this;
    }
    void DetachVideoWindow() override { ++detached; }
    void SetWindowPosition(int32_t l, int32_t t, int32_t w, int32_t h) override { placed = {l, t, l + w, t + h}; }
    void SetVisible(bool v) override { visible = v; }
    double PixelRatio() const override { return pixelRatio; }
    void PresentFrame(const VideoFrame& frame) override {
        std::lock_guard lock(mutex);
        ++frames;
        lastWidth = frame.width;
        lastHeight = frame.height;
        lastStride = frame.stride;
    }
    int Frames() {
        std::lock_guard lock(mutex);
        return frames;
    }

    WindowRect client{0, 0, 800, 500};
    double pixelRatio = 1.0;  // the screen's pixels per point
    WindowRect placed;
    bool visible = false;
    int attached = 0, detached = 0;
    std::mutex mutex;
    int frames = 0;
    int32_t lastWidth = 0, lastHeight = 0, lastStride = 0;
};
