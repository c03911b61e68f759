// SPDX-License-Identifier: GPL-3.0-or-later
// Kelvaro: generates lists of numbered or lettered text lines.
#include "mainform.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Qt would fail with a screenful of plugin messages; one line says what is missing.
bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char *argv[])
{
    if (!hasDisplay()) {
        std::fputs("kelvaro: no display found. Kelvaro is a desktop program and needs a graphical "
                   "session.\n",
            stderr);
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(QStringLiteral(KELVARO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.kelvaro.Kelvaro"));
    Main window;
    window.show();
    return QApplication::exec();
}
