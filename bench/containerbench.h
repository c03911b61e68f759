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

} // namespace bench
