#pragma once
// Cutting UTF-8 text to a byte budget without splitting a character.

#include <cstddef>
#include <string>

// Length of the longest prefix of `text` that fits `maxBytes` bytes without
// splitting a UTF-8 sequence.
inline std::size_t Utf8PrefixLength(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    std::size_t cut = maxBytes;
    // Back up over continuation bytes to the start of the cut character (at
    // most three: a longer run is not UTF-8, and is cut where it is).
    for (int step = 0; step < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++step) --cut;
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) return maxBytes;
    return cut;
}

inline std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    return text.substr(0, Utf8PrefixLength(text, maxBytes));
}
