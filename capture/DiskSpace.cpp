#include "capture/DiskSpace.h"

#include <sys/statvfs.h>

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex& SourceMutex() {
    static std::mutex mutex;
    return mutex;
}

FreeSpaceSource& Source() {
    static FreeSpaceSource source;
    return source;
}

// A camera whose mode is not known is taken at the rate most cameras run.
constexpr double kAssumedFramesPerSecond = 30;
constexpr uint64_t kRawSoundBytesPerSecond = 48000 * 2 * 2;
constexpr uint64_t kCompressionAssumed = 4;

}  // namespace

std::optional<uint64_t> FreeBytesInFolder(const std::string& folder) {
    FreeSpaceSource source;
    {
        std::lock_guard lock(SourceMutex());
        source = Source();
    }
    if (source) return source(folder);
    struct statvfs status {};
    if (::statvfs(folder.c_str(), &status) != 0) return std::nullopt;
    return static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
}

std::string FolderOfFile(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void SetFreeSpaceSource(FreeSpaceSource source) {
    std::lock_guard lock(SourceMutex());
    Source() = std::move(source);
}

uint64_t ExpectedRecordingBytesPerSecond(const VideoMode& mode, bool compressed, bool sound) {
    const double fps = mode.FramesPerSecond() > 0 ? mode.FramesPerSecond() : kAssumedFramesPerSecond;
    const double pixels = static_cast<double>(mode.width > 0 ? mode.width : 0) * (mode.height > 0 ? mode.height : 0);
    uint64_t bytes = static_cast<uint64_t>(pixels * 1.5 * fps);
    if (compressed) bytes /= kCompressionAssumed;
    if (sound) bytes += kRawSoundBytesPerSecond;
    return bytes;
}

std::string DescribeBytes(uint64_t bytes) {
    constexpr double kKiB = 1024.0;
    char text[32];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / 1024));
    else if (bytes < 1024ull * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", bytes / (kKiB * kKiB));
    else
        std::snprintf(text, sizeof text, "%.1f GB", bytes / (kKiB * kKiB * kKiB));
    return text;
}

std::string CheckRoomForRecording(const std::string& path, uint64_t bytesPerSecond) {
    const std::optional<uint64_t> free = FreeBytesInFolder(FolderOfFile(path));
    if (!free || static_cast<double>(*free) >= kMinimumRecordingSeconds * static_cast<double>(bytesPerSecond))
        return {};
    return "磁盘上只剩 " + DescribeBytes(*free) + " 可用空间，按预计每秒 " + DescribeBytes(bytesPerSecond) +
           " 的数据量录不满 " + std::to_string(static_cast<int>(kMinimumRecordingSeconds)) +
           " 秒。请腾出空间，或在“选项”中把录相文件放到另一个磁盘上";
}
