// SPDX-License-Identifier: GPL-3.0-or-later
// Line buffers and the product of two stages of a run.
#include "linebuffer.h"

#include <algorithm>
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

LineBuffer LineBuffer::product(
    const LineBuffer &prefixes, const std::vector<std::string> &pieces, size_t lineLimit)
{
    LineBuffer lines;
    lines.m_newLine = prefixes.m_newLine;
    const size_t count = std::min(prefixes.size() * pieces.size(), lineLimit);
    // The lines are whole rounds of the pieces after the first prefixes, and
    // then the first pieces after one more prefix.
    const size_t rounds = pieces.empty() ? 0 : count / pieces.size();
    const size_t rest = count - rounds * pieces.size();
    auto pieceBytes = [&pieces](size_t first) {
        return std::accumulate(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(first),
            size_t(0), [](size_t sum, const std::string &piece) { return sum + piece.size(); });
    };
    const size_t roundPrefixBytes
        = (rounds < prefixes.size() ? prefixes.m_starts[rounds] : prefixes.m_text.size())
        - rounds * prefixes.m_newLine.size();
    const size_t restPrefixBytes = rest > 0 ? prefixes.line(rounds).size() : 0;
    // Sized once, advised onto huge pages before the first byte touches it, and
    // written in place: a million lines are three million small copies, and
    // string appends would double their cost.
    const size_t total = roundPrefixBytes * pieces.size() + pieceBytes(pieces.size()) * rounds
        + restPrefixBytes * rest + pieceBytes(rest) + count * lines.m_newLine.size();
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
    for (size_t i = 0; i * pieces.size() < count; ++i) {
        const std::string_view prefix = prefixes.line(i);
        const size_t used = std::min(pieces.size(), count - i * pieces.size());
        for (size_t j = 0; j < used; ++j) {
            *start++ = static_cast<size_t>(out - base);
            put(prefix);
            put(pieces[j]);
            put(lines.m_newLine);
        }
    }
    return lines;
}
