// SPDX-License-Identifier: GPL-3.0-or-later
// The window under a real window manager (Weston, or openbox on an X server): it
// opens within the screen, frame included, and window-manager actions leave it
// running, its layout in place.
#include "mainform.h"

#include <QScreen>
#include <QTest>

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void firstWindowFitsTheScreen();
    void windowManagerActions_data();
    void windowManagerActions();
};

void DesktopTest::firstWindowFitsTheScreen()
{
    Main window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A frame that this window manager draws; without one there is nothing to fit.
    QTRY_VERIFY_WITH_TIMEOUT(window.frameGeometry().height() > window.height(), 20'000);
    // Sizes only: a Wayland window does not know where it stands.
    const QSize available = window.screen()->availableSize();
    QTRY_VERIFY2(available.expandedTo(window.frameGeometry().size()) == available,
        qPrintable(QStringLiteral("%1x%2 in %3x%4")
                       .arg(window.frameGeometry().width())
                       .arg(window.frameGeometry().height())
                       .arg(available.width())
                       .arg(available.height())));
}

void DesktopTest::windowManagerActions_data()
{
    QTest::addColumn<Qt::WindowState>("state");
    // A compositor ends a client whose window does not take the size it was
    // given; a window of fixed size was ended on maximize.
    QTest::newRow("maximized, then restored") << Qt::WindowMaximized;
    QTest::newRow("full screen, then restored") << Qt::WindowFullScreen;
}

void DesktopTest::windowManagerActions()
{
    QFETCH(Qt::WindowState, state);
    Main window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Once the window has taken the size that fits the screen with its frame.
    QTRY_VERIFY(window.screen()->availableSize().expandedTo(window.frameGeometry().size())
        == window.screen()->availableSize());
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

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
