#pragma once
// Which pictures of a recording a player can start from. Pictures of
// JPEG or raw recordings all stand alone; of the compressors that code the
// changes from earlier pictures, H.264, VP8 and MPEG-4 mark the ones that
// do not in the picture data itself (the others count as all key pictures).

#include <cstddef>
#include <cstdint>

namespace avi {

// Whether pictures of this compressor (an AVI fourcc) need a look at their data.
bool NeedsLookForKey(uint32_t handler);

// Whether the picture whose first bytes are `data` can be decoded on its
// own. A picture that cannot be told counts as one.
bool IsKeyPicture(uint32_t handler, const char* data, std::size_t size);

}  // namespace avi
