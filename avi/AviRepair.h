#pragma once
// Repairs a recording that was never finished (the program killed, the
// power cut): avimux writes the index and the header's lengths only when a
// recording stops, so such a file has its pictures and sound but players
// see nothing or stop early. The repair keeps every whole picture and
// sound chunk, drops a torn last one, writes the index afresh and puts the
// header's counts right. Only files this program recorded are touched,
// and the damaged file is replaced only by a complete repaired one, except
// on a disk without room for it: there the index is written after the
// chunks where they lie (a repair cut short there is made again).

#include <cstdint>
#include <string>

enum class RepairStatus { Repaired, NotOurs, NothingToDo, Failed };

struct RepairReport {
    RepairStatus status = RepairStatus::Failed;
    std::string reason;       // why it was not repaired or what failed, in Chinese for a message
    uint64_t pictures = 0;    // picture chunks kept
    uint64_t soundBytes = 0;  // sound bytes kept
    double seconds = 0;       // the pictures' length (frames * scale / rate)
};

// Never follows a symbolic link at `path`, and refuses a FIFO, a device or
// a folder without blocking. On anything but Repaired the file is as it was.
RepairReport RepairRecording(const std::string& path);

// A recording's length as the program words it: "8 秒", "12 分 31 秒",
// "1 小时 2 分 5 秒". Rounded to the second.
std::string RecordingLengthText(double seconds);
