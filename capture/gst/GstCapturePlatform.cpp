// The capture platform on GStreamer: the objects it makes (device
// enumerator, filter graph, capture graph builder, sample grabber), the
// device watch it tells the application's handler about, the hooks it
// shares with its graphs, and the observer it tells of each graph.

#include "capture/gst/GstCapturePlatform.h"

#include <mutex>

#include "capture/gst/DeviceWatch.h"
#include "capture/gst/GstGraph.h"
#include "capture/gst/PlatformHooks.h"
#include "capture/gst/PlatformSeams.h"
#include "capture/gst/RecordingContainers.h"

namespace lumora::gst {

std::unique_ptr<ICreateDevEnum> MakeDeviceEnumerator(std::shared_ptr<DeviceWatch> watch);

namespace {

std::mutex observerMutex;
std::shared_ptr<GraphObserver>& Observer() {
    static std::shared_ptr<GraphObserver> observer;
    return observer;
}

}  // namespace

void SetGraphObserver(std::shared_ptr<GraphObserver> observer) {
    std::lock_guard lock(observerMutex);
    Observer() = std::move(observer);
}

std::shared_ptr<GraphObserver> CurrentGraphObserver() {
    std::lock_guard lock(observerMutex);
    return Observer();
}

namespace {

class GstCaptureBuilder : public ICaptureGraphBuilder2 {
public:
    HRESULT SetFiltergraph(IGraphBuilder* g) override {
        graph = dynamic_cast<GstGraph*>(g);
        return graph ? S_OK : E_NOINTERFACE;
    }
    HRESULT RenderStream(PinCategory category, MediaType type, const FilterPtr& source,
                         const FilterPtr& intermediate, const FilterPtr& sink) override {
        if (!graph) return E_FAIL;
        if (category == PinCategory::Preview)
            return type == MediaType::Video && !sink ? graph->RenderPreview(source, intermediate) : E_FAIL;
        return graph->RenderCapture(type, source, intermediate, sink);
    }
    HRESULT SetOutputFileName(MediaSubtype type, const std::string& path, FilterPtr& multiplexer) override {
        return graph ? graph->SetOutput(type, path, multiplexer) : E_FAIL;
    }
    bool CheckOutputType(MediaSubtype type, const FilterPtr& videoCompressor, bool withSound,
                         const FilterPtr& audioCompressor, std::string& reason) override {
        return CheckContainerHolds(type, dynamic_cast<const GstFilter*>(videoCompressor.get()), withSound,
                                   dynamic_cast<const GstFilter*>(audioCompressor.get()), reason);
    }
    HRESULT ConfirmRecordingStarted(std::string& error) override {
        return graph ? Told(graph->ConfirmRecording(), error) : E_FAIL;
    }
    HRESULT FinishRecording(std::string& error) override {
        return graph ? Told(graph->FinishRecording(), error) : S_OK;
    }
    bool HasRecording() const override { return graph && graph->HasRecording(); }
    bool GetRecordingProgress(RecordingProgress& progress) const override {
        return graph && graph->GetRecordingProgress(progress);
    }

private:
    // The status, and the reason as the interface's text.
    static HRESULT Told(const Status& status, std::string& error) {
        if (status.ok()) return S_OK;
        if (!status.error().empty()) error = status.error();
        return E_FAIL;
    }

    GstGraph* graph = nullptr;
};

class GstCapturePlatform : public ICapturePlatform {
public:
    explicit GstCapturePlatform(NativeVideoWindows nativeWindows)
        : watch(DeviceWatch::Acquire()), hooks(std::make_shared<PlatformHooks>()) {
        hooks->nativeWindows = nativeWindows;
        listener = watch->AddListener([hooks = hooks](GstDevice*, bool) { hooks->deviceChange(); });
    }
    ~GstCapturePlatform() override { watch->RemoveListener(listener); }
    GstCapturePlatform(const GstCapturePlatform&) = delete;
    GstCapturePlatform& operator=(const GstCapturePlatform&) = delete;

    HRESULT CreateDeviceEnumerator(std::unique_ptr<ICreateDevEnum>& enumerator) override {
        enumerator = MakeDeviceEnumerator(watch);
        return S_OK;
    }
    HRESULT CreateFilterGraph(std::unique_ptr<IGraphBuilder>& graph) override {
        auto made = std::make_unique<GstGraph>();
        made->UseHooks(hooks);
        if (std::shared_ptr<GraphObserver> observer = CurrentGraphObserver()) {
            made->UseObserver(observer);
            observer->GraphMade(*made);
        }
        graph = std::move(made);
        return S_OK;
    }
    HRESULT CreateCaptureGraphBuilder(std::unique_ptr<ICaptureGraphBuilder2>& builder) override {
        builder = std::make_unique<GstCaptureBuilder>();
        return S_OK;
    }
    HRESULT CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) override {
        grabber = std::make_shared<GstGrabber>();
        return S_OK;
    }
    HRESULT CreateSoundMeter(const FilterPtr& source, std::function<void(const SoundLevel&)> handler,
                             std::unique_ptr<ISoundMeter>& meter) override {
        meter.reset();
        const auto input = std::dynamic_pointer_cast<GstFilter>(source);
        if (!input) return E_POINTER;
        auto made = std::make_unique<GstSoundMeter>(std::move(handler));
        if (!made->Start(*input).ok()) return E_FAIL;
        meter = std::move(made);
        return S_OK;
    }
    void SetWaitHook(std::function<void()> hook) override { hooks->waitHook.Set(std::move(hook)); }
    void SetDeviceChangeHandler(std::function<void()> handler) override {
        hooks->deviceChange.Set(std::move(handler));
    }

private:
    std::shared_ptr<DeviceWatch> watch;
    // Shared with the watch's listener and the graphs, which may outlive a call.
    std::shared_ptr<PlatformHooks> hooks;
    int listener = 0;
};

}  // namespace

}  // namespace lumora::gst

std::unique_ptr<ICapturePlatform> CreateGstCapturePlatform(NativeVideoWindows nativeWindows) {
    lumora::gst::EnsureInitialised();
    return std::make_unique<lumora::gst::GstCapturePlatform>(nativeWindows);
}
