#include "avi/AviRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cmath>

#include "base/FileWriting.h"
#include "base/SystemErrorText.h"
#include "avi/AviChunks.h"
#include "avi/AviInPlace.h"
#include "avi/AviRebuild.h"

namespace {

const char* const kChangedMeanwhile = "文件在修复时被改动了";

RepairReport Report(RepairStatus status, std::string reason) {
    RepairReport report;
    report.status = status;
    report.reason = std::move(reason);
    return report;
}

std::string OpenFailure(const FileError& error) {
    if (error.code == 0) return error.reason == kSymbolicLinkReason ? "它是一个符号链接" : "它不是普通文件";
    if (error.code == EISDIR) return "它是一个文件夹";
    return "读不出文件：" + SystemErrorText(error.code);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// No room for a copy beside the file (the take filled the disk): the
// repair is written where the file lies.
RepairReport RepairWhereItLies(const std::string& path, const struct stat& before, avi::Layout& layout) {
    const UniqueFd out(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now {};
    if (!out.Valid() || ::fstat(out.Get(), &now) != 0)
        return Report(RepairStatus::Failed, "写不出修复后的文件：" + SystemErrorText(errno));
    if (now.st_dev != before.st_dev || now.st_ino != before.st_ino || !SameFile(before, now))
        return Report(RepairStatus::Failed, kChangedMeanwhile);
    struct statvfs disk {};
    const uint64_t free = ::fstatvfs(out.Get(), &disk) == 0 ? uint64_t{disk.f_bavail} * disk.f_frsize : 0;
    avi::Rebuilt rebuilt;
    if (!avi::RepairInPlace(out.Get(), layout, layout.fileSize + free, rebuilt)) {
        const int code = errno;
        return Report(RepairStatus::Failed, "写不出修复后的文件：" + (code ? SystemErrorText(code) : "磁盘空间不足"));
    }
    RepairReport report;
    report.status = RepairStatus::Repaired;
    report.pictures = rebuilt.pictures;
    report.soundBytes = rebuilt.soundBytes;
    report.seconds = rebuilt.seconds;
    return report;
}

}  // namespace

RepairReport RepairRecording(const std::string& path) {
    FileError error;
    const UniqueFd in = OpenRegularFileForReading(path, Links::Refuse, &error);
    if (!in.Valid()) return Report(RepairStatus::NotOurs, OpenFailure(error));
    struct stat before {};
    if (::fstat(in.Get(), &before) != 0) return Report(RepairStatus::NotOurs, "读不出文件：" + SystemErrorText(errno));

    avi::Layout layout;
    layout.fileSize = static_cast<uint64_t>(before.st_size);
    std::string reason;
    if (avi::ReadHeader(in.Get(), layout.fileSize, layout.header, reason) != avi::HeaderResult::Ours)
        return Report(RepairStatus::NotOurs, reason);
    if (!avi::WalkChunks(in.Get(), layout)) return Report(RepairStatus::Failed, "读不出文件：" + SystemErrorText(errno));

    avi::Rebuilt counts;
    avi::CountChunks(layout, counts);
    RepairReport report;
    report.pictures = counts.pictures;
    report.soundBytes = counts.soundBytes;
    report.seconds = counts.seconds;
    if (avi::IsComplete(layout)) {
        report.status = RepairStatus::NothingToDo;
        report.reason = "文件完好";
        return report;
    }
    if (counts.pictures == 0) return Report(RepairStatus::Failed, "录像里没有一张完整的画面");

    const avi::Rebuilt rebuilt = avi::Rebuild(layout);
    AtomicWriteOptions options;
    options.existing = ExistingName::OnlyRegularFile;
    options.sync = true;
    options.syncFolder = true;
    const bool written = ReplaceFileAtomically(
        path, options,
        [&](int out, FileError* failure) {
            if (!avi::WriteRebuilt(in.Get(), out, rebuilt)) {
                *failure = FileError{"cannot write", path, SystemErrorText(errno), errno};
                return false;
            }
            struct stat made {};
            if (::fstat(out, &made) != 0 || static_cast<uint64_t>(made.st_size) != rebuilt.size) {
                *failure = FileError{"cannot write", path, "修复后的文件长度不对", 0};
                return false;
            }
            // Something still writing the recording (or replacing it) would
            // lose what it adds: the copy is given up instead.
            struct stat after {};
            if (::fstat(in.Get(), &after) != 0 || !SameFile(before, after)) {
                *failure = FileError{"cannot write", path, kChangedMeanwhile, 0};
                return false;
            }
            return true;
        },
        &error);
    if (!written && (error.code == ENOSPC || error.code == EDQUOT)) return RepairWhereItLies(path, before, layout);
    if (!written) {
        if (error.reason == kChangedMeanwhile) return Report(RepairStatus::Failed, kChangedMeanwhile);
        if (error.code == 0 && error.action == "will not replace") return Report(RepairStatus::Failed, OpenFailure(error));
        const std::string text = error.code ? SystemErrorText(error.code) : error.reason;
        return Report(RepairStatus::Failed, "写不出修复后的文件：" + text);
    }
    report.status = RepairStatus::Repaired;
    return report;
}

std::string RecordingLengthText(double seconds) {
    const long long total = seconds > 0 ? std::llround(seconds) : 0;
    const long long hours = total / 3600, minutes = total / 60 % 60, rest = total % 60;
    std::string text;
    if (hours > 0) text += std::to_string(hours) + " 小时 ";
    if (hours > 0 || minutes > 0) text += std::to_string(minutes) + " 分 ";
    return text + std::to_string(rest) + " 秒";
}
