// SPDX-License-Identifier: GPL-3.0-or-later
// The Container with the largest run in it, action by action.
#pragma once

#include <QString>

namespace bench {

// In a child process: one pass of every action in the window, on this
// process's platform, printing "key figure" lines as it goes. Files go into
// folder.
void runContainerActions(const QString &folder);

// Measures the Container offscreen, and under X11 when display names one, then
// prints the table. coreSeconds: the same run writing its file alone.
void measureContainers(const QString &folder, double coreSeconds, const QString &display);

// A row of the given length in the real window's Container: one pass of the
// actions in this process (runLongRow), or their table over several child
// processes, offscreen and under X11 when display names one.
constexpr qsizetype LongRow = 10'000'000;
void runLongRow(qsizetype characters);
void measureLongRow(qsizetype characters, const QString &display);

} // namespace bench
