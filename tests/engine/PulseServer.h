#pragma once
// A private PulseAudio daemon for a test: its own runtime folder and socket,
// the script of modules it is given, and PULSE_SERVER pointing at it while
// it lives, so GStreamer's device monitor and sources talk to it alone.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/WaitFor.h"

class PulseServer {
public:
    // The daemon, and pactl, which tells when it serves.
    static bool Installed() { return ::access("/usr/bin/pulseaudio", X_OK) == 0 && ::access("/usr/bin/pactl", X_OK) == 0; }

    // `modules`: lines of a PulseAudio script (load-module ..., set-default-source ...).
    bool Start(const std::string& modules) {
        char pattern[] = "/tmp/lumora-pulse-XXXXXX";
        if (!::mkdtemp(pattern)) return false;
        folder = pattern;
        const std::string socket = folder + "/native";
        {
            std::ofstream script(folder + "/lumora.pa");
            script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n"
                   << modules << "\n";
        }
        pid = ::fork();
        if (pid == 0) {
            ::setenv("HOME", folder.c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
            const std::string scriptPath = folder + "/lumora.pa";
            ::execl("/usr/bin/pulseaudio", "pulseaudio", "-n", "-F", scriptPath.c_str(), "--daemonize=no",
                    "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr", "--log-level=error",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return false;
        // The socket is there before the modules after it are loaded; the
        // daemon answers a client once its whole script has run.
        const std::string answers = "pactl -s unix:" + socket + " info >/dev/null 2>&1";
        if (!WaitUntil([&] { return std::filesystem::exists(socket) && std::system(answers.c_str()) == 0; }, 10))
            return false;
        ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        return true;
    }

    pid_t Pid() const { return pid; }

    ~PulseServer() {
        ::unsetenv("PULSE_SERVER");
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }

private:
    std::string folder;
    pid_t pid = -1;
};
