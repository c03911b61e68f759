// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader gets from the Container: its text, caret and selection,
// read a row at a time.
#pragma once

// Makes Qt's accessibility ask the Container through its own interface. Once,
// before the window is made.
void installContainerAccessibility();
