// SPDX-License-Identifier: GPL-3.0-or-later
// The window under a Wayland compositor: window-manager actions leave it running, its layout in
// place.
#include "mainform.h"

#include <QScreen>
#include <QTest>

class WaylandTest : public QObject
{
    Q_OBJECT

private slots:
    void windowManagerActions_data();
    void windowManagerActions();
};

void WaylandTest::windowManagerActions_data()
{
    QTest::addColumn<Qt::WindowState>("state");
    // A compositor ends a client whose window does not take the size it was
    // given; a window of fixed size was ended on maximize.
    QTest::newRow("maximized, then restored") << Qt::WindowMaximized;
    QTest::newRow("full screen, then restored") << Qt::WindowFullScreen;
}

void WaylandTest::windowManagerActions()
{
    QFETCH(Qt::WindowState, state);
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    Main window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize normal = window.size();
    auto *commands = window.findChild<QWidget *>(QStringLiteral("Command1"));
    auto *tabs = window.findChild<QWidget *>(QStringLiteral("SSTab1"));
    const QPoint doIt = commands->mapTo(&window, QPoint(0, 0));
    const QPoint tabControl = tabs->mapTo(&window, QPoint(0, 0));

    window.setWindowState(state);
    QTRY_VERIFY(window.windowState() & state);
    // The compositor's size, larger than the layout on a large screen and
    // smaller on a small one, where the layout scrolls.
    QTRY_VERIFY(window.size() != normal);
    QVERIFY(window.frameGeometry().width() <= window.screen()->geometry().width());
    QVERIFY(window.frameGeometry().height() <= window.screen()->geometry().height());
    QCOMPARE(commands->mapTo(&window, QPoint(0, 0)), doIt);
    QCOMPARE(tabs->mapTo(&window, QPoint(0, 0)), tabControl);

    window.setWindowState(Qt::WindowNoState);
    QTRY_COMPARE(window.size(), normal);
    QVERIFY(window.isVisible());
    QCOMPARE(commands->mapTo(&window, QPoint(0, 0)), doIt);
}

QTEST_MAIN(WaylandTest)
#include "tst_wayland.moc"
