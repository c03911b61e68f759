// SPDX-License-Identifier: GPL-3.0-or-later
// Counting UTF-8 text as UTF-16, the unit Qt counts positions in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

// A byte inside a character, after its lead byte.
inline bool isUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
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
        const auto byte = static_cast<unsigned char>(utf8[offset]);
        const size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        counted += length == 4 ? 2 : 1;
        offset += length;
    }
    return std::min(offset, utf8.size());
}
