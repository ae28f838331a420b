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

// Whether `text` is well-formed UTF-8: no stray continuation byte, no cut,
// overlong or surrogate sequence, nothing past U+10FFFF.
inline bool IsValidUtf8(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > size) return false;
        unsigned long code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            code = code << 6 | (bytes[i + k] & 0x3F);
        }
        const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}
