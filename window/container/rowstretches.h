// SPDX-License-Identifier: GPL-3.0-or-later
// What the Container needs to draw a row of any length quickly: the widths of
// characters, the pictures it draws for control characters, and long rows cut
// into stretches whose places on screen are known without laying them out.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QString>

#include <array>
#include <cstddef>
#include <vector>

class ContainerModel;

// Codes 0 to 31, DEL and 128 to 159 have no glyph of their own in most fonts,
// and the fonts that have the Unicode control pictures are rarely installed:
// the Container draws each as a small framed abbreviation (NUL, CR, DEL) or,
// for 128 to 159, its hex value.
bool isPictured(char32_t code);
QString pictureText(char32_t code);
// The font the abbreviations are written in: the text's, smaller.
QFont pictureFont(const QFont &textFont);

// The advance of each character in a font, as the layout places it when
// nothing is kerned; control characters take their picture's width.
class CharWidths
{
public:
    explicit CharWidths(const QFont &font);

    qreal of(char32_t code) const { return code < 128 ? m_ascii[code] : ofOther(code); }
    qreal pictureWidth(char32_t code) const;

private:
    qreal ofOther(char32_t code) const;

    QFontMetricsF m_metrics;
    QFontMetricsF m_pictureMetrics;
    std::array<qreal, 128> m_ascii {};
    mutable QHash<char32_t, qreal> m_others;
};

// A row longer than a couple of kilobytes, cut into stretches at character
// boundaries. Each stretch is laid out on its own where it begins; the view
// lays out only those in sight. Building the index reads the row once (about
// a millisecond a megabyte); an edit inside the row measures only the
// stretches it touched, and finding a stretch by offset or by x is a binary
// search.
class RowStretches
{
public:
    // A stretch of a row: bytes from..to of the model, starting x pixels
    // from the row's start.
    struct Stretch
    {
        size_t from = 0;
        size_t to = 0;
        qreal x = 0;
    };

    // Rows up to this many bytes are laid out whole.
    static constexpr size_t Bytes = 2048;

    RowStretches(const ContainerModel &model, size_t from, size_t to, const CharWidths &widths);

    size_t from() const { return m_from; }
    size_t to() const { return m_from + m_ends.back(); }
    size_t count() const { return m_ends.size(); }
    Stretch at(size_t index) const;
    // The stretch that holds the byte at offset; the last one for the row's end.
    size_t indexOf(size_t offset) const;
    // The stretch under x, counted from the row's start.
    size_t indexAtX(qreal x) const;
    qreal width() const { return m_xEnds.back(); }

    // Bytes from..from+removed of this row were replaced by inserted bytes,
    // with no line feed among either.
    void edited(const ContainerModel &model, size_t from, size_t removed, size_t inserted,
        const CharWidths &widths);
    // The row moved by delta bytes, untouched.
    void moved(std::ptrdiff_t delta) { m_from = size_t(std::ptrdiff_t(m_from) + delta); }

private:
    // Cuts from..to into stretches, appending their ends (from the row's
    // start) and widths.
    void measure(const ContainerModel &model, size_t from, size_t to, const CharWidths &widths,
        std::vector<size_t> &ends, std::vector<qreal> &widthsOut) const;
    void sumUp();

    size_t m_from = 0;
    std::vector<size_t> m_ends;
    std::vector<qreal> m_widths;
    std::vector<qreal> m_xEnds;
};
