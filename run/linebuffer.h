// SPDX-License-Identifier: GPL-3.0-or-later
// A run's lines, kept end to end in one buffer.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// Lines of UTF-8 text, each followed by the line break, one after the other in a
// single buffer: text() is exactly what the Container shows. Millions of lines
// cost their bytes and one offset each, not an allocation each.
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

    size_t size() const { return m_starts.size(); }
    bool empty() const { return m_starts.empty(); }
    std::string_view line(size_t index) const;
    const std::string &text() const { return m_text; }
    const std::string &newLine() const { return m_newLine; }

private:
    std::string m_newLine;
    std::string m_text;
    std::vector<size_t> m_starts;
};
