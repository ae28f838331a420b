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
};

struct AviInfo {
    bool valid = false;  // "RIFF....AVI " with a header list
    uint32_t totalFrames = 0;
    uint32_t width = 0, height = 0;
    std::vector<AviStream> streams;
    bool hasIndex = false;
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
            }
        } else if (id == "idx1") {
            info.hasIndex = true;
        }
        at = body + ((size + 1) & ~1u);
    }
}
}  // namespace avi_detail

inline AviInfo ReadAvi(const std::string& path) {
    AviInfo info;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    info.fileSize = d.size();
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
