// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the number that a counter box holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The longest leading decimal number of the text (sign, digits, one period, an
// exponent with E or D), skipping blanks, tabs and line feeds anywhere, rounded
// to a whole number with halves to even. A text with no leading number reads as
// 0. Nothing when the rounded value lies outside -32768 to 32767. Exact for any
// number of digits.
std::optional<int16_t> readLeadingNumber(std::string_view text);
