// SPDX-License-Identifier: GPL-3.0-or-later
// Making a run's records chunk by chunk.
#include "recordstream.h"

#include "codepage.h"

#include <algorithm>
#include <cstring>

namespace {

// A counter's texts together up to this size are made once and kept; beyond it
// (a pad width in the thousands) each is made when it is needed.
constexpr int64_t KeptTextBudget = int64_t(64) << 20;

char *put(char *out, std::string_view bytes)
{
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

} // namespace

std::optional<RecordStream> RecordStream::create(const RunPlan &plan, int counterCount)
{
    RecordStream stream;
    const auto counters = static_cast<size_t>(counterCount);
    size_t longest = RecordOpen.size() + RecordClose.size();
    for (size_t j = 0; j <= counters; ++j) {
        std::string bytes;
        if (!appendAnsi(bytes, plan.fields[j]))
            return std::nullopt;
        longest += bytes.size();
        stream.m_fields.push_back(std::move(bytes));
    }
    stream.m_lineCount = 1;
    stream.m_counters.resize(counters);
    for (size_t k = 0; k < counters; ++k) {
        Counter &counter = stream.m_counters[k];
        counter.settings = plan.counters[k];
        counter.count = valueCount(counter.settings);
        stream.m_lineCount *= counter.count;
        const CounterTextBytes bytes = counterTextBytes(counter.settings);
        longest += bytes.longestAnsi;
        if (bytes.ansi > KeptTextBudget)
            continue;
        counter.texts.reserve(static_cast<size_t>(bytes.ansi));
        counter.starts.reserve(static_cast<size_t>(counter.count) + 1);
        for (int32_t place = 0; place < counter.count; ++place) {
            counter.starts.push_back(counter.texts.size());
            counter.texts
                += ansiCounterText(counter.settings, counterValue(counter.settings, place));
        }
        counter.starts.push_back(counter.texts.size());
    }
    stream.m_longest = longest;
    stream.m_tail = stream.m_fields.back();
    stream.m_tail += RecordClose;
    if (stream.m_lineCount > 0) {
        stream.joinLastTexts();
        stream.buildHead();
    }
    return stream;
}

void RecordStream::joinLastTexts()
{
    Counter &last = m_counters.back();
    if (last.starts.empty())
        return;
    const auto count = static_cast<size_t>(last.count);
    std::vector<char> joined(count * Block);
    std::vector<uint8_t> sizes(count);
    for (size_t i = 0; i < count; ++i) {
        const std::string_view text = last.textAt(static_cast<int32_t>(i));
        if (text.size() + m_tail.size() > Block)
            return;
        char *const block = joined.data() + i * Block;
        std::memcpy(block, text.data(), text.size());
        std::memcpy(block + text.size(), m_tail.data(), m_tail.size());
        sizes[i] = static_cast<uint8_t>(text.size() + m_tail.size());
    }
    m_joined = std::move(joined);
    m_joinedSizes = std::move(sizes);
}

std::string_view RecordStream::Counter::textAt(int32_t place)
{
    const auto index = static_cast<size_t>(place);
    if (!starts.empty())
        return std::string_view(texts.data() + starts[index], starts[index + 1] - starts[index]);
    current = ansiCounterText(settings, counterValue(settings, place));
    return current;
}

void RecordStream::buildHead()
{
    m_head.assign(RecordOpen);
    m_head += m_fields.front();
    for (size_t k = 0; k + 1 < m_counters.size(); ++k) {
        m_head += m_counters[k].textAt(m_counters[k].position);
        m_head += m_fields[k + 1];
    }
    std::memcpy(m_headBlock.data(), m_head.data(), std::min(m_head.size(), Block));
}

void RecordStream::nextPrefix()
{
    for (size_t k = m_counters.size() - 1; k-- > 0;) {
        Counter &counter = m_counters[k];
        if (++counter.position < counter.count)
            break;
        counter.position = 0;
    }
    buildHead();
}

size_t RecordStream::fill(char *out, size_t capacity)
{
    char *const begin = out;
    const char *const limit = out + capacity;
    while (m_done < m_lineCount) {
        // The head changes once per round of the last counter, so a record is
        // the head, the last counter's text and the tail.
        Counter &last = m_counters.back();
        const int32_t first = last.position;
        if (!m_joined.empty() && m_head.size() <= Block)
            out = fillShort(out, limit);
        out = fillExact(out, limit);
        m_done += last.position - first;
        if (last.position < last.count)
            break;
        last.position = 0;
        nextPrefix();
    }
    return static_cast<size_t>(out - begin);
}

char *RecordStream::fillShort(char *out, const char *limit)
{
    Counter &last = m_counters.back();
    const size_t headSize = m_head.size();
    const char *const joined = m_joined.data();
    const uint8_t *const sizes = m_joinedSizes.data();
    int32_t place = last.position;
    for (; place < last.count && limit - out >= static_cast<std::ptrdiff_t>(2 * Block); ++place) {
        const auto index = static_cast<size_t>(place);
        std::memcpy(out, m_headBlock.data(), Block);
        std::memcpy(out + headSize, joined + index * Block, Block);
        out += headSize + sizes[index];
    }
    last.position = place;
    return out;
}

char *RecordStream::fillExact(char *out, const char *limit)
{
    Counter &last = m_counters.back();
    const std::string_view head = m_head;
    const std::string_view tail = m_tail;
    const size_t framing = head.size() + tail.size();
    int32_t place = last.position;
    for (; place < last.count; ++place) {
        const std::string_view text = last.textAt(place);
        if (static_cast<size_t>(limit - out) < framing + text.size())
            break;
        out = put(put(put(out, head), text), tail);
    }
    last.position = place;
    return out;
}
