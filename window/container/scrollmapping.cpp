// SPDX-License-Identifier: GPL-3.0-or-later
// Where the vertical scroll bar stands for a top row, at any number of rows.
#include "scrollmapping.h"

#include <algorithm>

namespace {

// a * b / c rounded to the nearest, for c > 0 and a result that fits: the
// product of a row (up to 2^64) and a value (up to 2^31) needs 96 bits.
std::uint64_t scaled(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    using Wide = unsigned __int128;
    return static_cast<std::uint64_t>((Wide(a) * b + c / 2) / c);
}

} // namespace

ScrollMapping::ScrollMapping(std::uint64_t lastTopRow, std::uint64_t limit)
    : m_lastTopRow(lastTopRow)
    , m_limit(std::clamp<std::uint64_t>(limit, 1, Limit))
{ }

int ScrollMapping::maximum() const
{
    return static_cast<int>(std::min(m_lastTopRow, m_limit));
}

int ScrollMapping::valueOf(std::uint64_t row) const
{
    row = std::min(row, m_lastTopRow);
    if (!proportional())
        return static_cast<int>(row);
    return static_cast<int>(scaled(row, m_limit, m_lastTopRow));
}

std::uint64_t ScrollMapping::rowOf(int value) const
{
    const auto clamped = static_cast<std::uint64_t>(std::clamp(value, 0, maximum()));
    if (!proportional())
        return clamped;
    return scaled(clamped, m_lastTopRow, m_limit);
}
