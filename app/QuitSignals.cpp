#include "app/QuitSignals.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
int signalPair[2] = {-1, -1};  // [0] written by the handler, [1] read by the UI thread
QPointer<QSocketNotifier> notifier;

void OnQuitSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pair already holds a pending quit: dropping this one is fine.
    [[maybe_unused]] const ssize_t written = ::write(signalPair[0], &byte, 1);
    errno = saved;
}

}  // namespace

bool InstallQuitSignalHandlers(QObject* owner, std::function<void(int)> onSignal)
{
    RemoveQuitSignalHandlers();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) {
        signalPair[0] = signalPair[1] = -1;
        return false;
    }
    ::fcntl(signalPair[0], F_SETFL, O_NONBLOCK);
    ::fcntl(signalPair[1], F_SETFL, O_NONBLOCK);

    notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [onSignal = std::move(onSignal)] {
                         unsigned char byte = 0;
                         while (::read(signalPair[1], &byte, 1) == 1)
                             if (onSignal) onSignal(byte);
                     });

    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kQuitSignals)
        if (::sigaction(number, &action, nullptr) != 0) return false;
    return true;
}

void RemoveQuitSignalHandlers()
{
    for (int number : kQuitSignals) std::signal(number, SIG_DFL);
    delete notifier.data();
    for (int& fd : signalPair) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}
