// SPDX-License-Identifier: GPL-3.0-or-later
// Rows laid out a stretch at a time, so that a row of any length is shown,
// measured and edited at the cost of the part in view.
#pragma once

#include "rowlayout.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class ContainerModel;

// One row, laid out as it is shown. A row of up to WholeBytes is one piece,
// laid out whole as QPlainTextEdit lays out a block. A longer one is cut into
// stretches of about StretchBytes where they are first needed, each ending on
// a grapheme boundary, between two characters of the row's own direction
// where there is one within 64 bytes, so that runs of the other direction
// stay whole (a longer run is cut, and its pieces stand in the row's order).
// Each is laid out with its neighbours' ContextBytes around it
// (StretchLayout) and placed by its shaped width.
//
// Units: offsets are the model's bytes, 64-bit; x is in pixels from the row's
// left end as drawn: the row's first character is at the left, or at the
// right in a right-to-left row. x is a qreal, exact to the pixel up to 2^53.
// Until a stretch is laid out its bytes count at the row's estimated width
// per byte (the unshaped widths of its first 512 bytes); laying one out moves
// only what follows it in reading order, by the estimate's error.
// Cost: making a row reads its first 512 bytes, and up to 64 KiB for its
// direction when those have no letter; finding a stretch by offset or by x
// is a binary search; an edit lays out again only the stretches it touched;
// at most KeptLayouts layouts are kept per row.
class RowStretches
{
public:
    static constexpr size_t WholeBytes = 2048;
    static constexpr size_t StretchBytes = 256;
    static constexpr size_t ContextBytes = 32;
    static constexpr size_t KeptLayouts = 8;

    // A stretch laid out, where it stands: the model's offset of its
    // layout's first byte, and the x of its left edge in the row.
    struct Placed
    {
        std::shared_ptr<const StretchLayout> layout;
        qreal x = 0;
        size_t textFrom = 0;

        size_t from() const { return textFrom + layout->from(); }
        size_t to() const { return textFrom + layout->to(); }
        // The layout's offset of a model offset; beyond its text at either end, the end.
        size_t local(size_t offset) const { return offset - std::min(offset, textFrom); }
        qreal xOf(size_t offset) const { return x + layout->xOf(local(offset)); }
        size_t offsetAt(qreal rowX) const { return textFrom + layout->offsetAt(rowX - x); }
    };

    RowStretches(const ContainerModel &model, const RowStyle &style, size_t from, size_t to);
    // The row from..to as an edit left it, keeping what is still good of
    // the rows it came from: head's stretches that end before keepBefore and
    // tail's that start after keepAfter, which the edit moved by shift bytes.
    // Either may be null.
    RowStretches(const ContainerModel &model, const RowStyle &style, size_t from, size_t to,
        const RowStretches *head, size_t keepBefore, const RowStretches *tail, size_t keepAfter,
        std::ptrdiff_t shift);

    size_t from() const { return m_from; }
    size_t to() const { return m_to; }
    bool rightToLeft() const { return m_direction == Qt::RightToLeft; }
    // Laid out and estimated.
    qreal width() const { return m_xEnds.back(); }
    // Stretches laid out so far, of count().
    size_t laidOut() const;
    size_t count() const { return m_entries.size(); }

    // The row moved by delta bytes, untouched.
    void moved(std::ptrdiff_t delta);

    // The stretch that holds offset (the last one for the row's end), laid
    // out when it was not.
    Placed holding(size_t offset);
    // The stretch under x, laid out when it was not.
    Placed atX(qreal x);
    // Lays out every stretch from x = left to x = right.
    void layOutBetween(qreal left, qreal right);
    // The stretches laid out from left to right, left to right; lays nothing
    // out for good, and leaves out what layOutBetween has not measured.
    std::vector<Placed> laidOutBetween(qreal left, qreal right) const;

private:
    struct Entry
    {
        size_t length = 0;
        qreal width = 0;
        bool measured = false;
        std::shared_ptr<const StretchLayout> layout;
        std::uint64_t used = 0;
    };

    void init();
    size_t startOf(size_t index) const { return index == 0 ? 0 : m_byteEnds[index - 1]; }
    size_t indexOf(size_t relative) const;
    size_t indexAtX(qreal x) const;
    qreal xOfIndex(size_t index) const;
    // Lays out the stretch that holds the offset, cutting it out of the
    // bytes not laid out yet: its index.
    size_t measure(size_t relative);
    void cut(size_t index, size_t relative);
    // The best place at or before near, after low, to end a stretch.
    size_t joinBefore(size_t near, size_t low) const;
    std::shared_ptr<const StretchLayout> layOut(size_t start, size_t end) const;
    const std::shared_ptr<const StretchLayout> &layoutOf(size_t index);
    Placed placed(size_t index);
    void merge();
    void sumUp();
    void forgetLayouts();

    const ContainerModel *m_model;
    const RowStyle *m_style;
    size_t m_from;
    size_t m_to;
    Qt::LayoutDirection m_direction = Qt::LeftToRight;
    qreal m_perByte = 1;
    std::vector<Entry> m_entries;
    // Where each entry ends, in bytes from the row's start and in pixels from
    // its first character, in reading order.
    std::vector<size_t> m_byteEnds;
    std::vector<qreal> m_xEnds;
    std::uint64_t m_clock = 0;
    size_t m_layouts = 0;
};

// The rows laid out lately, those in view and the caret's among them, kept in
// step with the text's edits.
class LaidOutRows
{
public:
    explicit LaidOutRows(const ContainerModel &model, const QFont &font);

    // Forgets every row.
    void setFont(const QFont &font);
    const RowStyle &style() const { return *m_style; }
    void clear() { m_rows.clear(); }

    RowStretches &stretches(size_t row);
    const RowStretches *find(size_t row) const;

    // Bytes from..from+removed, which held lineFeedsRemoved line feeds, are
    // now inserted bytes holding lineFeedsInserted.
    void edited(size_t from, size_t removed, size_t inserted, size_t lineFeedsRemoved,
        size_t lineFeedsInserted);
    // Forgets the rows far from first..last, but for keep.
    void keepNear(size_t first, size_t last, size_t keep);

private:
    const ContainerModel &m_model;
    std::unique_ptr<RowStyle> m_style;
    std::map<size_t, RowStretches> m_rows;
};
