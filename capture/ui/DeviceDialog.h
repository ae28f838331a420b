#pragma once
// The device dialog (template 131): choose the video input device, the video
// compressor and the audio compressor before the first preview is built.

#include <QDialog>
#include <cstdint>

class CCaptureSession;
class QComboBox;
class QLabel;
class QPushButton;

class CDeviceDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDeviceDialog(CCaptureSession& session, QWidget* parent = nullptr);
    explicit CDeviceDialog(QWidget* parent = nullptr);
    ~CDeviceDialog() override;

    // Written only by OK; -1 until then (Esc and the close box leave them).
    // The compressor indexes are the list positions minus 1: -1 = "不压缩".
    int32_t videoDeviceIndex = -1;
    int32_t videoCompressorIndex = -1;
    int32_t audioCompressorIndex = -1;

    QComboBox* VideoDeviceList() const { return videoDeviceList; }
    QComboBox* VideoCompressorList() const { return videoCompressorList; }
    QComboBox* AudioCompressorList() const { return audioCompressorList; }
    QPushButton* OkButton() const { return okButton; }

public slots:
    void accept() override;  // OnOK

private:
    void CreateControls();
    void OnInitDialog();

    CCaptureSession& session;
    QComboBox* audioCompressorList = nullptr;  // IDC_AUDIO_COMPRESSOR (1008)
    QComboBox* videoCompressorList = nullptr;  // IDC_VIDEO_COMPRESSOR (1007)
    QComboBox* videoDeviceList = nullptr;      // IDC_VIDEO_DEVICE (1000)
    QPushButton* okButton = nullptr;
};
