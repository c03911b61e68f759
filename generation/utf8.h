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

// The bytes of the character that a lead byte starts.
inline size_t utf8SequenceLength(char lead)
{
    const auto byte = static_cast<unsigned char>(lead);
    return byte < 0xC0 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
}

// Calls visit with each whole character of utf8, as a code point.
template<typename Visit>
void forEachCodePoint(std::string_view utf8, Visit visit)
{
    for (size_t offset = 0; offset < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[offset]);
        const size_t length = std::min(utf8SequenceLength(utf8[offset]), utf8.size() - offset);
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
    for (const char byte : utf8)
        units
            += size_t(!isUtf8Continuation(byte)) + size_t(static_cast<unsigned char>(byte) >= 0xF0);
    return units;
}

// The bytes of the characters that take the first `units` UTF-16 units of
// utf8, or all of it when it has fewer.
inline size_t bytesOfUtf16Units(std::string_view utf8, size_t units)
{
    size_t offset = 0;
    size_t counted = 0;
    while (offset < utf8.size() && counted < units) {
        const size_t length = utf8SequenceLength(utf8[offset]);
        counted += length == 4 ? 2 : 1;
        offset += length;
    }
    return std::min(offset, utf8.size());
}

// Where the character that ends at offset starts.
inline size_t utf8CharacterBefore(std::string_view utf8, size_t offset)
{
    offset = std::min(offset, utf8.size());
    const size_t earliest = offset < 4 ? 0 : offset - 4;
    while (offset > earliest) {
        --offset;
        if (!isUtf8Continuation(utf8[offset]))
            break;
    }
    return offset;
}

// The character that starts at offset, and its bytes. A sequence cut short
// or out of place, or one that is no character (an overlong form, a
// surrogate, past U+10FFFF), reads as U+FFFD and takes one byte.
struct Utf8Character
{
    char32_t code = 0;
    size_t length = 0;
};

inline Utf8Character decodeUtf8(std::string_view utf8, size_t offset)
{
    constexpr char32_t Replacement = 0xFFFD;
    // The smallest code point that needs a sequence of each length: anything
    // below it is an overlong form.
    constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (offset >= utf8.size())
        return {};
    const auto lead = static_cast<unsigned char>(utf8[offset]);
    const size_t length = utf8SequenceLength(utf8[offset]);
    if (length == 1)
        return {lead < 0x80 ? char32_t(lead) : Replacement, 1};
    if (lead > 0xF4 || offset + length > utf8.size())
        return {Replacement, 1};
    char32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if (!isUtf8Continuation(utf8[offset + k]))
            return {Replacement, 1};
        code = (code << 6) | (static_cast<unsigned char>(utf8[offset + k]) & 0x3F);
    }
    if (code < Smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {Replacement, 1};
    return {code, length};
}
