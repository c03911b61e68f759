// SPDX-License-Identifier: GPL-3.0-or-later
// The part of the Container's text a screen reader is shown, counted as Qt counts it.
#pragma once

#include <cstddef>

class ContainerModel;

// A screen reader counts a text in int UTF-16 offsets, and fetches the whole
// selected text on each change of the selection (Orca does, after Ctrl+A or
// Shift+Up): a reply of millions of rows freezes the window for seconds and
// passes D-Bus's message limit, which drops the program from the
// accessibility bus. So a reader is never shown more than Reply units.
//
// A text of at most Reply units is shown whole, its offsets its own. A larger
// one is shown as a window of whole rows around the caret, made about half of
// Reply long (a row longer than that is cut at characters), and offsets count
// from the window's start. The window stays where it is while the caret moves
// and types inside it, growing with what is typed, and is made again around
// the caret when the caret leaves it, when an edit begins before it or when
// it grows past Reply. Its end counts as outside unless the text ends there,
// so that the caret's row is always whole in it: Down, Right or Page Down off
// its last row read the next row, never an empty one. Each time it is made
// again, the offsets a reader holds mean other text, so the view tells the
// reader that its text was replaced.
class ReaderWindow
{
public:
    // About 25 ms for a reader to fetch (the 1 MiB a Container of 20-character
    // rows shows as some 52,000 rows), far below D-Bus's 128 MiB.
    static constexpr size_t Reply = size_t(1) << 20;

    explicit ReaderWindow(const ContainerModel &model);

    const ContainerModel &model() const { return m_model; }
    // The window's bytes, from..to, on whole characters.
    size_t from() const { return m_from; }
    size_t to() const { return m_to; }
    // The window is the whole text.
    bool whole() const { return m_whole; }

    // After the bytes from..from+removed became inserted bytes, or with
    // neither, after the text from `from` on changed as a whole (an undo);
    // follow() comes next.
    void edited(size_t from, size_t removed, size_t inserted);
    // Keeps the window around the caret, as the text stands now. True when
    // it was made again, or the whole text became a window or the other way.
    bool follow(size_t caret);

    // An offset of the text, clamped into the window, counted from its start.
    int toUtf16(size_t offset) const;
    // Counted from the window's start; a negative offset is the window's end.
    size_t fromUtf16(int units) const;
    int length() const { return toUtf16(m_to); }

private:
    friend class ReaderWindowForTests;

    void makeAround(size_t caret);

    const ContainerModel &m_model;
    // Reply, unless a test lowers it to reach a window with a small text.
    size_t m_reply = Reply;
    bool m_whole = true;
    bool m_valid = false;
    size_t m_from = 0;
    size_t m_to = 0;
};
