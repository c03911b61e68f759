// SPDX-License-Identifier: GPL-3.0-or-later
// Line buffers and the product of two stages of a run.
#include "linebuffer.h"

#include <cstdint>
#include <cstring>
#include <numeric>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// A run's buffers are written once from end to end. On huge pages the kernel
// hands them out in a few hundred faults instead of tens of thousands, which
// was half the time of building a million lines.
void adviseHugePages(char *data, size_t size)
{
#if defined(MADV_HUGEPAGE)
    constexpr size_t HugePage = size_t(2) << 20;
    // Only whole huge pages inside the buffer: from its first boundary on.
    const size_t lead = (HugePage - reinterpret_cast<uintptr_t>(data) % HugePage) % HugePage;
    if (size > lead + HugePage)
        madvise(data + lead, (size - lead) / HugePage * HugePage, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace

LineBuffer::LineBuffer(std::string newLine, size_t emptyLines)
    : m_newLine(std::move(newLine))
{
    m_text.reserve(emptyLines * m_newLine.size());
    m_starts.reserve(emptyLines);
    for (size_t i = 0; i < emptyLines; ++i) {
        m_starts.push_back(m_text.size());
        m_text += m_newLine;
    }
}

std::string_view LineBuffer::line(size_t index) const
{
    const size_t start = m_starts.at(index);
    const size_t next = index + 1 < m_starts.size() ? m_starts[index + 1] : m_text.size();
    return std::string_view(m_text).substr(start, next - start - m_newLine.size());
}

LineBuffer LineBuffer::product(const LineBuffer &prefixes, const std::vector<std::string> &pieces)
{
    LineBuffer lines;
    lines.m_newLine = prefixes.m_newLine;
    const size_t pieceBytes = std::accumulate(pieces.begin(), pieces.end(), size_t(0),
        [](size_t sum, const std::string &piece) { return sum + piece.size(); });
    const size_t prefixBytes = prefixes.m_text.size() - prefixes.size() * prefixes.m_newLine.size();
    const size_t count = prefixes.size() * pieces.size();
    // Sized once, advised onto huge pages before the first byte touches it, and
    // written in place: a million lines are three million small copies, and
    // string appends would double their cost.
    const size_t total = prefixBytes * pieces.size() + pieceBytes * prefixes.size()
        + count * lines.m_newLine.size();
    lines.m_text.reserve(total);
    lines.m_starts.reserve(count);
    adviseHugePages(lines.m_text.data(), lines.m_text.capacity());
    adviseHugePages(reinterpret_cast<char *>(lines.m_starts.data()),
        lines.m_starts.capacity() * sizeof(size_t));
    lines.m_text.resize(total);
    lines.m_starts.resize(count);
    char *const base = lines.m_text.data();
    char *out = base;
    size_t *start = lines.m_starts.data();
    auto put = [&out](std::string_view text) {
        std::memcpy(out, text.data(), text.size());
        out += text.size();
    };
    for (size_t i = 0; i < prefixes.size(); ++i) {
        const std::string_view prefix = prefixes.line(i);
        for (const std::string &piece : pieces) {
            *start++ = static_cast<size_t>(out - base);
            put(prefix);
            put(piece);
            put(lines.m_newLine);
        }
    }
    return lines;
}
