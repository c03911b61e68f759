// SPDX-License-Identifier: GPL-3.0-or-later
// How the Container lays out and draws a piece of a row: the pictures of
// control characters, one QTextLayout of the piece, and the caret's steps.
#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QString>
#include <QTextCharFormat>
#include <QTextLayout>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class ContainerModel;
class QPainter;

// Codes 0 to 31, DEL and 128 to 159 have no glyph of their own in most fonts,
// and the fonts that have the Unicode control pictures are rarely installed:
// the Container draws each as a small framed abbreviation (NUL, CR, DEL) or,
// for 128 to 159, its hex value.
bool isPictured(char32_t code);
QString pictureText(char32_t code);
// The font the abbreviations are written in: the text's, smaller.
QFont pictureFont(const QFont &textFont);

// The advance of each character in a font, as the layout places it when
// nothing is kerned; control characters take their picture's width. Good
// for estimates: what is drawn is shaped.
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

// What every piece of every row is laid out in.
struct RowStyle
{
    explicit RowStyle(const QFont &textFont);

    QFont font;
    QFontMetricsF metrics;
    CharWidths widths;
};

// How a piece is drawn: the selection (the piece's offsets), the colours,
// and the baseline, in pixels from the row's top.
struct PieceDrawing
{
    size_t selectionFrom = 0;
    size_t selectionTo = 0;
    QTextCharFormat selected;
    QColor text;
    QColor selectedText;
    qreal baseline = 0;
};

// Text an input method is composing, shown at the caret and not yet in the text.
struct Preedit
{
    size_t at = 0;
    QString text;
    // The input method's own formats (underlines, its selection), counted
    // in text.
    QList<QTextLayout::FormatRange> formats;
};

// A piece of a row laid out on its own: a whole row, or a stretch of a long
// one laid out with a few of its neighbours' characters on either side. The
// neighbours give the stretch's ends the kerning, Arabic joining and shapes
// they have in the whole row; they are never hit, and only drawn where they
// overhang into the stretch, so stretches side by side read as one layout.
// Offsets are bytes of the text laid out, which the piece's place in the
// model turns into the model's (RowStretches::Placed); x is in pixels from
// the piece's left edge. A piece so kept whatever edits move it.
class StretchLayout
{
public:
    // The piece is from..to of text, on character boundaries. Auto direction
    // is for whole rows.
    StretchLayout(const RowStyle &style, std::string text, size_t from, size_t to,
        Qt::LayoutDirection direction, const Preedit &preedit = {});

    size_t from() const { return m_from; }
    size_t to() const { return m_to; }
    std::string_view bytes() const;
    qreal width() const { return m_width; }
    // Where the caret stands before the character at offset (from..to).
    qreal xOf(size_t offset) const;
    // The caret place nearest x, within the piece.
    size_t offsetAt(qreal x) const;

    // The same piece with the text an input method composes at the caret.
    std::shared_ptr<const StretchLayout> composing(
        const RowStyle &style, const Preedit &preedit) const;

    // Draws the piece with its left edge at left, the row's top at top.
    void draw(QPainter &painter, const RowStyle &style, QPointF topLeft,
        const PieceDrawing &drawing) const;
    // The caret before offset, moved on by the preedit's own caret.
    void drawCaret(QPainter &painter, QPointF topLeft, size_t offset, int preeditColumns, int width,
        qreal baseline) const;

private:
    int columnOf(size_t offset) const;
    QPointF layoutAt(QPointF topLeft, qreal baseline) const;
    void drawPictures(
        QPainter &painter, const RowStyle &style, QPointF at, const PieceDrawing &drawing) const;

    std::string m_text;
    size_t m_from = 0;
    size_t m_to = 0;
    int m_fromColumn = 0;
    int m_toColumn = 0;
    // The layout's x of the piece's left edge.
    qreal m_origin = 0;
    qreal m_width = 0;
    Qt::LayoutDirection m_direction;
    // Neighbours are laid out beside the piece on these sides.
    bool m_clipLeft = false;
    bool m_clipRight = false;
    QTextLayout m_layout;
};

// Where the caret goes from offset with Left or Right (a grapheme), or with
// Ctrl (a word), as QTextLayout moves it over the whole row: the row's text
// around offset is read in a window that grows until the step ends inside
// it, or has read MaxStepBytes.
constexpr size_t MaxStepBytes = size_t(1) << 18;
size_t cursorStep(const ContainerModel &model, size_t rowStart, size_t rowEnd, size_t from,
    bool forward, QTextLayout::CursorMode mode);
