#pragma once
// The file a recording is written to. Its path comes from the settings and
// may lie in a shared folder: it is never opened through a symbolic link,
// and a FIFO, a device or a socket at the name is refused without blocking.

#include <string>

#include "base/FileWriting.h"

// The software named in a recording's header (its "ISFT" entry): a file
// without it was not written by this program and is never repaired.
inline constexpr char kRecordingSoftware[] = "Lumora";

// Opens `path` for writing a recording: created when missing (mode 0666
// less the umask), emptied when `truncate`. The descriptor is blocking and
// close-on-exec. Invalid on failure, `reason` then says why ("it is a
// symbolic link", "it is not a regular file", "it is a folder", or the
// system's text). `created` tells whether this call made the file.
UniqueFd OpenRecordingFile(const std::string& path, bool truncate, std::string& reason, bool* created = nullptr);

// Whether a recording could be written to `path`, by the same rules. A file
// already there is left as it was; one made for the check is removed again.
bool CheckRecordingPathWritable(const std::string& path, std::string& reason);
