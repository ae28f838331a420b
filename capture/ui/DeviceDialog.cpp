#include "capture/ui/DeviceDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "capture/CaptureSession.h"
#include "capture/ui/QtComboBox.h"
#include "res/DialogUnits.h"

namespace {

const QString kNoCompression = QStringLiteral("不压缩");

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

CDeviceDialog::~CDeviceDialog() = default;

void CDeviceDialog::CreateControls()
{
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("视频设备"));
    const DialogUnits units(font);
    setFixedSize(units.Size(181, 127));

    // Template order, which is also the tab order.
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    okButton->setAutoDefault(true);
    units.Place(okButton, 124, 106, 50, 14);
    connect(okButton, &QPushButton::clicked, this, &CDeviceDialog::accept);

    videoDeviceList = MakeList(this, units, "IDC_VIDEO_DEVICE", 7, 21, 167, 196);
    MakeLabel(this, units, QStringLiteral("请从下面列表里选择一个视频输入设备"), 7, 10, 153, 8);
    MakeLabel(this, units, QStringLiteral("请从下面列表中选择一个视频压缩器"), 7, 42, 129, 8);
    videoCompressorList = MakeList(this, units, "IDC_VIDEO_COMPRESSOR", 7, 53, 167, 157);
    MakeLabel(this, units, QStringLiteral("请从下面列表中选择一个音频压缩器"), 7, 74, 129, 8);
    audioCompressorList = MakeList(this, units, "IDC_AUDIO_COMPRESSOR", 7, 86, 167, 203);

    setTabOrder(okButton, videoDeviceList);
    setTabOrder(videoDeviceList, videoCompressorList);
    setTabOrder(videoCompressorList, audioCompressorList);
}

void CDeviceDialog::OnInitDialog()
{
    // The device listing comes first: it creates the enumerator that the
    // compressor listings use.
    CQtComboBox devices(videoDeviceList);
    session.ListVideoDevices(&devices);
    // An empty list has nothing to select and stays at -1.
    videoDeviceList->setCurrentIndex(videoDeviceList->count() > 0 ? 0 : -1);

    videoCompressorList->addItem(kNoCompression);
    audioCompressorList->addItem(kNoCompression);
    CQtComboBox videoCompressors(videoCompressorList);
    session.ListVideoCompressors(&videoCompressors);
    CQtComboBox audioCompressors(audioCompressorList);
    session.ListAudioCompressors(&audioCompressors);
    videoCompressorList->setCurrentIndex(0);
    audioCompressorList->setCurrentIndex(0);

    videoDeviceList->setFocus();
}

void CDeviceDialog::accept()
{
    videoDeviceIndex = videoDeviceList->currentIndex();
    // Entry 0 is "不压缩", so list position k names the catalogue's entry k - 1.
    videoCompressorIndex = qMax(-1, videoCompressorList->currentIndex() - 1);
    audioCompressorIndex = qMax(-1, audioCompressorList->currentIndex() - 1);
    QDialog::accept();
}
