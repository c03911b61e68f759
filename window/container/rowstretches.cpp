// SPDX-License-Identifier: GPL-3.0-or-later
// Character widths, control pictures and the stretches of long rows.
#include "rowstretches.h"

#include "containermodel.h"

#include <algorithm>
#include <cmath>

namespace {

// Room inside a picture's frame, and between it and its neighbours.
constexpr qreal PicturePadding = 2;
constexpr qreal PictureMargin = 1;

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

RowStretches::RowStretches(
    const ContainerModel &model, size_t from, size_t to, const CharWidths &widths)
    : m_from(from)
{
    measure(model, from, to, widths, m_ends, m_widths);
    sumUp();
}

RowStretches::Stretch RowStretches::at(size_t index) const
{
    return {m_from + (index == 0 ? 0 : m_ends[index - 1]), m_from + m_ends[index],
        index == 0 ? 0 : m_xEnds[index - 1]};
}

size_t RowStretches::indexOf(size_t offset) const
{
    const size_t relative = offset - std::min(offset, m_from);
    const auto found = std::upper_bound(m_ends.begin(), m_ends.end(), relative);
    return std::min(size_t(found - m_ends.begin()), count() - 1);
}

size_t RowStretches::indexAtX(qreal x) const
{
    const auto found = std::upper_bound(m_xEnds.begin(), m_xEnds.end(), x);
    return std::min(size_t(found - m_xEnds.begin()), count() - 1);
}

void RowStretches::edited(const ContainerModel &model, size_t from, size_t removed, size_t inserted,
    const CharWidths &widths)
{
    const size_t first = indexOf(from);
    const size_t last = std::max(first, indexOf(from + removed));
    const size_t start = first == 0 ? 0 : m_ends[first - 1];
    const size_t oldEnd = m_ends[last];
    const size_t newEnd = oldEnd + inserted - removed;

    std::vector<size_t> ends;
    std::vector<qreal> measured;
    if (newEnd > start)
        measure(model, m_from + start, m_from + newEnd, widths, ends, measured);
    else if (count() == last - first + 1) {
        ends.push_back(start);
        measured.push_back(0);
    }
    for (size_t index = last + 1; index < count(); ++index)
        m_ends[index] = m_ends[index] + inserted - removed;
    const auto endsAt = m_ends.begin() + std::ptrdiff_t(first);
    m_ends.insert(
        m_ends.erase(endsAt, endsAt + std::ptrdiff_t(last - first + 1)), ends.begin(), ends.end());
    const auto widthsAt = m_widths.begin() + std::ptrdiff_t(first);
    m_widths.insert(m_widths.erase(widthsAt, widthsAt + std::ptrdiff_t(last - first + 1)),
        measured.begin(), measured.end());
    sumUp();
}

void RowStretches::measure(const ContainerModel &model, size_t from, size_t to,
    const CharWidths &widths, std::vector<size_t> &ends, std::vector<qreal> &widthsOut) const
{
    size_t end = from - m_from;
    size_t length = 0;
    qreal stretchWidth = 0;
    char32_t code = 0;
    int pending = 0;
    model.fragment(from, to).forEachChunk([&](std::string_view chunk) {
        for (const char c : chunk) {
            const auto byte = static_cast<unsigned char>(c);
            ++end;
            if (pending > 0) {
                code = (code << 6) | (byte & 0x3F);
                if (--pending == 0)
                    stretchWidth += widths.of(code);
                ++length;
                continue;
            }
            // A stretch ends only before a character's first byte.
            if (length >= Bytes) {
                ends.push_back(end - 1);
                widthsOut.push_back(stretchWidth);
                length = 0;
                stretchWidth = 0;
            }
            ++length;
            if (byte < 0x80) {
                stretchWidth += widths.of(char32_t(byte));
                continue;
            }
            pending = byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
            code = byte & (0x3F >> pending);
        }
    });
    if (length > 0 || ends.empty()) {
        ends.push_back(end);
        widthsOut.push_back(stretchWidth);
    }
}

void RowStretches::sumUp()
{
    m_xEnds.resize(m_widths.size());
    qreal x = 0;
    for (size_t index = 0; index < m_widths.size(); ++index) {
        x += m_widths[index];
        m_xEnds[index] = x;
    }
}
