// SPDX-License-Identifier: GPL-3.0-or-later
// Placing the window's controls in twips, and their order for the Tab key.
#pragma once

#include <QString>

#include <map>

class QWidget;

// A place in the window's own unit, relative to the control's container.
struct Twips
{
    int left;
    int top;
    int width;
    int height;
};

// 15 twips make a pixel.
int pixels(int twips);

// Creates controls at their places, names them, and gathers the focusable ones
// by tab index.
class ControlLayout
{
public:
    template<typename T>
    T *add(QWidget *container, const QString &name, const QString &caption, Twips box,
        int tabIndex = -1)
    {
        auto *control = new T(caption, container);
        place(control, name, box, tabIndex);
        return control;
    }

    // Also names the control for screen readers.
    void place(QWidget *control, const QString &name, Twips box, int tabIndex = -1);
    void takesFocusAt(int tabIndex, QWidget *control) { m_focusOrder.emplace(tabIndex, control); }
    // Chains the Tab order through every control given a tab index, lowest first.
    void applyFocusOrder() const;

private:
    std::map<int, QWidget *> m_focusOrder;
};
