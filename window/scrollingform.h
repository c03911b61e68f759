// SPDX-License-Identifier: GPL-3.0-or-later
// The window's fixed layout on a screen smaller than that layout.
#pragma once

class QSize;
class QWidget;

// Fills window with a scroll area and returns the form inside it, on which the
// controls take their designed places. The form is never smaller than the
// designed size: a smaller window scrolls it, and a larger one leaves it at
// the top-left. So the window itself needs no minimum size of the layout's,
// which a Wayland compositor could not honour on a small screen: it ends a
// client whose window does not take the size configured for maximized or full
// screen.
QWidget *addScrollingForm(QWidget *window, const QSize &designed);
