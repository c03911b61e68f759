// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the display that Qt will open can be reached, asked before Qt opens it.
#pragma once

#include <optional>
#include <string>

// Qt ends the program with a screenful of plugin messages and an abort when no
// platform it tries can connect. This asks each display Qt 6 would try, in
// Qt's order (QT_QPA_PLATFORM's list; else Wayland where WAYLAND_DISPLAY is
// set or the session is a Wayland one, then X11), X11 through libxcb as Qt's
// X11 plugin connects and Wayland at its socket, and returns one line that
// names them, with an X server's own reason for refusing, when none answers.
// Platforms without a display server (offscreen, vnc, linuxfb, ...) are left
// to Qt.
std::optional<std::string> unreachableDisplay();
