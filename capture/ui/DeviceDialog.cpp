#include "capture/ui/DeviceDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

#include "capture/ui/CaptureChoiceProfile.h"
#include "capture/ui/QtComboBox.h"
#include "frame/SoundLevelMeter.h"
#include "res/DialogUnits.h"

namespace {

const QString kNoCompression = QStringLiteral("不压缩");
const QString kNoSound = QStringLiteral("无声音");

// A combo box of the template: (x, y, width) in dialog units; `dropped` is the
// template height, which counts the opened list. The closed box keeps the
// toolkit's own height.
QComboBox* MakeList(QWidget* parent, const DialogUnits& units, const char* name, int x, int y,
                    int width, int dropped)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(false);
    combo->setInsertPolicy(QComboBox::InsertAtBottom);
    const QRect area = units.Rect(x, y, width, dropped);
    combo->setGeometry(area.x(), area.y(), area.width(), combo->sizeHint().height());
    // About one line of 8 units per entry below the closed box.
    combo->setMaxVisibleItems(qMax(1, (dropped - 12) / 8));
    return combo;
}

QLabel* MakeLabel(QWidget* parent, const DialogUnits& units, const QString& text, int x, int y,
                  int width, int height)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(label, x, y, width, height);
    return label;
}

}  // namespace

CDeviceDialog::CDeviceDialog(CCaptureSession& session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      session(session)
{
    CreateControls();
    OnInitDialog();
}

CDeviceDialog::CDeviceDialog(QWidget* parent) : CDeviceDialog(TheCaptureSession(), parent) {}

CDeviceDialog::~CDeviceDialog()
{
    StopWatchingDevices();
    metering.reset();
}

void CDeviceDialog::CreateControls()
{
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("视频设备"));
    const DialogUnits units(font);
    // Two rows more than the template, each 32 units below the one above;
    // 确定 and 取消 keep their distance below the last list.
    setFixedSize(units.Size(181, 190));

    // Template order, which is also the tab order.
    okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setDefault(true);
    okButton->setAutoDefault(true);
    units.Place(okButton, 70, 169, 50, 14);
    connect(okButton, &QPushButton::clicked, this, &CDeviceDialog::accept);
    // As Esc and the close box: nothing chosen, nothing remembered.
    auto* cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setAutoDefault(false);
    units.Place(cancelButton, 124, 169, 50, 14);
    connect(cancelButton, &QPushButton::clicked, this, &CDeviceDialog::reject);

    videoDeviceList = MakeList(this, units, "IDC_VIDEO_DEVICE", 7, 21, 167, 196);
    MakeLabel(this, units, QStringLiteral("请从下面列表里选择一个视频输入设备"), 7, 10, 153, 8);
    MakeLabel(this, units, QStringLiteral("请从下面列表中选择一个视频压缩器"), 7, 42, 129, 8);
    videoCompressorList = MakeList(this, units, "IDC_VIDEO_COMPRESSOR", 7, 53, 167, 157);
    MakeLabel(this, units, QStringLiteral("请从下面列表中选择一个音频压缩器"), 7, 74, 129, 8);
    audioCompressorList = MakeList(this, units, "IDC_AUDIO_COMPRESSOR", 7, 86, 167, 203);
    MakeLabel(this, units, QStringLiteral("请从下面列表中选择视频格式"), 7, 106, 129, 8);
    // Size, rate and format side by side, each a short list.
    videoModeList = MakeList(this, units, "IDC_VIDEO_MODE", 7, 117, 71, 160);
    videoRateList = MakeList(this, units, "IDC_VIDEO_RATE", 80, 117, 45, 160);
    videoFormatList = MakeList(this, units, "IDC_VIDEO_FORMAT", 127, 117, 47, 160);
    videoModeList->setToolTip(QStringLiteral("画面尺寸"));
    videoRateList->setToolTip(QStringLiteral("帧率"));
    videoFormatList->setToolTip(QStringLiteral("格式"));
    MakeLabel(this, units, QStringLiteral("请从下面列表中选择一个音频输入设备"), 7, 138, 153, 8);
    // Narrower than the lists above: its meter stands beside it.
    audioInputList = MakeList(this, units, "IDC_AUDIO_INPUT", 7, 149, 117, 100);
    inputMeter = new CSoundLevelMeter(
        [this] {
            MeterReading reading;
            reading.active = meterOpen;
            reading.hasInput = !meteredInput.isEmpty();
            reading.count = inputLevels->Read(reading.level);
            return reading;
        },
        this);
    const QRect meterArea = units.Rect(128, 149, 46, 12);
    inputMeter->setGeometry(meterArea.x(), meterArea.y(), meterArea.width(), audioInputList->height());

    setTabOrder(okButton, videoDeviceList);
    setTabOrder(videoDeviceList, videoCompressorList);
    setTabOrder(videoCompressorList, audioCompressorList);
    setTabOrder(audioCompressorList, videoModeList);
    setTabOrder(videoModeList, videoRateList);
    setTabOrder(videoRateList, videoFormatList);
    setTabOrder(videoFormatList, audioInputList);
    setTabOrder(audioInputList, cancelButton);

    // Only the user's choice of camera arrives here: refills block signals.
    connect(videoDeviceList, &QComboBox::currentIndexChanged, this, [this] { FillVideoModes(); });
    connect(videoModeList, &QComboBox::currentIndexChanged, this, [this] { OnVideoSizeChosen(); });
    connect(videoRateList, &QComboBox::currentIndexChanged, this, [this] { OnVideoRateChosen(); });
    connect(audioInputList, &QComboBox::currentIndexChanged, this, [this](int index) {
        microphoneChoice = MicrophoneAt(index);
        MeterChosenInput();
    });
}

void CDeviceDialog::OnInitDialog()
{
    // The device listing comes first: it creates the enumerator that the
    // compressor listings use.
    FillVideoDevices();

    videoCompressorList->addItem(kNoCompression);
    audioCompressorList->addItem(kNoCompression);
    CQtComboBox videoCompressors(videoCompressorList);
    session.ListVideoCompressors(&videoCompressors);
    CQtComboBox audioCompressors(audioCompressorList);
    session.ListAudioCompressors(&audioCompressors);
    // The compressors chosen last time; one no longer installed: "不压缩".
    videoCompressorList->setCurrentIndex(
        qMax(0, videoCompressorList->findText(CaptureChoiceProfile::Compressor(DeviceCategory::VideoCompressor))));
    audioCompressorList->setCurrentIndex(
        qMax(0, audioCompressorList->findText(CaptureChoiceProfile::Compressor(DeviceCategory::AudioCompressor))));

    FillVideoModes();
    microphoneChoice = CaptureChoiceProfile::Microphone();
    FillAudioInputs();
    MeterChosenInput();

    // The platform reports from any thread; the lists are refilled here.
    QPointer<CDeviceDialog> self(this);
    session.SetDeviceChangeHandler([self] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self] {
            if (self) self->OnDevicesChanged();
        }, Qt::QueuedConnection);
    });
    watchingDevices = true;

    videoDeviceList->setFocus();
}

void CDeviceDialog::FillVideoDevices()
{
    // Opened first, the dialog shows the camera in use (if any).
    const std::string previous =
        videoDeviceList->count() > 0 ? SelectedCameraPath() : session.CurrentCameraIdentity();
    const QSignalBlocker quiet(videoDeviceList);
    videoDeviceList->clear();
    cameraPaths.clear();
    CQtComboBox devices(videoDeviceList);
    session.ListVideoDevices(&devices);
    for (int i = 0; i < videoDeviceList->count(); ++i) {
        std::string path;
        session.ReadVideoDevicePath(i, path);
        cameraPaths.push_back(path);
    }
    // An empty list has nothing to select and stays at -1.
    int selected = videoDeviceList->count() > 0 ? 0 : -1;
    const auto kept = std::find(cameraPaths.begin(), cameraPaths.end(), previous);
    if (!previous.empty() && kept != cameraPaths.end())
        selected = static_cast<int>(kept - cameraPaths.begin());
    videoDeviceList->setCurrentIndex(selected);
}

void CDeviceDialog::FillAudioInputs()
{
    const QString wanted = microphoneChoice;
    const QSignalBlocker quiet(audioInputList);
    audioInputList->clear();
    CQtComboBox inputs(audioInputList);
    session.ListAudioInputs(&inputs, microphonePaths);
    audioInputList->addItem(kNoSound);

    int selected = 0;  // the system's default, or 无声音 alone
    QString choice = CaptureChoiceProfile::kDefaultMicrophone;
    if (microphonePaths.empty()) {
        choice = wanted;  // nothing to choose from: the preference waits for an input
    } else if (wanted == CaptureChoiceProfile::kNoMicrophone) {
        selected = audioInputList->count() - 1;
        choice = wanted;
    } else if (wanted != CaptureChoiceProfile::kDefaultMicrophone) {
        const auto found = std::find(microphonePaths.begin(), microphonePaths.end(), wanted.toStdString());
        if (found != microphonePaths.end()) {
            selected = static_cast<int>(found - microphonePaths.begin());
            choice = wanted;  // even when it is listed first, as the default
        }
    }
    audioInputList->setCurrentIndex(selected);
    microphoneChoice = choice;
}

void CDeviceDialog::OnDevicesChanged()
{
    if (!watchingDevices) return;
    FillVideoDevices();
    if (SelectedCameraPath() != modesCameraPath) FillVideoModes();
    FillAudioInputs();
    MeterChosenInput();
}

void CDeviceDialog::MeterChosenInput()
{
    if (!meterOpen) return;
    const bool none = microphonePaths.empty() || microphoneChoice == CaptureChoiceProfile::kNoMicrophone;
    const QString input = none ? QString() : microphoneChoice;
    if (input != meteredInput || (!input.isEmpty() && !metering)) {
        metering.reset();  // one pipeline on one input at a time
        inputLevels->Clear();
        meteredInput = input;
        if (!input.isEmpty()) {
            const std::string path =
                input == CaptureChoiceProfile::kDefaultMicrophone ? std::string() : input.toStdString();
            metering = session.MeterAudioInput(path, [levels = inputLevels](const SoundLevel& level) {
                levels->Put(level);
            });
        }
    }
    inputMeter->Refresh();
}

void CDeviceDialog::StopMetering()
{
    meterOpen = false;
    metering.reset();
    meteredInput.clear();
    inputMeter->Refresh();
}

void CDeviceDialog::StopWatchingDevices()
{
    if (!watchingDevices) return;
    watchingDevices = false;
    session.SetDeviceChangeHandler(nullptr);
}

std::string CDeviceDialog::SelectedCameraPath() const
{
    const int index = videoDeviceList->currentIndex();
    return index >= 0 && index < static_cast<int>(cameraPaths.size()) ? cameraPaths[index] : std::string();
}

QString CDeviceDialog::MicrophoneAt(int index) const
{
    if (microphonePaths.empty()) return microphoneChoice;
    if (index >= static_cast<int>(microphonePaths.size())) return CaptureChoiceProfile::kNoMicrophone;
    // Entry 0 is whatever the system takes as its default.
    if (index <= 0) return CaptureChoiceProfile::kDefaultMicrophone;
    return QString::fromStdString(microphonePaths[index]);
}

void CDeviceDialog::accept()
{
    videoDeviceIndex = videoDeviceList->currentIndex();
    // Entry 0 is "不压缩", so list position k names the catalogue's entry k - 1.
    videoCompressorIndex = qMax(-1, videoCompressorList->currentIndex() - 1);
    audioCompressorIndex = qMax(-1, audioCompressorList->currentIndex() - 1);
    CaptureChoiceProfile::RememberCompressor(
        DeviceCategory::VideoCompressor, videoCompressorIndex < 0 ? QString() : videoCompressorList->currentText());
    CaptureChoiceProfile::RememberCompressor(
        DeviceCategory::AudioCompressor, audioCompressorIndex < 0 ? QString() : audioCompressorList->currentText());

    // The camera also by its identity and name: the list may change before
    // the build, which must not take another camera then.
    const bool cameraChosen = videoDeviceIndex >= 0;
    captureChoice.videoDevicePath = cameraChosen ? SelectedCameraPath() : std::string();
    captureChoice.videoDeviceName = cameraChosen ? videoDeviceList->currentText().toStdString() : std::string();

    captureChoice.videoMode = ChosenVideoMode();
    // A camera that offered no modes had nothing to choose: its memory stays.
    if (cameraChosen && !offeredModes.empty())
        CaptureChoiceProfile::RememberVideoMode(captureChoice.videoDevicePath, captureChoice.videoMode);

    const QString microphone = microphoneChoice;
    captureChoice.audioDevicePath.clear();
    if (microphonePaths.empty()) {
        captureChoice.sound = CaptureChoice::Sound::None;  // as the list shows
    } else {
        CaptureChoiceProfile::RememberMicrophone(microphone);
        if (microphone == CaptureChoiceProfile::kNoMicrophone) {
            captureChoice.sound = CaptureChoice::Sound::None;
        } else if (microphone == CaptureChoiceProfile::kDefaultMicrophone) {
            captureChoice.sound = CaptureChoice::Sound::SystemDefault;
        } else {
            captureChoice.sound = CaptureChoice::Sound::Device;
            captureChoice.audioDevicePath = microphone.toStdString();
        }
    }
    QDialog::accept();
}

void CDeviceDialog::done(int result)
{
    StopWatchingDevices();
    StopMetering();
    QDialog::done(result);
}
