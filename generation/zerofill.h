// SPDX-License-Identifier: GPL-3.0-or-later
// Left-filling a number's text with zeros to a width.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Trims blanks, then right-aligns the text in width characters filled with "0"
// on the left. A text longer than the width, or a width below 1, is returned
// trimmed and otherwise unchanged: a number is never shortened. A leading "-"
// counts as a character like any other ("-5" at width 3 gives "0-5").
std::string PadWithZeros(std::string_view text, bool enabled, int16_t width);
