#pragma once
// Reads a sync signal back out of a recording (raw pictures, PCM sound): the
// instants where the picture turns white and where the tone stops, each on
// the file's own time line (picture n at n frame durations, sample k at
// k / rate, as a player plays them), and how far each sound event lies from
// its picture's.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/AviReader.h"

struct SyncEvents {
    std::vector<double> pictures;  // seconds into the file
    std::vector<double> sounds;
    double pictureSeconds = 0;  // the tracks' lengths
    double soundSeconds = 0;
};

struct SyncOffset {
    double picture = 0;  // where the picture's event lies
    double offset = 0;   // sound minus picture, seconds (NAN: no sound event near it)
};

namespace sync_detail {
inline double Brightness(const std::string& bytes) {
    if (bytes.empty()) return 0;
    uint64_t sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 7, ++n) sum += static_cast<uint8_t>(bytes[i]);
    return static_cast<double>(sum) / static_cast<double>(n);
}
}  // namespace sync_detail

inline SyncEvents FindSyncEvents(const std::string& path) {
    SyncEvents found;
    const AviInfo header = ReadAvi(path, 64 * 1024);
    const AviStream* video = header.First("vids");
    const AviStream* audio = header.First("auds");
    if (!video || !audio || !video->rate || !audio->sampleRate || !audio->channels || !audio->blockAlign) return found;
    const double frameSeconds = static_cast<double>(video->scale) / video->rate;
    std::vector<double> levels;
    std::vector<int16_t> sound;  // the first channel
    std::ifstream in(path, std::ios::binary);
    for (const AviChunk& chunk : ListMovieChunks(path)) {
        const bool picture = chunk.id.size() == 4 && chunk.id[0] == '0' && chunk.id[1] == '0' && chunk.id[2] == 'd';
        if (!picture && chunk.id != "01wb") continue;
        std::string bytes(chunk.size, '\0');
        in.clear();
        in.seekg(static_cast<std::streamoff>(chunk.at + 8));
        in.read(bytes.data(), static_cast<std::streamsize>(chunk.size));
        if (picture) {
            levels.push_back(sync_detail::Brightness(bytes));
            continue;
        }
        for (std::size_t at = 0; at + 2 <= bytes.size(); at += audio->blockAlign)
            sound.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8));
    }
    found.pictureSeconds = static_cast<double>(levels.size()) * frameSeconds;
    found.soundSeconds = static_cast<double>(sound.size()) / audio->sampleRate;

    if (!levels.empty()) {
        const auto [low, high] = std::minmax_element(levels.begin(), levels.end());
        const double middle = (*low + *high) / 2;
        if (*high - *low > 40)
            for (std::size_t i = 1; i < levels.size(); ++i)
                if (levels[i] > middle && levels[i - 1] <= middle) found.pictures.push_back(static_cast<double>(i) * frameSeconds);
    }
    // A tone stops where a quiet stretch of 20 ms or more follows loud sound.
    int peak = 0;
    for (const int16_t s : sound) peak = std::max(peak, std::abs(static_cast<int>(s)));
    const int loud = std::max(peak / 10, 200);
    const std::size_t quietRun = audio->sampleRate / 50;
    std::size_t lastLoud = 0;
    bool heard = false;
    for (std::size_t i = 0; i < sound.size(); ++i) {
        if (std::abs(static_cast<int>(sound[i])) > loud) {
            lastLoud = i;
            heard = true;
        } else if (heard && i - lastLoud >= quietRun) {
            found.sounds.push_back(static_cast<double>(lastLoud + 1) / audio->sampleRate);
            heard = false;
        }
    }
    return found;
}

// Each picture event with the sound event nearest it (within half a second).
inline std::vector<SyncOffset> SyncOffsets(const SyncEvents& events) {
    std::vector<SyncOffset> offsets;
    for (const double picture : events.pictures) {
        SyncOffset pair{picture, NAN};
        for (const double sound : events.sounds)
            if (std::abs(sound - picture) < 0.5 && (std::isnan(pair.offset) || std::abs(sound - picture) < std::abs(pair.offset)))
                pair.offset = sound - picture;
        offsets.push_back(pair);
    }
    return offsets;
}
