// SPDX-License-Identifier: GPL-3.0-or-later
// Line buffers and the product of two stages of a run.
#include "linebuffer.h"

#include "codepage.h"

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
    auto data = std::make_shared<Data>();
    data->ascii = ::isAscii(m_newLine);
    data->text.reserve(emptyLines * m_newLine.size());
    data->starts.reserve(emptyLines);
    for (size_t i = 0; i < emptyLines; ++i) {
        data->starts.push_back(data->text.size());
        data->text += m_newLine;
    }
    m_data = std::move(data);
}

const std::string &LineBuffer::text() const
{
    static const std::string none;
    return m_data ? m_data->text : none;
}

const std::vector<size_t> &LineBuffer::starts() const
{
    static const std::vector<size_t> none;
    return m_data ? m_data->starts : none;
}

std::string_view LineBuffer::line(size_t index) const
{
    const std::vector<size_t> &lineStarts = starts();
    const size_t start = lineStarts.at(index);
    const size_t next = index + 1 < lineStarts.size() ? lineStarts[index + 1] : text().size();
    return std::string_view(text()).substr(start, next - start - m_newLine.size());
}

LineBuffer LineBuffer::product(
    const LineBuffer &prefixes, const std::vector<std::string> &pieces, size_t lineLimit)
{
    LineBuffer lines;
    lines.m_newLine = prefixes.m_newLine;
    auto data = std::make_shared<Data>();
    std::string &bytes = data->text;
    std::vector<size_t> &lineStarts = data->starts;
    data->lineFeedsInside = prefixes.linesHoldLineFeeds()
        || std::any_of(pieces.begin(), pieces.end(),
            [](const std::string &piece) { return piece.find('\n') != std::string::npos; });
    data->ascii = prefixes.isAscii() && ::isAscii(prefixes.newLine())
        && std::all_of(pieces.begin(), pieces.end(),
            [](const std::string &piece) { return ::isAscii(piece); });
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
        = (rounds < prefixes.size() ? prefixes.starts()[rounds] : prefixes.text().size())
        - rounds * prefixes.m_newLine.size();
    const size_t restPrefixBytes = rest > 0 ? prefixes.line(rounds).size() : 0;
    // Sized once, advised onto huge pages before the first byte touches it, and
    // written in place: a million lines are three million small copies, and
    // string appends would double their cost.
    const size_t total = roundPrefixBytes * pieces.size() + pieceBytes(pieces.size()) * rounds
        + restPrefixBytes * rest + pieceBytes(rest) + count * lines.m_newLine.size();
    bytes.reserve(total);
    lineStarts.reserve(count);
    adviseHugePages(bytes.data(), bytes.capacity());
    adviseHugePages(
        reinterpret_cast<char *>(lineStarts.data()), lineStarts.capacity() * sizeof(size_t));
    bytes.resize(total);
    lineStarts.resize(count);
    char *const base = bytes.data();
    char *out = base;
    size_t *start = lineStarts.data();
    auto put = [&out](std::string_view part) {
        std::memcpy(out, part.data(), part.size());
        out += part.size();
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
    lines.m_data = std::move(data);
    return lines;
}
