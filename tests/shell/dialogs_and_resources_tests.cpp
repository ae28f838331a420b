// The device dialog on the real catalogue, the About box, the document's
// Save, and the command resources the frame is built from.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QLocale>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTranslator>
#include <QPushButton>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include <clocale>
#include <cstdlib>
#include <langinfo.h>

#include "app/LumoraDoc.h"
#include "app/Messages.h"
#include "app/QtTranslations.h"
#include "capture/CaptureSession.h"
#include "capture/gst/GstCapturePlatform.h"
#include "capture/ui/DeviceDialog.h"
#include "frame/AboutDialog.h"
#include "res/Resources.h"
#include "settings/SettingsFile.h"
#include "settings/ui/VideoFileDialog.h"

namespace {

TEST(DeviceDialog, ListsTheDevicesWithNoCompressionFirstAndOkGivesTheIndexes) {
    CCaptureSession session{CreateGstCapturePlatform()};
    {
        CDeviceDialog dialog(session, nullptr);
        dialog.show();
        QApplication::processEvents();
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("视频设备"));
        QComboBox* devices = dialog.VideoDeviceList();
        ASSERT_GE(devices->count(), 1);
        EXPECT_EQ(devices->currentIndex(), 0);
        EXPECT_GE(devices->findText(QStringLiteral("Lumora Test Pattern")), 0);
        for (QComboBox* list : {dialog.VideoCompressorList(), dialog.AudioCompressorList()}) {
            EXPECT_EQ(list->itemText(0), QStringLiteral("不压缩"));
            EXPECT_EQ(list->currentIndex(), 0);
            EXPECT_GE(list->count(), 2);
        }
        EXPECT_EQ(dialog.videoDeviceIndex, -1);  // nothing before OK
        dialog.VideoCompressorList()->setCurrentIndex(1);
        dialog.OkButton()->click();
        EXPECT_EQ(dialog.videoDeviceIndex, 0);
        EXPECT_EQ(dialog.videoCompressorIndex, 0);  // the first listed compressor
        EXPECT_EQ(dialog.audioCompressorIndex, -1);
    }
    {
        CDeviceDialog dialog(session, nullptr);
        dialog.show();
        QApplication::processEvents();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.videoDeviceIndex, -1);
        EXPECT_EQ(dialog.videoCompressorIndex, -1);
        EXPECT_EQ(dialog.audioCompressorIndex, -1);
    }
}

TEST(AboutBox, PaintsItsSevenLinesEveryTime) {
    const auto& lines = CAboutDialog::PaintedLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].position, QPoint(65, 15));
    EXPECT_EQ(lines[4].position, QPoint(102, 75));
    EXPECT_EQ(lines[6].position, QPoint(65, 105));
    EXPECT_EQ(lines[0].text, QStringLiteral("Lumora 1.0 版"));
    for (const AboutLine& line : lines) EXPECT_FALSE(line.text.isEmpty());

    CAboutDialog about;
    about.show();
    QApplication::processEvents();
    const QImage first = about.grab().toImage();
    const QImage second = about.grab().toImage();
    EXPECT_EQ(first, second);
    // Some dark text where the first line is drawn.
    bool dark = false;
    for (int x = 65; x < 140 && !dark; ++x)
        for (int y = 15; y < 30 && !dark; ++y) dark = qGray(first.pixel(x, y)) < 100;
    EXPECT_TRUE(dark);
}

TEST(Document, SaveCopiesTheRecordingAndReportsAMissingOne) {
    QTemporaryDir dir;
    const QString recording = dir.filePath("capture.avi");
    {
        std::ofstream out(recording.toStdString(), std::ios::binary);
        out << std::string(100000, 'r') << "end";
    }
    StorePath(settings.videoFilePath, recording.toStdString());
    appDirectory = QDir::currentPath().toStdString();
    QStringList messages;
    auto previous = SetMessageBoxHook([&](const QString& text) { messages << text; });

    CLumoraDoc document;
    const QString copy = dir.filePath("copy.avi");
    SetVideoSavePathHook([&] { return copy; });
    document.OnFileSaveAs();
    std::ifstream a(recording.toStdString(), std::ios::binary), b(copy.toStdString(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), std::string(std::istreambuf_iterator<char>(b), {}));
    EXPECT_TRUE(messages.isEmpty());

    // Cancelled: nothing copied.
    const QString second = dir.filePath("second.avi");
    SetVideoSavePathHook([] { return QString(); });
    document.OnFileSave();
    EXPECT_FALSE(QFile::exists(second));

    // No recording yet: a message, and no target left behind.
    StorePath(settings.videoFilePath, dir.filePath("none.avi").toStdString());
    SetVideoSavePathHook([&] { return second; });
    document.OnFileSave();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(QFile::exists(second));

    SetVideoSavePathHook(nullptr);
    SetMessageBoxHook(previous);
}

TEST(Resources, TablesAndPictures) {
    EXPECT_EQ(AcceleratorResource().size(), 13u);
    EXPECT_EQ(ToolbarResource(),
              (std::vector<int>{ID_VIDEO_START, ID_VIDEO_RECORD, ID_VIDEO_PAUSE, ID_VIDEO_STOP, ID_VIDEO_SNAPSHOT,
                                ID_VIEW_OPTIONS, ID_APP_ABOUT}));
    EXPECT_EQ(ToolbarBitmap().size(), QSize(140, 20));
    const QImage background = BackgroundBitmap();
    EXPECT_EQ(background.size(), QSize(300, 246));
    EXPECT_EQ(background.depth(), 24);
    EXPECT_EQ(IdleMessage(), QStringLiteral("就绪"));
    // Where prompt and label differ.
    EXPECT_EQ(CommandStringFor(ID_VIDEO_RECORD).prompt, QStringLiteral("开始录相"));
    EXPECT_EQ(CommandStringFor(ID_WINDOW_MINIMAL).tooltip, QStringLiteral("最小模式"));
    EXPECT_EQ(CommandStringFor(ID_WINDOW_COMPATIBLE).tooltip, QStringLiteral("兼容模式"));
    EXPECT_FALSE(CommandStringFor(ID_HELP_README).exists);
    bool snapshotLabel = false;
    for (const PopupEntry& popup : MainMenuResource())
        for (const MenuEntry& entry : popup.items)
            snapshotLabel |= entry.id == ID_VIDEO_SNAPSHOT && entry.label == QStringLiteral("拍照        Space");
    EXPECT_TRUE(snapshotLabel);
    ASSERT_EQ(ViewPopupResource().items.size(), 3u);
    EXPECT_EQ(ViewPopupResource().items[2].id, ID_POPUP_FULLSCREEN);
}

}  // namespace

TEST(QtTranslations, StandardDialogsSpeakChinese)
{
    QTranslator* translator = InstallQtChineseTranslations();
    ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm is not installed";
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Lumora"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
        EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("是")))
            << box.button(QMessageBox::Yes)->text().toStdString();
        EXPECT_TRUE(box.button(QMessageBox::No)->text().startsWith(QStringLiteral("否")));
        EXPECT_TRUE(box.button(QMessageBox::Ok)->text().startsWith(QStringLiteral("确定")));
    }
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST(ChineseLocale, FileDialogsShowChineseDatesAndSizes)
{
    // Started as main() starts the program (tests/shell/main.cpp).
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);
    EXPECT_EQ(QLocale().territory(), QLocale::China);

    // The file dialogs' model formats with the system locale.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::ofstream(dir.filePath("small.avi").toStdString()) << "abc";
    QFileSystemModel model;
    const QModelIndex root = model.setRootPath(dir.path());
    QElapsedTimer timer;
    timer.start();
    while (model.rowCount(root) == 0 && timer.elapsed() < 5000) QCoreApplication::processEvents();
    ASSERT_EQ(model.rowCount(root), 1);
    const QString size = model.data(model.index(0, 1, root)).toString();
    const QString date = model.data(model.index(0, 3, root)).toString();
    EXPECT_EQ(size, "3 字节");
    const QDate today = QDate::currentDate();
    EXPECT_TRUE(date.startsWith(QString::number(today.year()) + "/")) << date.toStdString();
    EXPECT_FALSE(date.contains(QLocale::c().monthName(today.month(), QLocale::ShortFormat))) << date.toStdString();

    // The C library keeps the user's locale: no Chinese one may be installed.
    const char* lang = std::getenv("LANG");
    if (!std::getenv("LC_ALL") && !std::getenv("LC_CTYPE") && lang && QByteArray(lang).toUpper().contains("UTF")) {
        EXPECT_STREQ(nl_langinfo(CODESET), "UTF-8");
    }
    const char* time = std::getenv("LC_TIME");
    EXPECT_TRUE(!time || QByteArray(time) != "zh_CN.UTF-8") << "the environment was not given back";
}
