// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring a run exactly, and making and writing its records chunk by chunk.
#include "recordstream.h"

#include "codepage.h"
#include "counterlist.h"
#include "filereplacement.h"
#include "recordfile.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Wide enough for any run: 65,536^3 lines of a field two billion characters long
// stay far below 2^128.
using Wide = unsigned __int128;
constexpr Wide LargestSize = Wide(std::numeric_limits<int64_t>::max());

// A counter's texts together up to this size are made once and kept; beyond it
// (a pad width in the thousands) each is made when it is needed.
constexpr int64_t KeptTextBudget = int64_t(64) << 20;

struct TextBytes
{
    int64_t utf8 = 0;
    int64_t ansi = 0;
    size_t longestAnsi = 0;
};

int digitCount(int32_t value)
{
    int digits = 1;
    for (int32_t rest = std::abs(value) / 10; rest > 0; rest /= 10)
        ++digits;
    return digits;
}

std::string ansiText(const CounterSettings &counter, int32_t value)
{
    std::string bytes;
    // Every counter text has its bytes: digits, or a character made from a byte.
    appendAnsi(bytes, counterText(value, counter.width, counter.alpha, counter.padded));
    return bytes;
}

// The bytes of all of one counter's texts together.
TextBytes textBytes(const CounterSettings &counter)
{
    TextBytes bytes;
    // A number's text is as long for every value with its sign and its number of
    // digits, so each length is made once; an Alpha counter has at most 256 values.
    std::array<std::array<int64_t, 6>, 2> numberBytes {};
    const int32_t count = valueCount(counter);
    for (int32_t place = 0; place < count; ++place) {
        const int32_t value = counterValue(counter, place);
        int64_t utf8 = 0;
        int64_t ansi = 0;
        if (counter.alpha) {
            utf8 = static_cast<int64_t>(
                counterText(value, counter.width, true, counter.padded).size());
            ansi = static_cast<int64_t>(ansiText(counter, value).size());
        } else {
            int64_t &known = numberBytes[value < 0 ? 1 : 0][static_cast<size_t>(digitCount(value))];
            if (known == 0)
                known = static_cast<int64_t>(ansiText(counter, value).size());
            utf8 = known;
            ansi = known;
        }
        bytes.utf8 += utf8;
        bytes.ansi += ansi;
        bytes.longestAnsi = std::max(bytes.longestAnsi, static_cast<size_t>(ansi));
    }
    return bytes;
}

char *put(char *out, std::string_view bytes)
{
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

} // namespace

int32_t counterValue(const CounterSettings &counter, int32_t position)
{
    // Only the step's magnitude counts, and a step of 0 counts by one.
    const int32_t stride = std::max(std::abs(static_cast<int32_t>(counter.step)), 1);
    return counter.start + (counter.up ? stride : -stride) * position;
}

int32_t valueCount(const CounterSettings &counter)
{
    auto hasCharacter = [](int16_t code) { return code >= 0 && code <= 255; };
    if (counter.alpha && !(hasCharacter(counter.start) && hasCharacter(counter.end)))
        return 0;
    return counterValueCount(counter.start, counter.end, counter.step, counter.up);
}

bool measureRun(RunPlan &plan, int counterCount, size_t newLineBytes)
{
    const auto counters = static_cast<size_t>(counterCount);
    std::array<TextBytes, 3> texts {};
    std::array<Wide, 3> counts {};
    Wide lines = 1;
    for (size_t k = 0; k < counters; ++k) {
        texts[k] = textBytes(plan.counters[k]);
        counts[k] = static_cast<Wide>(valueCount(plan.counters[k]));
        lines *= counts[k];
    }
    // Every line holds the fields and its line break or its record's quotes;
    // each counter's texts come once for every combination of the others' values.
    Wide text = lines * newLineBytes;
    Wide file = lines * (RecordOpen.size() + RecordClose.size());
    bool fileHasBytes = true;
    for (size_t j = 0; j <= counters; ++j) {
        std::string bytes;
        fileHasBytes = fileHasBytes && appendAnsi(bytes, plan.fields[j]);
        text += lines * plan.fields[j].size();
        file += lines * bytes.size();
    }
    for (size_t k = 0; k < counters && lines > 0; ++k) {
        text += lines / counts[k] * static_cast<Wide>(texts[k].utf8);
        file += lines / counts[k] * static_cast<Wide>(texts[k].ansi);
    }
    if (text > LargestSize || (fileHasBytes && file > LargestSize))
        return false;
    plan.lineCount = static_cast<int64_t>(lines);
    plan.textBytes = static_cast<int64_t>(text);
    plan.fileBytes = fileHasBytes ? static_cast<int64_t>(file) : 0;
    return true;
}

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
        const TextBytes bytes = textBytes(counter.settings);
        longest += bytes.longestAnsi;
        if (bytes.ansi > KeptTextBudget)
            continue;
        counter.texts.reserve(static_cast<size_t>(bytes.ansi));
        counter.starts.reserve(static_cast<size_t>(counter.count) + 1);
        for (int32_t place = 0; place < counter.count; ++place) {
            counter.starts.push_back(counter.texts.size());
            counter.texts += ansiText(counter.settings, counterValue(counter.settings, place));
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
    current = ansiText(settings, counterValue(settings, place));
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

void WriteProgress::advance(int64_t lines, int64_t bytes)
{
    m_lines.store(lines, std::memory_order_relaxed);
    m_bytes.store(bytes, std::memory_order_relaxed);
}

void WriteProgress::startFinishing()
{
    m_finishing.store(true, std::memory_order_release);
}

WriteOutcome streamRecords(RecordStream &records,
    const std::function<bool(const char *, size_t)> &write, const std::atomic<bool> &cancel,
    WriteProgress &progress)
{
    std::vector<char> chunk(std::max(RecordChunkSize, records.longestRecord()));
    int64_t bytes = 0;
    while (!records.atEnd()) {
        if (cancel.load(std::memory_order_relaxed))
            return WriteOutcome::Cancelled;
        const size_t size = records.fill(chunk.data(), chunk.size());
        if (size == 0 || !write(chunk.data(), size))
            return WriteOutcome::Failed;
        bytes += static_cast<int64_t>(size);
        progress.advance(records.recordsDone(), bytes);
    }
    return WriteOutcome::Written;
}

WriteResult streamRecordFile(const QString &path, RecordStream &records, int64_t fileBytes,
    const std::atomic<bool> &cancel, WriteProgress &progress)
{
    if (cancel.load())
        return {WriteOutcome::Cancelled, {}, FileReplacement::untouched(path)};
    FileReplacement file;
    if (const std::optional<QString> reason = file.open(path, fileBytes))
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    const WriteOutcome outcome = streamRecords(
        records,
        [&file](
            const char *data, size_t size) { return file.write(data, static_cast<qint64>(size)); },
        cancel, progress);
    if (outcome != WriteOutcome::Written) {
        const QString reason = outcome == WriteOutcome::Failed ? file.errorString() : QString();
        file.cancel();
        return {outcome, reason, file.whatWasLeft()};
    }
    progress.startFinishing();
    if (const std::optional<QString> reason = file.sync())
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    const bool cancelled = cancel.load();
    if (cancelled && file.canStillCancel()) {
        file.cancel();
        return {WriteOutcome::Cancelled, {}, file.whatWasLeft()};
    }
    if (const std::optional<QString> reason = file.commit())
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    return {WriteOutcome::Written, {}, {}, cancelled};
}
