#include "avi/AviRebuild.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/FileWriting.h"

namespace avi {
namespace {

constexpr uint32_t kHasIndex = 0x10;       // avih flags
constexpr uint32_t kIsInterleaved = 0x100;
constexpr uint32_t kIdx1Picture = 0x02;    // idx1 flags as avimux writes them
constexpr uint32_t kIdx1Key = 0x10;
constexpr uint32_t kNotKey = 1u << 31;     // in a standard index entry's size
constexpr uint16_t kWavePcm = 1;
constexpr std::size_t kCopyBuffer = 4 << 20;
constexpr std::size_t kIndexBlock = 64 << 10;
constexpr uint16_t kWaveMp3 = 0x55;
// What compressed sound runs at: 8 to 320 kbit/s for MP3, up to 16-bit PCM's
// rate for others; 128 kbit/s stands in when the pictures' length gives none.
constexpr double kLeastSoundRate = 1000;
constexpr double kMostMp3Rate = 40000;
constexpr double kUsualSoundRate = 16000;

std::string IndexTag(std::size_t stream) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "ix%02u", static_cast<unsigned>(stream % 100));
    return tag;
}

struct SuperEntry {
    uint64_t offset;
    uint32_t size, duration;
};

class Builder {
public:
    explicit Builder(const Layout& layout)
        : layout_(layout), streams_(layout.header.streams), supers_(streams_.size()), largest_(streams_.size(), 0) {}

    Rebuilt Build() {
        CountChunks(layout_, out_);
        out_.layout = &layout_;
        std::vector<const Part*> kept;
        for (const Part& part : layout_.parts)
            if (&part == &layout_.parts.front() || part.chunkCount > 0) kept.push_back(&part);
        multiPart_ = kept.size() > 1;

        out_.pieces.push_back(Piece{layout_.header.bytes, 0, 0, false, {}});
        position_ = layout_.header.bytes.size();
        uint32_t firstRiffSize = 0, firstMoviSize = 0;
        for (std::size_t k = 0; k < kept.size(); ++k) {
            const uint64_t riffAt = k == 0 ? 0 : position_;
            std::size_t avixHead = 0;
            if (k > 0) {
                avixHead = out_.pieces.size();
                Add(std::string("RIFF\0\0\0\0AVIXLIST\0\0\0\0movi", 24));
            }
            const uint64_t moviData = k == 0 ? layout_.header.moviAt + 8 : riffAt + 20;
            const uint64_t dataAt = position_;
            CopyChunks(*kept[k]);
            if (multiPart_)
                for (std::size_t s = 0; s < streams_.size(); ++s) AddStandardIndex(*kept[k], s, riffAt, dataAt);
            const auto moviSize = static_cast<uint32_t>(position_ - moviData);
            if (k == 0) AddIdx1(*kept[k], dataAt);
            const auto riffSize = static_cast<uint32_t>(position_ - riffAt - 8);
            if (k == 0) {
                firstRiffSize = riffSize;
                firstMoviSize = moviSize;
            } else {
                Put32(out_.pieces[avixHead].bytes.data() + 4, riffSize);
                Put32(out_.pieces[avixHead].bytes.data() + 16, moviSize);
            }
        }
        PatchHeader(out_.pieces.front().bytes, firstRiffSize, firstMoviSize, *kept.front());
        out_.size = position_;
        return std::move(out_);
    }

private:
    void Add(std::string bytes) {
        position_ += bytes.size();
        out_.pieces.push_back(Piece{std::move(bytes), 0, 0, false, {}});
    }

    void AddIndex(std::string head, IndexPlan plan, uint64_t entryBytes) {
        position_ += head.size() + entryBytes;
        plan.entryBytes = entryBytes;
        out_.pieces.push_back(Piece{std::move(head), 0, 0, true, plan});
    }

    // Chunks that lie back to back are copied as one range.
    void CopyChunks(const Part& part) {
        for (std::size_t i = part.firstChunk; i < part.firstChunk + part.chunkCount; ++i) {
            const Chunk& chunk = layout_.chunks[i];
            const uint64_t size = Padded(chunk.size);
            Piece* last = out_.pieces.empty() ? nullptr : &out_.pieces.back();
            if (last && last->copySize > 0 && last->copyFrom + last->copySize == chunk.At())
                last->copySize += size;
            else
                out_.pieces.push_back(Piece{{}, chunk.At(), size, false, {}});
            position_ += size;
            largest_[chunk.stream] = std::max(largest_[chunk.stream], chunk.size);
        }
    }

    void AddStandardIndex(const Part& part, std::size_t stream, uint64_t base, uint64_t dataAt) {
        uint32_t entries = 0;
        uint64_t soundBytes = 0;
        for (std::size_t i = part.firstChunk; i < part.firstChunk + part.chunkCount; ++i) {
            const Chunk& chunk = layout_.chunks[i];
            if (chunk.stream != stream) continue;
            ++entries;
            soundBytes += chunk.size;
        }
        std::string head = IndexTag(stream);
        Append32(head, 24 + 8 * entries);
        head += std::string("\x02\x00\x00\x01", 4);  // 2 longs an entry, index of chunks
        Append32(head, entries);
        head += streams_[stream].tag;
        Append64(head, base);
        Append32(head, 0);
        const Stream& s = streams_[stream];
        const bool pcm = !s.video && s.formatTag == kWavePcm && s.blockAlign > 0;
        supers_[stream].push_back(SuperEntry{position_, 32 + 8 * entries,
                                             pcm ? static_cast<uint32_t>(soundBytes / s.blockAlign) : entries});
        AddIndex(std::move(head), IndexPlan{false, stream, part.firstChunk, part.chunkCount, dataAt, base, 0},
                 8ull * entries);
    }

    void AddIdx1(const Part& part, uint64_t dataAt) {
        std::string head = "idx1";
        Append32(head, static_cast<uint32_t>(part.chunkCount * 16));
        AddIndex(std::move(head), IndexPlan{true, 0, part.firstChunk, part.chunkCount, dataAt, 0, 0},
                 16ull * part.chunkCount);
    }

    uint64_t SoundBytes(std::size_t index) const {
        uint64_t bytes = 0;
        for (const Chunk& chunk : layout_.chunks)
            if (chunk.stream == index) bytes += chunk.size;
        return bytes;
    }

    // A compressor whose rate was unknown when the recording began (MP3)
    // leaves the rate at 0 until avimux works it out at the end, from the
    // sound's length: here the pictures' length stands in for it, unless
    // pictures that stalled early give a rate no such compressor has.
    void PutSoundRate(char* b, Stream& stream, uint64_t bytes) const {
        if (stream.bytesPerSecond > 0 || bytes == 0 || !stream.strfAt) return;
        double measured = out_.seconds > 0 ? static_cast<double>(bytes) / out_.seconds : 0;
        if (!(measured >= kLeastSoundRate && measured <= MostSoundRate(b, stream))) measured = kUsualSoundRate;
        const auto rate = static_cast<uint32_t>(measured);
        stream.bytesPerSecond = (rate - 4 + 7) / 8 * 8;  // as avimux rounds it
        Put32(b + stream.strfAt + 8, stream.bytesPerSecond);
        if (stream.scale <= 1) {
            stream.scale = 1;
            stream.rate = stream.bytesPerSecond / std::max<uint16_t>(stream.blockAlign, 1);
            Put32(b + stream.strhAt + 20, stream.scale);
            Put32(b + stream.strhAt + 24, stream.rate);
        }
    }

    static double MostSoundRate(const char* b, const Stream& stream) {
        if (stream.formatTag == kWaveMp3) return kMostMp3Rate;
        const uint16_t channels = Get16(b + stream.strfAt + 2);
        const uint32_t samples = Get32(b + stream.strfAt + 4);
        const bool known = channels > 0 && channels <= 8 && samples > 0 && samples <= 384000;
        return known ? 2.0 * channels * samples : 2.0 * 2 * 48000;
    }

    uint32_t LengthOf(const Stream& stream, uint64_t bytes) const {
        if (stream.video) return static_cast<uint32_t>(out_.pictures);
        // In the header's own units: rate / scale of them a second.
        if (stream.bytesPerSecond > 0 && stream.scale > 0)
            return static_cast<uint32_t>(bytes * stream.rate / (static_cast<uint64_t>(stream.scale) * stream.bytesPerSecond));
        return stream.blockAlign > 0 ? static_cast<uint32_t>(bytes / stream.blockAlign) : static_cast<uint32_t>(bytes);
    }

    void PatchHeader(std::string& h, uint32_t riffSize, uint32_t moviSize, const Part& first) {
        const Header& header = layout_.header;
        char* b = h.data();
        Put32(b + 4, riffSize);
        bool audio = false;
        for (const Stream& s : streams_) audio = audio || !s.video;
        Put32(b + header.avihAt + 12, Get32(b + header.avihAt + 12) | kHasIndex | (audio ? kIsInterleaved : 0));
        uint32_t firstPictures = 0;
        for (std::size_t i = first.firstChunk; i < first.firstChunk + first.chunkCount; ++i)
            firstPictures += streams_[layout_.chunks[i].stream].video;
        Put32(b + header.avihAt + 16, firstPictures);
        if (header.dmlhAt) Put32(b + header.dmlhAt, static_cast<uint32_t>(out_.pictures));
        for (std::size_t s = 0; s < streams_.size(); ++s) {
            Stream stream = streams_[s];
            const uint64_t bytes = stream.video ? 0 : SoundBytes(s);
            if (!stream.video) PutSoundRate(b, stream, bytes);
            Put32(b + stream.strhAt + 32, LengthOf(stream, bytes));
            Put32(b + streams_[s].strhAt + 36, largest_[s]);
            if (streams_[s].superIndexAt) WriteSuperIndex(b + streams_[s].superIndexAt, s);
        }
        Put32(b + header.moviAt + 4, moviSize);
    }

    // Fills the room avimux reserves in each stream's header list: an
    // "indx" of the parts' standard indexes, or an unused "JUNK" for a
    // file of one part.
    void WriteSuperIndex(char* chunk, std::size_t stream) {
        const uint32_t size = streams_[stream].superIndexSize;
        const uint32_t capacity = (size - 24) / 16;
        const std::vector<SuperEntry>& entries = supers_[stream];
        const auto used = static_cast<uint32_t>(multiPart_ ? std::min<std::size_t>(entries.size(), capacity) : 0);
        std::memcpy(chunk, used ? "indx" : "JUNK", 4);
        std::memset(chunk + 8, 0, size);
        Put16(chunk + 8, 4);  // longs an entry; subtype and type 0: an index of indexes
        Put32(chunk + 12, used);
        std::memcpy(chunk + 16, streams_[stream].tag.data(), 4);
        for (uint32_t i = 0; i < used; ++i) {
            char* entry = chunk + 32 + 16 * i;
            Put64(entry, entries[i].offset);
            Put32(entry + 8, entries[i].size);
            Put32(entry + 12, entries[i].duration);
        }
    }

    const Layout& layout_;
    const std::vector<Stream>& streams_;
    std::vector<std::vector<SuperEntry>> supers_;
    std::vector<uint32_t> largest_;
    bool multiPart_ = false;
    uint64_t position_ = 0;
    Rebuilt out_;
};

bool CopyRange(int in, int out, uint64_t from, uint64_t size, std::vector<char>& buffer) {
    auto offset = static_cast<off_t>(from);
    // In the kernel where it can: no trip through this process's memory.
    while (size > 0) {
        const ssize_t copied = ::copy_file_range(in, &offset, out, nullptr, size, 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) break;
        if (copied < 0) return false;
        if (copied == 0) {
            errno = EIO;  // the damaged file shrank meanwhile
            return false;
        }
        size -= static_cast<uint64_t>(copied);
    }
    while (size > 0) {
        if (buffer.empty()) buffer.resize(kCopyBuffer);
        const ssize_t got = ::pread(in, buffer.data(), std::min<uint64_t>(size, buffer.size()), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return false;
        }
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(got))) return false;
        offset += got;
        size -= static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace

void CountChunks(const Layout& layout, Rebuilt& counts) {
    counts.pictures = counts.soundBytes = 0;
    for (const Chunk& chunk : layout.chunks) {
        if (layout.header.streams[chunk.stream].video)
            ++counts.pictures;
        else
            counts.soundBytes += chunk.size;
    }
    for (const Stream& stream : layout.header.streams)
        if (stream.video) {
            counts.seconds = stream.rate ? static_cast<double>(counts.pictures) * stream.scale / stream.rate : 0;
            break;
        }
}

Rebuilt Rebuild(const Layout& layout) { return Builder(layout).Build(); }

namespace {

// A block of entries at a time.
bool WriteIndex(int out, const Piece& piece, const Layout& layout) {
    if (!WriteAll(out, piece.bytes.data(), piece.bytes.size())) return false;
    const IndexPlan& plan = piece.index;
    const std::vector<Stream>& streams = layout.header.streams;
    std::string block;
    block.reserve(kIndexBlock + 16);
    uint64_t at = plan.dataAt;
    for (std::size_t i = plan.firstChunk; i < plan.firstChunk + plan.chunkCount; ++i) {
        const Chunk& chunk = layout.chunks[i];
        if (plan.idx1) {
            // Offsets from the file's start, as avimux writes them.
            const bool video = streams[chunk.stream].video;
            block += streams[chunk.stream].tag;
            Append32(block, video ? kIdx1Picture | (chunk.key ? kIdx1Key : 0) : 0);
            Append32(block, static_cast<uint32_t>(at));
            Append32(block, chunk.size);
        } else if (chunk.stream == plan.stream) {
            Append32(block, static_cast<uint32_t>(at + 8 - plan.base));
            Append32(block, chunk.size | (chunk.key ? 0 : kNotKey));
        }
        at += Padded(chunk.size);
        if (block.size() >= kIndexBlock) {
            if (!WriteAll(out, block.data(), block.size())) return false;
            block.clear();
        }
    }
    return WriteAll(out, block.data(), block.size());
}

}  // namespace

bool WriteMadePiece(int out, const Piece& piece, const Layout& layout) {
    return piece.isIndex ? WriteIndex(out, piece, layout) : WriteAll(out, piece.bytes.data(), piece.bytes.size());
}

bool WriteRebuilt(int in, int out, const Rebuilt& rebuilt) {
    // Read once from start to end: a larger read-ahead, as cp asks for.
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> buffer;
    for (const Piece& piece : rebuilt.pieces) {
        const bool ok = piece.copySize > 0 ? CopyRange(in, out, piece.copyFrom, piece.copySize, buffer)
                        : piece.isIndex    ? WriteIndex(out, piece, *rebuilt.layout)
                                           : WriteAll(out, piece.bytes.data(), piece.bytes.size());
        if (!ok) return false;
    }
    return true;
}

}  // namespace avi
