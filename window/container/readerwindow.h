// SPDX-License-Identifier: GPL-3.0-or-later
// The part of the Container's text a screen reader is shown, counted as Qt counts it.
#pragma once

#include <climits>
#include <cstddef>

class ContainerModel;

// Qt's accessibility counts a text in int UTF-16 offsets. While the whole
// text fits in them (wholeUnits), a screen reader is shown all of it and the
// offsets are the text's own. Beyond, it is shown a window of whole rows
// around the caret, about spanUnits long (a row longer than that is cut at
// characters), and offsets count from the window's start: the window stays
// where it is while the caret moves and types inside it, and is made again
// around the caret when the caret leaves it or an edit begins before it.
// Each time it is made again, the offsets a reader holds mean other text, so
// the view tells the reader that its text was replaced.
class ReaderWindow
{
public:
    static constexpr size_t Span = size_t(1) << 20;

    explicit ReaderWindow(const ContainerModel &model);

    // Tests lower these to reach a window with small texts.
    size_t wholeUnits = INT_MAX;
    size_t spanUnits = Span;

    const ContainerModel &model() const { return m_model; }
    // The window's bytes, from..to, on whole characters.
    size_t from() const { return m_from; }
    size_t to() const { return m_to; }

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
    void makeAround(size_t caret);

    const ContainerModel &m_model;
    bool m_whole = true;
    bool m_valid = false;
    size_t m_from = 0;
    size_t m_to = 0;
};
