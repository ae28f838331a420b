#include "avi/AviInPlace.h"

#include <unistd.h>

#include <cerrno>

namespace avi {
namespace {

// Drops chunks from the end until what they and their index entries took
// covers `excess`; false when no picture would be left.
bool DropLastChunks(Layout& layout, uint64_t excess) {
    for (uint64_t freed = 0; freed < excess && !layout.chunks.empty();) {
        Part& part = layout.parts.back();
        if (part.chunkCount == 0) {
            if (layout.parts.size() == 1) break;
            layout.parts.pop_back();
            continue;
        }
        freed += Padded(layout.chunks.back().size) + 16;
        layout.chunks.pop_back();
        --part.chunkCount;
    }
    for (const Chunk& chunk : layout.chunks)
        if (layout.header.streams[chunk.stream].video) return true;
    return false;
}

// Every copied range already lies where the repaired file has it.
bool LiesInPlace(const Rebuilt& rebuilt, uint64_t& chunksEnd) {
    uint64_t at = 0;
    for (const Piece& piece : rebuilt.pieces) {
        if (piece.copySize > 0) {
            if (piece.copyFrom != at) return false;
            chunksEnd = at + piece.copySize;
        }
        at += piece.Size();
    }
    return true;
}

bool WriteMadePieces(int out, const Rebuilt& rebuilt, bool afterChunks, uint64_t chunksEnd) {
    uint64_t at = 0;
    for (const Piece& piece : rebuilt.pieces) {
        if (piece.copySize == 0 && (at >= chunksEnd) == afterChunks) {
            if (::lseek(out, static_cast<off_t>(at), SEEK_SET) < 0) return false;
            if (!WriteMadePiece(out, piece, *rebuilt.layout)) return false;
        }
        at += piece.Size();
    }
    return true;
}

}  // namespace

bool RepairInPlace(int out, Layout& layout, uint64_t room, Rebuilt& rebuilt) {
    rebuilt = Rebuild(layout);
    for (int tries = 0; rebuilt.size > room && tries < 8; ++tries) {
        if (!DropLastChunks(layout, rebuilt.size - room)) {
            errno = 0;
            return false;
        }
        rebuilt = Rebuild(layout);
    }
    uint64_t chunksEnd = 0;
    if (rebuilt.size > room || !LiesInPlace(rebuilt, chunksEnd)) {
        errno = 0;
        return false;
    }
    // The index first, then the header that points to it: cut short in
    // between, the file is still one to repair.
    return WriteMadePieces(out, rebuilt, true, chunksEnd) &&
           ::ftruncate(out, static_cast<off_t>(rebuilt.size)) == 0 && ::fdatasync(out) == 0 &&
           WriteMadePieces(out, rebuilt, false, chunksEnd) && ::fdatasync(out) == 0;
}

}  // namespace avi
