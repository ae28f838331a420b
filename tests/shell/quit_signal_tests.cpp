// SIGTERM, SIGINT and SIGHUP end the program as File > Exit does: the event
// loop ends, ExitInstance runs and the recording is finished with its index.
#include <QApplication>
#include <QTimer>

#include <csignal>

#include "frame_fixture.h"
#include "app/QuitSignals.h"
#include "tests/AviReader.h"

class QuitSignalTest : public ShellTest, public ::testing::WithParamInterface<int> {};

TEST_P(QuitSignalTest, SignalFinishesTheRecordingLikeExit)
{
    const QString recordingPath = startDir.filePath("capture.avi");
    SetRecordingPath(recordingPath);
    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    frame->Action(ID_VIDEO_RECORD)->trigger();
    ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
    ASSERT_TRUE(WaitFor([] { return RecordedSeconds() >= 0.3; }));

    // Wired as main wires it.
    bool exited = false;
    const QMetaObject::Connection quitting =
        QObject::connect(qApp, &QApplication::aboutToQuit, [&] {
            app->ExitInstance();
            exited = true;
        });
    ASSERT_TRUE(InstallQuitSignalHandlers(app.get(), [this](int) { app->OnQuitSignal(); }));
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    giveUp.start(15000);

    ASSERT_EQ(std::raise(GetParam()), 0);
    const int status = QApplication::exec();

    giveUp.stop();
    QObject::disconnect(quitting);
    RemoveQuitSignalHandlers();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(exited);
    EXPECT_EQ(app->Frame(), nullptr);

    const AviInfo info = ReadAvi(recordingPath.toStdString());
    ASSERT_TRUE(info.valid);
    EXPECT_TRUE(info.hasIndex);
    EXPECT_GT(info.totalFrames, 0u);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

INSTANTIATE_TEST_SUITE_P(TermIntHup, QuitSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGTERM ? std::string("SIGTERM")
                                    : info.param == SIGINT ? std::string("SIGINT")
                                                           : std::string("SIGHUP");
                         });

TEST(QuitSignals, InstallingTwiceKeepsOneWorkingPair)
{
    int received = 0;
    QObject owner;
    ASSERT_TRUE(InstallQuitSignalHandlers(&owner, [&](int) { ++received; }));
    ASSERT_TRUE(InstallQuitSignalHandlers(&owner, [&](int number) { received += number == SIGHUP ? 10 : 100; }));
    ASSERT_EQ(std::raise(SIGHUP), 0);
    // A later signal's turn comes after any other delivery of the first.
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_TRUE(WaitFor([&] { return received >= 110; }, 2000));
    EXPECT_EQ(received, 110);
    RemoveQuitSignalHandlers();
}
