// SPDX-License-Identifier: GPL-3.0-or-later
// One counter's texts, with the sums that place any of them in a run.
#pragma once

#include "counter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How a run's text is written: UTF-8 for the Container, Windows-1252 for the file.
enum class TextEncoding { Utf8, Windows1252 };

// Every text of one counter in one encoding, in counting order. The texts are
// kept end to end when they fit the budget, and made one at a time when a
// huge pad width would make them gigabytes. Their sizes, line feeds and UTF-16
// units are summed from the first text on, so that where a value's text stands
// in a run follows without making the texts before it. Nothing changes after
// construction: threads may share it.
class CounterTexts
{
public:
    CounterTexts() = default;
    CounterTexts(const CounterSettings &settings, TextEncoding encoding, int64_t keptBudget);

    int32_t count() const { return m_count; }
    // The text of the value at a place in counting order; made into scratch
    // when the texts are not kept.
    std::string_view text(int32_t place, std::string &scratch) const;

    // What the texts before a place hold; place count() gives the totals.
    int64_t bytesBefore(int32_t place) const { return m_byteStarts[index(place)]; }
    int64_t lineFeedsBefore(int32_t place) const
    {
        return m_lineFeedStarts.empty() ? 0 : m_lineFeedStarts[index(place)];
    }
    int64_t utf16Before(int32_t place) const
    {
        return m_utf16Starts.empty() ? bytesBefore(place) : m_utf16Starts[index(place)];
    }
    int64_t bytes(int32_t place) const { return bytesBefore(place + 1) - bytesBefore(place); }

    size_t longest() const { return m_longest; }
    // Every text is ASCII: its bytes are its UTF-16 units.
    bool isAscii() const { return m_utf16Starts.empty(); }
    // The texts are kept, not made when read.
    bool isKept() const { return m_kept; }

private:
    static size_t index(int32_t place) { return static_cast<size_t>(place); }
    std::string make(int32_t place) const;

    CounterSettings m_settings;
    TextEncoding m_encoding = TextEncoding::Utf8;
    int32_t m_count = 0;
    std::vector<int64_t> m_byteStarts {0};
    // Only an Alpha counter's characters can be a line feed or lie outside
    // ASCII; these stay empty for every other counter.
    std::vector<int64_t> m_lineFeedStarts;
    std::vector<int64_t> m_utf16Starts;
    std::string m_texts;
    bool m_kept = false;
    size_t m_longest = 0;
};
