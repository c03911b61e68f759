// SPDX-License-Identifier: GPL-3.0-or-later
// Shift+F10 opens the focused control's context menu, as the Menu key does.
#pragma once

// Keyboards without a Menu key open menus with Shift+F10, on every desktop.
// Once the application exists, for all of its windows; later calls do nothing.
void installMenuKey();
