// SPDX-License-Identifier: GPL-3.0-or-later
// Windows-1252 in both directions, and the UTF-8 that the rest of the program keeps text in.
#include "codepage.h"

#include "utf8.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// 0x80 to 0x9F; everything else maps to the code point of the same value.
constexpr std::array<char32_t, 32> HighControlRange = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

} // namespace

char32_t ansiToUnicode(uint8_t code)
{
    if (code >= 0x80 && code <= 0x9F)
        return HighControlRange[code - 0x80u];
    return code;
}

std::optional<uint8_t> ansiCode(char32_t character)
{
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return static_cast<uint8_t>(character);
    for (size_t i = 0; i < HighControlRange.size(); ++i) {
        if (HighControlRange[i] == character)
            return static_cast<uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

void appendUtf8(std::string &out, char32_t character)
{
    auto put = [&out](char32_t bits) { out.push_back(static_cast<char>(bits)); };
    if (character < 0x80) {
        put(character);
    } else if (character < 0x800) {
        put(0xC0 | (character >> 6));
        put(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        put(0xE0 | (character >> 12));
        put(0x80 | ((character >> 6) & 0x3F));
        put(0x80 | (character & 0x3F));
    } else {
        put(0xF0 | (character >> 18));
        put(0x80 | ((character >> 12) & 0x3F));
        put(0x80 | ((character >> 6) & 0x3F));
        put(0x80 | (character & 0x3F));
    }
}

bool isAscii(std::string_view text)
{
    // Eight bytes at a time: a run's lines are nearly always plain ASCII.
    constexpr uint64_t HighBits = 0x8080808080808080u;
    size_t pos = 0;
    for (; pos + sizeof(uint64_t) <= text.size(); pos += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, text.data() + pos, sizeof word);
        if (word & HighBits)
            return false;
    }
    for (; pos < text.size(); ++pos) {
        if (static_cast<unsigned char>(text[pos]) >= 0x80)
            return false;
    }
    return true;
}

bool appendAnsi(std::string &out, std::string_view utf8)
{
    if (isAscii(utf8)) {
        out.append(utf8);
        return true;
    }
    const size_t before = out.size();
    size_t pos = 0;
    while (pos < utf8.size()) {
        // Plain ASCII, nearly all of a run's text, is copied a stretch at a time.
        const auto highByte = std::find_if(utf8.begin() + static_cast<std::ptrdiff_t>(pos),
            utf8.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        const auto stretchEnd = static_cast<size_t>(highByte - utf8.begin());
        out.append(utf8.data() + pos, stretchEnd - pos);
        pos = stretchEnd;
        if (pos == utf8.size())
            break;
        // A malformed sequence reads as U+FFFD, which no code stands for.
        const Utf8Character character = decodeUtf8(utf8, pos);
        pos += character.length;
        const std::optional<uint8_t> code = ansiCode(character.code);
        if (!code) {
            out.resize(before);
            return false;
        }
        out.push_back(static_cast<char>(*code));
    }
    return true;
}
