#pragma once
// The repaired file as a list of pieces: bytes made here (the header with
// its counts put right, the indexes) and ranges copied unchanged from the
// damaged file (the pictures and sound). Laid out the way avimux lays out
// a finished recording: one "idx1" for the first RIFF part and, when the
// recording has "AVIX" parts, a standard index per stream ("ix00", ...) at
// the end of every part's movie list and the super indexes in the header.

#include <cstdint>
#include <string>
#include <vector>

#include "avi/AviChunks.h"

namespace avi {

// An index whose entries are made as it is written: held whole, the
// indexes of a file of tiny chunks would take twice the file's size.
struct IndexPlan {
    bool idx1 = false;          // otherwise the standard index of `stream`
    std::size_t stream = 0;
    std::size_t firstChunk = 0, chunkCount = 0;  // the part's chunks
    uint64_t dataAt = 0;        // where the part's first chunk lies in the repaired file
    uint64_t base = 0;          // a standard index's offsets count from here
    uint64_t entryBytes = 0;    // what its entries take
};

struct Piece {
    std::string bytes;      // made here (an index's head), when `copySize` is 0
    uint64_t copyFrom = 0;  // a range of the damaged file otherwise
    uint64_t copySize = 0;
    bool isIndex = false;   // `bytes` then `index`'s entries
    IndexPlan index;

    uint64_t Size() const { return copySize > 0 ? copySize : bytes.size() + (isIndex ? index.entryBytes : 0); }
};

struct Rebuilt {
    const Layout* layout = nullptr;  // what the indexes are made from: it must outlive this
    std::vector<Piece> pieces;
    uint64_t size = 0;         // of the repaired file
    uint64_t pictures = 0;
    uint64_t soundBytes = 0;
    double seconds = 0;        // the pictures' length
};

// Counts what the chunks hold (also for a file that needs no repair).
void CountChunks(const Layout& layout, Rebuilt& counts);

// The repaired file for every whole chunk of `layout`.
Rebuilt Rebuild(const Layout& layout);

// Writes `rebuilt` to `out`, copying the ranges from `in`. false with errno set.
bool WriteRebuilt(int in, int out, const Rebuilt& rebuilt);

// Writes a piece made here (not a copied range) at `out`'s offset. false with errno set.
bool WriteMadePiece(int out, const Piece& piece, const Layout& layout);

}  // namespace avi
