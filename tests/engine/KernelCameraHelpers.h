#pragma once
// For the tests on the kernel's camera drivers in scripts/with-camera-vm:
// the bench's environment, its shell commands, and bounded waits for what
// the driver or another process does.

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/engine/GstSessionFixture.h"

namespace gst_session {

// A variable the bench exports ("" where it does not run).
inline std::string BenchText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Runs a shell command of the bench; true when it exited 0.
inline bool Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Polls `done` until it holds or `seconds` have passed.
inline bool WaitUntil(const std::function<bool()>& done, double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!done()) {
        if (Clock::now() > end) return false;
        Wait(0.02);
    }
    return true;
}

}  // namespace gst_session
