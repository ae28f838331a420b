#pragma once
// For the tests on the kernel's camera drivers in scripts/with-camera-vm:
// the bench's environment and its shell commands (WaitUntil, from the
// fixture, waits for what the driver or another process does).

#include <sys/wait.h>

#include <cstdlib>
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

}  // namespace gst_session
