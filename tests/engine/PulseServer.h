#pragma once
// A private PulseAudio daemon for a test: its own runtime folder and socket,
// the script of modules it is given, and PULSE_SERVER pointing at it while
// it lives, so GStreamer's device monitor and sources talk to it alone.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

class PulseServer {
public:
    static bool Installed() { return ::access("/usr/bin/pulseaudio", X_OK) == 0; }

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
        for (int i = 0; i < 100; ++i) {
            if (std::filesystem::exists(socket)) {
                ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
                // The socket is there before the modules after it are loaded.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
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
