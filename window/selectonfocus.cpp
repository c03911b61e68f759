// SPDX-License-Identifier: GPL-3.0-or-later
// Select-all on focus for the window's text boxes.
#include "selectonfocus.h"

#include "container.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>

namespace {

bool hasSelection(QWidget *box)
{
    if (auto *lineEdit = qobject_cast<QLineEdit *>(box))
        return lineEdit->hasSelectedText();
    if (auto *container = qobject_cast<Container *>(box))
        return container->hasSelectedText();
    return false;
}

void deselect(QWidget *box)
{
    if (auto *lineEdit = qobject_cast<QLineEdit *>(box))
        lineEdit->deselect();
    else if (auto *container = qobject_cast<Container *>(box))
        container->deselect();
}

} // namespace

SelectOnFocus::SelectOnFocus(QObject *parent)
    : QObject(parent)
{ }

void SelectOnFocus::watch(QWidget *box, std::function<void()> gotFocus, QWidget *clickTarget)
{
    m_boxes.insert(box, {box, gotFocus});
    box->installEventFilter(this);
    if (clickTarget) {
        m_boxes.insert(clickTarget, {box, std::move(gotFocus)});
        clickTarget->installEventFilter(this);
    }
}

bool SelectOnFocus::eventFilter(QObject *watched, QEvent *event)
{
    const auto box = m_boxes.constFind(watched);
    if (box == m_boxes.constEnd())
        return false;

    switch (event->type()) {
    case QEvent::FocusIn: {
        // A Paste chosen from the box's own menu goes in at the caret.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
            break;
        box->gotFocus();
        m_focusedByClick = reason == Qt::MouseFocusReason ? box->box : nullptr;
        break;
    }
    // Pressed inside the selection made as the focus arrived, the click would
    // start dragging the whole text away; it is dropped first, and the click is
    // an ordinary click. A right or middle click that brought the focus keeps
    // the selection made as it arrived (the menu opens as the button goes down
    // and takes the release, and its Paste replaces the text, as after Tab),
    // and is over: the next left click places the caret.
    case QEvent::MouseButtonPress:
        if (m_focusedByClick != box->box)
            break;
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            deselect(box->box);
        else
            m_focusedByClick = nullptr;
        break;
    case QEvent::MouseButtonRelease:
        return releaseClick(watched, event, *box);
    default:
        break;
    }
    return false;
}

bool SelectOnFocus::releaseClick(QObject *watched, QEvent *event, const Box &box)
{
    if (m_focusedByClick != box.box || m_deliveringClick)
        return false;
    m_focusedByClick = nullptr;
    // The box takes the release first, so that the selection is made after
    // the click has placed the caret.
    m_deliveringClick = true;
    QCoreApplication::sendEvent(watched, event);
    m_deliveringClick = false;
    // A selection dragged with the mouse is the user's own.
    if (!hasSelection(box.box))
        box.gotFocus();
    return true;
}
