#include "base/FileWriting.h"
#include "base/SystemErrorText.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

const char* const kSymbolicLinkReason = "它是一个符号链接";
const char* const kNotRegularReason = "它不是普通文件";

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int UniqueFd::Close() {
    if (fd_ < 0) return 0;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
}

std::string FileError::Text() const { return action + "“" + path + "”：" + reason; }

namespace {

constexpr int kMaxSameSecondPhotos = 100000;
constexpr int kTemporaryNameAttempts = 100;
// Room for the dot and the digits within the 255 bytes of a name.
constexpr std::size_t kMaxNameInTemporary = 200;
constexpr std::size_t kCopyChunk = 1 << 20;
constexpr uint64_t kSyncEvery = 32u << 20;

std::atomic<TemporaryNameSource> temporaryNameSource{nullptr};

using Filler = FileFiller;

bool Fail(FileError* error, const char* action, const std::string& path, int code) {
    if (error) *error = FileError{action, path, SystemErrorText(code), code};
    return false;
}

bool Refuse(FileError* error, const char* action, const std::string& path, const char* reason) {
    if (error) *error = FileError{action, path, reason, 0};
    return false;
}

uint64_t RandomBits() {
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    // No entropy yet: still distinct names, and O_EXCL settles any clash.
    static std::atomic<uint64_t> counter{0};
    return (static_cast<uint64_t>(::getpid()) << 40) ^ static_cast<uint64_t>(std::time(nullptr)) ^
           (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
}

std::string TemporaryNameFor(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const TemporaryNameSource source = temporaryNameSource.load();
    const uint64_t bits = source ? source() : RandomBits();
    char digits[16];
    std::snprintf(digits, sizeof digits, "%012llx", static_cast<unsigned long long>(bits & 0xFFFFFFFFFFFFull));
    return folder + "." + name.substr(0, kMaxNameInTemporary) + "." + digits;
}

// A file beside `path` that did not exist before: O_EXCL never opens an
// existing entry, a link included.
UniqueFd CreateTemporaryBeside(const std::string& path, mode_t mode, std::string& temporary, FileError* error) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        temporary = TemporaryNameFor(path);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EEXIST) {
            Fail(error, "无法创建", path, errno);
            return {};
        }
    }
    Fail(error, "无法创建", path, EEXIST);
    return {};
}

// Refuses a link or a special file at `path`; tells whether a regular file
// is there and its permissions.
bool CheckReplaceable(const std::string& path, bool& exists, mode_t& mode, FileError* error) {
    struct stat status {};
    exists = false;
    if (::lstat(path.c_str(), &status) != 0)
        return errno == ENOENT || Fail(error, "无法写入", path, errno);
    if (S_ISLNK(status.st_mode)) return Refuse(error, "不会替换", path, kSymbolicLinkReason);
    if (!S_ISREG(status.st_mode)) return Refuse(error, "不会替换", path, kNotRegularReason);
    exists = true;
    mode = status.st_mode & 0777;
    return true;
}

// Best effort: the rename is done whatever the folder's fsync says (some
// file systems refuse it).
void SyncFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) ::fsync(fd.Get());
}

bool ReplaceThroughTemporary(const std::string& path, const AtomicWriteOptions& options, const Filler& fill,
                             FileError* error) {
    bool exists = false;
    mode_t keptMode = 0;
    if (options.existing == ExistingName::OnlyRegularFile && !CheckReplaceable(path, exists, keptMode, error))
        return false;
    std::string temporary;
    UniqueFd fd = CreateTemporaryBeside(path, options.mode, temporary, error);
    if (!fd.Valid()) return false;

    bool ok = true;
    if (exists && ::fchmod(fd.Get(), keptMode) != 0) ok = Fail(error, "无法写入", path, errno);
    if (ok) ok = fill(fd.Get(), error);
    if (ok && options.sync && ::fsync(fd.Get()) != 0) ok = Fail(error, "无法写入", path, errno);
    if (ok) {
        const int code = fd.Close();
        if (code != 0) ok = Fail(error, "无法写入", path, code);
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = Fail(error, "无法替换", path, errno);
    if (!ok) {
        ::unlink(temporary.c_str());  // the name is ours: created with O_EXCL
        return false;
    }
    if (options.syncFolder) SyncFolderOf(path);
    return true;
}

bool CopyDescriptor(int in, int out, const std::string& source, const std::string& target, FileError* error) {
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(error, "无法读取", source, errno);
        if (got == 0) return true;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(got)))
            return Fail(error, "无法写入", target, errno);
    }
}

// In pieces, each told to `progress`. With `sync` the data goes to disk as
// it is copied, so that the pieces tell the disk's pace and the last wait
// is short; the last word comes once all is on disk.
bool CopyWithProgress(int in, int out, const std::string& source, const std::string& target, bool sync,
                      const CopyProgress& progress, FileError* error) {
    struct stat status {};
    const uint64_t total = ::fstat(in, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
    std::vector<char> buffer(kCopyChunk);
    uint64_t copied = 0;
    uint64_t unsynced = 0;
    for (;;) {
        if (!progress(copied, total)) return Fail(error, "已取消", target, ECANCELED);
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(error, "无法读取", source, errno);
        if (got == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(got)))
            return Fail(error, "无法写入", target, errno);
        copied += static_cast<uint64_t>(got);
        unsynced += static_cast<uint64_t>(got);
        if (sync && unsynced >= kSyncEvery) {
            if (::fdatasync(out) != 0) return Fail(error, "无法写入", target, errno);
            unsynced = 0;
        }
    }
    if (sync && ::fsync(out) != 0) return Fail(error, "无法写入", target, errno);
    if (!progress(copied, std::max(total, copied))) return Fail(error, "已取消", target, ECANCELED);
    return true;
}

// Why `path` cannot be read as a regular file, judged from the entry itself
// (without opening it); true when nothing speaks against it.
bool CheckReadable(const std::string& path, Links links, FileError* error) {
    struct stat status {};
    const int result = links == Links::Refuse ? ::lstat(path.c_str(), &status) : ::stat(path.c_str(), &status);
    if (result != 0) return true;  // the open tells why
    if (S_ISLNK(status.st_mode)) return Refuse(error, "无法读取", path, kSymbolicLinkReason);
    if (S_ISDIR(status.st_mode)) return Fail(error, "无法读取", path, EISDIR);
    if (!S_ISREG(status.st_mode)) return Refuse(error, "无法读取", path, kNotRegularReason);
    return true;
}

}  // namespace

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool SetBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool ReadUpTo(int fd, std::size_t limit, std::string& bytes) {
    bytes.clear();
    // Sized from the file's length where known: one read for the whole file.
    struct stat status {};
    std::size_t expected = 1 << 16;
    if (::fstat(fd, &status) == 0 && status.st_size > 0) expected = static_cast<std::size_t>(status.st_size) + 1;
    std::size_t filled = 0;
    while (filled < limit) {
        if (bytes.size() == filled) bytes.resize(std::min(limit, std::max(expected, filled * 2)));
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int code = errno;
            bytes.resize(filled);
            errno = code;
            return false;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return true;
}

void SetTemporaryNameSource(TemporaryNameSource source) { temporaryNameSource.store(source); }

UniqueFd OpenRegularFileForReading(const std::string& path, Links links, FileError* error) {
    // A device or a FIFO is refused before it is opened: opening one may
    // have effects of its own.
    if (!CheckReadable(path, links, error)) return {};
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (links == Links::Refuse) flags |= O_NOFOLLOW;
    UniqueFd fd(::open(path.c_str(), flags));
    if (!fd.Valid()) {
        const int code = errno;
        // Swapped for a link or a special file since the look above.
        if (!CheckReadable(path, links, error)) return {};
        Fail(error, "无法读取", path, code);
        return {};
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) {
        Fail(error, "无法读取", path, errno);
        return {};
    }
    if (S_ISDIR(status.st_mode)) {
        Fail(error, "无法读取", path, EISDIR);
        return {};
    }
    if (!S_ISREG(status.st_mode)) {
        Refuse(error, "无法读取", path, kNotRegularReason);
        return {};
    }
    if (!SetBlocking(fd.Get())) {
        Fail(error, "无法读取", path, errno);
        return {};
    }
    return fd;
}

bool WriteFileAtomically(const std::string& path, const WriteBlock* blocks, std::size_t count,
                         const AtomicWriteOptions& options, FileError* error) {
    return ReplaceThroughTemporary(
        path, options,
        [&](int fd, FileError* failure) {
            for (std::size_t i = 0; i < count; ++i)
                if (!WriteAll(fd, blocks[i].data, blocks[i].size)) return Fail(failure, "无法写入", path, errno);
            return true;
        },
        error);
}

bool ReplaceFileAtomically(const std::string& path, const AtomicWriteOptions& options, const FileFiller& fill,
                           FileError* error) {
    return ReplaceThroughTemporary(path, options, fill, error);
}

bool CopyFileAtomically(const std::string& source, const std::string& target, const AtomicWriteOptions& options,
                        FileError* error, const CopyProgress& progress) {
    const UniqueFd in = OpenRegularFileForReading(source, Links::Follow, error);
    if (!in.Valid()) return false;
    return ReplaceThroughTemporary(
        target, options,
        [&](int out, FileError* failure) {
            return progress ? CopyWithProgress(in.Get(), out, source, target, options.sync, progress, failure)
                            : CopyDescriptor(in.Get(), out, source, target, failure);
        },
        error);
}

bool CopyToNewFile(const std::string& source, const std::string& stem, const std::string& extension,
                   std::string* stored, FileError* error) {
    const UniqueFd in = OpenRegularFileForReading(source, Links::Refuse, error);
    if (!in.Valid()) return false;

    std::string target;
    UniqueFd out;
    for (int number = 1; number <= kMaxSameSecondPhotos && !out.Valid(); ++number) {
        target = number == 1 ? stem + extension : stem + "-" + std::to_string(number) + extension;
        // Exclusive creation: an existing photo, or a link, is never written through.
        out.Reset(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!out.Valid() && errno != EEXIST) return Fail(error, "无法创建", target, errno);
    }
    if (!out.Valid()) return Fail(error, "无法创建", target, EEXIST);

    bool ok = CopyDescriptor(in.Get(), out.Get(), source, target, error);
    const int closeCode = out.Close();
    if (ok && closeCode != 0) ok = Fail(error, "无法写入", target, closeCode);
    if (!ok) {
        ::unlink(target.c_str());  // nothing half-made stays behind
        return false;
    }
    if (stored) *stored = target;
    return true;
}
