#include "base/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

namespace {

// Never through a link, never blocking on a FIFO or a device.
UniqueFd OpenRegularFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (fd.Valid() && (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode))) fd.Reset();
    return fd;
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

}  // namespace

bool TryLockExclusive(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool LockedByAnother(const std::string& path) {
    const UniqueFd fd = OpenRegularFile(path);
    if (!fd.Valid()) return false;
    // Shared: two programs looking at once do not take each other for a writer.
    int result;
    while ((result = ::flock(fd.Get(), LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return result != 0 && errno == EWOULDBLOCK;
}

UniqueFd LockForRewrite(const std::string& path, std::chrono::milliseconds patience, bool& busy) {
    busy = false;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        UniqueFd fd = OpenRegularFile(path);
        if (!fd.Valid()) return fd;
        if (TryLockExclusive(fd.Get())) {
            // Another writer may have renamed its file over the one locked.
            if (SameFile(fd.Get(), path)) return fd;
        } else if (errno != EWOULDBLOCK) {
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            busy = true;
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
