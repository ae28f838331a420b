#pragma once
// The repair of a take that filled its disk, where no whole copy fits: the
// chunks stay where they lie and only the header's counts and the index
// after the last kept chunk are written. Chunks are dropped from the end
// when the index would not fit in the file and the room left. The kept
// chunks are never written over, so a repair cut short is simply made again.

#include <cstdint>

#include "avi/AviChunks.h"
#include "avi/AviRebuild.h"

namespace avi {

// Repairs the file open for writing at `out`, whose `layout` was read,
// within `room` bytes (its size and the disk's free space). `layout` and
// `rebuilt` then describe what was kept. false with errno set; errno 0 when
// the chunks do not lie where a repaired file has them, or no picture fits.
bool RepairInPlace(int out, Layout& layout, uint64_t room, Rebuilt& rebuilt);

}  // namespace avi
