// SPDX-License-Identifier: GPL-3.0-or-later
// Painting a frame's border and caption.
#include "frame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

void Frame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    constexpr int CaptionLeft = 6;
    constexpr int CaptionPadding = 2;
    const QRect caption = title().isEmpty()
        ? QRect()
        : QRect(CaptionLeft, 0, metrics.horizontalAdvance(title()) + 2 * CaptionPadding,
            metrics.height());

    // An etched line, as frames have long been drawn; the style's own group box
    // frame would add a title margin of its own.
    painter.setClipRegion(QRegion(rect()).subtracted(caption));
    qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1, 0);
    painter.setClipping(false);

    if (!caption.isNull()) {
        style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
            isEnabled(), title(), QPalette::WindowText);
    }
}
