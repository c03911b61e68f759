// SPDX-License-Identifier: GPL-3.0-or-later
// The names a screen reader gives the window's controls.
#pragma once

class QWidget;

// Names the control, by its design name, so that it reads apart from every
// other: what it is and, in a counter panel, which counter it belongs to. A box
// that a label stands beside is tied to that label instead, which names it. A
// control whose own caption tells it apart keeps that caption.
void nameForScreenReaders(QWidget *control);

// The window reads as a window, not as a plain part of one, and its strip
// of commands as a tool bar. Once, before the window is made.
void installWindowRole();
