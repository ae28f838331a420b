#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

#include "app/Messages.h"
#include "base/SystemErrorText.h"
#include "res/DialogUnits.h"
#include "settings/SettingsFile.h"
#include "tests/SettingsBytes.h"
#include "settings/ui/OptionsDialog.h"
#include "settings/ui/VideoFileDialog.h"

namespace fs = std::filesystem;

namespace {

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lumora_options_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "elsewhere");
        savedDirectory = appDirectory;
        savedCurrent = QDir::currentPath();
        appDirectory = dir.string();
        QDir::setCurrent(QString::fromStdString(appDirectory));

        // A record with recognisable bytes behind each NUL.
        std::vector<char> bytes(524, 'T');
        const std::string video = "/old/long/recording-target.avi";
        std::memcpy(bytes.data(), video.c_str(), video.size() + 1);
        const std::string folder = "/old/photos";
        std::memcpy(bytes.data() + 260, folder.c_str(), folder.size() + 1);
        const int32_t format = 0;
        std::memcpy(bytes.data() + 520, &format, 4);
        WriteIni(bytes);

        previousBox = SetMessageBoxHook([this](const QString& text) { boxes << text; });
    }
    void TearDown() override
    {
        SetVideoSavePathHook(nullptr);
        SetFolderChooserHook(nullptr);
        SetMessageBoxHook(previousBox);
        appDirectory = savedDirectory;
        settings = SettingsRecord{};
        QDir::setCurrent(savedCurrent);
        fs::remove_all(dir);
    }
    fs::path IniPath() const { return dir / "setting.ini"; }
    void WriteIni(const std::vector<char>& bytes)
    {
        WriteBytes(IniPath(), bytes);
        ASSERT_TRUE(LoadSettings().ok);
        initial = bytes;
    }
    // Hooks that browse away first, as a real dialog may change directory.
    PathDialogHook Answer(const QString& path)
    {
        const QString away = QString::fromStdString((dir / "elsewhere").string());
        return [path, away] {
            QDir::setCurrent(away);
            return path;
        };
    }

    fs::path dir;
    std::string savedDirectory;
    QString savedCurrent;
    std::vector<char> initial;
    QStringList boxes;
    MessageBoxHook previousBox;
};

TEST_F(OptionsDialogTest, SheetHasTitlePagesAndLabels)
{
    CMyPropertySheet sheet;
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("设置"));
    ASSERT_EQ(sheet.tabs->count(), 3);
    EXPECT_EQ(sheet.tabs->tabText(0), QStringLiteral("视频文件"));
    EXPECT_EQ(sheet.tabs->tabText(1), QStringLiteral("照片"));
    EXPECT_EQ(sheet.tabs->tabText(2), QStringLiteral("其他"));
    EXPECT_EQ(sheet.buttons->buttons().size(), 2);  // OK and Cancel, no Apply
    EXPECT_EQ(sheet.buttons->button(QDialogButtonBox::Apply), nullptr);

    QStringList labels1;
    for (QLabel* label : sheet.page1->findChildren<QLabel*>())
        labels1 << label->text();
    EXPECT_TRUE(labels1.contains(QStringLiteral("请设置视频文件存放位置及名称")));
    EXPECT_TRUE(labels1.contains(QStringLiteral("文件路径")));
    EXPECT_EQ(sheet.page1->saveAsButton->text(), QStringLiteral("保存为..."));
    EXPECT_TRUE(sheet.page1->pathEdit->isReadOnly());

    EXPECT_EQ(sheet.page2->findChild<QLabel*>()->text(), QStringLiteral("照片存放位置"));
    EXPECT_EQ(sheet.page2->browseButton->text(), QStringLiteral("浏览"));
    EXPECT_EQ(sheet.page2->namingRadio->text(), QStringLiteral("按拍摄日期时间命名照片"));
    EXPECT_EQ(sheet.page2->bmpRadio->text(), QStringLiteral("位图文件(BMP)"));
    EXPECT_EQ(sheet.page2->jpgRadio->text(), QStringLiteral("JPG图片"));
    EXPECT_TRUE(sheet.page2->folderEdit->isReadOnly());
    EXPECT_EQ(sheet.page3->newFileEachTake->text(), QStringLiteral("每次录相使用新的文件名"));
    EXPECT_FALSE(sheet.page3->newFileEachTake->isChecked());  // each take overwrites, unless chosen

    // The pages get at least their template's size, so no control is clipped.
    sheet.show();
    const DialogUnits units;
    EXPECT_GE(sheet.page1->width(), units.X(211));
    EXPECT_GE(sheet.page1->height(), units.Y(94));
    EXPECT_EQ(sheet.page1->saveAsButton->geometry(), units.Rect(154, 7, 50, 14));
    sheet.close();
}

TEST_F(OptionsDialogTest, PagesLoadWhenFirstShown)
{
    CMyPropertySheet sheet;
    EXPECT_FALSE(sheet.page1->IsLoaded());
    sheet.show();
    EXPECT_TRUE(sheet.page1->IsLoaded());
    EXPECT_EQ(sheet.page1->pathEdit->text(), QStringLiteral("/old/long/recording-target.avi"));
    EXPECT_FALSE(sheet.page2->IsLoaded());

    // A change made after opening shows on a page opened later.
    StorePath(settings.photoFolder, "/later");
    sheet.tabs->setCurrentIndex(1);
    EXPECT_TRUE(sheet.page2->IsLoaded());
    EXPECT_EQ(sheet.page2->folderEdit->text(), QStringLiteral("/later"));
    EXPECT_TRUE(sheet.page2->namingRadio->isChecked());
    EXPECT_TRUE(sheet.page2->bmpRadio->isChecked());
    EXPECT_FALSE(sheet.page2->jpgRadio->isChecked());
    sheet.close();
}

TEST_F(OptionsDialogTest, SaveAsStoresPathSavesByteExactAndRestoresDirectory)
{
    SetVideoSavePathHook(Answer(QStringLiteral("/new.avi")));
    CMyPropertySheet sheet;
    sheet.show();
    sheet.page1->saveAsButton->click();

    EXPECT_EQ(sheet.page1->pathEdit->text(), QStringLiteral("/new.avi"));
    EXPECT_EQ(ReadPath(settings.videoFilePath), "/new.avi");
    std::vector<char> expected = initial;
    std::memcpy(expected.data(), "/new.avi", 9);  // the old path's tail stays behind the NUL
    EXPECT_EQ(ReadBytes(IniPath()), expected);
    EXPECT_EQ(RecordBytes(), expected);
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(appDirectory));
    EXPECT_TRUE(boxes.isEmpty());
    sheet.close();
}

TEST_F(OptionsDialogTest, CancelledDialogsChangeNothingButRestoreDirectory)
{
    SetVideoSavePathHook(Answer(QString()));
    SetFolderChooserHook(Answer(QString()));
    const auto before = fs::last_write_time(IniPath());
    CMyPropertySheet sheet;
    sheet.show();
    sheet.page1->saveAsButton->click();
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(appDirectory));
    sheet.tabs->setCurrentIndex(1);
    sheet.page2->browseButton->click();
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(appDirectory));

    EXPECT_EQ(sheet.page1->pathEdit->text(), QStringLiteral("/old/long/recording-target.avi"));
    EXPECT_EQ(sheet.page2->folderEdit->text(), QStringLiteral("/old/photos"));
    EXPECT_EQ(RecordBytes(), initial);
    EXPECT_EQ(ReadBytes(IniPath()), initial);
    EXPECT_EQ(fs::last_write_time(IniPath()), before);
    sheet.close();
}

TEST_F(OptionsDialogTest, PathsTooLongForTheRecordAreRefusedWhereChosen)
{
    // 300 characters; and a Chinese folder of 100 characters, 300 bytes.
    const QString longFile = "/" + QString(295, 'v') + ".avi";
    const QString chineseFolder = "/" + QString(100, QChar(0x7167));  // 照
    ASSERT_EQ(chineseFolder.toStdString().size(), 301u);
    SetVideoSavePathHook(Answer(longFile));
    SetFolderChooserHook(Answer(chineseFolder));
    const auto before = fs::last_write_time(IniPath());
    CMyPropertySheet sheet;
    sheet.show();
    sheet.page1->saveAsButton->click();
    sheet.tabs->setCurrentIndex(1);
    sheet.page2->browseButton->click();

    ASSERT_EQ(boxes.size(), 2);
    for (const QString& box : boxes) {
        EXPECT_TRUE(box.contains("259")) << box.toStdString();
        EXPECT_TRUE(box.startsWith("路径太长")) << box.toStdString();
    }
    EXPECT_TRUE(boxes[0].contains(longFile));
    EXPECT_TRUE(boxes[1].contains(chineseFolder));
    // Nothing cut, nothing written: the old paths stay everywhere.
    EXPECT_EQ(sheet.page1->pathEdit->text(), QStringLiteral("/old/long/recording-target.avi"));
    EXPECT_EQ(sheet.page2->folderEdit->text(), QStringLiteral("/old/photos"));
    EXPECT_EQ(RecordBytes(), initial);
    EXPECT_EQ(ReadBytes(IniPath()), initial);
    EXPECT_EQ(fs::last_write_time(IniPath()), before);
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(appDirectory));
    sheet.close();
}

TEST_F(OptionsDialogTest, FormatRadiosStoreAndSaveEvenWhenAlreadySelected)
{
    CMyPropertySheet sheet;
    sheet.show();
    sheet.tabs->setCurrentIndex(1);
    ASSERT_TRUE(sheet.page2->bmpRadio->isChecked());

    // Already selected: the file is rewritten all the same.
    fs::remove(IniPath());
    sheet.page2->bmpRadio->click();
    EXPECT_EQ(ReadBytes(IniPath()), initial);

    sheet.page2->jpgRadio->click();
    EXPECT_EQ(settings.photoFormat, 1);
    EXPECT_TRUE(sheet.page2->jpgRadio->isChecked());
    EXPECT_FALSE(sheet.page2->bmpRadio->isChecked());
    EXPECT_TRUE(sheet.page2->namingRadio->isChecked());
    std::vector<char> file = ReadBytes(IniPath());
    ASSERT_EQ(file.size(), 524u);
    int32_t stored = 0;
    std::memcpy(&stored, file.data() + 520, 4);
    EXPECT_EQ(stored, 1);

    sheet.page2->bmpRadio->click();
    EXPECT_EQ(settings.photoFormat, 0);
    EXPECT_EQ(ReadBytes(IniPath()), initial);
    sheet.close();
}

TEST_F(OptionsDialogTest, UnknownFormatShowsNeitherRadioAndClickStoresValue)
{
    settings.photoFormat = 2;
    CMyPropertySheet sheet;
    sheet.show();
    sheet.tabs->setCurrentIndex(1);
    EXPECT_FALSE(sheet.page2->bmpRadio->isChecked());
    EXPECT_FALSE(sheet.page2->jpgRadio->isChecked());
    EXPECT_TRUE(sheet.page2->namingRadio->isChecked());
    sheet.page2->jpgRadio->click();
    EXPECT_EQ(settings.photoFormat, 1);
    EXPECT_TRUE(sheet.page2->jpgRadio->isChecked());
    sheet.close();
}

TEST_F(OptionsDialogTest, BrowseAfterJpgKeepsJpg)
{
    SetFolderChooserHook(Answer(QStringLiteral("/pics")));
    CMyPropertySheet sheet;
    sheet.show();
    sheet.tabs->setCurrentIndex(1);
    sheet.page2->jpgRadio->click();
    sheet.page2->browseButton->click();
    EXPECT_EQ(sheet.page2->folderEdit->text(), QStringLiteral("/pics"));
    EXPECT_TRUE(sheet.page2->jpgRadio->isChecked());
    EXPECT_EQ(settings.photoFormat, 1);
    EXPECT_EQ(ReadPath(settings.photoFolder), "/pics");
    EXPECT_EQ(ReadBytes(IniPath()), RecordBytes());
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(appDirectory));
    sheet.close();
}

TEST_F(OptionsDialogTest, PageNeverOpenedSavesNothing)
{
    const auto before = fs::last_write_time(IniPath());
    {
        CMyPropertySheet sheet;
        sheet.show();
        QApplication::processEvents();
        sheet.buttons->button(QDialogButtonBox::Ok)->click();
    }
    EXPECT_EQ(ReadBytes(IniPath()), initial);
    EXPECT_EQ(fs::last_write_time(IniPath()), before);
}

TEST_F(OptionsDialogTest, CancelAfterChangeKeepsIt)
{
    SetVideoSavePathHook(Answer(QStringLiteral("/kept.avi")));
    {
        CMyPropertySheet sheet;
        sheet.show();
        sheet.page1->saveAsButton->click();
        sheet.buttons->button(QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(sheet.result(), QDialog::Rejected);
    }
    EXPECT_EQ(ReadPath(settings.videoFilePath), "/kept.avi");
    ASSERT_TRUE(LoadSettings().ok);
    EXPECT_EQ(ReadPath(settings.videoFilePath), "/kept.avi");

    // Opening again shows the value saved last time.
    CMyPropertySheet again;
    again.show();
    EXPECT_EQ(again.page1->pathEdit->text(), QStringLiteral("/kept.avi"));
    again.close();
}

TEST_F(OptionsDialogTest, FailedSaveShowsReasonAndKeepsNewValue)
{
    const std::string original = appDirectory;
    appDirectory = (dir / "missing").string();  // setting.ini cannot be written there
    SetFolderChooserHook([] { return QStringLiteral("/unsaved"); });
    {
        CMyPropertySheet sheet;
        sheet.show();
        sheet.tabs->setCurrentIndex(1);
        sheet.page2->browseButton->click();
        EXPECT_EQ(sheet.page2->folderEdit->text(), QStringLiteral("/unsaved"));
    }
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QString::fromStdString(appDirectory + "/setting.ini")));
    EXPECT_TRUE(boxes[0].contains(QString::fromStdString(SystemErrorText(ENOENT))));
    EXPECT_EQ(ReadPath(settings.photoFolder), "/unsaved");
    appDirectory = original;
    EXPECT_EQ(ReadBytes(IniPath()), initial);
}

}  // namespace
