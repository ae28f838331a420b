#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture/Utf8.h"
#include "settings/SettingsFile.h"

SettingsRecord settings{};
std::string appDirectory;

std::mutex& SettingsMutex()
{
    static std::mutex mutex;
    return mutex;
}

namespace {

std::function<void(const std::string&)>& ErrorHandler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

SettingsResult Failure(const std::string& what, const std::string& path, int error)
{
    SettingsResult result;
    result.ok = false;
    result.message = what + " \"" + path + "\": " + std::strerror(error);
    return result;
}

void FillDefaults(SettingsRecord& record)
{
    record = SettingsRecord{};
    StorePath(record.videoFilePath, appDirectory + "/capture.avi");
    StorePath(record.photoFolder, appDirectory);
    record.photoFormat = 1;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Writes `record` to `path` through a sibling temporary file, so that a
// failure at any step leaves the old file as it was.
SettingsResult WriteRecord(const SettingsRecord& record, const std::string& path,
                           const std::string& what = "Cannot save the settings to")
{
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return Failure(what, path, errno);
    if (!WriteAll(fd, reinterpret_cast<const char*>(&record), sizeof record) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return Failure(what, path, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Failure(what, path, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Failure(what, path, error);
    }
    return {};
}

}  // namespace

std::string SettingsFilePath()
{
    return appDirectory + "/setting.ini";
}

void StorePath(char (&field)[kPathBufferSize], const std::string& path)
{
    const std::size_t length = Utf8PrefixLength(path, kPathBufferSize - 1);
    std::memcpy(field, path.data(), length);
    field[length] = '\0';  // bytes behind the NUL stay as they were
}

std::string ReadPath(const char (&field)[kPathBufferSize])
{
    const void* end = std::memchr(field, '\0', kPathBufferSize);
    const std::size_t length = end ? static_cast<const char*>(end) - field : kPathBufferSize;
    return std::string(field, length);
}

SettingsResult LoadSettings()
{
    const std::string path = SettingsFilePath();
    SettingsRecord loaded{};

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            const SettingsResult result = Failure("Cannot read the settings file", path, errno);
            FillDefaults(loaded);
            std::lock_guard<std::mutex> lock(SettingsMutex());
            settings = loaded;
            return result;
        }
        // First start in this directory: create the file with usable defaults.
        FillDefaults(loaded);
        {
            std::lock_guard<std::mutex> lock(SettingsMutex());
            settings = loaded;
        }
        return WriteRecord(loaded, path, "Cannot create the settings file");
    }

    // A shorter file fills only its leading bytes; bytes past 524 are ignored.
    char* target = reinterpret_cast<char*>(&loaded);
    std::size_t filled = 0;
    int readError = 0;
    while (filled < sizeof loaded) {
        const ssize_t got = ::read(fd, target + filled, sizeof loaded - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            readError = errno;
            break;
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);

    if (readError != 0) {
        // e.g. a directory named setting.ini: keep defaults, leave the file alone.
        FillDefaults(loaded);
        std::lock_guard<std::mutex> lock(SettingsMutex());
        settings = loaded;
        return Failure("Cannot read the settings file", path, readError);
    }

    std::lock_guard<std::mutex> lock(SettingsMutex());
    settings = loaded;
    return {};
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
