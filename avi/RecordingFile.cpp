#include "avi/RecordingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/SystemErrorText.h"

namespace {

// O_NONBLOCK: a FIFO without a reader fails at once instead of waiting.
constexpr int kOpenFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Why the entry at `path` cannot take a recording; empty when nothing
// speaks against it (or nothing is there).
std::string EntryProblem(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return {};
    if (S_ISLNK(status.st_mode)) return kSymbolicLinkReason;
    if (S_ISDIR(status.st_mode)) return "它是一个文件夹";
    if (!S_ISREG(status.st_mode)) return kNotRegularReason;
    return {};
}

UniqueFd OpenOrCreate(const std::string& path, bool& made) {
    made = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(::open(path.c_str(), kOpenFlags));
        if (fd.Valid() || errno != ENOENT) return fd;
        // Exclusive, so the check knows the file is its own to remove.
        fd.Reset(::open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0666));
        if (fd.Valid()) {
            made = true;
            return fd;
        }
        if (errno != EEXIST) return fd;
    }
    return {};
}

}  // namespace

UniqueFd OpenRecordingFile(const std::string& path, bool truncate, std::string& reason, bool* created) {
    if (created) *created = false;
    // Refused before any open: opening a device can have effects of its own.
    if (std::string problem = EntryProblem(path); !problem.empty()) {
        reason = problem;
        return {};
    }
    bool made = false;
    UniqueFd fd = OpenOrCreate(path, made);
    if (!fd.Valid()) {
        const int code = errno;
        const std::string problem = EntryProblem(path);  // swapped since the look above?
        reason = problem.empty() ? SystemErrorText(code) : problem;
        return {};
    }
    const auto fail = [&](const std::string& why) {
        reason = why;
        fd.Reset();
        if (made) ::unlink(path.c_str());
        return UniqueFd();
    };
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) return fail(SystemErrorText(errno));
    if (!S_ISREG(status.st_mode)) return fail(kNotRegularReason);
    if (!SetBlocking(fd.Get())) return fail(SystemErrorText(errno));
    if (truncate && ::ftruncate(fd.Get(), 0) != 0) return fail(SystemErrorText(errno));
    if (created) *created = made;
    return fd;
}

bool CheckRecordingPathWritable(const std::string& path, std::string& reason) {
    bool created = false;
    UniqueFd fd = OpenRecordingFile(path, false, reason, &created);
    if (!fd.Valid()) return false;
    fd.Reset();
    // Only a file this check made itself; a name that was never followed.
    if (created) ::unlink(path.c_str());
    return true;
}
