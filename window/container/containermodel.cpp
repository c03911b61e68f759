// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's piece table.
#include "containermodel.h"

#include "runlines.h"
#include "utf8.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// The offsets after every line feed in bytes, for text that has no index yet.
std::vector<size_t> indexLineFeeds(std::string_view bytes)
{
    std::vector<size_t> after;
    const char *const base = bytes.data();
    const char *at = base;
    const char *const end = base + bytes.size();
    while (const auto *found = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))) {
        at = found + 1;
        after.push_back(size_t(at - base));
    }
    return after;
}

// A run's lines as the Container's first source, made where they are read.
class RunSource final : public TextSource
{
public:
    explicit RunSource(std::shared_ptr<const RunLines> lines)
        : m_lines(std::move(lines))
    { }

    void copy(size_t from, size_t to, char *out) const override
    {
        m_lines->copy(signedOf(from), signedOf(to), out);
    }
    char byteAt(size_t offset) const override { return m_lines->byteAt(signedOf(offset)); }
    size_t lineFeedCount() const override { return sizeOf(m_lines->lineFeedCount()); }
    size_t lineFeedsBefore(size_t offset) const override
    {
        return sizeOf(m_lines->lineFeedsBefore(signedOf(offset)));
    }
    size_t afterLineFeed(size_t index) const override
    {
        return sizeOf(m_lines->afterLineFeed(signedOf(index)));
    }
    size_t utf16Units(size_t from, size_t to) const override
    {
        if (m_lines->isAscii())
            return to - from;
        return sizeOf(m_lines->utf16Before(signedOf(to)) - m_lines->utf16Before(signedOf(from)));
    }
    size_t offsetOfUtf16(size_t from, size_t units) const override
    {
        if (m_lines->isAscii())
            return from + units;
        return sizeOf(
            m_lines->offsetOfUtf16(m_lines->utf16Before(signedOf(from)) + signedOf(units)));
    }

private:
    // A run's size is measured to fit a signed 64-bit count before it is made.
    static int64_t signedOf(size_t value) { return static_cast<int64_t>(value); }
    static size_t sizeOf(int64_t value) { return static_cast<size_t>(value); }

    std::shared_ptr<const RunLines> m_lines;
};

TextPiece slice(const TextPiece &piece, size_t from, size_t to)
{
    const size_t start = piece.start + from;
    const size_t end = piece.start + to;
    return {piece.source, start, to - from, piece.source->lineFeedsIn(start, end)};
}

} // namespace

// What the user typed or pasted, only ever added to, so that pieces and
// fragments that point into it stay true.
class TypedSource final : public TextSource
{
public:
    void copy(size_t from, size_t to, char *out) const override
    {
        std::memcpy(out, m_bytes.data() + from, to - from);
    }
    char byteAt(size_t offset) const override { return m_bytes[offset]; }
    size_t lineFeedCount() const override { return m_afterLineFeeds.size(); }
    size_t lineFeedsBefore(size_t offset) const override
    {
        // A line feed at p is indexed as p + 1.
        return size_t(std::upper_bound(m_afterLineFeeds.begin(), m_afterLineFeeds.end(), offset)
            - m_afterLineFeeds.begin());
    }
    size_t afterLineFeed(size_t index) const override { return m_afterLineFeeds[index]; }
    size_t utf16Units(size_t from, size_t to) const override
    {
        return ::utf16Units(std::string_view(m_bytes).substr(from, to - from));
    }
    size_t offsetOfUtf16(size_t from, size_t units) const override
    {
        return from + bytesOfUtf16Units(std::string_view(m_bytes).substr(from), units);
    }

    // Whether text fits without moving the bytes already typed.
    bool hasRoomFor(std::string_view text) const
    {
        return m_bytes.empty() || m_bytes.capacity() - m_bytes.size() >= text.size();
    }

    size_t append(std::string_view text)
    {
        if (m_bytes.empty())
            m_bytes.reserve(std::max(size_t(64) << 10, text.size()));
        const size_t start = m_bytes.size();
        m_bytes.append(text);
        for (size_t after : indexLineFeeds(text))
            m_afterLineFeeds.push_back(start + after);
        return start;
    }

private:
    std::string m_bytes;
    std::vector<size_t> m_afterLineFeeds;
};

std::string TextFragment::bytes() const
{
    std::string out;
    out.reserve(m_size);
    forEachChunk([&out](std::string_view chunk) { out.append(chunk); });
    return out;
}

ContainerModel::ContainerModel()
{
    clear();
}

void ContainerModel::setLines(std::shared_ptr<const RunLines> lines)
{
    clear();
    if (!lines || lines->size() == 0)
        return;
    const auto bytes = static_cast<size_t>(lines->size());
    auto source = std::make_shared<RunSource>(std::move(lines));
    const size_t lineFeeds = source->lineFeedCount();
    m_pieces.push_back({std::move(source), 0, bytes, lineFeeds});
    reindex();
}

void ContainerModel::clear()
{
    // Swapped with empty ones so that their memory goes back, not just their size.
    std::vector<TextPiece>().swap(m_pieces);
    std::vector<Step>().swap(m_undo);
    std::vector<Step>().swap(m_redo);
    m_typed = std::make_shared<TypedSource>();
    m_run = Run::None;
    reindex();
}

size_t ContainerModel::rowCount() const
{
    return (m_lineFeedEnds.empty() ? 0 : m_lineFeedEnds.back()) + 1;
}

size_t ContainerModel::pieceAt(size_t offset) const
{
    return size_t(
        std::upper_bound(m_byteEnds.begin(), m_byteEnds.end(), offset) - m_byteEnds.begin());
}

size_t ContainerModel::rowStart(size_t row) const
{
    if (row == 0)
        return 0;
    if (row >= rowCount())
        return size();
    const auto index = size_t(std::lower_bound(m_lineFeedEnds.begin(), m_lineFeedEnds.end(), row)
        - m_lineFeedEnds.begin());
    const TextPiece &piece = m_pieces[index];
    const size_t n = row - lineFeedsBefore(index) - 1;
    return piece.source->afterLineFeedFrom(piece.start, n) - piece.start + pieceStart(index);
}

size_t ContainerModel::rowEnd(size_t row) const
{
    if (row + 1 >= rowCount())
        return size();
    const size_t lineFeed = rowStart(row + 1) - 1;
    if (lineFeed > rowStart(row) && byteAt(lineFeed - 1) == '\r')
        return lineFeed - 1;
    return lineFeed;
}

size_t ContainerModel::rowOf(size_t offset) const
{
    if (offset >= size())
        return rowCount() - 1;
    const size_t index = pieceAt(offset);
    const TextPiece &piece = m_pieces[index];
    return lineFeedsBefore(index)
        + piece.source->lineFeedsIn(piece.start, piece.start + offset - pieceStart(index));
}

char ContainerModel::byteAt(size_t offset) const
{
    const size_t index = pieceAt(offset);
    const TextPiece &piece = m_pieces.at(index);
    return piece.source->byteAt(piece.start + offset - pieceStart(index));
}

std::string ContainerModel::text(size_t from, size_t to) const
{
    return fragment(from, to).bytes();
}

TextFragment ContainerModel::fragment(size_t from, size_t to) const
{
    TextFragment taken;
    to = std::min(to, size());
    if (from >= to)
        return taken;
    taken.m_size = to - from;
    for (size_t index = pieceAt(from); index < m_pieces.size() && pieceStart(index) < to; ++index) {
        const size_t start = pieceStart(index);
        const TextPiece &piece = m_pieces[index];
        const size_t first = std::max(from, start) - start;
        const size_t last = std::min(to, start + piece.length) - start;
        taken.m_pieces.push_back(
            first == 0 && last == piece.length ? piece : slice(piece, first, last));
    }
    return taken;
}

TextPiece ContainerModel::appendTyped(std::string_view text)
{
    // A full source is left to the pieces that use it, and typing goes on in a
    // new one: growing it would copy everything typed and pasted so far,
    // which after a paste of megabytes is one slow key.
    if (!m_typed->hasRoomFor(text))
        m_typed = std::make_shared<TypedSource>();
    const size_t start = m_typed->append(text);
    return {m_typed, start, text.size(), m_typed->lineFeedsIn(start, start + text.size())};
}

void ContainerModel::replace(size_t from, size_t to, std::string_view text)
{
    // Typing on where the last character went, or deleting on from where the
    // last deletion was in the same direction, joins the step before, as
    // Backspace held down is undone at once in the text boxes people know.
    Run run = Run::None;
    if (!text.empty() && from == to)
        run = m_run == Run::Typing && from == m_joinAt ? Run::Typing : Run::None;
    else if (text.empty() && from < to && m_run >= Run::Deleting) {
        if (to == m_joinAt && m_run != Run::DeletingForward)
            run = Run::DeletingBackward;
        else if (from == m_joinAt && m_run != Run::DeletingBackward)
            run = Run::DeletingForward;
    }
    std::vector<TextPiece> inserted;
    if (!text.empty())
        inserted.push_back(appendTyped(text));
    if (run == Run::None || m_undo.empty())
        m_undo.emplace_back();
    replacePieces(from, to, std::move(inserted));
    if (run == Run::None)
        run = text.empty() ? Run::Deleting : Run::Typing;
    m_run = run;
    m_joinAt = text.empty() ? from : from + text.size();
}

void ContainerModel::replace(size_t from, size_t to, const TextFragment &fragment)
{
    m_undo.emplace_back();
    replacePieces(from, to, fragment.m_pieces);
    m_run = Run::None;
}

void ContainerModel::replacePieces(size_t from, size_t to, std::vector<TextPiece> middle)
{
    to = std::min(to, size());
    from = std::min(from, to);
    const size_t first = pieceAt(from);
    size_t last = to > from ? pieceAt(to - 1) + 1 : first;
    // An insertion inside a piece splits it.
    if (last == first && first < m_pieces.size() && pieceStart(first) < from)
        last = first + 1;

    Edit edit;
    edit.first = first;
    edit.from = from;
    edit.removedBytes = to - from;
    edit.removed.assign(
        m_pieces.begin() + std::ptrdiff_t(first), m_pieces.begin() + std::ptrdiff_t(last));
    for (const TextPiece &piece : middle)
        edit.insertedBytes += piece.length;
    if (last > first && pieceStart(first) < from)
        edit.inserted.push_back(slice(m_pieces[first], 0, from - pieceStart(first)));
    std::move(middle.begin(), middle.end(), std::back_inserter(edit.inserted));
    if (last > first) {
        const TextPiece &tail = m_pieces[last - 1];
        const size_t tailStart = pieceStart(last - 1);
        if (tailStart + tail.length > to)
            edit.inserted.push_back(slice(tail, to - tailStart, tail.length));
    }

    swapPieces(first, last - first, edit.inserted);
    m_undo.back().push_back(std::move(edit));
    std::vector<Step>().swap(m_redo);
}

void ContainerModel::swapPieces(size_t first, size_t count, const std::vector<TextPiece> &with)
{
    const auto at = m_pieces.begin() + std::ptrdiff_t(first);
    m_pieces.erase(at, at + std::ptrdiff_t(count));
    m_pieces.insert(m_pieces.begin() + std::ptrdiff_t(first), with.begin(), with.end());
    reindex();
}

void ContainerModel::reindex()
{
    m_utf16Ends.clear();
    m_byteEnds.resize(m_pieces.size());
    m_lineFeedEnds.resize(m_pieces.size());
    size_t bytes = 0;
    size_t lineFeeds = 0;
    for (size_t index = 0; index < m_pieces.size(); ++index) {
        bytes += m_pieces[index].length;
        lineFeeds += m_pieces[index].lineFeeds;
        m_byteEnds[index] = bytes;
        m_lineFeedEnds[index] = lineFeeds;
    }
}

ContainerModel::Change ContainerModel::spanOf(const Step &step, size_t Edit::*bytes)
{
    // A step is one stretch of text: a replacement typed on, or deletions
    // next to each other. Before it the stretch held every removed byte, after
    // it every inserted one.
    Change change {~size_t(0), 0};
    size_t total = 0;
    for (const Edit &edit : step) {
        change.from = std::min(change.from, edit.from);
        total += edit.*bytes;
    }
    change.to = change.from + total;
    return change;
}

ContainerModel::Change ContainerModel::undo()
{
    if (m_undo.empty())
        return {};
    Step step = std::move(m_undo.back());
    m_undo.pop_back();
    for (auto edit = step.rbegin(); edit != step.rend(); ++edit)
        swapPieces(edit->first, edit->inserted.size(), edit->removed);
    const Change change = spanOf(step, &Edit::removedBytes);
    m_redo.push_back(std::move(step));
    m_run = Run::None;
    return change;
}

ContainerModel::Change ContainerModel::redo()
{
    if (m_redo.empty())
        return {};
    Step step = std::move(m_redo.back());
    m_redo.pop_back();
    for (const Edit &edit : step)
        swapPieces(edit.first, edit.removed.size(), edit.inserted);
    const Change change = spanOf(step, &Edit::insertedBytes);
    m_undo.push_back(std::move(step));
    m_run = Run::None;
    return change;
}

size_t ContainerModel::utf16Offset(size_t offset) const
{
    if (m_utf16Ends.size() != m_pieces.size()) {
        m_utf16Ends.resize(m_pieces.size());
        size_t units = 0;
        for (size_t index = 0; index < m_pieces.size(); ++index) {
            const TextPiece &piece = m_pieces[index];
            units += piece.source->utf16Units(piece.start, piece.start + piece.length);
            m_utf16Ends[index] = units;
        }
    }
    offset = std::min(offset, size());
    const size_t index = pieceAt(offset);
    if (index == m_pieces.size())
        return m_utf16Ends.empty() ? 0 : m_utf16Ends.back();
    const TextPiece &piece = m_pieces[index];
    const size_t before = index == 0 ? 0 : m_utf16Ends[index - 1];
    return before + piece.source->utf16Units(piece.start, piece.start + offset - pieceStart(index));
}

size_t ContainerModel::offsetOfUtf16(size_t utf16) const
{
    utf16Offset(0);
    const auto index = size_t(
        std::upper_bound(m_utf16Ends.begin(), m_utf16Ends.end(), utf16) - m_utf16Ends.begin());
    if (index == m_pieces.size())
        return size();
    const TextPiece &piece = m_pieces[index];
    size_t units = index == 0 ? 0 : m_utf16Ends[index - 1];
    if (m_utf16Ends[index] - units == piece.length)
        return pieceStart(index) + utf16 - units;
    return pieceStart(index) + piece.source->offsetOfUtf16(piece.start, utf16 - units)
        - piece.start;
}
