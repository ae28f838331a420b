#pragma once
// How much room the recording's disk has left, and how fast a recording is
// expected to fill it, so that Record can refuse a disk too full to hold a
// useful take and the status bar can say how long the running one can go on.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/CapturePlatform.h"

// Record refuses to start when the disk holds less than this at the
// expected rate.
inline constexpr double kMinimumRecordingSeconds = 10;

// Bytes an unprivileged program may still write in `folder` (statvfs:
// blocks free to users times the fragment size); nullopt when it cannot
// be read (a folder that is gone, say).
std::optional<uint64_t> FreeBytesInFolder(const std::string& folder);

// The folder that holds the file at `path` ("." for a bare name).
std::string FolderOfFile(const std::string& path);

// Replaces FreeBytesInFolder's statvfs (tests: a disk of any size); an
// empty function brings statvfs back.
using FreeSpaceSource = std::function<std::optional<uint64_t>(const std::string& folder)>;
void SetFreeSpaceSource(FreeSpaceSource source);

// What a recording of `mode` is expected to write each second. Raw
// pictures go into the file as I420 (1.5 bytes a pixel). A compressor's
// output depends on the picture, so a quarter of the raw size is assumed:
// more than motion JPEG at its usual quality or H.264 ever write, so the
// check errs on the side of refusing too early rather than starting a take
// that ends at once. Sound is counted as raw 48 kHz 16-bit stereo, the
// most a compressor could write too.
uint64_t ExpectedRecordingBytesPerSecond(const VideoMode& mode, bool compressed, bool sound);

// "812 KB", "7.2 MB", "3.4 GB": a size for the user, one decimal from MB on.
std::string DescribeBytes(uint64_t bytes);

// Empty when the disk of the recording file `path` holds at least
// kMinimumRecordingSeconds at `bytesPerSecond` (or its free space cannot be
// read: the write itself then tells); otherwise why Record cannot start,
// naming the free space.
std::string CheckRoomForRecording(const std::string& path, uint64_t bytesPerSecond);
