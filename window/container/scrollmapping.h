// SPDX-License-Identifier: GPL-3.0-or-later
// Where the vertical scroll bar stands for a top row, at any number of rows.
#pragma once

#include <cstdint>

// A scroll bar counts in int, and its own sums (a value plus a page) must
// stay within one; a text may have far more rows than that. The view keeps
// its top row itself, from 0 to lastTopRow, and the bar is a picture of it:
// the same numbers while lastTopRow is at most the limit, and beyond it
// [0, lastTopRow] drawn proportionally onto [0, limit], each end on its end,
// both ways rounded to the nearest. A value then stands for about
// lastTopRow / limit rows; a value turned into a row and back is the same
// value, and a row turned into a value and back lands within one value's rows.
// Steps of the wheel, the keys and the bar's arrows move the top row itself,
// never through a value.
class ScrollMapping
{
public:
    // Leaves QScrollBar room to add a page, or a step, to its largest value.
    static constexpr std::uint64_t Limit = std::uint64_t(1) << 30;

    explicit ScrollMapping(std::uint64_t lastTopRow = 0, std::uint64_t limit = Limit);

    std::uint64_t lastTopRow() const { return m_lastTopRow; }
    bool proportional() const { return m_lastTopRow > m_limit; }
    // The bar's range is 0 to maximum().
    int maximum() const;
    // Rows past lastTopRow stand at the bar's end.
    int valueOf(std::uint64_t row) const;
    // Values outside the range stand for the first or last top row.
    std::uint64_t rowOf(int value) const;

private:
    std::uint64_t m_lastTopRow;
    std::uint64_t m_limit;
};
