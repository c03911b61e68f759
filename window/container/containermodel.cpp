// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's piece table.
#include "containermodel.h"

#include "runlines.h"
#include "utf8.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

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

} // namespace

// What the user typed or pasted, only ever added to, so that pieces and
// fragments that point into it stay true. Its UTF-16 units are summed per
// block of bytes, so that a piece of a paste of any size is measured in
// microseconds.
class TypedSource final : public TextSource
{
public:
    // Room for a stretch of typing, or for one text of its own.
    explicit TypedSource(size_t capacity = size_t(64) << 10)
        : m_capacity(capacity)
    { }

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
        return utf16Before(to) - utf16Before(from);
    }
    size_t offsetOfUtf16(size_t from, size_t units) const override
    {
        if (m_ascii)
            return from + std::min(units, m_bytes.size() - from);
        // The first character that starts at or after the units wanted, from
        // the block they fall in.
        const size_t wanted = utf16Before(from) + units;
        const auto block = size_t(std::upper_bound(m_blockUnits.begin(), m_blockUnits.end(), wanted)
            - m_blockUnits.begin() - 1);
        size_t at = std::max(from, block * BlockBytes);
        size_t counted = utf16Before(at);
        for (; at < m_bytes.size(); ++at) {
            if (isUtf8Continuation(m_bytes[at]))
                continue;
            if (counted >= wanted)
                return at;
            counted += ::utf16Units(std::string_view(&m_bytes[at], 1));
        }
        return m_bytes.size();
    }

    // Whether text fits without moving the bytes already typed.
    bool hasRoomFor(std::string_view text) const
    {
        return m_bytes.empty() || m_bytes.capacity() - m_bytes.size() >= text.size();
    }

    size_t append(std::string_view text)
    {
        if (m_bytes.empty())
            m_bytes.reserve(std::max(m_capacity, text.size()));
        const size_t start = m_bytes.size();
        m_bytes.append(text);
        for (size_t after : indexLineFeeds(text))
            m_afterLineFeeds.push_back(start + after);
        m_ascii = m_ascii && ::utf16Units(text) == text.size();
        // Each block that the text completes gets the units before its end.
        for (size_t at = start; at < m_bytes.size();) {
            const size_t blockEnd = (at / BlockBytes + 1) * BlockBytes;
            const size_t end = std::min(blockEnd, m_bytes.size());
            m_units += ::utf16Units(std::string_view(m_bytes).substr(at, end - at));
            if (end == blockEnd)
                m_blockUnits.push_back(m_units);
            at = end;
        }
        return start;
    }

private:
    static constexpr size_t BlockBytes = 4096;

    size_t utf16Before(size_t offset) const
    {
        if (m_ascii)
            return offset;
        const size_t block = offset / BlockBytes;
        return m_blockUnits[block]
            + ::utf16Units(
                std::string_view(m_bytes).substr(block * BlockBytes, offset % BlockBytes));
    }

    size_t m_capacity;
    std::string m_bytes;
    std::vector<size_t> m_afterLineFeeds;
    bool m_ascii = true;
    // The units before each block's first byte, and in all the bytes.
    std::vector<size_t> m_blockUnits {0};
    size_t m_units = 0;
};

std::string TextFragment::bytes() const
{
    std::string out;
    out.reserve(size());
    forEachChunk([&out](std::string_view chunk) { out.append(chunk); });
    return out;
}

TextFragment TextFragment::standalone() const
{
    TextFragment own;
    if (size() == 0)
        return own;
    auto source = std::make_shared<TypedSource>(size());
    source->append(bytes());
    own.m_pieces = PieceTree::piece(std::move(source), 0, size());
    return own;
}

void TextFragment::append(const TextFragment &other)
{
    m_pieces = PieceTree::join(std::move(m_pieces), other.m_pieces);
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
    m_text = PieceTree::piece(std::make_shared<RunSource>(std::move(lines)), 0, bytes);
}

void ContainerModel::clear()
{
    m_text = PieceTree();
    // Swapped with empty ones so that their memory goes back, not just their size.
    std::vector<Step>().swap(m_undo);
    std::vector<Step>().swap(m_redo);
    m_typed = std::make_shared<TypedSource>();
    m_run = Run::None;
}

size_t ContainerModel::rowStart(size_t row) const
{
    if (row == 0)
        return 0;
    if (row >= rowCount())
        return size();
    const PieceTree::Found piece = m_text.atLineFeed(row - 1);
    const size_t n = row - 1 - piece.before.lineFeeds;
    return piece.before.bytes + piece.source->afterLineFeedFrom(piece.start, n) - piece.start;
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
    const PieceTree::Found piece = m_text.atByte(offset);
    return piece.before.lineFeeds
        + piece.source->lineFeedsIn(piece.start, piece.start + offset - piece.before.bytes);
}

char ContainerModel::byteAt(size_t offset) const
{
    if (offset >= size())
        throw std::out_of_range("ContainerModel::byteAt");
    const PieceTree::Found piece = m_text.atByte(offset);
    return piece.source->byteAt(piece.start + offset - piece.before.bytes);
}

std::string ContainerModel::text(size_t from, size_t to) const
{
    to = std::min(to, size());
    std::string out;
    if (from >= to)
        return out;
    out.resize(to - from);
    char *at = out.data();
    m_text.forEachPiece(from, to, [&at](const TextSource &source, size_t start, size_t length) {
        source.copy(start, start + length, at);
        at += length;
    });
    return out;
}

TextFragment ContainerModel::fragment(size_t from, size_t to) const
{
    TextFragment taken;
    taken.m_pieces = m_text.range(from, to);
    return taken;
}

PieceTree ContainerModel::splice(size_t from, size_t to, PieceTree inserted)
{
    std::pair<PieceTree, PieceTree> head = PieceTree::split(std::move(m_text), from);
    std::pair<PieceTree, PieceTree> cut = PieceTree::split(std::move(head.second), to - from);
    m_text = PieceTree::join(
        PieceTree::join(std::move(head.first), std::move(inserted)), std::move(cut.second));
    return std::move(cut.first);
}

void ContainerModel::replace(size_t from, size_t to, std::string_view text)
{
    to = std::min(to, size());
    from = std::min(from, to);
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

    PieceTree removed;
    if (!text.empty()) {
        // A full source is left to the pieces that use it, and typing goes on
        // in a new one: growing it would copy everything typed and pasted so
        // far, which after a paste of megabytes is one slow key.
        if (!m_typed->hasRoomFor(text))
            m_typed = std::make_shared<TypedSource>();
        const size_t start = m_typed->append(text);
        const PieceSums added = PieceTree::sumsOf(*m_typed, start, text.size());
        if (from < to || !m_text.lengthen(from, m_typed.get(), start, added))
            removed = splice(from, to, PieceTree::piece(m_typed, start, text.size()));
    } else {
        removed = splice(from, to, {});
    }

    if (run == Run::None || m_undo.empty()) {
        m_undo.push_back({from, std::move(removed), text.size()});
    } else {
        Step &step = m_undo.back();
        step.length += text.size();
        if (run == Run::DeletingBackward) {
            step.from = from;
            step.replaced = PieceTree::join(std::move(removed), std::move(step.replaced));
        } else if (run == Run::DeletingForward) {
            step.replaced = PieceTree::join(std::move(step.replaced), std::move(removed));
        }
    }
    std::vector<Step>().swap(m_redo);
    if (run == Run::None)
        run = text.empty() ? Run::Deleting : Run::Typing;
    m_run = run;
    m_joinAt = text.empty() ? from : from + text.size();
}

void ContainerModel::replace(size_t from, size_t to, const TextFragment &fragment)
{
    to = std::min(to, size());
    from = std::min(from, to);
    m_undo.push_back({from, splice(from, to, fragment.m_pieces), fragment.size()});
    std::vector<Step>().swap(m_redo);
    m_run = Run::None;
}

ContainerModel::Change ContainerModel::apply(std::vector<Step> &steps, std::vector<Step> &reversed)
{
    Step step = std::move(steps.back());
    steps.pop_back();
    const size_t length = step.replaced.size();
    PieceTree removed = splice(step.from, step.from + step.length, std::move(step.replaced));
    reversed.push_back({step.from, std::move(removed), length});
    m_run = Run::None;
    return {step.from, step.from + length};
}

ContainerModel::Change ContainerModel::undo()
{
    if (m_undo.empty())
        return {};
    return apply(m_undo, m_redo);
}

ContainerModel::Change ContainerModel::redo()
{
    if (m_redo.empty())
        return {};
    return apply(m_redo, m_undo);
}

size_t ContainerModel::utf16Offset(size_t offset) const
{
    if (offset >= size())
        return m_text.sums().utf16;
    const PieceTree::Found piece = m_text.atByte(offset);
    return piece.before.utf16
        + piece.source->utf16Units(piece.start, piece.start + offset - piece.before.bytes);
}

size_t ContainerModel::offsetOfUtf16(size_t utf16) const
{
    if (utf16 >= m_text.sums().utf16)
        return size();
    const PieceTree::Found piece = m_text.atUtf16(utf16);
    const size_t units = utf16 - piece.before.utf16;
    // A piece with as many units as bytes is ASCII.
    if (piece.sums.utf16 == piece.sums.bytes)
        return piece.before.bytes + units;
    return piece.before.bytes + piece.source->offsetOfUtf16(piece.start, units) - piece.start;
}
