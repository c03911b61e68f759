// SPDX-License-Identifier: GPL-3.0-or-later
// The benchmark child's watchdog thread.
#include "watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace bench {
namespace {

// How often the resident memory is read while a memory cap is in force.
constexpr auto MemoryPoll = std::chrono::milliseconds(50);

} // namespace

const char *const OverMemory = "memory";

Watchdog::Watchdog(int capSeconds, long long memoryCapKilobytes)
    : m_capSeconds(capSeconds)
    , m_memoryCapKilobytes(memoryCapKilobytes)
    , m_thread([this] { watch(); })
{ }

Watchdog::~Watchdog()
{
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_one();
    m_thread.join();
}

void Watchdog::arm(const char *key)
{
    {
        const std::lock_guard lock(m_mutex);
        m_key = key;
        m_deadline = Clock::now() + std::chrono::seconds(m_capSeconds);
    }
    m_changed.notify_one();
}

void Watchdog::disarm()
{
    const std::lock_guard lock(m_mutex);
    m_key = nullptr;
}

void Watchdog::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_done) {
        if (!m_key) {
            m_changed.wait(lock);
            continue;
        }
        const Clock::time_point wakeUp = m_memoryCapKilobytes > 0
            ? std::min(m_deadline, Clock::now() + MemoryPoll)
            : m_deadline;
        m_changed.wait_until(lock, wakeUp);
        // The wait lets go of the lock: the action may have ended meanwhile.
        // cppcheck-suppress knownConditionTrueFalse
        if (!m_key || m_done)
            continue;
        if (Clock::now() >= m_deadline) {
            reportTimedOut(m_key);
            std::_Exit(EXIT_SUCCESS);
        }
        if (m_memoryCapKilobytes > 0 && statusKilobytes("VmRSS") > m_memoryCapKilobytes) {
            std::printf("%s %s\n", m_key, OverMemory);
            std::fflush(stdout);
            std::_Exit(EXIT_SUCCESS);
        }
    }
}

} // namespace bench
