// SPDX-License-Identifier: GPL-3.0-or-later
// The first window within its screen's available area, its frame included.
#pragma once

class QWidget;

// A window's frame (a title bar of 20 to 70 pixels at scale 1.5 or 2) is
// known only once the window is on screen: this waits for the window's
// first showing and then makes it smaller, and moves it, where its frame
// would reach past the screen's available area. Once; the user's own sizes
// are left alone afterwards.
void fitToScreenWhenShown(QWidget *window);
