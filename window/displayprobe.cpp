// SPDX-License-Identifier: GPL-3.0-or-later
// Asking the X11 or Wayland display before Qt opens it.
#include "displayprobe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string lower(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The platforms Qt 6 tries, in its order: QT_QPA_PLATFORM's list, or X11,
// with Wayland first in a Wayland session other than GNOME's.
std::vector<std::string> platforms()
{
    std::vector<std::string> names;
    std::string list = environment("QT_QPA_PLATFORM");
    if (list.empty()) {
        const bool gnome
            = lower(environment("XDG_CURRENT_DESKTOP")).find("gnome") != std::string::npos
            || lower(environment("XDG_SESSION_DESKTOP")).find("gnome") != std::string::npos;
        list = environment("XDG_SESSION_TYPE") == "wayland" && !gnome ? "wayland;xcb" : "xcb";
    }
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(';', start), list.size());
        std::string entry = list.substr(start, end - start);
        // "offscreen:configfile=..." names the platform before its options.
        names.push_back(entry.substr(0, entry.find(':')));
        start = end + 1;
    }
    return names;
}

bool x11Answers()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

std::string waylandSocket()
{
    std::string name = environment("WAYLAND_DISPLAY");
    if (name.empty())
        name = "wayland-0";
    if (name.front() == '/')
        return name;
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    return runtime.empty() ? std::string() : runtime + '/' + name;
}

bool waylandAnswers()
{
    // A compositor that started the program may hand it a connected socket.
    if (!environment("WAYLAND_SOCKET").empty())
        return true;
    const std::string path = waylandSocket();
    sockaddr_un address {};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected
        = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

} // namespace

std::optional<std::string> unreachableDisplay()
{
    std::string tried;
    for (const std::string &platform : platforms()) {
        std::string display;
        if (platform == "xcb") {
            if (x11Answers())
                return std::nullopt;
            const std::string name = environment("DISPLAY");
            display = name.empty() ? "X11 (DISPLAY is not set)" : "X11 display \"" + name + '"';
        } else if (platform.rfind("wayland", 0) == 0) {
            if (waylandAnswers())
                return std::nullopt;
            const std::string path = waylandSocket();
            display = path.empty() ? "Wayland (XDG_RUNTIME_DIR is not set)"
                                   : "Wayland display \"" + path + '"';
        } else {
            return std::nullopt;
        }
        tried += (tried.empty() ? "" : " and ") + display;
    }
    return "cannot open a display, tried " + tried
        + ". Kelvaro is a desktop program and needs a graphical session.";
}
