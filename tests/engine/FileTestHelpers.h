#pragma once
// Helpers for the tests that plant links, FIFOs and sockets where the
// program writes, and for a disk that fills up.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>

namespace file_tests {

namespace fs = std::filesystem;

inline std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool IsLink(const fs::path& path) { return fs::is_symlink(fs::symlink_status(path)); }

// A fresh folder for one test, removed at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag) {
        path_ = fs::path(::testing::TempDir()) /
                ("lumora-" + tag + "-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// A socket bound at `path`, closed at the end.
class BoundSocket {
public:
    explicit BoundSocket(const fs::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~BoundSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

// Files of this process cannot grow past `bytes` while it lives: a write
// beyond fails with EFBIG, as on a disk that is full.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    sighandler_t previousHandler_;
};

// Runs `call` on a thread; true when it returns within a few seconds. When
// it does not (an open blocked on a FIFO), `release` is run to free it (the
// descriptor it gives is closed once the call has returned), so that a
// regression fails the test instead of hanging it.
template <typename Call>
bool FinishesPromptly(Call call, const std::function<int()>& release) {
    auto done = std::async(std::launch::async, std::move(call));
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
    const int partner = release();
    done.wait();
    if (partner >= 0) ::close(partner);
    return false;
}

// Opens the FIFO at `path` from the other side without blocking, which
// frees a blocked open at the first; the descriptor (-1 if none).
inline int OpenOtherEnd(const fs::path& path, int flags) { return ::open(path.c_str(), flags | O_NONBLOCK); }

}  // namespace file_tests
