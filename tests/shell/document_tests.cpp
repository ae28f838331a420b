// Save / Save As of the recording onto what a shared folder may hold at the
// chosen name: a link, a dangling link, a FIFO; and a source that is not a
// regular file.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "app/LumoraDoc.h"
#include "app/Messages.h"
#include "settings/SettingsFile.h"
#include "settings/ui/VideoFileDialog.h"

namespace fs = std::filesystem;

namespace {

std::string Bytes(const QString& path) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const QString& path, const std::string& bytes) {
    std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary) << bytes;
}

class DocumentSave : public ::testing::Test {
protected:
    void SetUp() override {
        Write(recording, std::string(200000, 'r'));
        Write(victim, "the victim's own bytes");
        StorePath(settings.videoFilePath, recording.toStdString());
        previousHook = SetMessageBoxHook([this](const QString& text) { messages << text; });
    }
    void TearDown() override {
        SetVideoSavePathHook(nullptr);
        SetMessageBoxHook(previousHook);
    }

    void SaveAs(const QString& target) {
        SetVideoSavePathHook([target] { return target; });
        document.OnFileSaveAs();
    }

    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString recording = dir.filePath("capture.avi");
    const QString victim = elsewhere.filePath("victim");
    QStringList messages;
    std::function<void(const QString&)> previousHook;
    CLumoraDoc document;
};

TEST_F(DocumentSave, ALinkAtTheTargetIsRefusedByNameAndItsTargetKept) {
    const QString target = dir.filePath("copy.avi");
    ASSERT_TRUE(QFile::link(victim, target));
    SaveAs(target);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(target)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("符号链接"))) << messages[0].toStdString();
    EXPECT_EQ(Bytes(victim), "the victim's own bytes");
    EXPECT_TRUE(QFileInfo(target).isSymLink());

    // A link to the recording itself is refused too, not taken for it.
    const QString toRecording = dir.filePath("same.avi");
    ASSERT_TRUE(QFile::link(recording, toRecording));
    SaveAs(toRecording);
    EXPECT_EQ(messages.size(), 2);

    // Dangling: nothing is made where it points.
    const QString dangling = dir.filePath("dangling.avi");
    ASSERT_TRUE(QFile::link(elsewhere.filePath("not-yet.avi"), dangling));
    SaveAs(dangling);
    EXPECT_EQ(messages.size(), 3);
    EXPECT_FALSE(QFile::exists(elsewhere.filePath("not-yet.avi")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System).size(),
              4);  // no temporary left beside the targets
}

TEST_F(DocumentSave, AFifoAtTheTargetOrAsTheRecordingIsRefusedWithoutBlocking) {
    const QString fifo = dir.filePath("fifo.avi");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    auto save = std::async(std::launch::async, [&] { return CopyRecordingFile(recording, fifo); });
    ASSERT_EQ(save.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const RecordingCopyResult onto = save.get();
    EXPECT_FALSE(onto.ok);
    EXPECT_TRUE(onto.message.contains(fifo));
    EXPECT_EQ(fs::status(QFile::encodeName(fifo).toStdString()).type(), fs::file_type::fifo);

    auto read = std::async(std::launch::async, [&] { return CopyRecordingFile(fifo, dir.filePath("out.avi")); });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const RecordingCopyResult from = read.get();
    EXPECT_FALSE(from.ok);
    EXPECT_TRUE(from.message.contains(fifo));
    EXPECT_FALSE(QFile::exists(dir.filePath("out.avi")));

    // File > Open of a FIFO: refused with a message, never waited on.
    auto open = std::async(std::launch::async, [&] { return document.OnOpenDocument(fifo); });
    if (open.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);  // frees the reader
        open.wait();
        if (writer >= 0) ::close(writer);
        FAIL() << "opening a FIFO as a document blocked";
    }
    EXPECT_FALSE(open.get());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().contains(fifo)) << messages.front().toStdString();
}

TEST_F(DocumentSave, ARegularTargetIsReplacedAndARecordingReachedThroughALinkIsCopied) {
    const QString target = dir.filePath("copy.avi");
    Write(target, "an older copy");
    ::chmod(QFile::encodeName(target).constData(), 0600);
    SaveAs(target);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(Bytes(target), Bytes(recording));
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);  // the replaced file's own permissions

    // The user's own recording path may be a link: it is read through it.
    const QString linked = elsewhere.filePath("recording-link.avi");
    ASSERT_TRUE(QFile::link(recording, linked));
    StorePath(settings.videoFilePath, linked.toStdString());
    const QString second = dir.filePath("second.avi");
    SaveAs(second);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(Bytes(second), Bytes(recording));
}

// The copy runs beside the window: 取消 in its progress dialog stops it,
// and an older file at the target stays as it was, with no temporary left.
TEST_F(DocumentSave, CancellingTheSaveLeavesNoPartialFile) {
    Write(recording, std::string(8 << 20, 'r'));
    const QString target = dir.filePath("copy.avi");
    Write(target, "an older copy");
    std::promise<void> cancelled;
    std::shared_future<void> released = cancelled.get_future().share();
    std::atomic<int> steps{0};
    document.copyStepped = [&] {
        if (steps++ == 1) released.wait_for(std::chrono::seconds(20));  // held after the first piece
    };
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!progress || !progress->isVisible()) return;
        user.stop();
        progress->findChild<QPushButton*>()->click();
        cancelled.set_value();
    });
    user.start(20);
    SaveAs(target);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(steps.load(), 2);  // stopped at once, not copied to the end
    EXPECT_EQ(Bytes(target), "an older copy");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
}

// Typed into the save dialog itself: quotes are part of the name.
TEST_F(DocumentSave, ANameWithQuotesIsSavedAsTyped) {
    const QString name = QStringLiteral("my take \"1\" 😀");
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (auto* edit = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr) {
            typist.stop();
            dialog->setDirectory(dir.path());
            edit->setText(name);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    typist.start(20);
    QTimer::singleShot(10000, [] { if (QWidget* stuck = QApplication::activeModalWidget()) stuck->close(); });
    document.OnFileSaveAs();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_TRUE(Bytes(dir.filePath(name + ".avi")) == Bytes(recording));
}

}  // namespace
