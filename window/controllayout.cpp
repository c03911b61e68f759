// SPDX-License-Identifier: GPL-3.0-or-later
// Placing the window's controls in twips, and their order for the Tab key.
#include "controllayout.h"

#include "accessiblenames.h"

#include <QWidget>
#include <QtMath>

int pixels(int twips)
{
    return qRound(twips / 15.0);
}

void ControlLayout::place(QWidget *control, const QString &name, Twips box, int tabIndex)
{
    control->setObjectName(name);
    control->setGeometry(pixels(box.left), pixels(box.top), pixels(box.width), pixels(box.height));
    nameForScreenReaders(control);
    if (tabIndex >= 0)
        takesFocusAt(tabIndex, control);
}

void ControlLayout::applyFocusOrder() const
{
    QWidget *previous = nullptr;
    for (const auto &[tabIndex, control] : m_focusOrder) {
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}
