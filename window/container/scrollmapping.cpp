// SPDX-License-Identifier: GPL-3.0-or-later
// Where a scroll bar stands for a place in the view, at any number of rows
// or any width.
#include "scrollmapping.h"

#include <algorithm>

namespace {

// a * b / c rounded to the nearest, for c > 0 and a result that fits: the
// product of a place (up to 2^64) and a value (up to 2^31) needs 96 bits.
std::uint64_t scaled(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    using Wide = unsigned __int128;
    return static_cast<std::uint64_t>((Wide(a) * b + c / 2) / c);
}

} // namespace

ScrollMapping::ScrollMapping(std::uint64_t last, std::uint64_t limit)
    : m_last(last)
    , m_limit(std::clamp<std::uint64_t>(limit, 1, Limit))
{ }

int ScrollMapping::maximum() const
{
    return static_cast<int>(std::min(m_last, m_limit));
}

int ScrollMapping::valueOf(std::uint64_t place) const
{
    place = std::min(place, m_last);
    if (!proportional())
        return static_cast<int>(place);
    return static_cast<int>(scaled(place, m_limit, m_last));
}

std::uint64_t ScrollMapping::placeOf(int value) const
{
    const auto clamped = static_cast<std::uint64_t>(std::clamp(value, 0, maximum()));
    if (!proportional())
        return clamped;
    return scaled(clamped, m_last, m_limit);
}
