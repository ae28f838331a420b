#pragma once
// SIGTERM, SIGINT and SIGHUP (shutdown, Ctrl+C, logout) end the program the
// way File > Exit does, so that a recording is finished with its index.

#include <functional>

class QObject;

// The handler only writes the signal number into a socket pair; `onSignal`
// runs later on the UI thread, from the event loop. `owner` owns the
// notifier. Returns false when the pair or a handler could not be set up.
bool InstallQuitSignalHandlers(QObject* owner, std::function<void(int signal)> onSignal);

// Restores the default actions and closes the pair (tests).
void RemoveQuitSignalHandlers();
