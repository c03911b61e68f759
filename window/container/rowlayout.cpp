// SPDX-License-Identifier: GPL-3.0-or-later
// Control pictures, one piece of a row laid out and drawn, and caret steps.
#include "rowlayout.h"

#include "containermodel.h"
#include "utf8.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Room inside a picture's frame, and between it and its neighbours.
constexpr qreal PicturePadding = 2;
constexpr qreal PictureMargin = 1;
// Wide enough for any row a layout is asked to hold.
constexpr qreal LineWidth = 1e7;

// Characters drawn as pictures are laid out as spaces that the picture
// covers, one for one, so columns stay the text's own.
QString visible(QString text)
{
    for (QChar &character : text) {
        if (isPictured(character.unicode()))
            character = QLatin1Char(' ');
    }
    return text;
}

int columnIn(std::string_view text, size_t bytes)
{
    return int(utf16Units(text.substr(0, bytes)));
}

} // namespace

bool isPictured(char32_t code)
{
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

QString pictureText(char32_t code)
{
    static const char *const names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
        "BS", "HT", "LF", "VT", "FF", "CR", "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US"};
    if (code < 0x20)
        return QLatin1String(names[code]);
    if (code == 0x7F)
        return QStringLiteral("DEL");
    return QString::number(uint(code), 16).toUpper();
}

QFont pictureFont(const QFont &textFont)
{
    QFont font = textFont;
    if (textFont.pointSizeF() > 0)
        font.setPointSizeF(std::max(5.0, textFont.pointSizeF() * 0.7));
    else
        font.setPixelSize(std::max(7, textFont.pixelSize() * 7 / 10));
    return font;
}

CharWidths::CharWidths(const QFont &font)
    : m_metrics(font)
    , m_pictureMetrics(pictureFont(font))
{
    for (char32_t code = 0; code < 128; ++code)
        m_ascii[code] = isPictured(code) ? pictureWidth(code)
                                         : m_metrics.horizontalAdvance(QChar(char16_t(code)));
}

qreal CharWidths::pictureWidth(char32_t code) const
{
    return std::ceil(m_pictureMetrics.horizontalAdvance(pictureText(code))) + 2 * PicturePadding + 2
        + 2 * PictureMargin;
}

qreal CharWidths::ofOther(char32_t code) const
{
    const auto found = m_others.constFind(code);
    if (found != m_others.constEnd())
        return *found;
    const qreal width = isPictured(code) ? pictureWidth(code)
                                         : m_metrics.horizontalAdvance(QString::fromUcs4(&code, 1));
    m_others.insert(code, width);
    return width;
}

RowStyle::RowStyle(const QFont &textFont)
    : font(textFont)
    , metrics(textFont)
    , widths(textFont)
{ }

StretchLayout::StretchLayout(const RowStyle &style, std::string text, size_t from, size_t to,
    Qt::LayoutDirection direction, const Preedit &preedit)
    : m_text(std::move(text))
    , m_from(from)
    , m_to(to)
    , m_fromColumn(columnIn(m_text, from))
    , m_toColumn(columnIn(m_text, to))
    , m_direction(direction)
{
    const QString shown = QString::fromStdString(m_text);
    m_layout.setText(visible(shown));
    m_layout.setFont(style.font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(direction);
    m_layout.setTextOption(option);
    m_layout.setCacheEnabled(true);
    // Each picture takes the room it is drawn in.
    QList<QTextLayout::FormatRange> pictures;
    const qreal space = style.widths.of(U' ');
    for (qsizetype column = 0; column < shown.size(); ++column) {
        const char16_t code = shown[column].unicode();
        if (!isPictured(code))
            continue;
        QTextCharFormat format;
        format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
        format.setFontLetterSpacing(style.widths.of(code) - space);
        pictures.append({int(column), 1, format});
    }
    int preeditColumns = 0;
    if (!preedit.text.isEmpty() && preedit.at >= from && preedit.at <= to) {
        // Formats count in the text with the preedit in place.
        const int at = columnOf(preedit.at);
        m_layout.setPreeditArea(at, preedit.text);
        preeditColumns = int(preedit.text.size());
        for (QTextLayout::FormatRange &range : pictures) {
            if (range.start >= at)
                range.start += preeditColumns;
        }
        for (const QTextLayout::FormatRange &range : preedit.formats)
            pictures.append({at + range.start, range.length, range.format});
    }
    m_layout.setFormats(pictures);
    m_layout.beginLayout();
    QTextLine line = m_layout.createLine();
    line.setLineWidth(LineWidth);
    line.setPosition(QPointF(0, 0));
    m_layout.endLayout();

    const qreal start = line.cursorToX(m_fromColumn);
    const qreal end = line.cursorToX(m_toColumn + preeditColumns);
    m_origin = std::min(start, end);
    m_width = std::abs(end - start);
    const bool before = from > 0;
    const bool after = to < m_text.size();
    const bool rightToLeft = start > end;
    m_clipLeft = rightToLeft ? after : before;
    m_clipRight = rightToLeft ? before : after;
}

std::shared_ptr<const StretchLayout> StretchLayout::composing(
    const RowStyle &style, const Preedit &preedit) const
{
    return std::make_shared<const StretchLayout>(style, m_text, m_from, m_to, m_direction, preedit);
}

std::string_view StretchLayout::bytes() const
{
    return std::string_view(m_text).substr(m_from, m_to - m_from);
}

int StretchLayout::columnOf(size_t offset) const
{
    return columnIn(m_text, std::clamp(offset, m_from, m_to));
}

qreal StretchLayout::xOf(size_t offset) const
{
    return m_layout.lineAt(0).cursorToX(columnOf(offset)) - m_origin;
}

size_t StretchLayout::offsetAt(qreal x) const
{
    const int column
        = std::clamp(m_layout.lineAt(0).xToCursor(x + m_origin, QTextLine::CursorBetweenCharacters),
            m_fromColumn, m_toColumn);
    return bytesOfUtf16Units(m_text, size_t(column));
}

QPointF StretchLayout::layoutAt(QPointF topLeft, qreal baseline) const
{
    // Every row's baseline where the font puts it, whatever fallback font a
    // character of the row needed.
    return {topLeft.x() - m_origin, topLeft.y() + baseline - m_layout.lineAt(0).ascent()};
}

void StretchLayout::draw(
    QPainter &painter, const RowStyle &style, QPointF topLeft, const PieceDrawing &drawing) const
{
    const QPointF at = layoutAt(topLeft, drawing.baseline);
    QList<QTextLayout::FormatRange> selections;
    const size_t selectedFrom = std::min(drawing.selectionFrom, m_text.size());
    const size_t selectedTo = std::min(drawing.selectionTo, m_text.size());
    if (selectedFrom < selectedTo) {
        const int first = columnIn(m_text, selectedFrom);
        selections.append({first, columnIn(m_text, selectedTo) - first, drawing.selected});
    }
    painter.save();
    if (m_clipLeft || m_clipRight) {
        // Whole pixels, rounded alike on both sides of a join, so that
        // neighbours meet without a gap or a column drawn twice.
        const qreal far = 1e6;
        const qreal left = m_clipLeft ? std::floor(topLeft.x() + 0.5) : topLeft.x() - far;
        const qreal right
            = m_clipRight ? std::floor(topLeft.x() + m_width + 0.5) : topLeft.x() + m_width + far;
        painter.setClipRect(
            QRectF(left, topLeft.y() - far, right - left, 2 * far), Qt::IntersectClip);
    }
    painter.setPen(drawing.text);
    m_layout.draw(&painter, at, selections);
    drawPictures(painter, style, at, drawing);
    painter.restore();
}

void StretchLayout::drawPictures(
    QPainter &painter, const RowStyle &style, QPointF at, const PieceDrawing &drawing) const
{
    const QTextLine line = m_layout.lineAt(0);
    // Characters after the input method's text stand that much further on.
    const int preeditArea = m_layout.preeditAreaPosition();
    const auto preeditColumns = int(m_layout.preeditAreaText().size());
    bool fontSet = false;
    int column = m_fromColumn;
    const std::string_view text = bytes();
    for (size_t index = 0; index < text.size();) {
        const Utf8Character character = decodeUtf8(text, index);
        const size_t here = m_from + index;
        const int columnHere = column;
        index += character.length;
        column += character.code < 0x10000 ? 1 : 2;
        if (!isPictured(character.code))
            continue;
        if (!fontSet) {
            painter.setFont(pictureFont(style.font));
            fontSet = true;
        }
        const bool afterPreedit = preeditArea >= 0 && columnHere >= preeditArea;
        const qreal x = at.x() + line.cursorToX(columnHere + (afterPreedit ? preeditColumns : 0));
        const QRectF box(x + 1.5, at.y() + line.ascent() - style.metrics.ascent() + 2.5,
            style.widths.of(character.code) - 3, style.metrics.height() - 5);
        const bool selected = here >= drawing.selectionFrom && here < drawing.selectionTo;
        painter.setPen(selected ? drawing.selectedText : drawing.text);
        painter.drawRect(box);
        painter.drawText(box, Qt::AlignCenter, pictureText(character.code));
    }
}

void StretchLayout::drawCaret(QPainter &painter, QPointF topLeft, size_t offset, int preeditColumns,
    int width, qreal baseline) const
{
    m_layout.drawCursor(
        &painter, layoutAt(topLeft, baseline), columnOf(offset) + preeditColumns, width);
}

size_t cursorStep(const ContainerModel &model, size_t rowStart, size_t rowEnd, size_t from,
    bool forward, QTextLayout::CursorMode mode)
{
    for (size_t reach = 64;; reach *= 2) {
        size_t first = from - std::min(from - rowStart, reach);
        while (first > rowStart && isUtf8Continuation(model.byteAt(first)))
            --first;
        size_t last = from + std::min(rowEnd - from, reach);
        while (last < rowEnd && isUtf8Continuation(model.byteAt(last)))
            ++last;
        const std::string text = model.text(first, last);
        // Cursor positions need the text's attributes, never its shapes.
        const QTextLayout layout(QString::fromStdString(text));
        const int column = columnIn(text, from - first);
        const int to = forward ? layout.nextCursorPosition(column, mode)
                               : layout.previousCursorPosition(column, mode);
        const size_t offset = first + bytesOfUtf16Units(text, size_t(std::max(to, 0)));
        const bool atEdge
            = forward ? offset == last && last < rowEnd : offset == first && first > rowStart;
        if (!atEdge || reach >= MaxStepBytes)
            return offset;
    }
}
