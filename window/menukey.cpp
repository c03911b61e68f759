// SPDX-License-Identifier: GPL-3.0-or-later
// Shift+F10 opens the focused control's context menu, as the Menu key does.
#include "menukey.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

namespace {

class MenuKey : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::ShiftModifier)
            return false;
        // The key arrives at the focused control first. Its menu opens at
        // the caret of a text box, elsewhere in the control's middle.
        auto *control = static_cast<QWidget *>(watched);
        const QRect caret = control->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const QPoint at = control->rect().contains(caret.bottomLeft()) ? caret.bottomLeft()
                                                                       : control->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Keyboard, at, control->mapToGlobal(at));
        QCoreApplication::sendEvent(control, &request);
        return true;
    }
};

} // namespace

void installMenuKey()
{
    // Gone with the application that owned it.
    static QPointer<QObject> installed;
    QCoreApplication *application = QCoreApplication::instance();
    if (installed || !application)
        return;
    installed = new MenuKey(application);
    application->installEventFilter(installed);
}
