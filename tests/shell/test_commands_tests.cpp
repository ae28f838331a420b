// The LUMORA_TEST_COMMANDS hook: lines from a FIFO run menu commands and
// answer dialogs, as the Wayland check drives the program with them.
#include <QDialog>
#include <QStatusBar>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/app/TestCommands.h"
#include "frame_fixture.h"

TEST(ParseTestCommand, TakesCommandIdsAndAcceptOnly)
{
    EXPECT_EQ(ParseTestCommand("32771").kind, TestCommand::Kind::Menu);
    EXPECT_EQ(ParseTestCommand(" 32771\r").id, 32771);
    EXPECT_EQ(ParseTestCommand("accept").kind, TestCommand::Kind::Accept);
    for (const char* bad : {"", "   ", "32771x", "-5", "0", "accept now", "Accept", "99999999999"})
        EXPECT_EQ(ParseTestCommand(bad).kind, TestCommand::Kind::Invalid) << bad;
}

class TestCommandsTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fifo = startDir.filePath("commands");
        ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        qputenv("LUMORA_TEST_COMMANDS", fifo.toLocal8Bit());
        commands = CTestCommands::FromEnvironment(frame);
        ASSERT_TRUE(commands);
    }

    void TearDown() override
    {
        commands.reset();
        qunsetenv("LUMORA_TEST_COMMANDS");
        ShellTest::TearDown();
    }

    // One writer: opens, writes `text`, closes, as `echo 32771 > fifo` does.
    void Send(const QByteArray& text)
    {
        const int fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, text.constData(), text.size()), text.size());
        ::close(fd);
    }

    // Whether the program has read all that was written: the FIFO holds nothing.
    bool AllRead()
    {
        const int fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        int unread = -1;
        const bool read = fd >= 0 && WaitFor([&] { return ::ioctl(fd, FIONREAD, &unread) == 0 && unread == 0; });
        if (fd >= 0) ::close(fd);
        return read;
    }

    QString fifo;
    std::unique_ptr<CTestCommands> commands;
};

TEST_F(TestCommandsTest, RunsEachCompleteLineFromWriterAfterWriter)
{
    ASSERT_TRUE(frame->statusBar->isVisibleTo(frame));
    // Half a line waits for the rest, which a later writer sends.
    Send("5939");
    ASSERT_TRUE(AllRead());
    EXPECT_TRUE(frame->statusBar->isVisibleTo(frame));
    Send("3\n");
    EXPECT_TRUE(WaitFor([&] { return !frame->statusBar->isVisibleTo(frame); }));
    // Lines not understood, and a command disabled while nothing previews,
    // change nothing and do not stop the lines after them.
    Send("nonsense\n32774\n\n59393\n");
    EXPECT_TRUE(WaitFor([&] { return frame->statusBar->isVisibleTo(frame); }));
    EXPECT_FALSE(frame->previewing);
}

TEST_F(TestCommandsTest, AcceptAnswersTheDialogThatTheCommandBeforeOpened)
{
    // The About command opens a modal dialog; "accept", sent in the same
    // write, runs inside that dialog's own event loop.
    int result = -1;
    frame->aboutHandler = [&result] {
        QDialog dialog;
        result = dialog.exec();
    };
    Send(QByteArray::number(ID_APP_ABOUT) + "\naccept\n");
    EXPECT_TRUE(WaitFor([&] { return result != -1; }));
    EXPECT_EQ(result, QDialog::Accepted);
}

TEST(TestCommandsOpen, RefusesWhatIsNotAFifoAndIsInertWithoutTheVariable)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const auto never = [](int) { return true; };
    EXPECT_FALSE(CTestCommands::Open(plain, never));
    EXPECT_FALSE(CTestCommands::Open(dir.filePath("missing"), never));
    qunsetenv("LUMORA_TEST_COMMANDS");
    EXPECT_FALSE(CTestCommands::FromEnvironment(nullptr));
}
