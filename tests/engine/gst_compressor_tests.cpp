// Every compressor that the device dialog offers records a valid AVI: three
// seconds of the test pattern (and its sound) with each one in turn.

#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;
using CompressorRecording = GstSession;

constexpr double kSeconds = 3.0;

}  // namespace

TEST_F(CompressorRecording, EveryListedVideoCompressorRecordsAValidAvi) {
    ListedNames devices, compressors;
    session.ListVideoDevices(&devices);  // opens the catalogue
    ASSERT_GT(session.ListVideoCompressors(&compressors), 0);
    for (const std::string& name : compressors.names) {
        SCOPED_TRACE(name);
        messages.clear();
        ASSERT_EQ(Build(name), S_OK);
        if (!session.StartRecording()) {
            ADD_FAILURE() << "does not record: " << (messages.empty() ? "" : messages.front());
            session.TearDown();
            continue;
        }
        Wait(kSeconds);
        session.Stop();
        EXPECT_TRUE(messages.empty()) << messages.front();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        ASSERT_TRUE(avi.valid);
        EXPECT_TRUE(avi.hasIndex);
        ASSERT_NE(avi.First("vids"), nullptr);
        EXPECT_EQ(avi.First("vids")->width, 640);
        // 30 frames/s live; a compressor that cannot keep up loses some.
        EXPECT_GT(avi.totalFrames, 60u);
        EXPECT_EQ(avi.videoChunks, avi.totalFrames);
        session.TearDown();
    }
}

TEST_F(CompressorRecording, EveryListedAudioCompressorRecordsAValidAvi) {
    ListedNames devices, compressors;
    session.ListVideoDevices(&devices);
    ASSERT_GT(session.ListAudioCompressors(&compressors), 0);
    for (const std::string& name : compressors.names) {
        SCOPED_TRACE(name);
        messages.clear();
        ASSERT_EQ(Build("", name), S_OK);
        if (!session.StartRecording()) {
            ADD_FAILURE() << "does not record: " << (messages.empty() ? "" : messages.front());
            session.TearDown();
            continue;
        }
        Wait(kSeconds);
        session.Stop();
        EXPECT_TRUE(messages.empty()) << messages.front();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        ASSERT_TRUE(avi.valid);
        EXPECT_TRUE(avi.hasIndex);
        ASSERT_NE(avi.First("auds"), nullptr);
        EXPECT_NE(avi.First("auds")->audioFormat, 0);
        EXPECT_GT(avi.totalFrames, 60u);
        session.TearDown();
    }
}
