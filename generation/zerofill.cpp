// SPDX-License-Identifier: GPL-3.0-or-later
// Zero fill of number texts.
#include "zerofill.h"

std::string PadWithZeros(std::string_view text, bool enabled, int16_t width)
{
    const size_t first = text.find_first_not_of(' ');
    const std::string_view trimmed = first == std::string_view::npos
        ? std::string_view()
        : text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (!enabled || width <= 0 || static_cast<size_t>(width) < trimmed.size())
        return std::string(trimmed);
    std::string filled(static_cast<size_t>(width) - trimmed.size(), '0');
    filled += trimmed;
    return filled;
}
