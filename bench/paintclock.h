// SPDX-License-Identifier: GPL-3.0-or-later
// Timing a step in the real window until the view has painted its effect.
#pragma once

#include "benchreport.h"
#include "watchdog.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class QEventLoop;
class QWidget;

namespace bench {

// Times a step as a user meets it: from the event until the view has painted
// what the step changed and the window has come back to its event loop, the
// turn after that paint.
class PaintClock : public QObject
{
public:
    PaintClock(QWidget *viewport, Watchdog &watchdog);

    // Runs step and serves events until a paint at which shown() holds has
    // ended; reports the seconds under key. Nothing when interrupted first.
    std::optional<double> time(
        const char *key, const std::function<void()> &step, const std::function<bool()> &shown);
    void interrupt();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_viewport;
    Watchdog &m_watchdog;
    std::function<bool()> m_shown;
    bool m_waiting = false;
    bool m_answered = false;
    bool m_interrupted = false;
    QEventLoop *m_loop = nullptr;
    QTimer m_afterPaint;
    Clock::time_point m_end;
};

} // namespace bench
