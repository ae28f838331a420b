#include "avi/AviChunks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "avi/AviKeyPictures.h"
#include "avi/RecordingFile.h"
#include "base/SystemErrorText.h"

namespace avi {

void Put16(char* p, uint16_t value) {
    p[0] = static_cast<char>(value);
    p[1] = static_cast<char>(value >> 8);
}
void Put32(char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(value >> (8 * i));
}
void Put64(char* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(value >> (8 * i));
}
void Append32(std::string& out, uint32_t value) {
    char bytes[4];
    Put32(bytes, value);
    out.append(bytes, 4);
}
void Append64(std::string& out, uint64_t value) {
    char bytes[8];
    Put64(bytes, value);
    out.append(bytes, 8);
}

namespace {

// avimux's header is a few kilobytes; anything this long is not its.
constexpr std::size_t kMaxHeader = 1 << 20;
// avimux starts a new part before 1 GB, so no chunk of ours is larger.
constexpr uint32_t kMaxChunk = 1u << 30;
// Offsets fit a Chunk's 48 bits.
constexpr uint64_t kMaxOffset = 1ull << 48;
// Enough of a picture to find what kind it is (an encoder's first picture
// carries a long description before the picture itself).
constexpr std::size_t kKeySniff = 4096;

bool ReadAt(int fd, char* to, std::size_t size, uint64_t at) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, to, size, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) {
            errno = EIO;  // the file shrank under us
            return false;
        }
        to += got;
        at += static_cast<uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool Is(const std::string& bytes, uint64_t at, const char* tag) {
    return at + 4 <= bytes.size() && std::memcmp(bytes.data() + at, tag, 4) == 0;
}

struct HeaderReader {
    Header& header;
    std::string& reason;
    bool sawSoftware = false;

    const std::string& b() const { return header.bytes; }
    uint32_t U32(uint64_t at) const { return Get32(b().data() + at); }

    bool Bad(const char* why) {
        reason = why;
        return false;
    }

    // Each chunk of [begin, end) in turn; false (with a reason) when one
    // runs past its list.
    template <typename Visit>
    bool EachChunk(uint64_t begin, uint64_t end, Visit visit) {
        for (uint64_t at = begin; at + 8 <= end;) {
            const uint32_t size = U32(at + 4);
            if (at + 8 + size > end) return Bad("文件头的结构不认识");
            if (!visit(at, size)) return false;
            at += Padded(size);
        }
        return true;
    }

    bool Stream(uint64_t begin, uint64_t end) {
        avi::Stream stream;
        bool sawStrh = false;
        const bool ok = EachChunk(begin, end, [&](uint64_t at, uint32_t size) {
            const uint64_t body = at + 8;
            if (Is(b(), at, "strh") && size >= 40) {
                sawStrh = true;
                stream.video = Is(b(), body, "vids");
                if (!stream.video && !Is(b(), body, "auds")) return Bad("录像里有不认识的流");
                if (stream.video) header.handler = U32(body + 4);
                stream.strhAt = body;
                stream.scale = U32(body + 20);
                stream.rate = U32(body + 24);
                stream.headerLength = U32(body + 32);
            } else if (Is(b(), at, "strf") && !stream.video && size >= 14) {
                stream.strfAt = body;
                stream.formatTag = Get16(b().data() + body);
                stream.bytesPerSecond = U32(body + 8);
                stream.blockAlign = Get16(b().data() + body + 12);
            } else if ((Is(b(), at, "JUNK") || Is(b(), at, "indx")) && size >= 24) {
                stream.superIndexAt = at;
                stream.superIndexSize = size;
            }
            return true;
        });
        if (!ok) return false;
        if (!sawStrh) return Bad("文件头的结构不认识");
        char tag[8];
        std::snprintf(tag, sizeof tag, "%02u%s", static_cast<unsigned>(header.streams.size() % 100),
                      stream.video ? "db" : "wb");
        stream.tag = tag;
        header.streams.push_back(stream);
        return true;
    }

    bool Hdrl(uint64_t begin, uint64_t end) {
        return EachChunk(begin, end, [&](uint64_t at, uint32_t size) {
            if (Is(b(), at, "avih") && size >= 40) header.avihAt = at + 8;
            if (Is(b(), at, "LIST") && size >= 4) {
                if (Is(b(), at + 8, "strl")) return Stream(at + 12, at + 8 + size);
                if (Is(b(), at + 8, "odml"))
                    return EachChunk(at + 12, at + 8 + size, [&](uint64_t c, uint32_t s) {
                        if (Is(b(), c, "dmlh") && s >= 4) header.dmlhAt = c + 8;
                        return true;
                    });
            }
            return true;
        });
    }

    bool Info(uint64_t begin, uint64_t end) {
        return EachChunk(begin, end, [&](uint64_t at, uint32_t size) {
            if (Is(b(), at, "ISFT")) {
                const std::string text = b().substr(at + 8, size);
                sawSoftware = sawSoftware || text.substr(0, text.find('\0')) == kRecordingSoftware;
            }
            return true;
        });
    }

    bool Read(uint64_t fileSize) {
        if (b().size() < 12 || !Is(b(), 0, "RIFF") || !Is(b(), 8, "AVI ")) return Bad("它不是 AVI 文件");
        // A top-level chunk that runs past what was read: cut short when the
        // file ends there, otherwise a header no recording of ours has.
        const char* past = b().size() == fileSize ? "文件头不完整" : "文件头的结构不认识";
        for (uint64_t at = 12;;) {
            if (at + 12 > b().size()) return Bad(past);
            const uint32_t size = U32(at + 4);
            if (Is(b(), at, "LIST") && Is(b(), at + 8, "movi")) {
                header.moviAt = at;
                break;
            }
            if (at + 8 + size > b().size()) return Bad(past);
            if (Is(b(), at, "LIST") && Is(b(), at + 8, "hdrl") && !Hdrl(at + 12, at + 8 + size)) return false;
            if (Is(b(), at, "LIST") && Is(b(), at + 8, "INFO") && !Info(at + 12, at + 8 + size)) return false;
            at += Padded(size);
        }
        if (!sawSoftware) return Bad("文件头里没有本程序的标记");
        const bool hasVideo = std::any_of(header.streams.begin(), header.streams.end(),
                                          [](const avi::Stream& s) { return s.video; });
        if (header.avihAt == 0 || !hasVideo) return Bad("文件头的结构不认识");
        header.bytes.resize(header.moviAt + 12);
        return true;
    }
};

int StreamOf(const char* id, const Header& header) {
    if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9') return -1;
    const int number = (id[0] - '0') * 10 + (id[1] - '0');
    if (number >= static_cast<int>(header.streams.size())) return -1;
    const bool video = header.streams[number].video;
    const bool matches = video ? (id[2] == 'd' && (id[3] == 'b' || id[3] == 'c')) : (id[2] == 'w' && id[3] == 'b');
    return matches ? number : -1;
}

bool IsIndexChunk(const char* id) {
    return id[0] == 'i' && id[1] == 'x' && id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9';
}

}  // namespace

HeaderResult ReadHeader(int fd, uint64_t fileSize, Header& header, std::string& reason) {
    header = Header{};
    header.bytes.resize(static_cast<std::size_t>(std::min<uint64_t>(fileSize, kMaxHeader)));
    if (!ReadAt(fd, header.bytes.data(), header.bytes.size(), 0)) {
        reason = "读不出文件：" + SystemErrorText(errno);
        return HeaderResult::NotOurs;
    }
    HeaderReader reader{header, reason};
    return reader.Read(fileSize) ? HeaderResult::Ours : HeaderResult::NotOurs;
}

bool WalkChunks(int fd, Layout& layout) {
    const Header& header = layout.header;
    layout.chunks.clear();
    layout.parts.assign(1, Part{});
    Part& first = layout.parts.front();
    first.riffSize = Get32(header.bytes.data() + 4);
    first.moviAt = header.moviAt;
    first.moviSize = Get32(header.bytes.data() + header.moviAt + 4);
    uint64_t at = header.moviAt + 12;
    first.moviEnd = first.end = at;
    bool afterIdx1 = false;  // what follows an idx1 is outside the movie list
    std::vector<char> sniff;
    for (;;) {
        layout.walkedTo = at;
        char head[24];
        if (at + 8 > layout.fileSize) break;
        if (!ReadAt(fd, head, 8, at)) return false;
        const uint32_t size = Get32(head + 4);
        const uint64_t end = at + Padded(size);
        const bool whole = end <= layout.fileSize;
        Part& part = layout.parts.back();
        const int stream = StreamOf(head, header);
        if (stream >= 0) {
            if (!whole || afterIdx1 || size > kMaxChunk || at >= kMaxOffset) break;
            bool key = true;
            if (header.streams[stream].video && NeedsLookForKey(header.handler)) {
                sniff.resize(std::min<std::size_t>(size, kKeySniff));
                if (!ReadAt(fd, sniff.data(), sniff.size(), at + 8)) return false;
                key = IsKeyPicture(header.handler, sniff.data(), sniff.size());
            }
            layout.chunks.emplace_back(at, size, static_cast<uint8_t>(stream), key);
            ++part.chunkCount;
            part.moviEnd = part.end = end;
        } else if (IsIndexChunk(head)) {
            if (!whole || afterIdx1) break;
            ++part.indexChunks;
            part.moviEnd = part.end = end;
        } else if (std::memcmp(head, "JUNK", 4) == 0) {
            if (!whole) break;
            if (!afterIdx1) part.moviEnd = end;
            part.end = end;
        } else if (std::memcmp(head, "idx1", 4) == 0) {
            if (!whole || afterIdx1 || layout.parts.size() > 1) break;
            part.hasIdx1 = true;
            part.idx1Entries = size / 16;
            part.end = end;
            afterIdx1 = true;
        } else if (std::memcmp(head, "RIFF", 4) == 0) {
            if (at + 24 > layout.fileSize) break;
            if (!ReadAt(fd, head, 24, at)) return false;
            if (std::memcmp(head + 8, "AVIXLIST", 8) != 0 || std::memcmp(head + 20, "movi", 4) != 0) break;
            Part next;
            next.riffAt = at;
            next.riffSize = size;
            next.moviAt = at + 12;
            next.moviSize = Get32(head + 16);
            next.firstChunk = layout.chunks.size();
            next.moviEnd = next.end = at + 24;
            layout.parts.push_back(next);
            afterIdx1 = false;
            at += 24;
            continue;
        } else {
            break;  // not written by the multiplexer: a torn tail, or blocks never written
        }
        at = end;
    }
    return true;
}

bool IsComplete(const Layout& layout) {
    if (layout.walkedTo != layout.fileSize || layout.chunks.empty()) return false;
    const Header& header = layout.header;
    const Part& first = layout.parts.front();
    if (!first.hasIdx1 || first.idx1Entries != first.chunkCount) return false;
    const std::size_t parts = layout.parts.size();
    for (std::size_t i = 0; i < parts; ++i) {
        const Part& part = layout.parts[i];
        const uint64_t partEnd = i + 1 < parts ? layout.parts[i + 1].riffAt : layout.fileSize;
        if (part.end != partEnd || part.riffAt + 8 + part.riffSize != partEnd) return false;
        if (part.moviAt + 8 + part.moviSize != part.moviEnd) return false;
        if (parts > 1 && (part.indexChunks < static_cast<int>(header.streams.size()) || part.chunkCount == 0))
            return false;
    }
    uint64_t pictures = 0, firstPictures = 0;
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        if (!header.streams[layout.chunks[i].stream].video) continue;
        ++pictures;
        if (i < first.chunkCount) ++firstPictures;
    }
    const char* b = header.bytes.data();
    if (Get32(b + header.avihAt + 16) != firstPictures) return false;
    if (header.dmlhAt && Get32(b + header.dmlhAt) != pictures) return false;
    for (const Stream& stream : header.streams) {
        if (stream.video && stream.headerLength != pictures) return false;
        if (parts > 1) {
            // A header without room for a super index stays without one.
            const uint32_t capacity = stream.superIndexAt ? (stream.superIndexSize - 24) / 16 : 0;
            const uint64_t entries = std::min<uint64_t>(parts, capacity);
            if (entries > 0 && (std::memcmp(b + stream.superIndexAt, "indx", 4) != 0 ||
                                Get32(b + stream.superIndexAt + 12) != entries))
                return false;
        }
    }
    return true;
}

}  // namespace avi
