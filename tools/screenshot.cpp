// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the real Kelvaro window: its three tabs side by side for the README, and
// the window with its title bar and frame for the software centres.
#include "mainform.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTabBar>

#include <cstdio>

namespace {

// The window as a desktop shows it. The offscreen platform has no window
// manager, so the title bar and frame are drawn by the same style that draws
// Qt's own inner windows.
QPixmap withDecorations(const QWidget &window, const QPixmap &client)
{
    QStyle *style = window.style();
    QStyleOptionTitleBar titleBar;
    titleBar.initFrom(&window);
    titleBar.text = window.windowTitle();
    titleBar.icon = window.windowIcon();
    titleBar.titleBarFlags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
    titleBar.titleBarState = Qt::WindowActive;
    titleBar.state |= QStyle::State_Active | QStyle::State_Window;
    titleBar.subControls = QStyle::SC_All;
    titleBar.activeSubControls = QStyle::SC_None;
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    const int titleHeight = style->pixelMetric(QStyle::PM_TitleBarHeight, &titleBar, &window);

    QPixmap shot(client.width() + 2 * border, client.height() + titleHeight + border);
    shot.fill(window.palette().color(QPalette::Window));
    QPainter painter(&shot);
    QStyleOptionFrame frame;
    frame.initFrom(&window);
    frame.rect = shot.rect();
    frame.state |= QStyle::State_Active;
    frame.lineWidth = border;
    style->drawPrimitive(QStyle::PE_FrameWindow, &frame, &painter, &window);
    titleBar.rect = QRect(border, border, client.width(), titleHeight - border);
    titleBar.palette.setCurrentColorGroup(QPalette::Active);
    style->drawComplexControl(QStyle::CC_TitleBar, &titleBar, &painter, &window);
    painter.drawPixmap(border, titleHeight, client);
    painter.end();
    return shot;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    Main window;
    window.show();
    // Each tab as the window shows it right after start-up.
    auto *tabs = window.findChild<QTabBar *>();
    QList<QPixmap> shots;
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        shots.append(window.grab());
    }
    constexpr int Gap = 12;
    const QSize one = shots.first().size();
    QPixmap all(one.width() * 3 + Gap * 2, one.height());
    all.fill(Qt::white);
    QPainter painter(&all);
    for (int tab = 0; tab < shots.size(); ++tab)
        painter.drawPixmap(tab * (one.width() + Gap), 0, shots[tab]);
    painter.end();
    const QString path = QDir(folder).filePath(QStringLiteral("window.png"));
    all.save(path);
    std::printf("%s\n", qPrintable(path));

    tabs->setCurrentIndex(0);
    QApplication::processEvents();
    const QString decoratedPath = QDir(folder).filePath(QStringLiteral("screenshot.png"));
    withDecorations(window, window.grab()).save(decoratedPath);
    std::printf("%s\n", qPrintable(decoratedPath));
    return 0;
}
