// SPDX-License-Identifier: GPL-3.0-or-later
// Asking the X11 or Wayland display before Qt opens it.
#include "displayprobe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// The platforms Qt 6 tries, in its order: QT_QPA_PLATFORM's list; else
// Wayland first where a Wayland display is named or the session says it is
// one, then X11.
std::vector<std::string> platforms()
{
    std::vector<std::string> names;
    const std::string list = environment("QT_QPA_PLATFORM");
    if (list.empty()) {
        if (!environment("WAYLAND_DISPLAY").empty() || environment("XDG_SESSION_TYPE") == "wayland")
            names.emplace_back("wayland");
        names.emplace_back("xcb");
        return names;
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

// Connects as Qt will. libxcb writes an X server's reason for a refusal
// straight to standard error; it is caught and returned instead, so that
// the program says it in its own one line. Empty when the server answers.
std::optional<std::string> x11Refusal()
{
    int caught[2];
    const int standardError = dup(STDERR_FILENO);
    const bool catching = standardError >= 0 && pipe2(caught, O_CLOEXEC | O_NONBLOCK) == 0;
    if (catching)
        dup2(caught[1], STDERR_FILENO);
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    std::string reason;
    if (catching) {
        dup2(standardError, STDERR_FILENO);
        close(caught[1]);
        char buffer[512];
        ssize_t length = 0;
        while ((length = read(caught[0], buffer, sizeof buffer)) > 0)
            reason.append(buffer, static_cast<size_t>(length));
        close(caught[0]);
    }
    if (standardError >= 0)
        close(standardError);
    if (connected)
        return std::nullopt;
    // The server's text ends its sentence with line breaks of its own.
    while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back())))
        reason.pop_back();
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    return reason;
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
            const std::optional<std::string> refusal = x11Refusal();
            if (!refusal)
                return std::nullopt;
            const std::string name = environment("DISPLAY");
            display = name.empty() ? "X11 (DISPLAY is not set)" : "X11 display \"" + name + '"';
            if (!refusal->empty())
                display += " (it said: " + *refusal + ")";
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
