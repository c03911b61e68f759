// SPDX-License-Identifier: GPL-3.0-or-later
// The first window within its screen's available area, its frame included.
#include "screenfit.h"

#include <QBasicTimer>
#include <QEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

class ScreenFit : public QObject
{
public:
    explicit ScreenFit(QWidget *window)
        : QObject(window)
        , m_window(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        QWindow *native = m_window->windowHandle();
        // The native window exists once the widget is shown; its frame comes
        // from the window manager, with the first showing or just after it.
        if (watched == m_window && event->type() == QEvent::Show && native) {
            native->installEventFilter(this);
            // A window that has no frame by then gets none to fit.
            m_giveUp.start(2000, this);
        } else if (watched == native
            && (event->type() == QEvent::Expose || event->type() == QEvent::Resize
                || event->type() == QEvent::Move)
            && native->isVisible() && !native->frameMargins().isNull()) {
            fit();
            stop();
        }
        return false;
    }

    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() == m_giveUp.timerId())
            stop();
    }

private:
    void fit() const
    {
        const QRect available = m_window->screen()->availableGeometry();
        QMargins frame = m_window->windowHandle()->frameMargins();
        // At a scale above 1 a frame of an odd number of device pixels is
        // rounded to whole pixels, maybe down: a pixel more on each side.
        if (m_window->devicePixelRatioF() > 1)
            frame += QMargins(1, 1, 1, 1);
        const QSize room = available.size().shrunkBy(frame);
        if (!room.isValid())
            return;
        m_window->resize(m_window->size().boundedTo(room));
        const QSize framed = m_window->size().grownBy(frame);
        const QPoint at = m_window->frameGeometry().topLeft();
        const QPoint inside(
            std::max(available.left(), std::min(at.x(), available.right() + 1 - framed.width())),
            std::max(available.top(), std::min(at.y(), available.bottom() + 1 - framed.height())));
        if (inside != at)
            m_window->move(inside);
    }

    void stop()
    {
        m_giveUp.stop();
        m_window->removeEventFilter(this);
        if (m_window->windowHandle())
            m_window->windowHandle()->removeEventFilter(this);
        deleteLater();
    }

    QWidget *m_window;
    QBasicTimer m_giveUp;
};

} // namespace

void fitToScreenWhenShown(QWidget *window)
{
    new ScreenFit(window);
}
