// SPDX-License-Identifier: GPL-3.0-or-later
// Times an action in the real window as a user meets it, under a watchdog.
#pragma once

#include "benchreport.h"
#include "watchdog.h"

#include <QCoreApplication>
#include <QWidget>

namespace bench {

// From the event until the events it posted and its timers due have run and
// the view has repainted. Reports the figure under key, or ends the process
// when the action runs past the watchdog's caps.
class ActionTimer
{
public:
    ActionTimer(QWidget *viewport, int capSeconds, long long memoryCapKilobytes = 0)
        : m_watchdog(capSeconds, memoryCapKilobytes)
        , m_viewport(viewport)
    { }

    template<typename Action>
    void operator()(const char *key, Action action)
    {
        m_watchdog.arm(key);
        const Clock::time_point start = Clock::now();
        action();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        m_viewport->repaint();
        const double seconds = secondsSince(start);
        m_watchdog.disarm();
        report(key, seconds);
    }

    // Steps between the timed ones, watched all the same.
    template<typename Action>
    void untimed(const char *key, Action action)
    {
        m_watchdog.arm(key);
        action();
        QCoreApplication::processEvents();
        m_watchdog.disarm();
    }

    Watchdog &watchdog() { return m_watchdog; }

private:
    Watchdog m_watchdog;
    QWidget *m_viewport;
};

} // namespace bench
