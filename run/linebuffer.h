// SPDX-License-Identifier: GPL-3.0-or-later
// A run's lines, kept end to end in one buffer.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Lines of UTF-8 text, each followed by the line break, one after the other in a
// single buffer: text() is exactly what the Container shows. Millions of lines
// cost their bytes and one offset each, not an allocation each.
//
// Once built the lines never change, so copies share them: the Container shows
// the run's lines without a second copy of the text.
class LineBuffer
{
public:
    LineBuffer() = default;
    LineBuffer(std::string newLine, size_t emptyLines);

    // Every prefix line followed by every piece, the pieces varying fastest:
    // prefix 0 + piece 0, prefix 0 + piece 1, ..., prefix 1 + piece 0, ...
    // up to lineLimit lines; the rest are not built.
    static LineBuffer product(const LineBuffer &prefixes, const std::vector<std::string> &pieces,
        size_t lineLimit = std::numeric_limits<size_t>::max());

    size_t size() const { return m_data ? m_data->starts.size() : 0; }
    bool empty() const { return size() == 0; }
    std::string_view line(size_t index) const;
    // Where each line starts in text().
    const std::vector<size_t> &starts() const;
    const std::string &text() const;
    const std::string &newLine() const { return m_newLine; }
    // True when some line holds a line feed of its own (an Alpha counter's
    // code 10, a pasted field): text() then has more rows than lines.
    bool linesHoldLineFeeds() const { return m_data && m_data->lineFeedsInside; }
    // True when every byte is below 0x80, known from what the lines were made
    // of: a screen reader counts the text in UTF-16 units, which would
    // otherwise mean reading all of it.
    bool isAscii() const { return !m_data || m_data->ascii; }

private:
    struct Data
    {
        std::string text;
        std::vector<size_t> starts;
        bool lineFeedsInside = false;
        bool ascii = true;
    };

    std::string m_newLine;
    std::shared_ptr<const Data> m_data;
};
