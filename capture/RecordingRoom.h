#pragma once
// Keeps the room a take's index needs free until the take ends. The
// multiplexer writes the index only after the last chunk (an AVI's idx1:
// 16 bytes a chunk; a large AVI's OpenDML parts: 8 a chunk for each stream,
// and the first part's idx1 on the way), so a disk that fills first leaves
// a file that no player can seek in. Every chunk is offered here before it
// reaches the multiplexer; once it would leave less free than the index
// and a margin, it and all that follows are turned away and the take has
// to end, which writes the index into the room kept.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

class CRecordingRoom {
public:
    // For the file system that holds `folder` (FreeBytesInFolder).
    explicit CRecordingRoom(std::string folder) : folder(std::move(folder)) {}

    // Any streaming thread: true when a chunk of `bytes` may go to the
    // file. False from the first chunk that would eat into the room kept on.
    bool Admit(uint64_t bytes);
    bool RanOut() const;

    // What the end of a take of `chunks` chunks, the largest `largest`
    // bytes, may still write.
    static uint64_t RoomToKeep(uint64_t chunks, uint64_t largest);

private:
    void ReadFreeSpace(std::chrono::steady_clock::time_point now);
    // Free space left after the chunks let through since the last reading.
    uint64_t FreeNow() const;

    const std::string folder;
    mutable std::mutex mutex;
    uint64_t chunks = 0;       // let through
    uint64_t bytes = 0;        // let through, with the chunks' headers
    uint64_t largest = 0;
    bool ranOut = false;
    // The last reading (nullopt: the free space cannot be read; the take
    // then runs as it would without this).
    std::optional<uint64_t> freeAtReading;
    uint64_t bytesAtReading = 0;
    uint64_t spareAtReading = 0;  // beyond the room kept
    std::chrono::steady_clock::time_point readAt;
    bool everRead = false;
};
