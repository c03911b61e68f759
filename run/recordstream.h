// SPDX-License-Identifier: GPL-3.0-or-later
// A run's records, made on the fly for files of any size.
#pragma once

#include "runplan.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The records of a run, in the run's order (the last counter fastest), made a
// chunk at a time from the fields and each counter's texts in Windows-1252.
// It keeps the counters' texts and one line, never the run: its memory does not
// grow with the number of lines.
class RecordStream
{
public:
    // Nothing when a field the run uses holds a character without a byte.
    static std::optional<RecordStream> create(const RunPlan &plan, int counterCount);

    int64_t lineCount() const { return m_lineCount; }
    int64_t recordsDone() const { return m_done; }
    bool atEnd() const { return m_done == m_lineCount; }
    // No record is longer than this; a chunk must hold at least this many bytes.
    size_t longestRecord() const { return m_longest; }

    // Writes the next whole records into out, as many as capacity holds, and
    // returns their bytes: 0 once every record has been made.
    size_t fill(char *out, size_t capacity);

private:
    // One counter's texts in Windows-1252: kept end to end when they are small,
    // made value by value when a huge pad width would make them gigabytes.
    struct Counter
    {
        int32_t count = 0;
        int32_t position = 0;
        std::string texts;
        std::vector<size_t> starts;
        std::string current;
        CounterSettings settings;

        std::string_view textAt(int32_t place);
    };

    // Short records, nearly every run's, are copied in blocks of a fixed size:
    // the head, then the last counter's text joined to the tail. Each block may
    // carry bytes past its end, which the next copy overwrites.
    static constexpr size_t Block = 32;

    RecordStream() = default;
    void nextPrefix();
    void buildHead();
    void joinLastTexts();
    char *fillShort(char *out, const char *limit);
    char *fillExact(char *out, const char *limit);

    std::vector<std::string> m_fields;
    std::vector<Counter> m_counters;
    // Everything before the last counter's text, quote included, and everything after it.
    std::string m_head;
    std::string m_tail;
    // The last counter's texts, each joined to the tail and padded to a block;
    // empty when one of them would not fit a block.
    std::vector<char> m_joined;
    std::vector<uint8_t> m_joinedSizes;
    std::array<char, Block> m_headBlock {};
    int64_t m_lineCount = 0;
    int64_t m_done = 0;
    size_t m_longest = 0;
};
