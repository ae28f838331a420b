#pragma once
// Just enough of a RIFF/AVI reader for tests: the main header's frame count,
// the streams with their types and sizes, and whether the index is there.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct AviStream {
    std::string type;     // "vids" or "auds"
    std::string handler;  // fourcc of the compressor ("MJPG", "I420", ...)
    uint32_t length = 0;  // frames (video) or blocks (audio)
    uint32_t scale = 0, rate = 0;  // rate / scale: frames (blocks) per second
    int32_t width = 0, height = 0;  // video
    uint16_t audioFormat = 0;       // WAVE format tag (1 = PCM)
    uint16_t channels = 0;          // audio
    uint32_t sampleRate = 0;        // audio
    uint16_t blockAlign = 0;        // audio
    uint32_t superIndexEntries = 0; // OpenDML "indx" entries in use (0 without one)
};

struct AviInfo {
    bool valid = false;  // "RIFF....AVI " with a header list
    uint32_t totalFrames = 0;
    uint32_t width = 0, height = 0;
    std::vector<AviStream> streams;
    bool hasIndex = false;
    uint32_t idx1Entries = 0;
    std::vector<std::pair<std::string, uint32_t>> idx1;  // each entry's chunk id and flags
    uint32_t odmlFrames = 0;  // "dmlh": the pictures of all RIFF parts
    uint32_t videoChunks = 0;  // "00dc"/"00db" chunks in the movie list
    std::vector<std::vector<uint8_t>> firstPictures;  // the bytes of the first few of them
    std::vector<int16_t> sound;  // the "01wb" chunks, read as 16-bit PCM
    uint64_t fileSize = 0;

    int Count(const std::string& type) const {
        int n = 0;
        for (const AviStream& s : streams) n += s.type == type;
        return n;
    }
    const AviStream* First(const std::string& type) const {
        for (const AviStream& s : streams)
            if (s.type == type) return &s;
        return nullptr;
    }
};

namespace avi_detail {
inline uint32_t U32(const std::vector<uint8_t>& d, std::size_t at) {
    return at + 4 <= d.size() ? d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24 : 0;
}
inline uint16_t U16(const std::vector<uint8_t>& d, std::size_t at) {
    return at + 2 <= d.size() ? static_cast<uint16_t>(d[at] | d[at + 1] << 8) : 0;
}
inline std::string Tag(const std::vector<uint8_t>& d, std::size_t at) {
    return at + 4 <= d.size() ? std::string(reinterpret_cast<const char*>(&d[at]), 4) : std::string();
}

inline void Walk(const std::vector<uint8_t>& d, std::size_t begin, std::size_t end, AviInfo& info,
                 AviStream* stream) {
    std::size_t at = begin;
    while (at + 8 <= end) {
        const std::string id = Tag(d, at);
        const uint32_t size = U32(d, at + 4);
        const std::size_t body = at + 8;
        const std::size_t bodyEnd = std::min<std::size_t>(end, body + size);
        if (id == "LIST") {
            const std::string listType = Tag(d, body);
            if (listType == "strl") {
                info.streams.emplace_back();
                Walk(d, body + 4, bodyEnd, info, &info.streams.back());
            } else if (listType == "movi") {
                for (std::size_t c = body + 4; c + 8 <= bodyEnd;) {
                    const std::string chunk = Tag(d, c);
                    if (chunk == "LIST") {  // "rec " lists
                        c += 12;
                        continue;
                    }
                    if (chunk.size() == 4 && chunk[0] == '0' && chunk[1] == '0' && chunk[2] == 'd') {
                        ++info.videoChunks;
                        const std::size_t from = c + 8, to = std::min<std::size_t>(bodyEnd, from + U32(d, c + 4));
                        if (info.firstPictures.size() < 5) info.firstPictures.emplace_back(d.begin() + from, d.begin() + to);
                    }
                    if (chunk == "01wb") {
                        const std::size_t from = c + 8, to = std::min<std::size_t>(bodyEnd, from + U32(d, c + 4));
                        for (std::size_t at = from; at + 2 <= to; at += 2)
                            info.sound.push_back(static_cast<int16_t>(U16(d, at)));
                    }
                    c += 8 + ((U32(d, c + 4) + 1) & ~1u);
                }
            } else {
                Walk(d, body + 4, bodyEnd, info, stream);
            }
        } else if (id == "avih") {
            info.totalFrames = U32(d, body + 16);
            info.width = U32(d, body + 32);
            info.height = U32(d, body + 36);
        } else if (id == "strh" && stream) {
            stream->type = Tag(d, body);
            stream->handler = Tag(d, body + 4);
            stream->scale = U32(d, body + 20);
            stream->rate = U32(d, body + 24);
            stream->length = U32(d, body + 32);
        } else if (id == "strf" && stream) {
            if (stream->type == "vids") {
                stream->width = static_cast<int32_t>(U32(d, body + 4));
                stream->height = static_cast<int32_t>(U32(d, body + 8));
            } else if (stream->type == "auds") {
                stream->audioFormat = U16(d, body);
                stream->channels = U16(d, body + 2);
                stream->sampleRate = U32(d, body + 4);
                stream->blockAlign = U16(d, body + 12);
            }
        } else if (id == "indx" && stream) {
            stream->superIndexEntries = U32(d, body + 4);
        } else if (id == "dmlh") {
            info.odmlFrames = U32(d, body);
        } else if (id == "idx1") {
            info.hasIndex = true;
            info.idx1Entries = size / 16;
            for (std::size_t e = body; e + 16 <= bodyEnd; e += 16) info.idx1.emplace_back(Tag(d, e), U32(d, e + 4));
        }
        at = body + ((size + 1) & ~1u);
    }
}
}  // namespace avi_detail

// Reads the whole file, or only its first `limit` bytes (the header of a
// big file; the chunk counts then cover only what was read).
inline AviInfo ReadAvi(const std::string& path, std::size_t limit = SIZE_MAX) {
    AviInfo info;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d;
    if (limit == SIZE_MAX) {
        d.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        d.resize(limit);
        in.read(reinterpret_cast<char*>(d.data()), static_cast<std::streamsize>(limit));
        d.resize(static_cast<std::size_t>(in.gcount()));
    }
    info.fileSize = limit == SIZE_MAX ? d.size() : 0;
    if (d.size() < 12 || avi_detail::Tag(d, 0) != "RIFF" || avi_detail::Tag(d, 8) != "AVI ") return info;
    avi_detail::Walk(d, 12, d.size(), info, nullptr);
    info.valid = !info.streams.empty();
    return info;
}

// The lengths of the recorded picture and sound tracks, in seconds.
inline double PictureSeconds(const AviInfo& avi) {
    const AviStream* video = avi.First("vids");
    return video && video->rate ? static_cast<double>(avi.totalFrames) * video->scale / video->rate : 0;
}

inline double SoundSeconds(const AviInfo& avi) {
    const AviStream* sound = avi.First("auds");
    if (!sound || sound->channels == 0 || sound->sampleRate == 0) return 0;
    return static_cast<double>(avi.sound.size()) / sound->channels / static_cast<double>(sound->sampleRate);
}

// A chunk of a movie list: where it lies in the file.
struct AviChunk {
    std::string id;  // "00db", "01wb", "ix00", ...
    uint64_t at = 0;  // offset of its 8-byte head
    uint32_t size = 0;
};

// Every chunk of the movie lists of all RIFF parts ("AVI " and "AVIX"),
// read by the sizes the file states, without loading the file.
inline std::vector<AviChunk> ListMovieChunks(const std::string& path) {
    std::vector<AviChunk> chunks;
    std::ifstream in(path, std::ios::binary);
    auto head = [&](uint64_t at, char* to, std::size_t n) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        in.read(to, static_cast<std::streamsize>(n));
        return static_cast<std::size_t>(in.gcount()) == n;
    };
    auto u32 = [](const char* p) {
        return static_cast<uint32_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8 |
                                     static_cast<uint8_t>(p[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24);
    };
    char h[12];
    for (uint64_t riff = 0; head(riff, h, 12) && std::string(h, 4) == "RIFF";) {
        const uint64_t riffEnd = riff + 8 + u32(h + 4);
        for (uint64_t at = riff + 12; at + 12 <= riffEnd && head(at, h, 12);) {
            const uint32_t size = u32(h + 4);
            if (std::string(h, 4) == "LIST" && std::string(h + 8, 4) == "movi") {
                const uint64_t end = at + 8 + size;
                for (uint64_t c = at + 12; c + 8 <= end && head(c, h, 8);) {
                    const uint32_t chunkSize = u32(h + 4);
                    chunks.push_back(AviChunk{std::string(h, 4), c, chunkSize});
                    c += 8 + chunkSize + (chunkSize & 1);
                }
            }
            at += 8 + size + (size & 1);
        }
        riff = riffEnd + (riffEnd & 1);
    }
    return chunks;
}

inline std::string ReadBytesAt(const std::string& path, uint64_t at, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// What is wrong with the indexes of the file (empty when nothing is): every
// idx1 entry (offsets from the file's start, as avimux writes them) and
// every entry of the OpenDML standard indexes ("ix00"...) must name a chunk
// of its stream with its size, the idx1 must list the first part's chunks
// in order, and the header's super indexes must point at the standard ones.
inline std::string IndexProblems(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    auto read = [&](uint64_t at, std::size_t n) {
        std::string bytes(n, '\0');
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        in.read(bytes.data(), static_cast<std::streamsize>(n));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    };
    auto u32 = [](const std::string& s, std::size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
                                     static_cast<uint8_t>(s[at + 2]) << 16 |
                                     static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
    };
    auto u64 = [&](const std::string& s, std::size_t at) { return u32(s, at) | static_cast<uint64_t>(u32(s, at + 4)) << 32; };
    const auto names = [&](uint64_t at, const std::string& id, uint32_t size) {
        const std::string head = read(at, 8);
        return head.size() == 8 && head.substr(0, 4) == id && u32(head, 4) == size;
    };
    std::string problems;
    const std::vector<AviChunk> chunks = ListMovieChunks(path);
    std::vector<AviChunk> firstPart;
    std::vector<std::pair<uint64_t, uint32_t>> standardIndexes;  // where, size with head
    uint64_t firstRiffEnd = 8 + u32(read(0, 8), 4);
    for (const AviChunk& c : chunks) {
        if (c.id.substr(0, 2) == "ix") {
            standardIndexes.emplace_back(c.at, c.size + 8);
            const std::string ix = read(c.at, 8 + c.size);
            if (ix.size() < 32) return problems + c.id + " cut short\n";
            const uint32_t entries = u32(ix, 12);
            const std::string stream = ix.substr(16, 4);
            const uint64_t base = u64(ix, 20);
            if (32 + 8ull * entries > ix.size()) return problems + c.id + " has more entries than room\n";
            for (uint32_t i = 0; i < entries; ++i) {
                const uint64_t data = base + u32(ix, 32 + 8 * i);
                if (!names(data - 8, stream, u32(ix, 36 + 8 * i) & 0x7fffffffu))
                    return problems + c.id + " entry " + std::to_string(i) + " points elsewhere\n";
            }
        } else if (c.at < firstRiffEnd) {
            firstPart.push_back(c);
        }
    }
    // The idx1 follows the first movie list.
    const std::string riffHead = read(0, 1 << 16);
    for (std::size_t at = 12; at + 12 <= riffHead.size();) {
        const uint32_t size = u32(riffHead, at + 4);
        if (riffHead.substr(at, 4) == "LIST" && riffHead.substr(at + 8, 4) == "movi") {
            const uint64_t idx1At = at + 8 + size;
            const std::string head = read(idx1At, 8);
            if (head.size() < 8 || head.substr(0, 4) != "idx1") return problems + "no idx1 after the movie list\n";
            const std::string idx1 = read(idx1At + 8, u32(head, 4));
            if (idx1.size() / 16 != firstPart.size()) problems += "idx1 does not list the first part's chunks\n";
            for (std::size_t i = 0; i < idx1.size() / 16 && i < firstPart.size(); ++i) {
                const std::string id = idx1.substr(16 * i, 4);
                const uint64_t offset = u32(idx1, 16 * i + 8);
                if (id != firstPart[i].id || offset != firstPart[i].at || !names(offset, id, u32(idx1, 16 * i + 12)))
                    return problems + "idx1 entry " + std::to_string(i) + " points elsewhere\n";
            }
            break;
        }
        if (riffHead.substr(at, 4) == "LIST" && riffHead.substr(at + 8, 4) == "hdrl") {
            // Super indexes: every entry an "ix" chunk of the file, with its size.
            for (std::size_t i = at + 12; i + 8 < at + 8 + size;) {
                const std::size_t found = riffHead.find("indx", i);
                if (found == std::string::npos || found >= at + 8 + size) break;
                const uint32_t used = u32(riffHead, found + 12);
                for (uint32_t e = 0; e < used; ++e) {
                    const uint64_t where = u64(riffHead, found + 32 + 16 * e);
                    const uint32_t length = u32(riffHead, found + 40 + 16 * e);
                    if (std::find(standardIndexes.begin(), standardIndexes.end(), std::make_pair(where, length)) ==
                        standardIndexes.end())
                        problems += "a super index entry points elsewhere\n";
                }
                i = found + 8;
            }
        }
        at += 8 + size + (size & 1);
    }
    return problems;
}
