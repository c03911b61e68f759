// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the display that Qt will open can be reached, asked before Qt opens it.
#pragma once

#include <optional>
#include <string>

// Qt ends the program with a screenful of plugin messages and an abort when no
// platform it tries can connect; this asks each display Qt would try (X11
// through libxcb, as Qt's X11 plugin connects; Wayland at its socket) and
// returns one line that names them when none answers. Platforms without a
// display server (offscreen, vnc, linuxfb, ...) are left to Qt.
std::optional<std::string> unreachableDisplay();
