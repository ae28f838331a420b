#pragma once
// Just enough of a RIFF/AVI reader for tests: the main header's frame count,
// the streams with their types and sizes, and whether the index is there.

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
