#pragma once
// Recordings made by real avimux pipelines (gst-launch-1.0), cut or killed
// the way a crash leaves them, and the checks a repaired file must pass.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/AviRepair.h"
#include "tests/AviReader.h"
#include "tests/WaitFor.h"
#include "tests/engine/FileTestHelpers.h"

namespace repair_tests {

namespace fs = std::filesystem;

struct RecordingRecipe {
    std::string picture = "video/x-raw,format=I420,width=160,height=120,framerate=30/1";
    bool jpeg = false;
    bool sound = true;
    std::string soundCompressor;  // e.g. "lamemp3enc"; raw PCM when empty
    bool ours = true;   // the "ISFT Lumora" mark
    int pictures = 45;
    bool live = false;  // endless live sources, for a recording that is killed
};

inline std::string Pipeline(const RecordingRecipe& r, const fs::path& file) {
    const std::string live = r.live ? " is-live=true" : "";
    const std::string count = r.live ? "" : " num-buffers=" + std::to_string(r.pictures);
    std::string p = "videotestsrc" + live + count + " ! " + r.picture + (r.jpeg ? " ! jpegenc" : "");
    if (r.ours) p += " ! taginject tags=\"encoder=Lumora\"";
    p += " ! mux. ";
    if (r.sound) {
        // About as long as the pictures: 1024 samples a buffer at 44.1 kHz.
        const std::string sound = r.live ? "" : " num-buffers=" + std::to_string(r.pictures * 44100 / 30 / 1024);
        p += "audiotestsrc" + live + sound + " ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! ";
        p += (r.soundCompressor.empty() ? "" : r.soundCompressor + " ! ") + "mux. ";
    }
    return p + "avimux name=mux ! filesink location=\"" + file.string() + "\"";
}

inline bool HasTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
        ::pclose(pipe);
    }
    return text;
}

// A finished recording.
inline void Record(const RecordingRecipe& recipe, const fs::path& file) {
    ASSERT_EQ(Run("gst-launch-1.0 -q " + Pipeline(recipe, file) + " >/dev/null 2>&1"), 0);
}

// A recording whose program was killed (SIGKILL) once the file had grown
// past `bytes`: what avimux had written by then, header lengths at zero.
inline void RecordAndKill(RecordingRecipe recipe, const fs::path& file, uintmax_t bytes) {
    recipe.live = true;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec gst-launch-1.0 -q " + Pipeline(recipe, file) + " >/dev/null 2>&1").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    WaitUntil(
        [&] {
            std::error_code missing;
            const uintmax_t size = fs::file_size(file, missing);
            return !missing && size >= bytes;
        },
        20);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_GE(fs::file_size(file), bytes) << "the recording did not grow";
}

// Puts the program's mark in place of the header's INFO list, which an
// encoder's own "encoder" tag took (the program sets the mark on the
// multiplexer itself, which gst-launch-1.0 cannot). What follows moves,
// so the old idx1 no longer points at the chunks.
inline void MarkAsOurs(const fs::path& file) {
    std::string bytes = file_tests::Bytes(file);
    for (std::size_t at = 12; at + 12 <= bytes.size();) {
        const uint32_t size = static_cast<uint8_t>(bytes[at + 4]) | static_cast<uint8_t>(bytes[at + 5]) << 8 |
                              static_cast<uint8_t>(bytes[at + 6]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 7])) << 24;
        if (bytes.compare(at, 4, "LIST") == 0 && bytes.compare(at + 8, 4, "INFO") == 0) {
            bytes.replace(at, 8 + size + (size & 1), std::string("LIST\x14\0\0\0INFOISFT\x07\0\0\0Lumora\0\0", 28));
            file_tests::Write(file, bytes);
            return;
        }
        at += 8 + size + (size & 1);
    }
    FAIL() << "no INFO list in " << file;
}

// "ffmpeg -v error" has nothing to say about the file (true without ffmpeg).
inline bool DecodesCleanly(const fs::path& file, std::string* complaint = nullptr) {
    if (!HasTool("ffmpeg")) return true;
    const std::string said = Output("ffmpeg -nostdin -v error -i \"" + file.string() + "\" -f null - 2>&1");
    if (complaint) *complaint = said;
    return said.empty();
}

inline std::string Probe(const fs::path& file, const std::string& what) {
    return Output("ffprobe -v error " + what + " -of csv=p=0 \"" + file.string() + "\" 2>&1");
}

inline bool IsStream(const AviChunk& chunk) {
    return chunk.id.size() == 4 && chunk.id[0] == '0' && (chunk.id.substr(2) == "db" || chunk.id.substr(2) == "dc" ||
                                                          chunk.id.substr(2) == "wb");
}
inline bool IsPicture(const AviChunk& chunk) { return IsStream(chunk) && chunk.id[2] == 'd'; }

// The picture and sound chunks of a file that lie whole before `cut`.
inline std::vector<AviChunk> WholeBefore(const std::vector<AviChunk>& chunks, uint64_t cut) {
    std::vector<AviChunk> whole;
    for (const AviChunk& c : chunks)
        if (IsStream(c) && c.at + 8 + c.size + (c.size & 1) <= cut) whole.push_back(c);
    return whole;
}

inline std::vector<AviChunk> StreamChunks(const fs::path& file) {
    std::vector<AviChunk> kept;
    for (const AviChunk& c : ListMovieChunks(file.string()))
        if (IsStream(c)) kept.push_back(c);
    return kept;
}

inline int Pictures(const std::vector<AviChunk>& chunks) {
    int n = 0;
    for (const AviChunk& c : chunks) n += IsPicture(c);
    return n;
}

// Names in `folder` besides `keep`: temporaries a repair left behind.
inline std::vector<std::string> Strays(const fs::path& folder, const std::vector<std::string>& keep) {
    std::vector<std::string> strays;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(keep.begin(), keep.end(), name) == keep.end()) strays.push_back(name);
    }
    return strays;
}

}  // namespace repair_tests
