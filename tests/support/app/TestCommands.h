#pragma once
// A test-only way to use the menus where no input can be sent to the window
// (a Wayland compositor gives no client a way to press another's keys).
// With LUMORA_TEST_COMMANDS naming a FIFO, every line written to it is a
// command: a menu command's id ("32771" is 开始视频) triggers that command as
// its menu item would (nothing when the item is disabled), and "accept"
// answers the open modal dialog with OK. Without the variable nothing runs.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "base/FileWriting.h"

class CMainFrame;
class QSocketNotifier;

struct TestCommand {
    enum class Kind { Invalid, Menu, Accept };
    Kind kind = Kind::Invalid;
    int id = 0;  // Kind::Menu
};

// One line, without its newline; surrounding blanks are ignored.
TestCommand ParseTestCommand(const QString& line);

class CTestCommands : public QObject {
    Q_OBJECT
public:
    // Runs a menu command's id; false when there is no such enabled command.
    using MenuRunner = std::function<bool(int id)>;

    // Null, with a message on stderr, when `fifoPath` is not a FIFO.
    static std::unique_ptr<CTestCommands> Open(const QString& fifoPath, MenuRunner runMenu);
    // The commands of LUMORA_TEST_COMMANDS on `frame`'s menus; null without it.
    static std::unique_ptr<CTestCommands> FromEnvironment(CMainFrame* frame);

    ~CTestCommands() override;

private:
    CTestCommands(UniqueFd fd, MenuRunner runMenu);
    void ReadAvailable();
    void Run(const QString& line);

    UniqueFd fd;
    MenuRunner runMenu;
    QSocketNotifier* notifier = nullptr;
    QByteArray pending;  // a line not complete yet
};
