// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's text: a run's lines, made on demand and never copied, with
// the user's edits kept apart from them.
#pragma once

#include "piecetree.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class RunLines;
class TypedSource;

// A part of the text as it was when taken: it stays valid, and costs nothing
// proportional to its length, whatever happens to the model afterwards.
class TextFragment
{
public:
    size_t size() const { return m_pieces.size(); }
    std::string bytes() const;
    // The same text in bytes of its own, which keeps nothing of the text it
    // was taken from: what a small copy of a run's lines should hold, rather
    // than the run's counters' texts.
    TextFragment standalone() const;
    // Adds another fragment's text after this one's, as pieces.
    void append(const TextFragment &other);
    // Calls visit with the fragment's bytes, a stretch of at most a few
    // megabytes at a time.
    template<typename Visit>
    void forEachChunk(Visit visit) const;

private:
    friend class ContainerModel;
    PieceTree m_pieces;
};

// UTF-8 text as a table of pieces, kept in a balanced tree (piecetree.h):
// every edit, undo, redo and look-up costs O(log n) in the pieces, never the
// length of the text nor the number of edits before it. Typing on where the
// last typed text ended lengthens its piece, and a paste of a copied range
// shares that range's pieces. Rows end at line feeds; a carriage return
// before a line feed belongs to the row's break. Offsets and rows are 64-bit:
// a run's text may hold 2^48 rows.
class ContainerModel
{
public:
    ContainerModel();

    // Shows the run's lines as they are; the history of edits is dropped.
    void setLines(std::shared_ptr<const RunLines> lines);
    // Empties the text and gives back everything it held.
    void clear();

    size_t size() const { return m_text.size(); }
    size_t rowCount() const { return m_text.sums().lineFeeds + 1; }
    size_t rowStart(size_t row) const;
    // The end of the row's text, before its carriage return and line feed.
    size_t rowEnd(size_t row) const;
    size_t rowOf(size_t offset) const;
    char byteAt(size_t offset) const;
    std::string text(size_t from, size_t to) const;
    std::string rowText(size_t row) const { return text(rowStart(row), rowEnd(row)); }

    TextFragment fragment(size_t from, size_t to) const;

    // Offsets as counted in UTF-16 code units, for those who count so
    // (accessibility). Exact, at the cost of any other look-up.
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
    friend class ContainerModelForTests;

    // One undo or redo step: puts `replaced` back where `length` bytes from
    // `from` now stand.
    struct Step
    {
        size_t from = 0;
        PieceTree replaced;
        size_t length = 0;
    };
    // What the open undo step is a run of; deletions take their direction
    // from the second one.
    enum class Run { None, Typing, Deleting, DeletingBackward, DeletingForward };

    // Puts inserted in place of from..to and gives back what stood there.
    PieceTree splice(size_t from, size_t to, PieceTree inserted);
    // Takes the last step of steps, and keeps its reverse in reversed.
    Change apply(std::vector<Step> &steps, std::vector<Step> &reversed);

    PieceTree m_text;
    std::shared_ptr<TypedSource> m_typed;
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    Run m_run = Run::None;
    size_t m_joinAt = 0;
};

template<typename Visit>
void TextFragment::forEachChunk(Visit visit) const
{
    constexpr size_t ChunkBytes = size_t(4) << 20;
    std::string chunk;
    m_pieces.forEachPiece(
        0, m_pieces.size(), [&](const TextSource &source, size_t start, size_t length) {
            for (size_t done = 0; done < length; done += chunk.size()) {
                chunk.resize(std::min(ChunkBytes, length - done));
                source.copy(start + done, start + done + chunk.size(), chunk.data());
                visit(std::string_view(chunk));
            }
        });
}
