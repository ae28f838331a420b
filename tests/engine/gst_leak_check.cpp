// Under the leaks tracer (GST_TRACERS=leaks, as scripts/test runs the engine
// tests once), the run fails when a pipeline, element, pad or message of
// GStreamer outlives every test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/gst/GstTesting.h"

namespace {

class GstLeakCheck : public ::testing::Environment {
public:
    void TearDown() override {
        const auto live = lumora::gst::LiveObjectsAtShutdown();
        if (!live) {
            const char* tracers = std::getenv("GST_TRACERS");
            if (tracers && std::strstr(tracers, "leaks"))
                ADD_FAILURE() << "GST_TRACERS asks for the leaks tracer, but it is not active";
            return;
        }
        for (const std::string& object : *live) ADD_FAILURE() << "still alive at the end: " << object;
    }
};

const auto* const leakCheck = ::testing::AddGlobalTestEnvironment(new GstLeakCheck);

}  // namespace
