// SPDX-License-Identifier: GPL-3.0-or-later
// Counting UTF-8 text as UTF-16, the unit Qt counts positions in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

// The bytes of the character a lead byte starts: 1 to 4.
inline size_t sequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// A byte inside a character, never at its start.
inline bool isContinuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Calls visit with each whole character of utf8, as a code point.
template<typename Visit>
void forEachCodePoint(std::string_view utf8, Visit visit)
{
    for (size_t offset = 0; offset < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[offset]);
        const size_t length = std::min(sequenceLength(lead), utf8.size() - offset);
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[offset + k]) & 0x3F);
        visit(code);
        offset += length;
    }
}

// UTF-16 units of whole UTF-8 characters: one for each lead byte, two for a
// character beyond the basic plane.
inline size_t utf16Units(std::string_view utf8)
{
    size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        units += size_t((byte & 0xC0) != 0x80) + size_t(byte >= 0xF0);
    }
    return units;
}

// The bytes of the characters that take the first `units` UTF-16 units of
// utf8, or all of it when it has fewer.
inline size_t bytesOfUtf16Units(std::string_view utf8, size_t units)
{
    size_t offset = 0;
    size_t counted = 0;
    while (offset < utf8.size() && counted < units) {
        const size_t length = sequenceLength(static_cast<unsigned char>(utf8[offset]));
        counted += length == 4 ? 2 : 1;
        offset += length;
    }
    return std::min(offset, utf8.size());
}
