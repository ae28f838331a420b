// Every compressor that the device dialog offers records a valid AVI: two
// seconds of the test pattern (and its sound) with each one in turn.

#include <algorithm>
#include <optional>

#include "avi/AviRepair.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;

class CompressorRecording : public GstSession {
protected:
    // Records two seconds with the named compressors ("" = none); nothing
    // when the recording did not start (a failure is added then).
    std::optional<AviInfo> RecordWith(const std::string& videoCompressor, const std::string& audioCompressor) {
        messages.clear();
        std::optional<AviInfo> result;
        if (Build(videoCompressor, audioCompressor) != S_OK || !session.StartRecording()) {
            ADD_FAILURE() << "does not record: " << (messages.empty() ? "" : messages.front());
        } else {
            // Two seconds of the camera's pictures (an encoder's own
            // timestamps may run out of order, so they are counted going in).
            EXPECT_TRUE(PicturesRecorded(60));
            session.Stop();
            const auto offered = static_cast<double>(lumora::gst::FramesOfferedToRecording());
            EXPECT_TRUE(messages.empty()) << messages.front();
            result = ReadAvi((folder / "capture.avi").string());
            EXPECT_TRUE(result->valid);
            EXPECT_TRUE(result->hasIndex);
            // 30 frames/s live; a compressor that cannot keep up loses some.
            EXPECT_GT(result->totalFrames, offered * 2 / 3);
            // Marked as the program's and whole: a repair knows it and leaves it.
            const RepairReport repair = RepairRecording((folder / "capture.avi").string());
            EXPECT_EQ(repair.status, RepairStatus::NothingToDo) << repair.reason;
        }
        session.TearDown();
        return result;
    }

    ListedNames Listed(int (CCaptureSession::*list)(IComboBox*)) {
        ListedNames devices, compressors;
        session.ListVideoDevices(&devices);  // opens the catalogue
        EXPECT_GT((session.*list)(&compressors), 0);
        return compressors;
    }
};

}  // namespace

TEST_F(CompressorRecording, EveryListedVideoCompressorRecordsAValidAvi) {
    for (const std::string& name : Listed(&CCaptureSession::ListVideoCompressors).names) {
        SCOPED_TRACE(name);
        const std::optional<AviInfo> avi = RecordWith(name, "");
        if (!avi) continue;
        ASSERT_NE(avi->First("vids"), nullptr);
        EXPECT_EQ(avi->First("vids")->width, 640);
        EXPECT_EQ(avi->videoChunks, avi->totalFrames);
    }
}

TEST_F(CompressorRecording, EveryListedAudioCompressorRecordsAValidAvi) {
    for (const std::string& name : Listed(&CCaptureSession::ListAudioCompressors).names) {
        SCOPED_TRACE(name);
        const std::optional<AviInfo> avi = RecordWith("", name);
        if (!avi) continue;
        ASSERT_NE(avi->First("auds"), nullptr);
        EXPECT_NE(avi->First("auds")->audioFormat, 0);
    }
}

TEST_F(CompressorRecording, CompressorsThatShareANameAreToldApartByTheirElement) {
    for (auto list : {&CCaptureSession::ListVideoCompressors, &CCaptureSession::ListAudioCompressors}) {
        std::vector<std::string> names = Listed(list).names;
        std::sort(names.begin(), names.end());
        EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end())
            << "listed twice: " << *std::adjacent_find(names.begin(), names.end());
    }
    // libav's two AC-3 encoders carry one long name; the first keeps it.
    const ListedNames audio = Listed(&CCaptureSession::ListAudioCompressors);
    const int first = audio.IndexOf("libav ATSC A/52A (AC-3) encoder");
    const int second = audio.IndexOf("libav ATSC A/52A (AC-3) encoder (avenc_ac3_fixed)");
    if (first < 0) GTEST_SKIP() << "libav's AC-3 encoders are not installed";
    EXPECT_GT(second, first);
}
