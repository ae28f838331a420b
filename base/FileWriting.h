#pragma once
// Opening and writing the program's files so that a link planted at a name
// in a shared folder is never written through, a special file (a FIFO, a
// device) never blocks the program, and a failure never leaves a half-made
// file. New files are created with O_EXCL under names nobody else can claim
// first, then renamed over their final names: rename replaces whatever sits
// at the name (a link included) instead of writing into it.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Owns one file descriptor; closes it when destroyed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);
    // Closes now and tells the close's errno (0 when it succeeded).
    int Close();

private:
    int fd_ = -1;
};

// Why a file operation failed, as the user reads it: "<action>“<path>”：<reason>".
struct FileError {
    std::string action;  // "无法创建", "无法写入", "无法读取", "无法替换", "不会替换", "已取消"
    std::string path;    // the name the caller gave, never a temporary
    std::string reason;  // SystemErrorText(code), or one of the refusals below
    int code = 0;        // errno of the failed call; 0 for a refusal
    std::string Text() const;
};

// Refusal reasons.
extern const char* const kSymbolicLinkReason;  // "它是一个符号链接"
extern const char* const kNotRegularReason;    // "它不是普通文件"

struct WriteBlock {
    const void* data;
    std::size_t size;
};

// What may be at the final name before an atomic write replaces it.
enum class ExistingName {
    AnyEntry,        // a scratch file: whatever is there (a link too) is replaced
    OnlyRegularFile  // a user's file: a link or a special file refuses the write
};

struct AtomicWriteOptions {
    mode_t mode = 0644;  // of a new file, before the umask; a replaced regular file keeps its own
    ExistingName existing = ExistingName::AnyEntry;
    bool sync = false;   // fsync before the rename: the data is on disk when the name changes
    bool syncFolder = false;  // fsync the folder after the rename: the new name is on disk too
};

// Writes `path` through a uniquely named temporary in its folder that is
// renamed over it. On failure the old file is as it was and no temporary
// is left behind.
bool WriteFileAtomically(const std::string& path, const WriteBlock* blocks, std::size_t count,
                         const AtomicWriteOptions& options, FileError* error);

// The same with content that `fill` writes into the temporary's descriptor
// (it says why in `error` when it fails).
using FileFiller = std::function<bool(int fd, FileError* error)>;
bool ReplaceFileAtomically(const std::string& path, const AtomicWriteOptions& options, const FileFiller& fill,
                           FileError* error);

// Told how far a copy got, after each piece and once more when every byte
// is on disk; false stops it (the error then has the code ECANCELED).
using CopyProgress = std::function<bool(uint64_t copied, uint64_t total)>;

// The same with the content of `source`, which is read through links but
// must be a regular file. A copy stopped by `progress` leaves nothing.
bool CopyFileAtomically(const std::string& source, const std::string& target, const AtomicWriteOptions& options,
                        FileError* error, const CopyProgress& progress = {});

// Copies `source` (not through a link) into a file that did not exist
// before: `stem` + `extension`, or `stem` + "-2" + `extension`, "-3", ...
// A link at one of those names counts as an existing file. On failure
// nothing is left at the destination. `stored` receives the name used.
bool CopyToNewFile(const std::string& source, const std::string& stem, const std::string& extension,
                   std::string* stored, FileError* error);

enum class Links { Follow, Refuse };

// Opens `path` for reading without blocking on a FIFO or a device: only a
// regular file is accepted (a folder is reported as EISDIR). The
// descriptor is in blocking mode when returned. Invalid on failure.
UniqueFd OpenRegularFileForReading(const std::string& path, Links links, FileError* error);

// Takes O_NONBLOCK off `fd` (opened so that a FIFO could not block the
// open itself). false with errno set.
bool SetBlocking(int fd);

// Reads up to `limit` bytes from the start of `fd` into `bytes`. false with
// errno set on a read error.
bool ReadUpTo(int fd, std::size_t limit, std::string& bytes);

// Writes all of `size` bytes, resuming after interruptions. false with errno set.
bool WriteAll(int fd, const void* data, std::size_t size);

// Temporaries are named "<folder>/.<name>.<12 hex digits>", the digits
// random. Tests may replace the random source to plant a file at the next
// name (nullptr restores the default).
using TemporaryNameSource = uint64_t (*)();
void SetTemporaryNameSource(TemporaryNameSource source);
