// SPDX-License-Identifier: GPL-3.0-or-later
// Select-all on focus for the window's text boxes, by key and by click alike.
#pragma once

#include <QHash>
#include <QObject>

#include <functional>

class QWidget;

// Calls a box's got-focus handler whenever the focus arrives from elsewhere in
// the window, by Tab, a shortcut or a click. A click would put the caret where
// it lands and so undo the handler's selection: the selection is dropped while
// the click is pressed and the handler runs again once it is released, unless
// the user dragged a selection of their own; a right click keeps the selection
// for its menu. Focus coming back from a context menu, a dialog or another
// window leaves the box as the user left it.
class SelectOnFocus : public QObject
{
public:
    explicit SelectOnFocus(QObject *parent = nullptr);

    // Watches box, and clickTarget too where the box's clicks arrive at a
    // child of it (a scroll area's viewport).
    void watch(QWidget *box, std::function<void()> gotFocus, QWidget *clickTarget = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Box
    {
        QWidget *box;
        std::function<void()> gotFocus;
    };

    bool releaseClick(QObject *watched, QEvent *event, const Box &box);

    QHash<QObject *, Box> m_boxes;
    // The box that a click is giving the focus, until that click is over.
    QWidget *m_focusedByClick = nullptr;
    bool m_deliveringClick = false;
};
