#include "capture/RecordingRoom.h"

#include <algorithm>

#include "capture/DiskSpace.h"

namespace {

// Each chunk's share of the index at the end, with room to spare: an AVI
// needs 16 (idx1) or 8 (OpenDML) plus the first part's idx1 in a large one;
// Matroska's cues and an MP4's fragment index need less.
constexpr uint64_t kIndexBytesPerChunk = 32;
constexpr uint64_t kChunkHeaderBytes = 8 + 1;  // its id and size, and the padding to an even length
// The file system's own blocks for what is still written, the index's
// headers, and free space that statvfs tells only roughly (btrfs).
constexpr uint64_t kFixedMargin = 2 * 1024 * 1024;
// Chunks let through but not yet written (the multiplexer holds one for
// each stream while it interleaves) are not in a reading of the free space.
constexpr uint64_t kChunksInFlight = 3;
// Other programs write to the disk too: the free space is read again this
// often, and more often as it runs low.
constexpr auto kReadingAge = std::chrono::seconds(1);

}  // namespace

uint64_t CRecordingRoom::RoomToKeep(uint64_t chunks, uint64_t largest) {
    return chunks * kIndexBytesPerChunk + kChunksInFlight * largest + kFixedMargin;
}

bool CRecordingRoom::Admit(uint64_t size) {
    std::lock_guard lock(mutex);
    if (ranOut) return false;
    const uint64_t chunk = size + kChunkHeaderBytes;
    largest = std::max(largest, chunk);
    const auto now = std::chrono::steady_clock::now();
    const auto fits = [&] { return !freeAtReading || FreeNow() >= chunk + RoomToKeep(chunks + 1, largest); };
    // Read again when the reading is old, or half of what it left spare is
    // used: the readings come closer together as the disk fills.
    bool fresh = false;
    if (!everRead || now - readAt >= kReadingAge || bytes - bytesAtReading >= spareAtReading / 2) {
        ReadFreeSpace(now);
        fresh = true;
    }
    if (!fits() && !fresh) ReadFreeSpace(now);  // another program may have made room
    if (!fits()) {
        ranOut = true;
        return false;
    }
    ++chunks;
    bytes += chunk;
    return true;
}

bool CRecordingRoom::RanOut() const {
    std::lock_guard lock(mutex);
    return ranOut;
}

void CRecordingRoom::ReadFreeSpace(std::chrono::steady_clock::time_point now) {
    freeAtReading = FreeBytesInFolder(folder);
    bytesAtReading = bytes;
    readAt = now;
    everRead = true;
    const uint64_t keep = RoomToKeep(chunks, largest);
    spareAtReading = freeAtReading && *freeAtReading > keep ? *freeAtReading - keep : 0;
}

uint64_t CRecordingRoom::FreeNow() const {
    const uint64_t used = bytes - bytesAtReading;
    return *freeAtReading > used ? *freeAtReading - used : 0;
}
