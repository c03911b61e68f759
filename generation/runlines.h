// SPDX-License-Identifier: GPL-3.0-or-later
// A run's lines, any of them made from its number alone.
#pragma once

#include "countertexts.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The lines of a run, in the run's order (the last counter fastest), as one
// text: each line framed by what comes before and after it (nothing and the
// line break in the Container, the quotes and the record's end in the file).
//
// The counters count like the digits of a number whose last digit is the last
// counter, so line r's values, its offset in the text, and the line feeds and
// UTF-16 units before it all follow from r through each counter's sums: any
// line, the line at any offset and any stretch of bytes is made in
// microseconds, without making another line. A run of 65,536^3 lines costs
// its counters' texts and nothing more.
//
// Offsets are 64-bit byte offsets into the whole text, so a run's bytes, line
// feeds and UTF-16 units must each stay below 2^63: the constructors throw
// std::length_error for a run that does not (measureRun refuses it first).
// Nothing changes after construction: threads may share it.
class RunLines
{
public:
    // No lines at all.
    RunLines() = default;
    // Lines that hold only their framing: what is left before a run is made.
    RunLines(std::string_view lineStart, std::string_view lineEnd, int64_t lineCount);
    // fields holds one text more than counters, already in the encoding. The
    // counters' texts are kept while they fit keptBudget bytes in all, the
    // last counter's first: its texts are read for every line, an earlier
    // counter's only when its value changes.
    RunLines(const std::vector<std::string> &fields, const std::vector<CounterSettings> &counters,
        TextEncoding encoding, std::string_view lineStart, std::string_view lineEnd,
        int64_t keptBudget);

    int64_t lineCount() const { return m_lineCount; }
    int64_t size() const { return before(m_lineCount, Bytes); }
    int64_t lineStart(int64_t line) const { return before(line, Bytes); }
    int64_t lineSize(int64_t line) const { return lineStart(line + 1) - lineStart(line); }
    // The line that holds the byte at offset, below size().
    int64_t lineAt(int64_t offset) const { return lastLineFrom(offset, Bytes); }
    std::string lineText(int64_t line) const;
    size_t longestLine() const { return m_longest; }

    // Copies the bytes from..to into out.
    void copy(int64_t from, int64_t to, char *out) const;
    char byteAt(int64_t offset) const;

    // The text's line feeds: how many there are, how many lie before an
    // offset, and the offset just after the index-th (from 0).
    int64_t lineFeedCount() const { return before(m_lineCount, LineFeeds); }
    int64_t lineFeedsBefore(int64_t offset) const;
    int64_t afterLineFeed(int64_t index) const;

    // The text counted in UTF-16 units, as Qt counts it (UTF-8 text only):
    // the units before an offset on a whole character, and the offset of the
    // character that starts a number of units in.
    bool isAscii() const { return m_ascii; }
    int64_t utf16Before(int64_t offset) const;
    int64_t offsetOfUtf16(int64_t units) const;

    // Makes whole lines from one line on, as fast as memory copies them: the
    // stream a file is written from.
    class Writer
    {
    public:
        Writer(const RunLines &lines, int64_t firstLine);

        int64_t nextLine() const { return m_next; }
        bool atEnd() const { return m_next == m_lines->m_lineCount; }
        // Writes the next whole lines into out, as many as capacity holds, and
        // returns their bytes: 0 at the end, or when capacity is below the next line.
        size_t fill(char *out, size_t capacity);

    private:
        void buildHead();
        void nextPrefix();
        char *fillShort(char *out, const char *limit);
        char *fillExact(char *out, const char *limit);

        const RunLines *m_lines;
        int64_t m_next = 0;
        std::array<int32_t, 3> m_places {};
        // Everything before the last counter's text, and its first bytes in a block.
        std::string m_head;
        std::array<char, 32> m_headBlock {};
        std::string m_scratch;
    };

private:
    enum Measure { Bytes, LineFeeds, Utf16, MeasureCount };
    using Measures = std::array<int64_t, MeasureCount>;

    // A field with the framing it borders: constant in every line.
    struct Fixed
    {
        std::string text;
        Measures measures {};
        // The offsets just after each line feed in text.
        std::vector<size_t> afterLineFeeds;
    };

    // Short lines, nearly every run's, are copied in blocks of a fixed size:
    // the head, then the last counter's text joined to the tail. Each block
    // may carry bytes past its end, which the next copy overwrites.
    static constexpr size_t Block = 32;

    void measureFixed();
    void checkSize() const;
    void joinLastTexts();
    int64_t counterBefore(size_t k, int32_t place, Measure measure) const;
    // What the lines before line hold, by a measure.
    int64_t before(int64_t line, Measure measure) const;
    // The last line whose start by the measure is at or below the amount.
    int64_t lastLineFrom(int64_t amount, Measure measure) const;
    std::array<int32_t, 3> placesOf(int64_t line) const;
    // Calls visit with each part of the line: the fixed texts and the counters' texts.
    template<typename Visit>
    void forEachPart(int64_t line, Visit visit) const;

    std::vector<Fixed> m_fixed;
    std::vector<CounterTexts> m_counters;
    // The lines one value of each counter lasts: the product of the later counters' counts.
    std::vector<int64_t> m_periods;
    Measures m_fixedMeasures {};
    int64_t m_lineCount = 0;
    size_t m_longest = 0;
    bool m_ascii = true;
    std::vector<char> m_joined;
    std::vector<uint8_t> m_joinedSizes;
};
