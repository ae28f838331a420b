#pragma once
// Reads how a recording lies on disk: its header (the streams, where the
// counts and lengths sit) and the picture and sound chunks of the movie
// lists, of the first RIFF part and of every OpenDML "AVIX" part after it.
// Nothing here trusts a size written at the end of a recording (the RIFF
// and LIST sizes, the frame counts): a killed recording has them at zero.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace avi {

inline uint32_t Get32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}
inline uint16_t Get16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}
void Put16(char* p, uint16_t value);
void Put32(char* p, uint32_t value);
void Put64(char* p, uint64_t value);
void Append32(std::string& out, uint32_t value);
void Append64(std::string& out, uint64_t value);

// A chunk's size on disk: its 8-byte head, the data and the pad to an even length.
inline uint64_t Padded(uint32_t size) { return 8 + static_cast<uint64_t>(size) + (size & 1); }

struct Stream {
    bool video = false;
    std::string tag;           // chunk id in the movie list: "00db", "01wb"
    uint64_t strhAt = 0;       // offset of the strh data in the header
    uint32_t scale = 0, rate = 0;
    uint64_t superIndexAt = 0; // offset of the "JUNK"/"indx" chunk avimux reserves; 0 when none
    uint32_t superIndexSize = 0;
    uint64_t strfAt = 0;       // offset of the audio format's data
    uint16_t formatTag = 0;    // audio
    uint16_t blockAlign = 0;
    uint32_t bytesPerSecond = 0;
    uint32_t headerLength = 0; // the length the header says now
};

struct Header {
    std::string bytes;        // the file from its start up to the first chunk of the movie list
    uint64_t avihAt = 0;      // offsets of chunk data in `bytes`
    uint64_t dmlhAt = 0;      // 0 when the header has no OpenDML list
    uint64_t moviAt = 0;      // offset of the "LIST....movi" head
    std::vector<Stream> streams;
    uint32_t handler = 0;     // the pictures' compressor (fourcc)
};

// 12 bytes a chunk, the least an empty chunk (8 bytes on disk) can cost:
// a file made of them must not take many times its size in memory.
struct Chunk {
    uint32_t atLow = 0;   // offset of its head in the file, split
    uint32_t size = 0;    // of the data
    uint16_t atHigh = 0;
    uint8_t stream = 0;
    bool key = false;

    Chunk() = default;
    Chunk(uint64_t at, uint32_t size, uint8_t stream, bool key)
        : atLow(static_cast<uint32_t>(at)), size(size), atHigh(static_cast<uint16_t>(at >> 32)), stream(stream),
          key(key) {}
    uint64_t At() const { return atLow | static_cast<uint64_t>(atHigh) << 32; }
};
static_assert(sizeof(Chunk) == 12);

// One RIFF part: the first ("AVI ") or an OpenDML continuation ("AVIX").
struct Part {
    uint64_t riffAt = 0;
    uint32_t riffSize = 0;     // as written
    uint64_t moviAt = 0;       // head of its "LIST....movi"
    uint32_t moviSize = 0;     // as written
    uint64_t moviEnd = 0;      // where its last whole chunk of the movie list ends
    std::size_t firstChunk = 0, chunkCount = 0;
    int indexChunks = 0;       // whole "ix##" chunks
    bool hasIdx1 = false;
    uint32_t idx1Entries = 0;
    uint64_t end = 0;          // where the part's last whole chunk (the idx1 too) ends
};

struct Layout {
    Header header;
    std::deque<Chunk> chunks;  // grows without a vector's doubled copy
    std::vector<Part> parts;
    uint64_t fileSize = 0;
    uint64_t walkedTo = 0;     // the end of the last whole chunk; fileSize when nothing is torn
};

enum class HeaderResult { Ours, NotOurs };

// Reads the header of the file open at `fd`. NotOurs with `reason` (in
// Chinese, for the user) when it is not an AVI this program recorded or
// its header is cut short.
HeaderResult ReadHeader(int fd, uint64_t fileSize, Header& header, std::string& reason);

// Walks the movie lists after the header. false with errno set on a read error.
bool WalkChunks(int fd, Layout& layout);

// Whether the file is whole: every size and count agrees with the chunks
// walked and the index is there.
bool IsComplete(const Layout& layout);

}  // namespace avi
