// The capture session against the scripted platform: the catalogue's counting
// rule, the build's failure messages, and what the session asks of the graph.

#include <gtest/gtest.h>

#include <algorithm>

#include "capture/CaptureSession.h"
#include "settings/SettingsFile.h"
#include "tests/engine/FakePlatform.h"

namespace {

struct ListedNames : IComboBox {
    void AddString(const std::string& text) override { names.push_back(text); }
    std::vector<std::string> names;
};

std::string NameOf(const FilterPtr& filter) {
    auto fake = std::dynamic_pointer_cast<FakeFilter>(filter);
    return fake ? fake->name : "";
}

class SessionWithFake : public ::testing::Test {
protected:
    SessionWithFake() : script(std::make_shared<FakeScript>()), session(std::make_unique<FakePlatform>(script)) {
        script->entries[DeviceCategory::VideoInputDevice] = {{"", false}, {"Camera One"}, {"Camera Two"}};
        script->entries[DeviceCategory::VideoCompressor] = {{"MJPEG"}, {"", false}, {"Raw"}};
        script->entries[DeviceCategory::AudioCompressor] = {{"A-law"}};
        script->entries[DeviceCategory::AudioInputDevice] = {{"Microphone"}, {"Line in"}};
        session.SetMessageHandler([this](const std::string& text) { messages.push_back(text); });
        StorePath(settings.videoFilePath, ::testing::TempDir() + "lumora-fake.avi");
    }

    HRESULT Build(int video = 0, int videoCompressor = -1, int audioCompressor = -1) {
        ListedNames names;
        session.ListVideoDevices(&names);
        return session.BuildGraph(video, videoCompressor, audioCompressor, &owner);
    }

    bool Called(const std::string& call) const {
        return std::find(script->calls.begin(), script->calls.end(), call) != script->calls.end();
    }

    // The session goes first: its teardown still talks to the owner.
    std::shared_ptr<FakeScript> script;
    FakeOwner owner;
    std::vector<std::string> messages;
    CCaptureSession session;
};

TEST_F(SessionWithFake, ListingSkipsEntriesWithoutNamesAndBindCountsTheSameWay) {
    ListedNames videos;
    EXPECT_EQ(session.ListVideoDevices(&videos), 2);
    EXPECT_EQ(videos.names, (std::vector<std::string>{"Camera One", "Camera Two"}));

    FilterPtr target;
    EXPECT_TRUE(session.BindVideoDevice(0, target));
    EXPECT_EQ(NameOf(target), "Camera One");
    EXPECT_TRUE(session.BindVideoDevice(1, target));
    EXPECT_EQ(NameOf(target), "Camera Two");

    // Past the end: nothing bound, the target kept, and still true.
    EXPECT_TRUE(session.BindVideoDevice(2, target));
    EXPECT_EQ(NameOf(target), "Camera Two");
    EXPECT_FALSE(session.BindVideoDevice(-1, target));

    ListedNames compressors;
    EXPECT_EQ(session.ListVideoCompressors(&compressors), 2);
    EXPECT_EQ(compressors.names, (std::vector<std::string>{"MJPEG", "Raw"}));
    EXPECT_TRUE(session.BindVideoCompressor(1, target));
    EXPECT_EQ(NameOf(target), "Raw");
}

TEST_F(SessionWithFake, ListingsNeedAComboAndTheEnumeratorOfTheDeviceListing) {
    ListedNames names;
    EXPECT_EQ(session.ListVideoCompressors(&names), -1);  // before ListVideoDevices
    EXPECT_EQ(session.ListAudioCompressors(&names), -1);
    EXPECT_EQ(session.ListVideoDevices(nullptr), -1);
    EXPECT_EQ(session.ListVideoDevices(&names), 2);
    EXPECT_EQ(session.ListAudioCompressors(nullptr), -1);
    EXPECT_EQ(session.ListAudioCompressors(&names), 1);

    script->entries[DeviceCategory::VideoCompressor].clear();  // an empty category
    EXPECT_EQ(session.ListVideoCompressors(&names), -1);
    FilterPtr target;
    EXPECT_FALSE(session.BindVideoCompressor(0, target));

    script->enumeratorFails = true;
    EXPECT_EQ(session.ListVideoDevices(&names), -1);
    EXPECT_FALSE(session.BindVideoDevice(0, target));
}

TEST_F(SessionWithFake, LongNamesAreCutOnACharacterBoundary) {
    std::string longName(2046, 'x');
    longName += "摄像头";  // three bytes each: the first starts at byte 2046
    script->entries[DeviceCategory::VideoInputDevice] = {{longName}};
    ListedNames names;
    ASSERT_EQ(session.ListVideoDevices(&names), 1);
    EXPECT_EQ(names.names[0], std::string(2046, 'x'));
}

TEST(LetterboxRect, FitsTheAspectRatioAsTheDesignComputesIt) {
    auto fit = [](int sw, int sh, int tw, int th) {
        return CCaptureSession::LetterboxRect({0, 0, sw, sh}, {0, 0, tw, th});
    };
    EXPECT_EQ(fit(640, 480, 800, 500), (WindowRect{67, 0, 733, 500}));
    EXPECT_EQ(fit(640, 480, 640, 600), (WindowRect{0, 60, 640, 540}));
    EXPECT_EQ(fit(640, 480, 640, 480), (WindowRect{0, 0, 640, 480}));
    // Floating point, truncated: 33 / (352 / 288) gives 26, not 27.
    EXPECT_EQ(fit(352, 288, 33, 100).Height(), 26);
    // The target's origin is not added.
    EXPECT_EQ(CCaptureSession::LetterboxRect({0, 0, 640, 480}, {10, 10, 810, 510}), (WindowRect{67, 0, 733, 500}));
    // No size yet, or an absurdly wide source: no division by zero, no overflow.
    EXPECT_EQ(fit(0, 0, 280, 200), (WindowRect{0, 0, 280, 200}));
    EXPECT_EQ(fit(2000000000, 1, 280, 200), (WindowRect{0, 100, 280, 100}));
}

TEST_F(SessionWithFake, ABuildAddsTheNamedFiltersAndRunsWithTheConnectedSize) {
    ASSERT_EQ(Build(1, 0, 0), S_OK);
    EXPECT_EQ(script->addedFilters,
              (std::vector<std::string>{"Capture Filter", "Compressor", "Filter 2", "Grabber", "audio Capture"}));
    EXPECT_EQ(videoWidth, 640);
    EXPECT_EQ(videoHeight, 480);
    EXPECT_TRUE(Called("Render Preview Video"));
    EXPECT_EQ(script->calls.back(), "Run");
    EXPECT_EQ(owner.attached, 1);
    EXPECT_TRUE(owner.visible);
    EXPECT_EQ(owner.placed, (WindowRect{67, 0, 733, 500}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SessionWithFake, NoCompressionAddsNeitherCompressor) {
    ASSERT_EQ(Build(0, -1, -1), S_OK);
    EXPECT_EQ(script->addedFilters, (std::vector<std::string>{"Capture Filter", "Grabber", "audio Capture"}));
}

TEST_F(SessionWithFake, WithoutAnAudioInputThePreviewGoesOnWithoutSound) {
    script->entries[DeviceCategory::AudioInputDevice].clear();
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(script->addedFilters, (std::vector<std::string>{"Capture Filter", "Grabber"}));
    EXPECT_TRUE(session.StartRecording());
    EXPECT_TRUE(Called("Render Capture Video"));
    EXPECT_FALSE(Called("Render Capture Audio"));
}

TEST_F(SessionWithFake, EveryBuildFailureShowsItsMessageAndReturnsANegativeStatus) {
    struct Case {
        bool FakeScript::*failure;
        const char* message;
    };
    const Case cases[] = {
        {&FakeScript::createGraphFails, "Failed to get video interfaces!"},
        {&FakeScript::grabberCreateFails, "Fail to create SampleGrabber, maybe qedit.dll is not registered?"},
        {&FakeScript::setMediaTypeFails, "Fail to set media type!"},
        {&FakeScript::addGrabberFails, "Fail to put sample grabber in graph"},
        {&FakeScript::addAudioInputFails, "无法使用所选的声音输入！"},
        {&FakeScript::renderFails, "Can't build the graph"},
        {&FakeScript::connectedTypeFails, "Failt to read the connected media type"},
        {&FakeScript::runFails, "Couldn't run the graph!"},
    };
    for (const Case& c : cases) {
        const auto entries = script->entries;
        *script = FakeScript();
        script->entries = entries;
        (*script).*c.failure = true;
        messages.clear();
        EXPECT_LT(Build(), 0) << c.message;
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
    }
}

TEST_F(SessionWithFake, ADeviceOrCompressorThatCannotBeBoundIsAReportedFailure) {
    EXPECT_LT(Build(5), 0);  // past the last device
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_LT(Build(0, 7), 0);
    EXPECT_LT(Build(0, -1, 3), 0);
    EXPECT_EQ(messages.size(), 3u);
}

TEST_F(SessionWithFake, RecordBeforeAnyBuildDoesNothing) {
    EXPECT_FALSE(session.StartRecording());
    EXPECT_TRUE(script->calls.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(session.Run(), S_OK);
    EXPECT_EQ(session.Stop(), S_OK);
}

TEST_F(SessionWithFake, RecordingGoesThroughTheChosenCompressorsAndStopFinishesIt) {
    ASSERT_EQ(Build(0, 0, 0), S_OK);
    ASSERT_TRUE(session.StartRecording());
    EXPECT_TRUE(Called("Output " + ReadPath(settings.videoFilePath)));
    EXPECT_TRUE(Called("Render Capture Video via MJPEG"));
    EXPECT_TRUE(Called("Render Capture Audio via A-law"));
    EXPECT_TRUE(session.RecordingActive());

    // A second Record keeps the recording that goes on.
    script->calls.clear();
    EXPECT_TRUE(session.StartRecording());
    EXPECT_FALSE(Called("Render Capture Video via MJPEG"));

    session.Pause();
    EXPECT_TRUE(session.RecordingActive());
    session.Stop();
    EXPECT_FALSE(session.RecordingActive());
    EXPECT_EQ(script->finishedRecordings, 1);
}

TEST_F(SessionWithFake, ARecordingThatCannotStartIsReportedAndThePreviewGoesOn) {
    ASSERT_EQ(Build(), S_OK);
    script->recordingFailsToStart = true;
    EXPECT_FALSE(session.StartRecording());
    EXPECT_FALSE(session.RecordingActive());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("the compressor will not link"), std::string::npos);
    EXPECT_EQ(script->calls.back(), "Run");

    messages.clear();
    StorePath(settings.videoFilePath, "");
    EXPECT_FALSE(session.StartRecording());
    EXPECT_EQ(messages.size(), 1u);

    messages.clear();
    StorePath(settings.videoFilePath, "/nonexistent-folder-of-lumora/x.avi");
    EXPECT_FALSE(session.StartRecording());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("/nonexistent-folder-of-lumora/x.avi"), std::string::npos);
}

TEST_F(SessionWithFake, ANewBuildReleasesTheEarlierGraphAndItsVideoWindow) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(owner.attached, 2);
    EXPECT_EQ(owner.detached, 1);
    EXPECT_EQ(script->finishedRecordings, 1);
    session.TearDown();
    EXPECT_EQ(owner.detached, 2);
}

TEST_F(SessionWithFake, AGraphFailureIsHandledOnTheUiThreadOnce) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(session.StartRecording());
    int notified = 0, stopped = 0;
    session.SetEventNotifier([&] { ++notified; });
    session.SetGraphStoppedHandler([&] { ++stopped; });

    script->errorHandler({"The video device was disconnected."});
    script->errorHandler({"Internal data stream error."});
    EXPECT_EQ(notified, 2);
    EXPECT_TRUE(messages.empty());  // nothing happens on the streaming thread

    session.ProcessPendingEvents();
    EXPECT_EQ(stopped, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("disconnected"), std::string::npos);
    EXPECT_EQ(script->finishedRecordings, 1);
    EXPECT_EQ(script->calls.back(), "Stop");

    session.ProcessPendingEvents();
    EXPECT_EQ(stopped, 1);

    // The graph can be run again, and a new failure is reported again.
    session.Run();
    script->errorHandler({"gone again"});
    session.ProcessPendingEvents();
    EXPECT_EQ(stopped, 2);
}

TEST_F(SessionWithFake, AFailureOfTheRecordingAloneEndsItAndThePreviewGoesOn) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(session.StartRecording());
    int graphStopped = 0, recordingStopped = 0;
    session.SetGraphStoppedHandler([&] { ++graphStopped; });
    session.SetRecordingStoppedHandler([&] { ++recordingStopped; });
    const std::string recorded = ReadPath(settings.videoFilePath);
    StorePath(settings.videoFilePath, ::testing::TempDir() + "lumora-chosen-later.avi");
    script->calls.clear();
    script->errorHandler({"No space left on device", true});
    session.ProcessPendingEvents();
    EXPECT_EQ(recordingStopped, 1);
    EXPECT_EQ(graphStopped, 0);
    EXPECT_FALSE(session.RecordingActive());
    // The preview was never stopped for it.
    EXPECT_FALSE(Called("Stop"));
    EXPECT_EQ(session.State().graph, CaptureState::Graph::Running);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("No space left on device"), std::string::npos);
    // The message names the file that was written, not the one chosen since.
    EXPECT_NE(messages[0].find(recorded), std::string::npos);
    EXPECT_EQ(messages[0].find("chosen-later"), std::string::npos);
}

TEST_F(SessionWithFake, TheStateFollowsTheCommandsAndKeepsTheRecordingsOwnFile) {
    EXPECT_EQ(session.State().graph, CaptureState::Graph::None);
    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(session.State().Previewing());
    EXPECT_FALSE(session.State().recording);
    const std::string recorded = ReadPath(settings.videoFilePath);
    ASSERT_TRUE(session.StartRecording());
    StorePath(settings.videoFilePath, ::testing::TempDir() + "lumora-chosen-later.avi");
    script->progress = RecordingProgress{2.5, 4096};
    CaptureState state = session.State();
    EXPECT_TRUE(state.recording);
    EXPECT_EQ(state.recordingPath, recorded);
    EXPECT_EQ(state.progress.bytes, 4096u);
    session.Pause();
    state = session.State();
    EXPECT_EQ(state.graph, CaptureState::Graph::Paused);
    EXPECT_TRUE(state.recording);
    session.Stop();
    state = session.State();
    EXPECT_EQ(state.graph, CaptureState::Graph::Stopped);
    EXPECT_FALSE(state.recording);
    EXPECT_TRUE(state.recordingPath.empty());
    session.Run();
    EXPECT_TRUE(session.State().Previewing());

    // A pause that fails leaves nothing running, says so, and finishes the take.
    ASSERT_TRUE(session.StartRecording());
    messages.clear();
    script->pauseFails = true;
    EXPECT_TRUE(FAILED(session.Pause()));
    state = session.State();
    EXPECT_EQ(state.graph, CaptureState::Graph::Stopped);
    EXPECT_FALSE(state.recording);
    EXPECT_EQ(script->finishedRecordings, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(ReadPath(settings.videoFilePath)), std::string::npos);
}

}  // namespace

// A take is noted before its file is touched and the note goes when it is
// finished, however it ends; a second Record notes nothing new.
TEST_F(SessionWithFake, TheJournalNotesEachTakeFromBeforeItsFileToItsEnd) {
    std::vector<std::string> journal;
    session.SetRecordingJournal([&](const std::string& path, bool writing) {
        journal.push_back((writing ? "note " : "clear ") + path + " @" + std::to_string(script->calls.size()));
    });
    const std::string path = ReadPath(settings.videoFilePath);
    ASSERT_EQ(Build(), S_OK);
    script->calls.clear();
    ASSERT_TRUE(session.StartRecording());
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal[0], "note " + path + " @0");  // before "Output <path>"
    EXPECT_TRUE(session.StartRecording());
    EXPECT_EQ(journal.size(), 1u);
    session.Stop();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].rfind("clear " + path, 0), 0u);

    // A take that cannot start is not left noted, whether its branch
    // failed to run, to be made, or its file's multiplexer to be made.
    for (bool* failure : {&script->recordingFailsToStart, &script->captureRenderFails, &script->outputFails}) {
        journal.clear();
        *failure = true;
        ASSERT_EQ(session.Run(), S_OK);
        EXPECT_FALSE(session.StartRecording());
        ASSERT_EQ(journal.size(), 2u);
        EXPECT_EQ(journal[1].rfind("clear " + path, 0), 0u);
        EXPECT_TRUE(session.State().recordingPath.empty());
        *failure = false;
    }

    // Nor one whose end failed: the file was repaired (or found beyond
    // repair) on the spot, and the message says the end failed.
    journal.clear();
    messages.clear();
    script->recordingFailsToEnd = true;
    ASSERT_TRUE(session.StartRecording());
    session.Stop();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].rfind("clear " + path, 0), 0u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("录相没有及时结束"), std::string::npos);
}
