#pragma once
// The device dialog (template 131, grown by two rows): choose the video input
// device, the video compressor, the audio compressor, the camera's picture
// mode and the sound input before the first preview is built.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/CaptureSession.h"
#include "capture/VideoModeChoices.h"

class CSoundLevelMeter;
class QComboBox;
class QLabel;
class QPushButton;

class CDeviceDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDeviceDialog(CCaptureSession& session, QWidget* parent = nullptr);
    explicit CDeviceDialog(QWidget* parent = nullptr);
    ~CDeviceDialog() override;

    // Written only by 确定; -1 until then (取消, Esc and the close box leave them).
    // The compressor indexes are the list positions minus 1: -1 = "不压缩".
    int32_t videoDeviceIndex = -1;
    int32_t videoCompressorIndex = -1;
    int32_t audioCompressorIndex = -1;
    // The camera's identity, the mode and sound input, also written only by
    // OK (the mode and sound input are then remembered).
    CaptureChoice captureChoice;

    QComboBox* VideoDeviceList() const { return videoDeviceList; }
    QComboBox* VideoCompressorList() const { return videoCompressorList; }
    QComboBox* AudioCompressorList() const { return audioCompressorList; }
    // The picture mode as three lists: size ("自动" first), rate, format.
    QComboBox* VideoModeList() const { return videoModeList; }
    QComboBox* VideoRateList() const { return videoRateList; }
    QComboBox* VideoFormatList() const { return videoFormatList; }
    QComboBox* AudioInputList() const { return audioInputList; }
    QPushButton* OkButton() const { return okButton; }
    // The live level of the chosen sound input, beside its list.
    CSoundLevelMeter* InputMeter() const { return inputMeter; }

public slots:
    void accept() override;  // OnOK
    void done(int result) override;

private:
    void CreateControls();
    void OnInitDialog();
    // Each refill keeps the entry chosen before by its identity where it is
    // still listed.
    void FillVideoDevices();
    void FillVideoModes();
    // Refill the rate and format lists for the size (and rate) chosen,
    // keeping the rate and format chosen before where still offered.
    void FillVideoRates(std::optional<VideoMode> wanted = std::nullopt);
    void FillVideoFormats(std::optional<VideoMode> wanted = std::nullopt);
    void OnVideoSizeChosen();
    void OnVideoRateChosen();
    // The rate and format the lists show, as the wish a refill keeps to
    // (the size list may have moved on already).
    std::optional<VideoMode> ShownVideoMode() const;
    // The size and rate the lists name (no size: 自动).
    std::optional<VideoModeChoices::Size> ChosenVideoSize() const;
    std::optional<VideoModeChoices::Rate> ChosenVideoRate() const;
    // The mode the three lists name; nullopt for 自动.
    std::optional<VideoMode> ChosenVideoMode() const;
    void FillAudioInputs();
    void OnDevicesChanged();
    void StopWatchingDevices();
    std::string SelectedCameraPath() const;
    // The sound input that entry `index` of audioInputList stands for.
    QString MicrophoneAt(int index) const;
    // Meters the chosen sound input with a pipeline of its own, replacing
    // the meter of the one chosen before; none for "无声音".
    void MeterChosenInput();
    void StopMetering();

    CCaptureSession& session;
    QComboBox* audioCompressorList = nullptr;  // IDC_AUDIO_COMPRESSOR (1008)
    QComboBox* videoCompressorList = nullptr;  // IDC_VIDEO_COMPRESSOR (1007)
    QComboBox* videoDeviceList = nullptr;      // IDC_VIDEO_DEVICE (1000)
    QComboBox* videoModeList = nullptr;        // IDC_VIDEO_MODE: the picture size
    QComboBox* videoRateList = nullptr;        // IDC_VIDEO_RATE
    QComboBox* videoFormatList = nullptr;      // IDC_VIDEO_FORMAT
    QComboBox* audioInputList = nullptr;       // IDC_AUDIO_INPUT
    QPushButton* okButton = nullptr;
    CSoundLevelMeter* inputMeter = nullptr;

    std::vector<std::string> cameraPaths;      // per entry of videoDeviceList
    std::string modesCameraPath;               // whose modes videoModeList shows
    std::vector<VideoMode> offeredModes;       // what the three mode lists choose from
    VideoModeChoices modeChoices{{}};
    std::vector<VideoModeChoices::Size> offeredSizes;  // entry k + 1 of videoModeList
    std::vector<VideoModeChoices::Rate> offeredRates;  // entry k of videoRateList
    // The rate last chosen (or the one the camera's mode was opened with),
    // kept across sizes that do not offer it.
    std::optional<VideoModeChoices::Rate> preferredRate;
    std::vector<std::string> microphonePaths;  // the inputs before "无声音"
    // "default", "none" or a device identity: what OK stores. Kept by identity
    // across refills, and while no input is listed at all.
    QString microphoneChoice;
    bool watchingDevices = false;

    // What inputMeter shows: the readings of `metering`, the input `meteredInput`.
    std::shared_ptr<SoundLevelSlot> inputLevels = std::make_shared<SoundLevelSlot>();
    std::unique_ptr<ISoundMeter> metering;
    QString meteredInput;  // as microphoneChoice; empty: nothing metered
    bool meterOpen = true;  // false once the dialog closed
};
