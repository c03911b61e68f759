// SPDX-License-Identifier: GPL-3.0-or-later
// Where a scroll bar stands for a place in the view, at any number of rows
// or any width.
#pragma once

#include <cstdint>

// A scroll bar counts in int, and its own sums (a value plus a page) must
// stay within one; a text may have far more rows than that, and a row may be
// wider in pixels. The view keeps its place itself (its top row, or its left
// edge in pixels), from 0 to last, and the bar is a picture of it: the same
// numbers while last is at most the limit, and beyond it [0, last] drawn
// proportionally onto [0, limit], each end on its end, both ways rounded to
// the nearest. A value then stands for about last / limit places; a value
// turned into a place and back is the same value, and a place turned into a
// value and back lands within one value's places. Steps of the wheel, the
// keys and the bar's arrows move the place itself, never through a value.
class ScrollMapping
{
public:
    // Leaves QScrollBar room to add a page, or a step, to its largest value.
    static constexpr std::uint64_t Limit = std::uint64_t(1) << 30;

    explicit ScrollMapping(std::uint64_t last = 0, std::uint64_t limit = Limit);

    std::uint64_t last() const { return m_last; }
    bool proportional() const { return m_last > m_limit; }
    // The bar's range is 0 to maximum().
    int maximum() const;
    // Places past last stand at the bar's end.
    int valueOf(std::uint64_t place) const;
    // Values outside the range stand for the first or last place.
    std::uint64_t placeOf(int value) const;

private:
    std::uint64_t m_last;
    std::uint64_t m_limit;
};
