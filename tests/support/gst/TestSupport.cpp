// Fills the platform's seams when a program linked with the test support
// starts (the library is linked whole, so this runs without being called):
// the simulated devices registered in-process, so that the tests reach them
// (UnplugTestCamera, StallTestTone...); the live graphs; the simulated
// camera's webcam controls; the pipeline starts that can be held back.

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "capture/gst/CameraControlsFactory.h"
#include "capture/gst/DeviceWatch.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/PipelineWorker.h"
#include "capture/gst/PlatformSeams.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/support/gst/TestCameraControls.h"
#include "tests/support/gst/TestDevices.h"
#include "tests/support/gst/TestSupport.h"

namespace lumora::gst {

namespace {

std::atomic<double> startDelay{0.0};  // seconds, for the next start only

bool MadeBy(GstElement* element, const char* factoryName) {
    const GstElementFactory* factory = gst_element_get_factory(element);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), factoryName) == 0;
}

bool Install() {
    SetSimulatedDeviceLoader(&RegisterTestDevices);
    WatchLiveGraphs();
    AddCameraControlsProvider([](GstElement* source, GstDevice*) -> std::unique_ptr<ICameraControls> {
        return MadeBy(source, "lumoratestcamerasrc") ? MakeTestCameraControls(source) : nullptr;
    });
    // A device that hangs while it opens.
    SetPipelineStartHook([] {
        const double delay = startDelay.exchange(0.0);
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    });
    return true;
}

[[maybe_unused]] const bool installed = Install();

}  // namespace

void DelayPipelineStart(double seconds) { startDelay.store(seconds); }

int PipelinesBeingAbandoned() { return AbandonedPipelinesAlive(); }

void RestartDeviceWatch() { DeviceWatch::Release(); }

std::unique_ptr<ICameraControls> CameraControlsOfElement(const std::string& factory) {
    EnsureInitialised();
    const ElementPtr element = AdoptFloating(gst_element_factory_make(factory.c_str(), nullptr));
    return element ? MakeCameraControls(element.get(), nullptr) : nullptr;
}

}  // namespace lumora::gst
