// SPDX-License-Identifier: GPL-3.0-or-later
// A step timed until the view has painted it and the event loop came round.
#include "paintclock.h"

#include <QEvent>
#include <QEventLoop>
#include <QWidget>

namespace bench {

PaintClock::PaintClock(QWidget *viewport, Watchdog &watchdog)
    : m_viewport(viewport)
    , m_watchdog(watchdog)
{
    m_afterPaint.setSingleShot(true);
    connect(&m_afterPaint, &QTimer::timeout, this, [this] {
        m_end = Clock::now();
        m_answered = true;
        if (m_loop)
            m_loop->quit();
    });
    viewport->installEventFilter(this);
}

std::optional<double> PaintClock::time(
    const char *key, const std::function<void()> &step, const std::function<bool()> &shown)
{
    m_shown = shown;
    m_waiting = true;
    m_answered = false;
    m_interrupted = false;
    m_watchdog.arm(key);
    const Clock::time_point start = Clock::now();
    step();
    QEventLoop loop;
    m_loop = &loop;
    // The step's own events may have painted, or shown a message, already.
    // cppcheck-suppress knownConditionTrueFalse
    if (!m_answered && !m_interrupted)
        loop.exec();
    m_loop = nullptr;
    m_waiting = false;
    m_watchdog.disarm();
    if (m_interrupted)
        return std::nullopt;
    const double seconds = std::chrono::duration<double>(m_end - start).count();
    report(key, seconds);
    return seconds;
}

void PaintClock::interrupt()
{
    m_interrupted = true;
    if (m_loop)
        m_loop->quit();
}

bool PaintClock::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_viewport && event->type() == QEvent::Paint && m_waiting && m_shown()) {
        m_waiting = false;
        // Due once the paint, which runs after this filter, is over and
        // the event loop comes round.
        m_afterPaint.start(0);
    }
    return false;
}

} // namespace bench
