// SPDX-License-Identifier: GPL-3.0-or-later
// A counter's texts and their sums.
#include "countertexts.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

int digitCount(int32_t value)
{
    int digits = 1;
    for (int32_t rest = std::abs(value) / 10; rest > 0; rest /= 10)
        ++digits;
    return digits;
}

} // namespace

CounterTexts::CounterTexts(
    const CounterSettings &settings, TextEncoding encoding, int64_t keptBudget)
    : m_settings(settings)
    , m_encoding(encoding)
    , m_count(valueCount(settings))
{
    m_byteStarts.reserve(static_cast<size_t>(m_count) + 1);
    bool lineFeeds = false;
    bool ascii = true;
    // A number's text is as long for every value with its sign and its number
    // of digits, so each length is made once; an Alpha counter has at most 256 values.
    std::array<std::array<int64_t, 6>, 2> numberBytes {};
    std::vector<int64_t> lineFeedStarts {0};
    std::vector<int64_t> utf16Starts {0};
    for (int32_t place = 0; place < m_count; ++place) {
        int64_t size = 0;
        if (settings.alpha) {
            const std::string character = make(place);
            size = static_cast<int64_t>(character.size());
            const bool lineFeed = character == "\n";
            lineFeeds = lineFeeds || lineFeed;
            ascii = ascii && static_cast<unsigned char>(character.front()) < 0x80;
            lineFeedStarts.push_back(lineFeedStarts.back() + (lineFeed ? 1 : 0));
            // Every character of the code page lies in the basic plane.
            utf16Starts.push_back(utf16Starts.back() + 1);
        } else {
            const int32_t value = counterValue(settings, place);
            int64_t &known = numberBytes[value < 0 ? 1 : 0][static_cast<size_t>(digitCount(value))];
            if (known == 0)
                known = static_cast<int64_t>(make(place).size());
            size = known;
        }
        m_byteStarts.push_back(m_byteStarts.back() + size);
        m_longest = std::max(m_longest, static_cast<size_t>(size));
    }
    if (lineFeeds)
        m_lineFeedStarts = std::move(lineFeedStarts);
    if (!ascii)
        m_utf16Starts = std::move(utf16Starts);

    m_kept = m_byteStarts.back() <= keptBudget;
    if (m_kept) {
        m_texts.reserve(static_cast<size_t>(m_byteStarts.back()));
        for (int32_t place = 0; place < m_count; ++place)
            m_texts += make(place);
    }
}

std::string CounterTexts::make(int32_t place) const
{
    const int32_t value = counterValue(m_settings, place);
    if (m_encoding == TextEncoding::Windows1252)
        return ansiCounterText(m_settings, value);
    return counterText(value, m_settings.width, m_settings.alpha, m_settings.padded);
}

std::string_view CounterTexts::text(int32_t place, std::string &scratch) const
{
    if (m_kept) {
        return std::string_view(m_texts).substr(
            static_cast<size_t>(bytesBefore(place)), static_cast<size_t>(bytes(place)));
    }
    scratch = make(place);
    return scratch;
}
