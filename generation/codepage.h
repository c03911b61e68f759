// SPDX-License-Identifier: GPL-3.0-or-later
// The single-byte code page of counters and output files: Windows-1252.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The character that a byte stands for. The five bytes the code page leaves
// undefined stand for the C1 control characters of the same value.
char32_t ansiToUnicode(uint8_t code);

// The byte of a character, or nothing when the code page has no such character.
std::optional<uint8_t> ansiCode(char32_t character);

void appendUtf8(std::string &out, char32_t character);

// True when every byte is below 0x80: the text is the same in UTF-8 and in the code page.
bool isAscii(std::string_view text);

// Appends the code page's bytes for UTF-8 text. Returns false, with out holding
// what came before, at the first character without a byte or at malformed UTF-8.
bool appendAnsi(std::string &out, std::string_view utf8);
