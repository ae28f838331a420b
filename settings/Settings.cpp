#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/SettingsFile.h"
#include "base/FileLock.h"
#include "base/FileWriting.h"
#include "base/SystemErrorText.h"
#include "base/Utf8.h"

SettingsRecord settings{};
std::string appDirectory;

std::mutex& SettingsMutex()
{
    static std::mutex mutex;
    return mutex;
}

namespace {

constexpr std::chrono::milliseconds kRewritePatience{2000};

std::function<void(const std::string&)>& ErrorHandler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

void FillDefaults(SettingsRecord& record)
{
    record = SettingsRecord{};
    StorePath(record.videoFilePath, DefaultVideoFilePath());
    StorePath(record.photoFolder, DefaultPhotoFolder());
    record.photoFormat = 1;
}

// Says which fields of the file just read are not used, naming the file
// but not the unusable bytes themselves.
std::string UnusablePathsNotice(const SettingsRecord& record, const std::string& file)
{
    std::string notice;
    const auto check = [&](const char (&field)[kPathBufferSize], const char* what, const std::string& fallback) {
        const std::string path = ReadPath(field);
        if (path.empty() || IsUsablePath(path)) return;
        notice += std::string(notice.empty() ? "" : "\n") + what + "不是有效的绝对路径，改用“" + fallback + "”。";
    };
    check(record.videoFilePath, "录像文件", DefaultVideoFilePath());
    check(record.photoFolder, "照片文件夹", DefaultPhotoFolder());
    return notice.empty() ? notice : "设置文件“" + file + "”中的" + notice;
}

std::string PathOrDefault(const char (&field)[kPathBufferSize], const std::string& fallback)
{
    const std::string path = ReadPath(field);
    return IsUsablePath(path) ? path : fallback;
}

SettingsResult Failure(const std::string& what, const FileError& error)
{
    return SettingsResult{false, what + "“" + error.path + "”：" + error.reason, {}};
}

// Writes `record` to `path` through a fresh temporary beside it, so that a
// failure at any step leaves the old file as it was. The start folder may
// be shared: a link or a special file at the name is refused, not written
// through.
SettingsResult WriteRecord(const SettingsRecord& record, const std::string& path,
                           const std::string& what = "无法保存设置到")
{
    // Another Lumora in the same folder may be rewriting it: its write is
    // awaited, briefly, rather than interleaved with this one.
    bool busy = false;
    const UniqueFd lock = LockForRewrite(path, kRewritePatience, busy);
    if (busy) return SettingsResult{false, what + "“" + path + "”：另一个 Lumora（或其他程序）正在改写它", {}};
    const WriteBlock block{&record, sizeof record};
    AtomicWriteOptions options;
    options.existing = ExistingName::OnlyRegularFile;
    options.sync = true;
    FileError error;
    if (!WriteFileAtomically(path, &block, 1, options, &error))
        return Failure(what, error);
    return {};
}

}  // namespace

std::string SettingsFilePath()
{
    return appDirectory + "/setting.ini";
}

bool PathFitsRecord(const std::string& path)
{
    return path.size() <= kMaxPathBytes;
}

std::string PathTooLongMessage(const std::string& path)
{
    return "路径太长，没有保存：\n" + path + "\n\n它有 " + std::to_string(path.size()) +
           " 字节（UTF-8，一个汉字占 3 字节），设置文件中的路径最多 " + std::to_string(kMaxPathBytes) +
           " 字节。请选择一个较短的路径。";
}

bool StorePath(char (&field)[kPathBufferSize], const std::string& path)
{
    // A cut path would name another file: refuse and keep the old one.
    if (!PathFitsRecord(path)) return false;
    std::memcpy(field, path.data(), path.size());
    field[path.size()] = '\0';  // bytes behind the NUL stay as they were
    return true;
}

std::string ReadPath(const char (&field)[kPathBufferSize])
{
    const void* end = std::memchr(field, '\0', kPathBufferSize);
    const std::size_t length = end ? static_cast<const char*>(end) - field : kPathBufferSize;
    return std::string(field, length);
}

bool IsUsablePath(const std::string& path)
{
    return !path.empty() && path.front() == '/' && IsValidUtf8(path);
}

// Without a start folder there is no default: never "/capture.avi".
std::string DefaultVideoFilePath()
{
    return appDirectory.empty() ? std::string() : appDirectory + "/capture.avi";
}

std::string DefaultPhotoFolder()
{
    return appDirectory;
}

std::string UsableVideoFilePath(const SettingsRecord& record)
{
    return PathOrDefault(record.videoFilePath, DefaultVideoFilePath());
}

std::string UsablePhotoFolder(const SettingsRecord& record)
{
    return PathOrDefault(record.photoFolder, DefaultPhotoFolder());
}

std::string CurrentVideoFilePath()
{
    std::lock_guard<std::mutex> lock(SettingsMutex());
    return UsableVideoFilePath(settings);
}

std::string CurrentPhotoFolder()
{
    std::lock_guard<std::mutex> lock(SettingsMutex());
    return UsablePhotoFolder(settings);
}

SettingsResult LoadSettings()
{
    const std::string path = SettingsFilePath();
    SettingsRecord loaded{};

    // Never blocks on a FIFO or a device at the name, never reads through a link.
    FileError error;
    std::string bytes;
    const UniqueFd fd = OpenRegularFileForReading(path, Links::Refuse, &error);
    const bool read = fd.Valid() && ReadUpTo(fd.Get(), sizeof loaded, bytes);
    if (fd.Valid() && !read)
        error = FileError{"无法读取", path, SystemErrorText(errno), errno};

    if (!read && error.code == ENOENT) {
        // First start in this directory: create the file with usable defaults.
        FillDefaults(loaded);
        {
            std::lock_guard<std::mutex> lock(SettingsMutex());
            settings = loaded;
        }
        return WriteRecord(loaded, path, "无法创建设置文件");
    }
    if (!read) {
        // e.g. a folder or a FIFO named setting.ini: keep defaults, leave it alone.
        FillDefaults(loaded);
        std::lock_guard<std::mutex> lock(SettingsMutex());
        settings = loaded;
        return Failure("无法读取设置文件", error);
    }

    // A shorter file fills only its leading bytes; bytes past 524 are ignored.
    std::memcpy(&loaded, bytes.data(), bytes.size());
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        settings = loaded;
    }
    SettingsResult result;
    result.notice = UnusablePathsNotice(loaded, path);
    return result;
}

SettingsResult SaveSettings()
{
    SettingsRecord snapshot;
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        snapshot = settings;
    }
    const SettingsResult result = WriteRecord(snapshot, SettingsFilePath());
    if (!result.ok)
        ReportSettingsError(result.message);
    return result;
}

void SetSettingsErrorHandler(std::function<void(const std::string&)> handler)
{
    ErrorHandler() = std::move(handler);
}

std::function<void(const std::string&)> CurrentSettingsErrorHandler()
{
    return ErrorHandler();
}

void ReportSettingsError(const std::string& message)
{
    if (ErrorHandler())
        ErrorHandler()(message);
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}
