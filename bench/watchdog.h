// SPDX-License-Identifier: GPL-3.0-or-later
// Ends a benchmark child whose timed action runs past its cap.
#pragma once

#include "benchreport.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace bench {

// An action runs in the event handler it starts, so nothing on the window's
// thread could stop it: this thread reports the action's key as timed out and
// ends the process once it runs past capSeconds. With memoryCapKilobytes, it
// does the same when the process's resident memory grows past it (reported as
// OverMemory), so that a pass gone wrong does not take the machine's memory.
class Watchdog
{
public:
    explicit Watchdog(int capSeconds, long long memoryCapKilobytes = 0);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    void arm(const char *key);
    void disarm();

private:
    void watch();

    const int m_capSeconds;
    const long long m_memoryCapKilobytes;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const char *m_key = nullptr;
    Clock::time_point m_deadline;
    bool m_done = false;
    std::thread m_thread;
};

// Stands for a figure cut short as its pass took too much memory.
extern const char *const OverMemory;

} // namespace bench
