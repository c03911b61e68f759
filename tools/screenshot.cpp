// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the real Kelvaro window, its three tabs side by side, for the README.
#include "mainform.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTabBar>

#include <cstdio>

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
    return 0;
}
