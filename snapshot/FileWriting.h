#pragma once
// Writing photo files so that a failure never leaves a half-made file, and
// a photo never replaces another.

#include <cstddef>
#include <cstdint>
#include <string>

struct WriteBlock {
    const void* data;
    std::size_t size;
};

// Writes the blocks to `path` (created anew), checking every write and the
// close. On failure `error` says why (the file may then be short).
bool WriteWholeFile(const std::string& path, const WriteBlock* blocks, std::size_t count, std::string* error);

// Writes `path` through a sibling temporary file renamed over it.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string* error);

// Copies `source` into a file that did not exist before: `stem` + `extension`,
// or `stem` + "-2" + `extension`, "-3", ... On failure nothing is left at the
// destination. `stored` receives the name used.
bool CopyToNewFile(const std::string& source, const std::string& stem, const std::string& extension,
                   std::string* stored, std::string* error);
