#include "settings/ui/OptionsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>
#include <mutex>

#include "app/Messages.h"
#include "app/Profile.h"
#include "capture/CaptureSession.h"
#include "res/DialogUnits.h"
#include "settings/SettingsFile.h"
#include "settings/ui/VideoFileDialog.h"

namespace {

// Page templates: pages 1 and 2 are 211 x 94 dialog units, page 3 183 x 94.
constexpr int kPageWidth = 211;
constexpr int kPageHeight = 94;
constexpr int kPage3Width = 183;

const QString kNewFileEachTakeKey = QStringLiteral("Recording/NewFileEachTake");

QLabel* MakeStatic(QWidget* page, const DialogUnits& units, const char* text, int x, int y, int w, int h)
{
    auto* label = new QLabel(QString::fromUtf8(text), page);
    units.Place(label, x, y, w, h);
    return label;
}

QLineEdit* MakePathEdit(QWidget* page, const DialogUnits& units, int x, int y, int w, int h)
{
    auto* edit = new QLineEdit(page);
    edit->setReadOnly(true);  // a path changes only through the page's button
    units.Place(edit, x, y, w, h);
    return edit;
}

// A path the program does not use shows as not set, never as its bytes.
QString ReadField(const char (&field)[kPathBufferSize])
{
    std::lock_guard<std::mutex> lock(SettingsMutex());
    const std::string path = ReadPath(field);
    return IsUsablePath(path) ? QString::fromStdString(path) : QString();
}

void ShowDefaultWhenNotSet(QLineEdit* edit, const std::string& fallback)
{
    edit->setPlaceholderText(QStringLiteral("未设置，使用“%1”").arg(QString::fromStdString(fallback)));
}

// Stores a chosen path; one that the record cannot hold is refused here,
// where it was chosen, and nothing changes.
bool StoreField(char (&field)[kPathBufferSize], const QString& path, QWidget* page)
{
    const std::string bytes = path.toStdString();
    bool stored = false;
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        stored = StorePath(field, bytes);
    }
    if (!stored) ShowMessageBox(QString::fromStdString(PathTooLongMessage(bytes)), page);
    return stored;
}

}  // namespace

CMyPropertyPage1::CMyPropertyPage1(QWidget* parent) : QWidget(parent)
{
    const DialogUnits units;
    setFont(DialogFont());
    setMinimumSize(units.Size(kPageWidth, kPageHeight));
    MakeStatic(this, units, "请设置视频文件存放位置及名称", 7, 11, 112, 8);
    pathEdit = MakePathEdit(this, units, 7, 41, 197, 14);
    saveAsButton = new QPushButton(QStringLiteral("保存为..."), this);
    units.Place(saveAsButton, 154, 7, 50, 14);
    MakeStatic(this, units, "文件路径", 7, 30, 33, 8);
    connect(saveAsButton, &QPushButton::clicked, this, &CMyPropertyPage1::OnSaveAs);
}

void CMyPropertyPage1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Values are read when the page is first shown, not at construction.
    if (!loaded)
        OnInitDialog();
}

void CMyPropertyPage1::OnInitDialog()
{
    loaded = true;
    m_strVideoPath = ReadField(settings.videoFilePath);
    pathEdit->setText(m_strVideoPath);
    ShowDefaultWhenNotSet(pathEdit, DefaultVideoFilePath());
}

void CMyPropertyPage1::OnSaveAs()
{
    const QString path = AskVideoSavePath(this);
    if (path.isEmpty())
        return;
    if (!StoreField(settings.videoFilePath, path, this))
        return;
    m_strVideoPath = path;
    pathEdit->setText(m_strVideoPath);
    SaveSettings();
}

CMyPropertyPage2::CMyPropertyPage2(QWidget* parent) : QWidget(parent)
{
    const DialogUnits units;
    setFont(DialogFont());
    setMinimumSize(units.Size(kPageWidth, kPageHeight));
    MakeStatic(this, units, "照片存放位置", 8, 11, 49, 8);
    folderEdit = MakePathEdit(this, units, 7, 25, 197, 14);
    browseButton = new QPushButton(QStringLiteral("浏览"), this);
    units.Place(browseButton, 154, 7, 50, 14);

    namingRadio = new QRadioButton(QStringLiteral("按拍摄日期时间命名照片"), this);
    units.Place(namingRadio, 7, 49, 104, 10);
    bmpRadio = new QRadioButton(QStringLiteral("位图文件(BMP)"), this);
    units.Place(bmpRadio, 7, 70, 68, 10);
    jpgRadio = new QRadioButton(QStringLiteral("JPG图片"), this);
    units.Place(jpgRadio, 84, 69, 44, 10);

    // Two groups: the naming radio alone (always selected), and the formats.
    namingGroup = new QButtonGroup(this);
    namingGroup->addButton(namingRadio, 0);
    formatGroup = new QButtonGroup(this);
    formatGroup->addButton(bmpRadio, 0);
    formatGroup->addButton(jpgRadio, 1);

    connect(browseButton, &QPushButton::clicked, this, &CMyPropertyPage2::OnBrowse);
    // clicked, not toggled: a click on the selected button saves as well.
    connect(bmpRadio, &QRadioButton::clicked, this, &CMyPropertyPage2::OnFormatBmp);
    connect(jpgRadio, &QRadioButton::clicked, this, &CMyPropertyPage2::OnFormatJpg);
}

void CMyPropertyPage2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!loaded)
        OnInitDialog();
}

void CMyPropertyPage2::OnInitDialog()
{
    loaded = true;
    m_strPhotoFolder = ReadField(settings.photoFolder);
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        m_nFormat = settings.photoFormat;
    }
    m_nNaming = 0;
    folderEdit->setText(m_strPhotoFolder);
    ShowDefaultWhenNotSet(folderEdit, DefaultPhotoFolder());
    namingRadio->setChecked(m_nNaming == 0);
    ShowFormat();
}

void CMyPropertyPage2::ShowFormat()
{
    // A value that matches no button leaves both unselected; an exclusive
    // group refuses to uncheck its last button, so lift exclusivity briefly.
    formatGroup->setExclusive(false);
    bmpRadio->setChecked(m_nFormat == 0);
    jpgRadio->setChecked(m_nFormat == 1);
    formatGroup->setExclusive(true);
}

void CMyPropertyPage2::OnBrowse()
{
    const QString folder = AskPhotoFolder(this);
    if (folder.isEmpty())
        return;
    if (!StoreField(settings.photoFolder, folder, this))
        return;
    m_strPhotoFolder = folder;
    folderEdit->setText(m_strPhotoFolder);
    ShowFormat();
    SaveSettings();
}

void CMyPropertyPage2::StoreFormat(int format)
{
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        settings.photoFormat = format;
    }
    m_nFormat = format;
    SaveSettings();
}

void CMyPropertyPage2::OnFormatBmp() { StoreFormat(0); }
void CMyPropertyPage2::OnFormatJpg() { StoreFormat(1); }

CMyPropertyPage3::CMyPropertyPage3(QWidget* parent) : QWidget(parent)
{
    const DialogUnits units;
    setFont(DialogFont());
    setMinimumSize(units.Size(kPage3Width, kPageHeight));
    newFileEachTake = new QCheckBox(QStringLiteral("每次录相使用新的文件名"), this);
    units.Place(newFileEachTake, 7, 11, 169, 10);
    QLabel* example = MakeStatic(this, units,
                                 "在录相文件名后加上开始录相的日期和时间，例如“capture 20261210 143501.avi”。"
                                 "不选时，每次录相都覆盖同一个文件。",
                                 7, 26, 169, 40);
    example->setWordWrap(true);
    newFileEachTake->setChecked(NewFileEachTakeRemembered());
    connect(newFileEachTake, &QCheckBox::toggled, this, &RememberNewFileEachTake);
}

bool NewFileEachTakeRemembered()
{
    return OpenProfile(QString())->value(kNewFileEachTakeKey, false).toBool();
}

void RememberNewFileEachTake(bool on)
{
    const auto profile = OpenProfile(QString());
    profile->setValue(kNewFileEachTakeKey, on);
    profile->sync();
    TheCaptureSession().SetNewFileEachTake(on);
}

CMyPropertySheet::CMyPropertySheet(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("设置"));
    setFont(DialogFont());

    tabs = new QTabWidget(this);
    page1 = new CMyPropertyPage1;
    page2 = new CMyPropertyPage2;
    page3 = new CMyPropertyPage3;
    tabs->addTab(page1, QStringLiteral("视频文件"));
    tabs->addTab(page2, QStringLiteral("照片"));
    tabs->addTab(page3, QStringLiteral("其他"));

    // OK and Cancel only close: every change is already saved. No Apply.
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    previousErrorHandler = CurrentSettingsErrorHandler();
    SetSettingsErrorHandler([this](const std::string& message) {
        ShowMessageBox(QString::fromStdString(message), this);
    });
}

CMyPropertySheet::~CMyPropertySheet()
{
    SetSettingsErrorHandler(std::move(previousErrorHandler));
}

void OpenOptionsDialog(QWidget* parent)
{
    CMyPropertySheet sheet(parent);
    sheet.exec();
}
