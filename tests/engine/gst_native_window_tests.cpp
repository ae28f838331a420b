// The preview drawn by the platform's own video sink into a native X11
// window (skipped without an X display): the sink draws into that window
// and opens none of its own, scales to the letterboxed size, photos keep
// the camera's size (also those of a JPEG camera shown reduced), a
// mirrored preview mirrors only what is drawn, a rebuild for a recording
// draws on, and an owner
// without a native window is painted through the toolkit's road instead.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/gst/GstTesting.h"
#include "snapshot/GrabberCallback.h"
#include "tests/engine/GstSessionFixture.h"
#include "tests/engine/NativeOwner.h"
#include "tests/engine/XTestWindow.h"

namespace {

using namespace gst_session;

class NativeWindow : public GstSession {
protected:
    void SetUp() override {
        GstSession::SetUp();
        if (!window.Valid()) GTEST_SKIP() << "no X display";
        session.UsePlatform(CreateGstCapturePlatform({NativeVideoWindows::System::X11}));
        native.window = window.Id();
        topLevelBefore = window.TopLevelWindows();
    }

    bool WaitForDrawn(int count) {
        return WaitUntil([&] { return native.drawn.load() >= count; }, 5);
    }

    XTestWindow window{800, 500};  // destroyed after TearDown has let the sink go
    std::size_t topLevelBefore = 0;
    NativeOwner native;
};

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(NativeWindow, TheSinkDrawsTheLetterboxedPictureIntoTheViewsWindow) {
    ASSERT_EQ(Build("", "", &native), S_OK);
    EXPECT_EQ(videoWidth, 640);
    EXPECT_EQ(videoHeight, 480);
    ASSERT_TRUE(WaitForDrawn(10));
    const std::vector<std::string> elements = lumora::gst::RunningGraphElementFactories();
    EXPECT_TRUE(Contains(elements, "ximagesink"));
    EXPECT_FALSE(Contains(elements, "appsink"));
    EXPECT_EQ(native.Frames(), 0);  // nothing went the painted road
    EXPECT_EQ(window.TopLevelWindows(), topLevelBefore);
    EXPECT_TRUE(messages.empty());

    // Scaled to the letterboxed 666x500 (the window itself is not moved
    // by this fake owner): drawn there, the rest of the window untouched.
    EXPECT_EQ(native.placed, (WindowRect{67, 0, 733, 500}));
    EXPECT_TRUE(WaitUntil([&] { return window.Drawn(0, 0, 666, 500); }, 5));
    EXPECT_TRUE(WaitForDrawn(native.drawn.load() + 5));  // more pictures, and still only there
    EXPECT_FALSE(window.Drawn(670, 0, 130, 500));
    ASSERT_TRUE(native.redraw);
    native.redraw();  // an uncovered window gets its picture again
    // What was drawn, for printing: at the window's size.
    ASSERT_TRUE(native.latestDrawn);
    const VideoFrame shown = native.latestDrawn();
    EXPECT_EQ(shown.width, 666);
    EXPECT_EQ(shown.height, 500);
    EXPECT_NE(shown.pixels, nullptr);
}

// On a screen of two pixels to the point the view's window has twice the
// pixels of its size: the picture is scaled to its pixels, not drawn in a
// quarter of it.
TEST_F(NativeWindow, OnAHighDensityScreenThePictureFillsTheWindowsPixels) {
    native.client = {0, 0, 400, 250};
    native.pixelRatio = 2.0;
    ASSERT_EQ(Build("", "", &native), S_OK);
    ASSERT_TRUE(WaitForDrawn(10));
    EXPECT_EQ(native.placed, (WindowRect{33, 0, 366, 250}));
    EXPECT_TRUE(WaitUntil([&] { return window.Drawn(600, 400, 60, 100); }, 5));
    EXPECT_FALSE(window.Drawn(670, 0, 130, 500));
    ASSERT_TRUE(native.latestDrawn);
    EXPECT_EQ(native.latestDrawn().width, 666);
}

TEST_F(NativeWindow, APhotoHasTheCamerasSizeNotTheWindows) {
    ASSERT_EQ(Build("", "", &native), S_OK);
    ASSERT_TRUE(WaitForDrawn(3));
    const std::string bmp = TakeOnePhoto();
    ASSERT_EQ(bmp.size(), 54u + 640u * 480u * 3u);
    EXPECT_NE(bmp.find_first_not_of(bmp[54], 54), std::string::npos);
}

// Minimal mode with a JPEG camera: the preview decodes its pictures reduced
// (on the painted road, the frames show it), yet a photo and a raw
// recording have the camera's size, drawn by the sink or painted.
TEST_F(NativeWindow, InAMinimalViewAJpegCamerasPhotoAndRecordingKeepItsSize) {
    CaptureChoice choice;
    choice.videoMode = VideoModeFromText("1280x720@30/1:MJPEG");
    session.SetCaptureChoice(choice);
    for (const uint64_t id : {window.Id(), uint64_t{0}}) {
        SCOPED_TRACE(id ? "drawn by the sink" : "painted");
        native.window = id;
        native.client = {0, 0, 280, 280};
        ASSERT_EQ(Build("", "", &native), S_OK);
        EXPECT_EQ(videoWidth, 1280);
        if (id) {
            ASSERT_TRUE(WaitForDrawn(3));
        } else {
            // Reduced once the view's size is known: a quarter still covers
            // the 280 x 157 shown.
            EXPECT_TRUE(WaitUntil([&] {
                std::lock_guard lock(native.mutex);
                return native.lastWidth == 320;
            }, 5));
        }
        const std::string bmp = TakeOnePhoto();
        EXPECT_EQ(bmp.size(), 54u + 1280u * 720u * 3u);
        EXPECT_NE(bmp.find_first_not_of(bmp[54], 54), std::string::npos);
        ASSERT_TRUE(session.StartRecording());
        ASSERT_TRUE(PicturesRecorded(10));
        session.Stop();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_EQ(avi.width, 1280u);
        EXPECT_EQ(avi.height, 720u);
        EXPECT_GE(avi.totalFrames, 10u);
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".bmp") fs::remove(entry.path());
    }
}

// The colour bars (grey at the left, blue at the right) seen in a mirror:
// the window shows blue at the left, while the photo and the recording
// taken meanwhile keep grey there.
TEST_F(NativeWindow, AMirroredPreviewIsFlippedWhileThePhotoAndTheRecordingAreNot) {
    lumora::gst::SetTestCameraPattern("smpte");
    ASSERT_EQ(Build("", "", &native), S_OK);
    ASSERT_TRUE(WaitForDrawn(3));
    session.SetMirrored(true);
    ASSERT_TRUE(native.latestDrawn);
    const auto shownRed = [&](int x) {
        const VideoFrame shown = native.latestDrawn();  // 666x500, 0xffRRGGBB words
        if (!shown.pixels || x >= shown.width) return -1;
        uint32_t word;
        std::memcpy(&word, shown.pixels + static_cast<std::size_t>(shown.stride) * 60 + static_cast<std::size_t>(x) * 4, 4);
        return static_cast<int>((word >> 16) & 0xff);
    };
    EXPECT_TRUE(WaitUntil([&] { return shownRed(30) < 60 && shownRed(636) > 150; }, 5))
        << shownRed(30) << " " << shownRed(636);

    const std::string bmp = TakeOnePhoto();
    EXPECT_GT(BitmapRed(bmp, 20, 60), 150);
    EXPECT_LT(BitmapRed(bmp, 620, 60), 60);

    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(5));
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_FALSE(avi.firstPictures.empty());
    const std::vector<uint8_t>& luma = avi.firstPictures.back();  // I420: the luma plane first
    ASSERT_GE(luma.size(), 640u * 480u);
    EXPECT_GT(luma[60 * 640 + 20], luma[60 * 640 + 620] + 80);
}

// A JPEG camera's pictures in each chroma sampling a camera may send (a USB
// webcam's are 4:2:2) are drawn, photographed and recorded, plain,
// mirrored and turned.
TEST_F(NativeWindow, EveryChromaSamplingOfAJpegCameraIsDrawnPhotographedAndRecorded) {
    CaptureChoice choice;
    choice.videoMode = VideoModeFromText("640x480@30/1:MJPEG");
    for (const char* sampling : {"Y42B", "Y444", "I420", "GRAY8"})
        for (const int way : {0, 1, 2}) {  // plain, mirrored, turned
            SCOPED_TRACE(std::string(sampling) + " way " + std::to_string(way));
            lumora::gst::SetTestCameraJpegSampling(sampling);
            choice.mirrored = way == 1;
            choice.rotation = way == 2 ? 90 : 0;
            session.SetCaptureChoice(choice);
            ASSERT_EQ(Build("", "", &native), S_OK) << (messages.empty() ? "" : messages.front());
            EXPECT_TRUE(WaitForDrawn(native.drawn.load() + 5));
            const std::string bmp = TakeOnePhoto();
            EXPECT_EQ(BitmapField(bmp, 18), way == 2 ? 480 : 640);
            EXPECT_EQ(BitmapField(bmp, 22), way == 2 ? 640 : 480);
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().extension() == ".bmp") fs::remove(entry.path());
            ASSERT_TRUE(session.StartRecording());
            EXPECT_TRUE(PicturesRecorded(5));
            session.Stop();
            EXPECT_GE(ReadAvi((folder / "capture.avi").string()).totalFrames, 5u);
            ASSERT_TRUE(messages.empty()) << messages.front();
        }
}

// A burst of damaged frames (a webcam's under bandwidth pressure) is
// skipped: the picture and the take go on with the next good frame, and a
// take of the camera's JPEG stores none of them. Seconds of nothing but
// damaged frames are the camera's failure, told to the user; the take ends
// whole. Decoded for the preview and the take, or before the turn.
TEST_F(NativeWindow, DamagedJpegFramesAreSkippedAndOnlyALongRunOfThemFailsTheCamera) {
    CaptureChoice choice;
    choice.videoMode = VideoModeFromText("640x480@30/1:MJPEG");
    const std::pair<int, const char*> takes[] = {{0, ""}, {0, "JPEG image encoder"}, {90, ""}};
    for (const auto& [degrees, compressor] : takes) {
        SCOPED_TRACE(std::to_string(degrees) + " " + compressor);
        choice.rotation = degrees;
        session.SetCaptureChoice(choice);
        ASSERT_EQ(Build(compressor, "", &native), S_OK);
        ASSERT_TRUE(WaitForDrawn(native.drawn.load() + 3));
        lumora::gst::DamageTestCameraFrames(20);
        ASSERT_TRUE(session.StartRecording()) << (messages.empty() ? "" : messages.front());
        ASSERT_TRUE(WaitUntil([] { return lumora::gst::DamagedTestCameraFramesLeft() == 0; }, 5));
        EXPECT_TRUE(WaitForDrawn(native.drawn.load() + 15)) << "the picture stood still after the burst";
        EXPECT_TRUE(PicturesRecorded(30));
        session.ProcessPendingEvents();
        ASSERT_TRUE(messages.empty()) << messages.front();

        lumora::gst::DamageTestCameraFrames(-1);
        EXPECT_TRUE(WaitUntil([&] { session.ProcessPendingEvents(); return !messages.empty(); }, 10));
        lumora::gst::DamageTestCameraFrames(0);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("无法解码"), std::string::npos) << messages[0];
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_EQ(avi.videoChunks, avi.totalFrames);
        for (const std::vector<uint8_t>& picture : avi.firstPictures)  // a damaged frame's 4th byte is noise
            EXPECT_TRUE(!*compressor || (picture.size() > 3 && picture[3] == 0xe0));
        session.TearDown();
        messages.clear();
    }
}

TEST_F(NativeWindow, ARecordingRebuildsAndTheSinkDrawsOn) {
    ASSERT_EQ(Build("JPEG image encoder", "", &native), S_OK);
    ASSERT_TRUE(WaitForDrawn(3));
    ASSERT_TRUE(session.StartRecording());
    const int before = native.drawn.load();
    EXPECT_TRUE(WaitForDrawn(before + 20));
    session.Stop();
    session.Run();  // Start video again: a new pipeline, the same window
    EXPECT_TRUE(WaitForDrawn(native.drawn.load() + 5));
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_GT(avi.totalFrames, 10u);
    EXPECT_EQ(window.TopLevelWindows(), topLevelBefore);
}

TEST_F(NativeWindow, AnOwnerWithoutANativeWindowIsPaintedInstead) {
    native.window = 0;
    ASSERT_EQ(Build("", "", &native), S_OK);
    EXPECT_TRUE(WaitUntil([&] { return native.Frames() >= 5; }, 5));
    EXPECT_EQ(native.drawn.load(), 0);
    const std::vector<std::string> elements = lumora::gst::RunningGraphElementFactories();
    EXPECT_TRUE(Contains(elements, "appsink"));
    EXPECT_FALSE(Contains(elements, "ximagesink"));
    EXPECT_EQ(window.TopLevelWindows(), topLevelBefore);
}

}  // namespace
