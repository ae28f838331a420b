#include "tests/support/app/TestCommands.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QAction>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frame/MainFrame.h"

TestCommand ParseTestCommand(const QString& line)
{
    const QString text = line.trimmed();
    if (text == QLatin1String("accept")) return {TestCommand::Kind::Accept, 0};
    bool number = false;
    const int id = text.toInt(&number);
    if (number && id > 0) return {TestCommand::Kind::Menu, id};
    return {};
}

std::unique_ptr<CTestCommands> CTestCommands::Open(const QString& fifoPath, MenuRunner runMenu)
{
    const QByteArray path = fifoPath.toLocal8Bit();
    // Read and write: the FIFO never reads as ended when a writer closes it,
    // so one writer after another can send commands.
    UniqueFd fd(::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!fd.Valid() || ::fstat(fd.Get(), &status) != 0 || !S_ISFIFO(status.st_mode)) {
        std::fprintf(stderr, "lumora: LUMORA_TEST_COMMANDS “%s”不是 FIFO（%s），不执行测试命令\n",
                     path.constData(), fd.Valid() ? "是别的文件" : std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<CTestCommands>(new CTestCommands(std::move(fd), std::move(runMenu)));
}

std::unique_ptr<CTestCommands> CTestCommands::FromEnvironment(CMainFrame* frame)
{
    const QByteArray path = qgetenv("LUMORA_TEST_COMMANDS");
    if (path.isEmpty() || !frame) return nullptr;
    return Open(QString::fromLocal8Bit(path), [frame](int id) {
        QAction* action = frame->Action(id);
        if (!action || !action->isEnabled()) return false;
        action->trigger();
        return true;
    });
}

CTestCommands::CTestCommands(UniqueFd fd_, MenuRunner runMenu_) : fd(std::move(fd_)), runMenu(std::move(runMenu_))
{
    notifier = new QSocketNotifier(fd.Get(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { ReadAvailable(); });
}

CTestCommands::~CTestCommands() = default;

void CTestCommands::ReadAvailable()
{
    char buffer[512];
    ssize_t got;
    while ((got = ::read(fd.Get(), buffer, sizeof buffer)) > 0) pending.append(buffer, got);
    qsizetype end;
    while ((end = pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending.left(end));
        pending.remove(0, end + 1);
        // Each command from the event loop that runs then: 开始视频 opens the
        // device dialog's own loop, in which the next line's "accept" runs.
        QTimer::singleShot(0, this, [this, line] { Run(line); });
    }
}

void CTestCommands::Run(const QString& line)
{
    const TestCommand command = ParseTestCommand(line);
    const QByteArray shown = line.toUtf8();
    switch (command.kind) {
    case TestCommand::Kind::Menu:
        if (!runMenu(command.id))
            std::fprintf(stderr, "lumora: 测试命令 %d：没有这个命令，或命令不可用\n", command.id);
        break;
    case TestCommand::Kind::Accept:
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->accept();
        else
            std::fprintf(stderr, "lumora: 测试命令 accept：没有打开的对话框\n");
        break;
    case TestCommand::Kind::Invalid:
        if (!line.trimmed().isEmpty())
            std::fprintf(stderr, "lumora: 无法识别测试命令“%s”（应为命令编号或 accept）\n",
                         shown.constData());
        break;
    }
}
