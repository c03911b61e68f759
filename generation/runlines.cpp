// SPDX-License-Identifier: GPL-3.0-or-later
// Making any line, offset or stretch of a run from the counters' sums.
#include "runlines.h"

#include "utf8.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

size_t toSize(int64_t value)
{
    return static_cast<size_t>(value);
}

char *put(char *out, std::string_view bytes)
{
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

} // namespace

RunLines::RunLines(std::string_view lineStart, std::string_view lineEnd, int64_t lineCount)
    : m_lineCount(std::max<int64_t>(lineCount, 0))
{
    m_fixed.resize(1);
    m_fixed[0].text.append(lineStart).append(lineEnd);
    measureFixed();
    checkSize();
}

RunLines::RunLines(const std::vector<std::string> &fields,
    const std::vector<CounterSettings> &counters, TextEncoding encoding, std::string_view lineStart,
    std::string_view lineEnd, int64_t keptBudget)
    : m_lineCount(1)
{
    const size_t n = counters.size();
    m_fixed.resize(n + 1);
    for (size_t j = 0; j <= n && j < fields.size(); ++j)
        m_fixed[j].text = fields[j];
    m_fixed.front().text.insert(0, lineStart);
    m_fixed.back().text.append(lineEnd);
    measureFixed();

    m_periods.assign(n, 1);
    m_counters.resize(n);
    for (size_t k = n; k-- > 0;) {
        CounterTexts &texts = m_counters[k];
        texts = CounterTexts(counters[k], encoding, keptBudget);
        if (texts.isKept())
            keptBudget -= texts.bytesBefore(texts.count());
        m_lineCount *= texts.count();
        m_longest += texts.longest();
        m_ascii = m_ascii && texts.isAscii();
    }
    for (size_t k = n; k-- > 1;)
        m_periods[k - 1] = m_periods[k] * m_counters[k].count();
    checkSize();
    if (m_lineCount > 0)
        joinLastTexts();
}

void RunLines::checkSize() const
{
    // Every offset and sum is a 64-bit count, so each whole measure must fit
    // one. A run is measured before it is made; this keeps that promise
    // checked where the arithmetic relies on it, in arithmetic that cannot
    // overflow itself (65,536^3 lines of texts up to 2^63 bytes).
    using Wide = unsigned __int128;
    constexpr Wide Largest = Wide(std::numeric_limits<int64_t>::max());
    for (const Measure measure : {Bytes, LineFeeds, Utf16}) {
        Wide total = Wide(m_lineCount) * Wide(m_fixedMeasures[measure]);
        for (size_t k = 0; k < m_counters.size() && m_lineCount > 0; ++k) {
            const int32_t count = m_counters[k].count();
            total += Wide(m_lineCount / count) * Wide(counterBefore(k, count, measure));
        }
        if (total > Largest)
            throw std::length_error("a run's text must stay below 2^63 bytes");
    }
}

void RunLines::measureFixed()
{
    for (Fixed &fixed : m_fixed) {
        const std::string_view text = fixed.text;
        for (size_t at = text.find('\n'); at != std::string_view::npos;
             at = text.find('\n', at + 1))
            fixed.afterLineFeeds.push_back(at + 1);
        fixed.measures
            = {static_cast<int64_t>(text.size()), static_cast<int64_t>(fixed.afterLineFeeds.size()),
                static_cast<int64_t>(utf16Units(text))};
        for (size_t m = 0; m < MeasureCount; ++m)
            m_fixedMeasures[m] += fixed.measures[m];
        m_longest += text.size();
        m_ascii = m_ascii && fixed.measures[Bytes] == fixed.measures[Utf16];
    }
}

void RunLines::joinLastTexts()
{
    const CounterTexts &last = m_counters.back();
    const std::string &tail = m_fixed.back().text;
    // Every block must hold its text and the tail, or none is made.
    if (last.longest() + tail.size() > Block)
        return;
    const auto count = static_cast<size_t>(last.count());
    std::vector<char> joined(count * Block);
    std::vector<uint8_t> sizes(count);
    std::string scratch;
    for (size_t i = 0; i < count; ++i) {
        const std::string_view text = last.text(static_cast<int32_t>(i), scratch);
        char *const block = joined.data() + i * Block;
        std::copy(tail.begin(), tail.end(), std::copy(text.begin(), text.end(), block));
        sizes[i] = static_cast<uint8_t>(text.size() + tail.size());
    }
    m_joined = std::move(joined);
    m_joinedSizes = std::move(sizes);
}

int64_t RunLines::counterBefore(size_t k, int32_t place, Measure measure) const
{
    const CounterTexts &counter = m_counters[k];
    switch (measure) {
    case Bytes:
        return counter.bytesBefore(place);
    case LineFeeds:
        return counter.lineFeedsBefore(place);
    default:
        return counter.utf16Before(place);
    }
}

int64_t RunLines::before(int64_t line, Measure measure) const
{
    // Each counter's value changes every period lines and comes round every
    // period x count lines. Before line r lie whole rounds, then whole periods
    // of the values before r's, then part of the period of r's own value.
    if (m_lineCount == 0)
        return 0;
    int64_t total = line * m_fixedMeasures[measure];
    for (size_t k = 0; k < m_counters.size(); ++k) {
        const int64_t period = m_periods[k];
        const int32_t count = m_counters[k].count();
        const int64_t round = period * count;
        const auto place = static_cast<int32_t>(line % round / period);
        const int64_t placeBefore = counterBefore(k, place, measure);
        total += line / round * period * counterBefore(k, count, measure) + period * placeBefore
            + line % period * (counterBefore(k, place + 1, measure) - placeBefore);
    }
    return total;
}

int64_t RunLines::lastLineFrom(int64_t amount, Measure measure) const
{
    int64_t low = 0;
    int64_t high = std::max<int64_t>(m_lineCount - 1, 0);
    while (low < high) {
        const int64_t middle = low + (high - low + 1) / 2;
        if (before(middle, measure) <= amount)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

std::array<int32_t, 3> RunLines::placesOf(int64_t line) const
{
    std::array<int32_t, 3> places {};
    for (size_t k = 0; k < m_counters.size(); ++k)
        places[k] = static_cast<int32_t>(line / m_periods[k] % m_counters[k].count());
    return places;
}

template<typename Visit>
void RunLines::forEachPart(int64_t line, Visit visit) const
{
    const std::array<int32_t, 3> places = placesOf(line);
    std::string scratch;
    if (!visit(std::string_view(m_fixed[0].text), &m_fixed[0]))
        return;
    for (size_t k = 0; k < m_counters.size(); ++k) {
        if (!visit(m_counters[k].text(places[k], scratch), static_cast<const Fixed *>(nullptr)))
            return;
        if (!visit(std::string_view(m_fixed[k + 1].text), &m_fixed[k + 1]))
            return;
    }
}

std::string RunLines::lineText(int64_t line) const
{
    std::string bytes;
    forEachPart(line, [&bytes](std::string_view part, const Fixed *) {
        bytes.append(part);
        return true;
    });
    return bytes;
}

void RunLines::copy(int64_t from, int64_t to, char *out) const
{
    if (from >= to)
        return;
    // The first line from where the stretch starts, whole lines by the
    // writer, and the last line up to where it ends.
    int64_t line = lineAt(from);
    size_t skip = toSize(from - lineStart(line));
    size_t left = toSize(to - from);
    while (left > 0) {
        if (skip == 0 && left >= toSize(lineSize(line))) {
            Writer writer(*this, line);
            const size_t made = writer.fill(out, left);
            out += made;
            left -= made;
            line = writer.nextLine();
            if (left == 0)
                break;
        }
        forEachPart(line, [&out, &skip, &left](std::string_view part, const Fixed *) {
            if (skip >= part.size()) {
                skip -= part.size();
                return true;
            }
            const size_t taken = std::min(part.size() - skip, left);
            std::memcpy(out, part.data() + skip, taken);
            out += taken;
            left -= taken;
            skip = 0;
            return left > 0;
        });
        ++line;
    }
}

char RunLines::byteAt(int64_t offset) const
{
    const int64_t line = lineAt(offset);
    size_t skip = toSize(offset - lineStart(line));
    char byte = 0;
    forEachPart(line, [&skip, &byte](std::string_view part, const Fixed *) {
        if (skip >= part.size()) {
            skip -= part.size();
            return true;
        }
        byte = part[skip];
        return false;
    });
    return byte;
}

int64_t RunLines::lineFeedsBefore(int64_t offset) const
{
    if (offset >= size())
        return lineFeedCount();
    const int64_t line = lineAt(offset);
    int64_t lineFeeds = before(line, LineFeeds);
    size_t left = toSize(offset - lineStart(line));
    forEachPart(line, [&left, &lineFeeds](std::string_view part, const Fixed *fixed) {
        const size_t taken = std::min(part.size(), left);
        if (fixed) {
            lineFeeds += std::upper_bound(
                             fixed->afterLineFeeds.begin(), fixed->afterLineFeeds.end(), taken)
                - fixed->afterLineFeeds.begin();
        } else {
            lineFeeds += std::count(part.begin(), part.begin() + std::ptrdiff_t(taken), '\n');
        }
        left -= taken;
        return left > 0;
    });
    return lineFeeds;
}

int64_t RunLines::afterLineFeed(int64_t index) const
{
    const int64_t line = lastLineFrom(index, LineFeeds);
    auto rest = static_cast<size_t>(index - before(line, LineFeeds));
    int64_t offset = lineStart(line);
    forEachPart(line, [&rest, &offset](std::string_view part, const Fixed *fixed) {
        if (fixed && rest < fixed->afterLineFeeds.size()) {
            offset += static_cast<int64_t>(fixed->afterLineFeeds[rest]);
            return false;
        }
        if (fixed) {
            rest -= fixed->afterLineFeeds.size();
        } else {
            for (size_t at = part.find('\n'); at != std::string_view::npos;
                 at = part.find('\n', at + 1)) {
                if (rest-- == 0) {
                    offset += static_cast<int64_t>(at + 1);
                    return false;
                }
            }
        }
        offset += static_cast<int64_t>(part.size());
        return true;
    });
    return offset;
}

int64_t RunLines::utf16Before(int64_t offset) const
{
    if (offset >= size())
        return before(m_lineCount, Utf16);
    const int64_t line = lineAt(offset);
    int64_t units = before(line, Utf16);
    size_t left = toSize(offset - lineStart(line));
    forEachPart(line, [&left, &units](std::string_view part, const Fixed *) {
        const size_t taken = std::min(part.size(), left);
        units += static_cast<int64_t>(utf16Units(part.substr(0, taken)));
        left -= taken;
        return left > 0;
    });
    return units;
}

int64_t RunLines::offsetOfUtf16(int64_t units) const
{
    if (m_lineCount == 0 || units >= before(m_lineCount, Utf16))
        return size();
    const int64_t line = lastLineFrom(units, Utf16);
    auto rest = static_cast<size_t>(units - before(line, Utf16));
    int64_t offset = lineStart(line);
    forEachPart(line, [&rest, &offset](std::string_view part, const Fixed *fixed) {
        const size_t partUnits
            = fixed ? static_cast<size_t>(fixed->measures[Utf16]) : utf16Units(part);
        if (rest < partUnits) {
            offset += static_cast<int64_t>(bytesOfUtf16Units(part, rest));
            return false;
        }
        rest -= partUnits;
        offset += static_cast<int64_t>(part.size());
        return true;
    });
    return offset;
}

RunLines::Writer::Writer(const RunLines &lines, int64_t firstLine)
    : m_lines(&lines)
    , m_next(firstLine)
{
    if (!lines.m_counters.empty() && firstLine < lines.m_lineCount) {
        m_places = lines.placesOf(firstLine);
        buildHead();
    }
}

void RunLines::Writer::buildHead()
{
    const std::vector<Fixed> &fixed = m_lines->m_fixed;
    m_head = fixed.front().text;
    for (size_t k = 0; k + 1 < m_lines->m_counters.size(); ++k) {
        m_head += m_lines->m_counters[k].text(m_places[k], m_scratch);
        m_head += fixed[k + 1].text;
    }
    std::memcpy(m_headBlock.data(), m_head.data(), std::min(m_head.size(), Block));
}

void RunLines::Writer::nextPrefix()
{
    for (size_t k = m_lines->m_counters.size() - 1; k-- > 0;) {
        if (++m_places[k] < m_lines->m_counters[k].count())
            break;
        m_places[k] = 0;
    }
    buildHead();
}

size_t RunLines::Writer::fill(char *out, size_t capacity)
{
    char *const begin = out;
    const char *const limit = out + capacity;
    const RunLines &lines = *m_lines;
    if (lines.m_counters.empty()) {
        const std::string_view text = lines.m_fixed.front().text;
        for (; m_next < lines.m_lineCount && size_t(limit - out) >= text.size(); ++m_next)
            out = put(out, text);
        return static_cast<size_t>(out - begin);
    }
    // The head changes once per round of the last counter, so a line is the
    // head, the last counter's text and the tail.
    const size_t last = lines.m_counters.size() - 1;
    const int32_t lastCount = lines.m_counters.back().count();
    while (m_next < lines.m_lineCount) {
        const int32_t first = m_places[last];
        if (!lines.m_joined.empty() && m_head.size() <= Block)
            out = fillShort(out, limit);
        out = fillExact(out, limit);
        m_next += m_places[last] - first;
        if (m_places[last] < lastCount)
            break;
        m_places[last] = 0;
        if (m_next < lines.m_lineCount)
            nextPrefix();
    }
    return static_cast<size_t>(out - begin);
}

char *RunLines::Writer::fillShort(char *out, const char *limit)
{
    const RunLines &lines = *m_lines;
    // Kept in locals: the copies through out could otherwise touch any member.
    int32_t &last = m_places[lines.m_counters.size() - 1];
    const int32_t count = lines.m_counters.back().count();
    const size_t headSize = m_head.size();
    const char *const joined = lines.m_joined.data();
    const uint8_t *const sizes = lines.m_joinedSizes.data();
    const std::array<char, Block> headBlock = m_headBlock;
    int32_t place = last;
    for (; place < count && limit - out >= static_cast<std::ptrdiff_t>(2 * Block); ++place) {
        const auto index = static_cast<size_t>(place);
        std::memcpy(out, headBlock.data(), Block);
        std::memcpy(out + headSize, joined + index * Block, Block);
        out += headSize + sizes[index];
    }
    last = place;
    return out;
}

char *RunLines::Writer::fillExact(char *out, const char *limit)
{
    const RunLines &lines = *m_lines;
    const CounterTexts &counter = lines.m_counters.back();
    int32_t &last = m_places[lines.m_counters.size() - 1];
    const std::string_view head = m_head;
    const std::string_view tail = lines.m_fixed.back().text;
    const size_t framing = head.size() + tail.size();
    const int32_t count = counter.count();
    int32_t place = last;
    for (; place < count; ++place) {
        const std::string_view text = counter.text(place, m_scratch);
        if (static_cast<size_t>(limit - out) < framing + text.size())
            break;
        out = put(put(put(out, head), text), tail);
    }
    last = place;
    return out;
}
