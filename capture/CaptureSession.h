#pragma once
// The one capture engine object: builds and drives the capture graph, keeps
// the video window fitted in its owner, lists and binds devices.
//
// PUBLIC API used by the shell -- keep these signatures. Private members are
// the engine's own (keep the names of the design: graphBuilder, captureBuilder,
// videoCaptureFilter, audioCaptureFilter, videoCompressorFilter,
// audioCompressorFilter, mediaControl, videoWindow, deviceEnumerator,
// sampleGrabber, ownerWindow).

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/CapturePlatform.h"
#include "capture/ComboBox.h"
#include "capture/SoundLevelSlot.h"
#include "base/FileWriting.h"
#include "base/SampleGrabber.h"
#include "capture/VideoWindow.h"


// Width and height of the video format connected to the grabber; 0 until a
// build has read it. Written only by BuildGraph and SetRotation (UI thread).
extern int32_t videoWidth;
extern int32_t videoHeight;

// What the device dialog chose besides its three indexes. BuildGraph takes
// it as it is when the build starts.
struct CaptureChoice {
    std::optional<VideoMode> videoMode;  // nullopt: the camera's default mode
    enum class Sound { SystemDefault, Device, None };
    Sound sound = Sound::SystemDefault;
    std::string audioDevicePath;  // with Sound::Device (falls back to the default when gone)
    // The camera the user chose, by identity: the list may change before the
    // build. Empty: the build binds the video device by its index.
    std::string videoDevicePath;
    std::string videoDeviceName;  // as the dialog showed it, for the message when it is gone
    // How this camera's pictures are turned and its preview shown (see
    // SetRotation and SetMirrored), as remembered for it.
    int32_t rotation = 0;
    bool mirrored = false;
};

// What the session is doing, in one value that the shell reads.
struct CaptureState {
    enum class Graph { None, Running, Paused, Stopped };
    Graph graph = Graph::None;
    bool recording = false;     // a recording is under way (also while paused)
    std::string recordingPath;  // its file, as it was when it started
    std::string lastTakePath;   // the file the last take of this run wrote (also once it ended)
    RecordingProgress lastTake;  // that take's length and its file's size, once it ended
    RecordingProgress progress;  // what it has written so far

    bool Previewing() const { return graph == Graph::Running; }
};

// The file of a take that begins at `start` when each take gets its own:
// `configured` with the date and time before its extension, as photos are
// named ("/v/capture.avi" -> "/v/capture 20261210 143501.avi"), and "-2",
// "-3"... when that name is taken.
std::string NewTakeFilePath(const std::string& configured, std::time_t start);

class CCaptureSession {
public:
    // Without a platform nothing can be listed or built until UsePlatform;
    // the application hands in the platform of this build.
    explicit CCaptureSession(std::unique_ptr<ICapturePlatform> platform = nullptr);
    ~CCaptureSession();
    CCaptureSession(const CCaptureSession&) = delete;
    CCaptureSession& operator=(const CCaptureSession&) = delete;

    // Graph
    HRESULT CreateGraph();
    // 0 = built and running; negative = failed (a message was shown).
    HRESULT BuildGraph(int32_t videoDevice, int32_t videoCompressor, int32_t audioCompressor,
                       IOwnerWindow* owner);
    void SetupVideoWindow();
    void FitVideoWindow();
    static WindowRect LetterboxRect(const WindowRect& source, const WindowRect& target);
    HRESULT Run();
    HRESULT Pause();
    HRESULT Stop();
    // true when a recording is being written to videoFilePath after the call
    // (a new one, or the one that was already going on). false: a message
    // was shown and nothing records.
    bool StartRecording();
    void ArmSnapshot(int value);
    // Off (the default): every take overwrites the recording file of the
    // settings. On: each take writes a new file (NewTakeFilePath).
    void SetNewFileEachTake(bool on) { newFileEachTake = on; }

    // The preview mirrored left to right, as a self-view (photos and
    // recordings stay as the camera sees), and the pictures turned clockwise
    // by 0, 90, 180 or 270 degrees for the preview, photos and recordings
    // alike; both kept for the builds that follow. At 90 and 270 degrees
    // videoWidth and videoHeight swap. SetRotation refuses (false) while a
    // recording is under way, whose file keeps one size; false with a
    // message when the graph could not turn its pictures.
    void SetMirrored(bool mirrored);
    bool Mirrored() const { return mirrored; }
    bool SetRotation(int32_t degrees);
    int32_t Rotation() const { return rotation; }

    // true while the graph holds a recording branch that Run would resume
    // (started and not finished by Stop or a failure).
    bool RecordingActive() const;
    CaptureState State() const;
    // Time and size written by the recording; false when nothing records.
    bool GetRecordingProgress(RecordingProgress& progress) const;

    // Tears down what the old platform made, then works on `platform`
    // (nullptr: none, as at exit).
    void UsePlatform(std::unique_ptr<ICapturePlatform> platform);

    // Device catalogue (the device dialog). Return the number of names added, or -1.
    int ListVideoDevices(IComboBox* combo);
    int ListVideoCompressors(IComboBox* combo);
    int ListAudioCompressors(IComboBox* combo);
    // The audio inputs, the system's default first; `devicePaths` gets the
    // identity of each listed name, in the same order.
    int ListAudioInputs(IComboBox* combo, std::vector<std::string>& devicePaths);
    // Video input device `index` as the listing counts it: its identity,
    // and the modes it offers (count, or -1 when it offers none readable).
    bool ReadVideoDevicePath(int32_t index, std::string& path);
    int ListVideoModes(int32_t index, std::vector<VideoMode>& modes);

    void SetCaptureChoice(const CaptureChoice& choice) { captureChoice = choice; }
    const CaptureChoice& GetCaptureChoice() const { return captureChoice; }
    // The mode the latest build asked the camera for (nullopt: the device
    // offered no modes to choose from, or nothing was built).
    std::optional<VideoMode> CurrentVideoMode() const { return currentVideoMode; }

    // The settings of the camera of the current build (brightness, white
    // balance...), while its graph exists. false with a message in Chinese:
    // nothing built, or the device refused.
    bool ListCameraControls(std::vector<CameraControl>& controls, std::string& error);
    bool SetCameraControl(uint32_t id, int32_t value, std::string& error);
    // Remembered values by control key: the automatic switches (booleans,
    // menus) first, then the values they leave active; keys the camera
    // lacks and values it ignores for now are passed over. The messages of
    // the values it refused.
    std::vector<std::string> ApplyCameraControlValues(const std::vector<std::pair<std::string, int32_t>>& values);
    // The identity of the camera of the current build ("" when none).
    const std::string& CurrentCameraIdentity() const { return currentCameraIdentity; }
    // The sound input's level while the graph runs: the latest reading and
    // how many came since the build (see SoundLevelSlot). UI thread.
    uint64_t ReadSoundLevel(SoundLevel& level) const { return soundLevels->Read(level); }
    // Whether the latest build has a sound input ("无声音" was not chosen).
    bool HasSoundInput() const { return graphBuilder && audioCaptureFilter; }
    // A meter of its own for the sound input `devicePath` ("": the system's
    // default), as the device dialog shows it; nullptr when the input cannot
    // be measured. `handler` runs on a streaming thread until the meter goes.
    std::unique_ptr<ISoundMeter> MeterAudioInput(const std::string& devicePath,
                                                 std::function<void(const SoundLevel&)> handler);

    // See ICapturePlatform; kept across UsePlatform.
    void SetWaitHook(std::function<void()> hook);
    void SetDeviceChangeHandler(std::function<void()> handler);
    // true while an operation of the session is under way (it may be
    // waiting for a device, with the wait hook running the UI meanwhile).
    bool Busy() const { return busyDepth > 0; }

    // Where messages go: a message box with OK only, in the shell. Called on
    // the UI thread. The default writes to stderr.
    void SetMessageHandler(std::function<void(const std::string&)> handler);

    // Asynchronous graph events (a camera that fails or goes away, a full
    // disk) are queued on the streaming thread. `notifier` is called (from any
    // thread) whenever something is queued; the shell answers by calling
    // ProcessPendingEvents on the UI thread. Tests call it directly.
    void SetEventNotifier(std::function<void()> notifier);
    void ProcessPendingEvents();
    // Called on the UI thread (from ProcessPendingEvents) after the graph has
    // been stopped by a failure, so the frame can clear its flags.
    void SetGraphStoppedHandler(std::function<void()> handler);
    // Called on the UI thread after a recording was ended by a failure of the
    // recording alone (a full disk, say) while the preview goes on.
    void SetRecordingStoppedHandler(std::function<void()> handler);
    // Called on the UI thread with a note that stops nothing (a sound input
    // that stalls while recording): the shell shows it in the status bar.
    void SetNoticeHandler(std::function<void(const std::string&)> handler);
    // Told (UI thread) that `path` is being written (`writing`), before the
    // file is touched, and that it was finished or repaired (!`writing`).
    // A note that outlives the program names a take to repair at its next
    // start.
    void SetRecordingJournal(std::function<void(const std::string& path, bool writing)> journal);

    // Bind operations of the catalogue: entry `index` of the category, counted
    // as the listing counts, into `target`. false: the category could not be
    // enumerated. An index past the end binds nothing and keeps `target`.
    bool BindVideoDevice(int32_t index, std::shared_ptr<IBaseFilter>& target);
    bool BindVideoCompressor(int32_t index, std::shared_ptr<IBaseFilter>& target);
    bool BindAudioCompressor(int32_t index, std::shared_ptr<IBaseFilter>& target);
    // The listed video input device whose identity is `path`, into `target`.
    // false: none is listed with it (plugged out, or no camera listed at all).
    bool BindVideoDeviceByPath(const std::string& path, std::shared_ptr<IBaseFilter>& target);

    // Stops the graph (finishing a recording), detaches the video window and
    // releases everything. The shell calls it before its windows go away;
    // the destructor calls it again (then it does nothing).
    void TearDown();

private:
    // Marks an operation under way. Graph failures that arrive meanwhile (the
    // wait hook lets the UI thread run) are handled once the outermost ends.
    class BusyScope {
    public:
        explicit BusyScope(CCaptureSession& s) : session(s) { ++session.busyDepth; }
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        CCaptureSession& session;
    };
    int ListCategory(IComboBox* combo, DeviceCategory category, bool createEnumerator);
    // Calls `visit` with each entry whose name is readable, counted from 0,
    // until it returns true. false: the category could not be enumerated.
    // WalkCategory asks a device enumerator of its own.
    using EntryVisitor = std::function<bool(int32_t index, IMoniker& entry, const std::string& name)>;
    static bool WalkEntries(ICreateDevEnum& enumerator, DeviceCategory category, const EntryVisitor& visit);
    bool WalkCategory(DeviceCategory category, const EntryVisitor& visit);
    static std::string IdentityOf(IMoniker& entry, const std::string& name);
    bool BindCategory(DeviceCategory category, int32_t index, std::shared_ptr<IBaseFilter>& target);
    void ChooseVideoMode();
    void BindAudioInput();
    // The listed sound input `path` ("" or not listed: the system's default).
    void BindAudioInputByPath(const std::string& path, std::shared_ptr<IBaseFilter>& target);
    HRESULT Fail(const std::string& message, HRESULT status);
    std::string WithReason(const std::string& message);
    void ShowMessage(const std::string& message);
    void ReleaseGraph();
    void DiscardRecording();
    // Finishes the recording under way; one that could not end properly is
    // repaired at once. false (with `error`) when the end failed.
    bool EndRecording(std::string& error);
    // The take's journal note and path go (it is finished or never began).
    void ForgetRecordingNote();
    // Ends the take under way after a failure, and says where its file
    // stands, as a line to add to the message ("" without a take).
    std::string EndTakeForMessage();
    void OnGraphError(uint64_t generation, const GraphError& error);
    void WatchGraphErrors();

    std::unique_ptr<ICapturePlatform> platform;

    IOwnerWindow* ownerWindow = nullptr;
    std::unique_ptr<IGraphBuilder> graphBuilder;
    std::unique_ptr<ICaptureGraphBuilder2> captureBuilder;
    std::shared_ptr<IBaseFilter> videoCaptureFilter;
    std::shared_ptr<IBaseFilter> audioCaptureFilter;
    std::shared_ptr<IBaseFilter> videoCompressorFilter;
    std::shared_ptr<IBaseFilter> audioCompressorFilter;
    IMediaControl* mediaControl = nullptr;
    IGraphVideoWindow* videoWindow = nullptr;
    std::unique_ptr<ICreateDevEnum> deviceEnumerator;
    std::shared_ptr<ISampleGrabber> sampleGrabber;

    std::function<void(const std::string&)> messageHandler;
    std::function<void()> graphStoppedHandler;
    std::function<void()> recordingStoppedHandler;
    std::function<void(const std::string&)> noticeHandler;
    std::function<void(const std::string&, bool)> recordingJournal;
    std::function<void()> waitHook;
    std::function<void()> deviceChangeHandler;
    // Written by the graph's streaming threads, read by the shell.
    std::shared_ptr<SoundLevelSlot> soundLevels = std::make_shared<SoundLevelSlot>();

    CaptureChoice captureChoice;
    bool mirrored = false;
    int32_t rotation = 0;
    std::optional<VideoMode> currentVideoMode;
    std::string currentCameraIdentity;
    std::string recordingPath;  // the file of the recording under way (its messages name it)
    std::string lastTakePath;   // kept after the take: what Save copies
    RecordingProgress lastTakeEnd;  // see CaptureState::lastTake
    bool newFileEachTake = false;
    UniqueFd recordingLock;     // the take's file, locked while it is written (see FileLock.h)
    CaptureState::Graph graphState = CaptureState::Graph::None;
    int busyDepth = 0;  // UI thread only

    // Failures reported by the streaming threads, waiting for the UI thread.
    // Each carries the build it came from, so a late report of a graph that
    // was stopped or replaced is dropped.
    struct GraphFailure {
        uint64_t generation;
        GraphError error;
    };
    std::mutex eventMutex;
    std::deque<GraphFailure> pendingFailures;
    std::function<void()> eventNotifier;
    uint64_t graphGeneration = 0;  // guarded by eventMutex
};

// The one session of the process.
CCaptureSession& TheCaptureSession();
