// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's text: a run's lines, made on demand and never copied, with
// the user's edits kept apart from them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class RunLines;

// Bytes that never change where they are, and what lies before any offset.
class TextSource;
class TypedSource;

// A stretch of one source.
struct TextPiece
{
    std::shared_ptr<const TextSource> source;
    size_t start = 0;
    size_t length = 0;
    size_t lineFeeds = 0;
};

// A part of the text as it was when taken: it stays valid, and costs nothing
// proportional to its length, whatever happens to the model afterwards.
class TextFragment
{
public:
    size_t size() const { return m_size; }
    std::string bytes() const;
    // Calls visit with the fragment's bytes, a stretch of at most a few
    // megabytes at a time.
    template<typename Visit>
    void forEachChunk(Visit visit) const;

private:
    friend class ContainerModel;
    std::vector<TextPiece> m_pieces;
    size_t m_size = 0;
};

// UTF-8 text as a table of pieces: every edit and every look-up costs the number
// of pieces (a few per edit), never the length of the text. Rows end at line
// feeds; a carriage return before a line feed belongs to the row's break.
// Offsets and rows are 64-bit: a run's text may hold 2^48 rows.
class ContainerModel
{
public:
    ContainerModel();

    // Shows the run's lines as they are; the history of edits is dropped.
    void setLines(std::shared_ptr<const RunLines> lines);
    // Empties the text and gives back everything it held.
    void clear();

    size_t size() const { return m_byteEnds.empty() ? 0 : m_byteEnds.back(); }
    size_t rowCount() const;
    size_t rowStart(size_t row) const;
    // The end of the row's text, before its carriage return and line feed.
    size_t rowEnd(size_t row) const;
    size_t rowOf(size_t offset) const;
    char byteAt(size_t offset) const;
    std::string text(size_t from, size_t to) const;
    std::string rowText(size_t row) const { return text(rowStart(row), rowEnd(row)); }

    TextFragment fragment(size_t from, size_t to) const;

    // Offsets as counted in UTF-16 code units, for those who count so
    // (accessibility). Exact, and cheap while the text is ASCII.
    size_t utf16Offset(size_t offset) const;
    size_t offsetOfUtf16(size_t utf16) const;

    // Replaces the bytes from..to with text, or with a fragment taken earlier.
    // A replacement that continues the one before it (typing on, or deleting
    // on in the same direction) joins its undo step, unless the step was
    // closed with closeUndoStep().
    void replace(size_t from, size_t to, std::string_view text);
    void replace(size_t from, size_t to, const TextFragment &fragment);
    void closeUndoStep() { m_run = Run::None; }

    // What an undo or redo changed: the text from..to now stands where the
    // text it replaced stood.
    struct Change
    {
        size_t from = 0;
        size_t to = 0;
    };
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    Change undo();
    Change redo();

private:
    // One replacement: the pieces from index `first` on were `removed` and are `inserted`.
    struct Edit
    {
        size_t first = 0;
        std::vector<TextPiece> removed;
        std::vector<TextPiece> inserted;
        size_t from = 0;
        size_t removedBytes = 0;
        size_t insertedBytes = 0;
    };
    using Step = std::vector<Edit>;
    // What the open undo step is a run of; deletions take their direction
    // from the second one.
    enum class Run { None, Typing, Deleting, DeletingBackward, DeletingForward };

    static Change spanOf(const Step &step, size_t Edit::*bytes);

    size_t pieceAt(size_t offset) const;
    size_t pieceStart(size_t index) const { return index == 0 ? 0 : m_byteEnds[index - 1]; }
    size_t lineFeedsBefore(size_t index) const
    {
        return index == 0 ? 0 : m_lineFeedEnds[index - 1];
    }
    void replacePieces(size_t from, size_t to, std::vector<TextPiece> middle);
    void swapPieces(size_t first, size_t count, const std::vector<TextPiece> &with);
    void reindex();
    TextPiece appendTyped(std::string_view text);

    std::vector<TextPiece> m_pieces;
    std::vector<size_t> m_byteEnds;
    std::vector<size_t> m_lineFeedEnds;
    // Filled on first use after each edit.
    mutable std::vector<size_t> m_utf16Ends;
    std::shared_ptr<TypedSource> m_typed;
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    Run m_run = Run::None;
    size_t m_joinAt = 0;
};

class TextSource
{
public:
    virtual ~TextSource() = default;
    virtual void copy(size_t from, size_t to, char *out) const = 0;
    virtual char byteAt(size_t offset) const = 0;
    // The line feeds: how many there are, how many lie before an offset, and
    // the offset just after the index-th (from 0).
    virtual size_t lineFeedCount() const = 0;
    virtual size_t lineFeedsBefore(size_t offset) const = 0;
    virtual size_t afterLineFeed(size_t index) const = 0;
    // UTF-16 code units in from..to, which start and end on whole characters,
    // and the offset of the character that starts units after from.
    virtual size_t utf16Units(size_t from, size_t to) const = 0;
    virtual size_t offsetOfUtf16(size_t from, size_t units) const = 0;

    size_t lineFeedsIn(size_t from, size_t to) const
    {
        return lineFeedsBefore(to) - lineFeedsBefore(from);
    }
    // The offset after the n-th line feed at or after from (n counts from 0).
    size_t afterLineFeedFrom(size_t from, size_t n) const
    {
        return afterLineFeed(lineFeedsBefore(from) + n);
    }
};

template<typename Visit>
void TextFragment::forEachChunk(Visit visit) const
{
    constexpr size_t ChunkBytes = size_t(4) << 20;
    std::string chunk;
    for (const TextPiece &piece : m_pieces) {
        for (size_t done = 0; done < piece.length; done += chunk.size()) {
            chunk.resize(std::min(ChunkBytes, piece.length - done));
            piece.source->copy(piece.start + done, piece.start + done + chunk.size(), chunk.data());
            visit(std::string_view(chunk));
        }
    }
}
