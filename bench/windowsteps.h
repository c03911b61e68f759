// SPDX-License-Identifier: GPL-3.0-or-later
// The steps a user takes in the real window to set up a run, found by the
// controls' names as the widget tests find them.
#pragma once

#include "benchreport.h"

#include <QString>
#include <QWidget>

#include <vector>

class Main;

namespace bench {

// A Numeric counter counting up by 1; width 0 writes plain numbers.
struct Counter
{
    int start;
    int end;
    int width;
};

// Finds a control the way a user does: by looking at the window.
template<typename T>
T *visibleControl(const QWidget &window, const QString &name)
{
    auto *control = window.findChild<T *>(name);
    if (!control || !control->isVisible())
        throw Failure(QStringLiteral("no visible control %1").arg(name));
    return control;
}

void clickIndicator(const Main &window, const QString &name);
// Chooses as many counters as given and types their bounds and widths into their boxes.
void setCounters(const Main &window, const std::vector<Counter> &counters);
// Clicks the header of the tab that holds the Container.
void showContainerTab(const Main &window);

} // namespace bench
