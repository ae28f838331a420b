#pragma once
// Cutting UTF-8 text to a byte budget without splitting a character.

#include <cstddef>
#include <string>

// The longest prefix of `text` of at most `maxBytes` bytes that ends on a
// character boundary.
inline std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}
