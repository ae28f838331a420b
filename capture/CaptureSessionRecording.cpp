// The capture session's recordings: starting one on the running graph in
// the container its file's name asks for, ending it (and repairing an AVI
// whose end failed), and what the shell reads of it.

#include "avi/AviRepair.h"
#include "base/FileLock.h"
#include "capture/CapturePlatform.h"
#include "capture/CaptureSession.h"
#include "capture/DiskSpace.h"
#include "avi/RecordingFile.h"
#include "capture/VideoModes.h"
#include "base/SystemErrorText.h"
#include "base/TimestampName.h"
#include "settings/SettingsFile.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

// Said after a recording that could not end was repaired at once.
std::string RepairedNote(const std::string& path, const RepairReport& repair) {
    if (repair.status == RepairStatus::Repaired)
        return "录相文件已修复：" + path + "，" + RecordingLengthText(repair.seconds);
    return "录相文件没能修复：" + path + "（" + repair.reason + "），下次启动时再试";
}

}  // namespace

std::string NewTakeFilePath(const std::string& configured, std::time_t start) {
    const std::size_t slash = configured.rfind('/');
    const std::size_t dot = configured.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > slash + 1;
    const std::string stem = configured.substr(0, hasExtension ? dot : configured.size()) + " " + TimestampName(start);
    const std::string extension = hasExtension ? configured.substr(dot) : "";
    // Two takes begun within one second each keep their own file.
    std::string path = stem + extension;
    struct stat entry {};
    for (int n = 2; ::lstat(path.c_str(), &entry) == 0; ++n) path = stem + "-" + std::to_string(n) + extension;
    return path;
}

void CCaptureSession::DiscardRecording() {
    std::string ignored;
    EndRecording(ignored);
}

void CCaptureSession::ForgetRecordingNote() {
    if (recordingJournal && !recordingPath.empty()) recordingJournal(recordingPath, false);
    recordingPath.clear();
}

bool CCaptureSession::EndRecording(std::string& error) {
    if (!captureBuilder || !captureBuilder->HasRecording()) return true;
    RecordingProgress written;
    GetRecordingProgress(written);
    const bool finished = SUCCEEDED(captureBuilder->FinishRecording(error));
    bool retryLater = false;
    if (!finished && !recordingPath.empty() && NeedsRepairWhenUnfinished(ContainerOfPath(recordingPath))) {
        // The file lacks its index or its lengths: it gets them now, from
        // what reached it, rather than at the next start.
        const RepairReport repair = RepairRecording(recordingPath);
        retryLater = repair.status == RepairStatus::Failed;  // a full disk, say
        if (repair.status == RepairStatus::Repaired || retryLater)
            error += "\n" + RepairedNote(recordingPath, repair);
    }
    struct stat file {};
    if (::stat(recordingPath.c_str(), &file) == 0) written.bytes = static_cast<uint64_t>(file.st_size);  // index included
    lastTakeEnd = written;
    // A file that could not be repaired now stays noted for the next start.
    if (retryLater)
        recordingPath.clear();
    else
        ForgetRecordingNote();
    recordingLock.Reset();
    return finished;
}

std::string CCaptureSession::EndTakeForMessage() {
    if (!RecordingActive()) return "";
    const std::string path = recordingPath;  // the file being written, whatever the options say now
    std::string error;
    EndRecording(error);
    return error.empty() ? "\n到此为止的录相已保存在“" + path + "”。"
                         : "\n“" + path + "”中的录相未能正常结束：" + error;
}

bool CCaptureSession::StartRecording() {
    BusyScope busy(*this);
    if (!mediaControl || !captureBuilder) return false;

    // Record while recording (or paused in one) keeps that recording going.
    if (captureBuilder->HasRecording()) {
        mediaControl->Run();
        return true;
    }

    const std::string configured = CurrentVideoFilePath();
    if (configured.empty()) {
        ShowMessage("还没有设置录相文件。请先在“选项”中选择一个。");
        return false;
    }
    const std::string path = newFileEachTake ? NewTakeFilePath(configured, std::time(nullptr)) : configured;
    // A container that cannot hold what was chosen is refused before
    // anything is written.
    const MediaSubtype container = ContainerOfPath(path);
    std::string reason;
    if (!captureBuilder->CheckOutputType(container, videoCompressorFilter, audioCaptureFilter != nullptr,
                                         audioCompressorFilter, reason)) {
        ShowMessage("无法录制到“" + path + "”：" + reason);
        return false;
    }
    if (!CheckRecordingPathWritable(path, reason)) {
        ShowMessage("无法录制到“" + path + "”：" + reason + "。");
        return false;
    }
    // A disk too full for a few seconds would end the take at once.
    VideoMode expected = currentVideoMode.value_or(VideoMode{});
    if (videoWidth > 0 && videoHeight > 0) {
        expected.width = videoWidth;
        expected.height = videoHeight;
    }
    reason = CheckRoomForRecording(
        path, ExpectedRecordingBytesPerSecond(expected, videoCompressorFilter != nullptr, audioCaptureFilter != nullptr));
    if (!reason.empty()) {
        ShowMessage("无法录制到“" + path + "”：" + reason + "。");
        return false;
    }

    // Held for the whole take: another program that honours it (a second
    // Lumora in this folder) neither records into the file nor repairs it.
    UniqueFd lock = OpenRecordingFile(path, false, reason);
    if (!lock.Valid()) {
        ShowMessage("无法录制到“" + path + "”：" + reason + "。");
        return false;
    }
    if (!TryLockExclusive(lock.Get())) {
        const int code = errno;
        ShowMessage(code == EWOULDBLOCK ? "无法录制到“" + path + "”：另一个 Lumora（或其他程序）正在向这个文件录相。\n"
                                          "请等它停止，或在“选项”中选择另一个录相文件。"
                                        : "无法录制到“" + path + "”：" + SystemErrorText(code) + "。");
        return false;
    }
    recordingLock = std::move(lock);

    // Noted before anything is written: a take that never ends (the
    // program killed, the power gone) is repaired at the next start.
    recordingPath = lastTakePath = path;
    lastTakeEnd = {};
    if (recordingJournal) recordingJournal(path, true);

    // The recording joins the graph as it is: a running preview goes on,
    // and the camera is not stopped or opened again for it.
    FilterPtr multiplexer;
    HRESULT hr = captureBuilder->SetOutputFileName(container, path, multiplexer);
    if (SUCCEEDED(hr))
        hr = captureBuilder->RenderStream(PinCategory::Capture, MediaType::Video, videoCaptureFilter,
                                          videoCompressorFilter, multiplexer);
    if (SUCCEEDED(hr) && audioCaptureFilter)
        hr = captureBuilder->RenderStream(PinCategory::Capture, MediaType::Audio, audioCaptureFilter,
                                          audioCompressorFilter, multiplexer);
    std::string error;
    if (SUCCEEDED(hr)) {
        mediaControl->Run();
        // Also tells why, when the graph could not run with the new branch.
        hr = captureBuilder->ConfirmRecordingStarted(error);
    }
    if (FAILED(hr)) {
        const bool branchMade = captureBuilder->HasRecording();
        DiscardRecording();
        // Nothing reached the file without a branch: nothing to repair.
        if (!branchMade) ForgetRecordingNote();
        recordingLock.Reset();
        mediaControl->Run();  // the preview the user had
        ShowMessage("录相无法开始" + (error.empty() ? std::string("。") : "：" + error));
        return false;
    }
    return true;
}

bool CCaptureSession::RecordingActive() const {
    return captureBuilder && captureBuilder->HasRecording();
}

CaptureState CCaptureSession::State() const {
    CaptureState state;
    state.graph = graphState;
    state.recording = GetRecordingProgress(state.progress);
    if (state.recording) state.recordingPath = recordingPath;
    state.lastTakePath = lastTakePath;
    state.lastTake = lastTakeEnd;
    return state;
}

bool CCaptureSession::GetRecordingProgress(RecordingProgress& progress) const {
    return captureBuilder && captureBuilder->GetRecordingProgress(progress);
}
