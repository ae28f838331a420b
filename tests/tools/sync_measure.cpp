// Prints how far the sound of a recording of the sync signal strays from its
// picture: one line per event, then a summary line
//   events N offset-first MS offset-last MS offset-min MS offset-max MS drift MS picture S sound S
// (drift: the last event's offset less the first's). Exit 1 without events.

#include <cstdio>

#include "tests/SyncSignal.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RECORDING.avi\n", argv[0]);
        return 2;
    }
    const SyncEvents events = FindSyncEvents(argv[1]);
    const std::vector<SyncOffset> offsets = SyncOffsets(events);
    double low = 1e9, high = -1e9;
    int missing = 0;
    for (const SyncOffset& pair : offsets) {
        std::printf("event %.3f s offset %+.1f ms\n", pair.picture, pair.offset * 1000);
        if (std::isnan(pair.offset)) {
            ++missing;
            continue;
        }
        low = std::min(low, pair.offset);
        high = std::max(high, pair.offset);
    }
    if (offsets.empty() || missing == static_cast<int>(offsets.size())) {
        std::printf("no events (picture %.3f s, sound %.3f s)\n", events.pictureSeconds, events.soundSeconds);
        return 1;
    }
    std::printf("events %zu missing %d offset-first %+.1f ms offset-last %+.1f ms offset-min %+.1f ms offset-max %+.1f ms "
                "drift %+.1f ms picture %.3f s sound %.3f s\n",
                offsets.size(), missing, offsets.front().offset * 1000, offsets.back().offset * 1000, low * 1000,
                high * 1000, (offsets.back().offset - offsets.front().offset) * 1000, events.pictureSeconds,
                events.soundSeconds);
    return 0;
}
