// SPDX-License-Identifier: GPL-3.0-or-later
// The window as it opens, its layout, focus order and the Exit and Clear Container commands.
#include "windowdriver.h"

#include "container.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <cmath>

namespace {

int pixels(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

// Everything a user can see change in the window, for "nothing else changed".
QStringList visibleState(const WindowDriver &ui)
{
    QStringList state;
    for (QWidget *widget : ui.window().findChildren<QWidget *>()) {
        if (widget->objectName().isEmpty())
            continue;
        QString entry = widget->objectName() + (widget->isHidden() ? " hidden" : "")
            + (widget->isEnabled() ? "" : " disabled");
        if (auto *box = qobject_cast<QLineEdit *>(widget))
            entry += " text=" + box->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            entry += button->isChecked() ? " checked" : "";
        state << entry;
    }
    state.sort();
    return state;
}

// The contrast of two colours as WCAG measures it, from 1 to 21.
double contrast(QColor one, QColor other)
{
    const auto luminance = [](QColor colour) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF())
            + 0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one) + 0.05;
    const double b = luminance(other) + 0.05;
    return std::max(a, b) / std::min(a, b);
}

} // namespace

class StartUpTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_ui = std::make_unique<WindowDriver>(); }
    void cleanup() { m_ui.reset(); }

    void window();
    void controlState_data();
    void controlState();
    void moduleValues();
    void accessibleNames_data();
    void accessibleNames();
    void everyControlHasItsOwnAccessibleName();
    void geometry_data();
    void geometry();
    void hiddenPanelsKeepTheirPlaces();
    void smallWindowScrolls_data();
    void smallWindowScrolls();
    void focusOrder_data();
    void focusOrder();
    void focusFrameStandsOutOnTheStrip_data();
    void focusFrameStandsOutOnTheStrip();
    void tabShortcuts_data();
    void tabShortcuts();
    void clearContainer_data();
    void clearContainer();
    void exitEndsTheProgram_data();
    void exitEndsTheProgram();
    void keysOnAFocusedControl_data();
    void keysOnAFocusedControl();

private:
    std::unique_ptr<WindowDriver> m_ui;
};

void StartUpTest::window()
{
    Main &main = m_ui->window();
    QCOMPARE(main.windowTitle(), QStringLiteral("Kelvaro"));
    QVERIFY(!main.windowIcon().isNull());
    QCOMPARE(main.size(), QSize(pixels(6144), pixels(7080)));
    // It may take any size, so that every window manager can maximize it
    // safely on any screen, however small; the layout stays at its top-left.
    QVERIFY(main.minimumWidth() < main.width() / 4 && main.minimumHeight() < main.height() / 4);
    QCOMPARE(main.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QHash<QString, QRect> layout;
    for (QWidget *child : main.findChildren<QWidget *>())
        layout.insert(child->objectName(), QRect(child->mapTo(&main, QPoint(0, 0)), child->size()));
    main.showMaximized();
    QTRY_VERIFY(main.width() > pixels(6144) && main.height() > pixels(7080));
    for (QWidget *child : main.findChildren<QWidget *>()) {
        // Qt's own parts of a control are named qt_..., the window's scroll area's too.
        if (!child->objectName().isEmpty() && !child->objectName().startsWith("qt_")) {
            QCOMPARE(QRect(child->mapTo(&main, QPoint(0, 0)), child->size()),
                layout.value(child->objectName()));
        }
    }
    QCOMPARE(QFontInfo(main.font()).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(main.font().family(), QStringLiteral("Arial"));
    QCOMPARE(main.font().pointSizeF(), 10.2);
    for (QWidget *child : main.findChildren<QWidget *>()) {
        // Label2's font is the same, set a shade closer; unnamed widgets are
        // the scroll areas' own parts.
        if (child->objectName().isEmpty() || child->objectName().startsWith("Label2"))
            continue;
        QVERIFY2(child->font() == main.font(), qPrintable(child->objectName()));
    }
    auto *tabs = main.findChild<QTabBar *>();
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("setup"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Fields"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("Container"));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(m_ui->control<QPushButton>("CBExit")->text(), QStringLiteral("&Exit"));
}

void StartUpTest::controlState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("shown");
    auto row
        = [](const QString &name, const QString &text, bool checked, bool enabled, bool shown) {
              QTest::newRow(qPrintable(name)) << name << text << checked << enabled << shown;
          };
    for (int i = 0; i < 3; ++i) {
        const bool panelShown = i == 0;
        row(element("Frame1", i), "Counter 1", false, true, panelShown);
        row(element("Option1", i), "Alpha", false, true, true);
        row(element("Option4", i), "Numeric", true, true, true);
        row(element("Option2", i), "UP", true, true, true);
        row(element("Option5", i), "Down", false, true, true);
        row(element("Check1", i), "Padded", false, true, true);
        row(element("Text1", i), "3", false, false, false);
        row(element("Text2", i), "10", false, true, true);
        row(element("Text3", i), "20", false, true, true);
        row(element("Text4", i), "1", false, true, true);
    }
    row("Option3(0)", "one", true, true, true);
    row("Option3(1)", "two", false, true, true);
    row("Option3(2)", "three", false, true, true);
    row("Text5(0)", "First Field ", false, true, true);
    row("Text5(1)", " Second Field ", false, true, true);
    row("Text5(2)", " Third Field ", false, true, false);
    row("Text5(3)", " Fourth Field", false, true, false);
    row("Label1(0)", "Field 1", false, true, true);
    row("Label1(1)", "Field 2", false, true, true);
    row("Label1(2)", "Field 3", false, true, false);
    row("Label1(3)", "Field 4", false, true, false);
    row("Label2(0)", "+ Counter 1 here +", false, true, true);
    row("Label2(1)", "+ Counter 2 here +", false, true, false);
    row("Label2(2)", "+ Counter 3 here +", false, true, false);
    row("Check3", "print to file", true, true, true);
    row("Command1", "Do IT", false, true, true);
    row("Command2", "Clear Container", false, true, true);
}

void StartUpTest::controlState()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, checked);
    QFETCH(bool, enabled);
    QFETCH(bool, shown);
    QWidget *control = m_ui->control(name);
    const QByteArray textProperty = qobject_cast<QGroupBox *>(control) ? "title" : "text";
    QCOMPARE(control->property(textProperty).toString(), text);
    QCOMPARE(control->property("checked").toBool(), checked);
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(!control->isHidden(), shown);
}

void StartUpTest::moduleValues()
{
    const RunModule &module = m_ui->window().module();
    QCOMPARE(QByteArray::fromStdString(module.NewLine), QByteArray("\r\n"));
    QCOMPARE(module.CounterCount, int16_t(1));
    QCOMPARE(module.LineList->lineCount(), 0);
    QCOMPARE(m_ui->containerText(), QString());
    QCOMPARE(m_ui->window().commonDialog().FileName, QStringLiteral("Test"));
}

void StartUpTest::accessibleNames_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name");
    auto row = [](const QString &control, QAccessible::Role role, const QString &name) {
        QTest::newRow(qPrintable(control)) << control << role << name;
    };
    row("Main", QAccessible::Window, "Kelvaro");
    row("Picture1", QAccessible::ToolBar, "Commands");
    row("Command1", QAccessible::Button, "Do IT");
    row("Command2", QAccessible::Button, "Clear Container");
    row("CBExit", QAccessible::Button, "Exit");
    row("MainFrame", QAccessible::Grouping, "Pages");
    row("SSTab1", QAccessible::Client, "setup, Fields and Container");
    row("page 0", QAccessible::Client, "setup tab");
    row("page 1", QAccessible::Client, "Fields tab");
    row("page 2", QAccessible::Client, "Container tab");
    row("Frame7", QAccessible::Grouping, "number of counters");
    row("Option3(0)", QAccessible::RadioButton, "one");
    row("Option3(1)", QAccessible::RadioButton, "two");
    row("Option3(2)", QAccessible::RadioButton, "three");
    const char *places[] = {"left", "middle", "right"};
    for (int i = 0; i < 3; ++i) {
        const QString counter = QStringLiteral(", counter %1").arg(i + 1);
        row(element("Frame1", i), QAccessible::Grouping,
            QStringLiteral("Counter %1 (the %2 panel)").arg(i + 1).arg(places[i]));
        row(element("Frame2", i), QAccessible::Grouping, "Type" + counter);
        row(element("Option1", i), QAccessible::RadioButton, "Alpha" + counter);
        row(element("Option4", i), QAccessible::RadioButton, "Numeric" + counter);
        row(element("Frame5", i), QAccessible::Grouping, "Direction" + counter);
        row(element("Option2", i), QAccessible::RadioButton, "UP" + counter);
        row(element("Option5", i), QAccessible::RadioButton, "Down" + counter);
        row(element("Frame3", i), QAccessible::Grouping, "Padding" + counter);
        row(element("Check1", i), QAccessible::CheckBox, "Padded" + counter);
        row(element("Text1", i), QAccessible::EditableText, "pad width" + counter);
        row(element("Frame4", i), QAccessible::Grouping, "Start Count frame" + counter);
        row(element("Text2", i), QAccessible::EditableText, "Start Count" + counter);
        row(element("ENdCntFrm", i), QAccessible::Grouping, "End Count frame" + counter);
        row(element("Text3", i), QAccessible::EditableText, "End Count" + counter);
        row(element("Frame6", i), QAccessible::Grouping, "Step frame" + counter);
        row(element("Text4", i), QAccessible::EditableText, "Step" + counter);
    }
    row("Frame8", QAccessible::Grouping, "Fields, in the order a line reads");
    for (int j = 0; j < 4; ++j) {
        const QString field = QStringLiteral("Field %1").arg(j + 1);
        row(element("Label1", j), QAccessible::StaticText, field);
        // Named by the label beside it.
        row(element("Text5", j), QAccessible::EditableText, field);
    }
    for (int k = 0; k < 3; ++k)
        row(element("Label2", k), QAccessible::StaticText,
            QStringLiteral("+ Counter %1 here +").arg(k + 1));
    row("Frame9", QAccessible::Grouping, "Container and print to file");
    row("Check3", QAccessible::CheckBox, "print to file");
    row("Text6", QAccessible::EditableText, "Container");
}

void StartUpTest::accessibleNames()
{
    QFETCH(QString, control);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);
    QWidget *widget = nullptr;
    if (control.startsWith("page ")) {
        // The pages are the tab control's children that are not its headers.
        const QList<QWidget *> pages = m_ui->control("SSTab1")->findChildren<QWidget *>(
            QString(), Qt::FindDirectChildrenOnly);
        QList<QWidget *> onlyPages;
        for (QWidget *page : pages) {
            if (!qobject_cast<QTabBar *>(page))
                onlyPages << page;
        }
        widget = onlyPages.at(control.mid(5).toInt());
    } else {
        widget = m_ui->control(control);
    }
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), role);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    if (auto *label = qobject_cast<QLabel *>(widget); label && label->buddy()) {
        const auto labelled = accessible->relations(QAccessible::Labelled);
        QCOMPARE(labelled.size(), 1);
        QCOMPARE(labelled.first().first->object(), label->buddy());
    }
}

void StartUpTest::everyControlHasItsOwnAccessibleName()
{
    QHash<QString, QString> owners;
    for (QWidget *widget : m_ui->window().findChildren<QWidget *>()) {
        // Qt's own parts of a control are named qt_...
        if (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))
            continue;
        // A label that names its box shares its name with that box.
        if (auto *label = qobject_cast<QLabel *>(widget); label && label->buddy())
            continue;
        const QString name = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(widget->objectName()));
        QVERIFY2(!owners.contains(name),
            qPrintable(widget->objectName() + " reads as " + owners.value(name) + " does"));
        owners.insert(name, widget->objectName());
    }
}

void StartUpTest::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("twips");
    auto row = [](const QString &name, const QString &container, int left, int top, int width,
                   int height) {
        QTest::newRow(qPrintable(name)) << name << container << QRect(left, top, width, height);
    };
    row("Picture1", "Main", 0, 0, 6252, 492);
    row("Command1", "Picture1", 66, 0, 852, 348);
    row("Command2", "Picture1", 1026, 0, 2172, 348);
    row("CBExit", "Picture1", 5040, 0, 852, 372);
    row("MainFrame", "Main", 0, 480, 6132, 6732);
    row("SSTab1", "MainFrame", 120, 240, 5892, 6252);
    row("Frame7", "SSTab1", 480, 360, 4332, 732);
    row("Option3(0)", "Frame7", 240, 360, 852, 252);
    row("Option3(1)", "Frame7", 1200, 360, 852, 252);
    row("Option3(2)", "Frame7", 2160, 360, 852, 252);
    for (int i = 0; i < 3; ++i) {
        row(element("Frame1", i), "SSTab1", 120 + 1800 * i, 1080, 1812, 5052);
        row(element("Frame2", i), element("Frame1", i), 120, 240, 1452, 852);
        row(element("Option1", i), element("Frame2", i), 120, 240, 852, 252);
        row(element("Option4", i), element("Frame2", i), 120, 480, 1092, 348);
        row(element("Frame5", i), element("Frame1", i), 120, 1080, 1452, 852);
        row(element("Option2", i), element("Frame5", i), 120, 240, 1212, 252);
        row(element("Option5", i), element("Frame5", i), 120, 480, 972, 252);
        row(element("Frame3", i), element("Frame1", i), 120, 1800, 1452, 1092);
        row(element("Check1", i), element("Frame3", i), 120, 240, 1212, 252);
        row(element("Text1", i), element("Frame3", i), 120, 600, 1212, 336);
        row(element("Frame4", i), element("Frame1", i), 120, 2880, 1452, 732);
        row(element("Text2", i), element("Frame4", i), 120, 240, 1212, 336);
        row(element("ENdCntFrm", i), element("Frame1", i), 120, 3600, 1452, 732);
        row(element("Text3", i), element("ENdCntFrm", i), 120, 240, 1212, 336);
        row(element("Frame6", i), element("Frame1", i), 120, 4320, 1452, 612);
        row(element("Text4", i), element("Frame6", i), 120, 240, 1212, 336);
    }
    row("Frame8", "SSTab1", 120, 480, 5532, 5652);
    row("Label1(0)", "Frame8", 120, 360, 732, 252);
    row("Text5(0)", "Frame8", 120, 726, 5292, 336);
    row("Label2(0)", "Frame8", 120, 1176, 1692, 228);
    row("Label1(1)", "Frame8", 120, 1518, 732, 252);
    row("Text5(1)", "Frame8", 120, 1884, 5292, 336);
    row("Label2(1)", "Frame8", 120, 2334, 1692, 228);
    row("Label1(2)", "Frame8", 120, 2676, 732, 252);
    row("Text5(2)", "Frame8", 120, 3042, 5292, 336);
    row("Label2(2)", "Frame8", 120, 3492, 1692, 228);
    row("Label1(3)", "Frame8", 120, 3834, 732, 252);
    row("Text5(3)", "Frame8", 120, 4200, 5292, 336);
    row("Frame9", "SSTab1", 120, 360, 5652, 5772);
    row("Check3", "Frame9", 240, 240, 4572, 372);
    row("Text6", "Frame9", 120, 720, 5412, 4812);
}

void StartUpTest::geometry()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, twips);
    QWidget *control = m_ui->control(name);
    QWidget *holder = m_ui->control(container);
    QVERIFY(holder->isAncestorOf(control));
    const QRect expected(
        pixels(twips.x()), pixels(twips.y()), pixels(twips.width()), pixels(twips.height()));
    QCOMPARE(QRect(control->mapTo(holder, QPoint(0, 0)), control->size()), expected);
}

void StartUpTest::hiddenPanelsKeepTheirPlaces()
{
    QWidget *tab = m_ui->control("SSTab1");
    const QPoint first = m_ui->control("Frame1(0)")->mapTo(tab, QPoint(0, 0));
    m_ui->click("Option3(2)");
    QVERIFY(m_ui->control("Frame1(2)")->isVisible());
    QCOMPARE(m_ui->control("Frame1(0)")->mapTo(tab, QPoint(0, 0)), first);
    QCOMPARE(
        m_ui->control("Frame1(1)")->mapTo(tab, QPoint(0, 0)), QPoint(pixels(1920), pixels(1080)));
    QCOMPARE(
        m_ui->control("Frame1(2)")->mapTo(tab, QPoint(0, 0)), QPoint(pixels(3720), pixels(1080)));
}

void StartUpTest::smallWindowScrolls_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("control");
    QTest::newRow("a short window shows Step as Tab reaches it") << QSize(410, 250) << "Text4(0)";
    QTest::newRow("a narrow window shows Exit as Tab reaches it") << QSize(250, 472) << "CBExit";
}

void StartUpTest::smallWindowScrolls()
{
    QFETCH(QSize, size);
    QFETCH(QString, control);
    Main &main = m_ui->window();
    main.resize(size);
    QTRY_COMPARE(main.size(), size);
    QWidget *target = m_ui->control(control);
    QVERIFY(target->visibleRegion().boundingRect() != target->rect());
    for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), target);
    QCOMPARE(target->visibleRegion().boundingRect(), target->rect());
}

void StartUpTest::focusOrder_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("order");
    // Qt stops once in a group of option buttons, at the one selected.
    QTest::newRow("as the window opens")
        << QStringList {} << 0
        << QStringList {"Option3(0)", "Option4(0)", "Option2(0)", "Check1(0)", "Text2(0)",
               "Text3(0)", "Text4(0)", "Command1", "Command2", "SSTab1", "CBExit"};
    QTest::newRow("three counters, padded and Alpha")
        << QStringList {"Option3(2)", "Check1(0)", "Option1(1)", "Option5(2)"} << 0
        << QStringList {"Option4(0)", "Option2(0)", "Check1(0)", "Text1(0)", "Text2(0)", "Text3(0)",
               "Text4(0)", "Option1(1)", "Option2(1)", "Text2(1)", "Text3(1)", "Text4(1)",
               "Option3(2)", "Option4(2)", "Option5(2)", "Check1(2)", "Text2(2)", "Text3(2)",
               "Text4(2)", "Command1", "Command2", "SSTab1", "CBExit"};
    QTest::newRow("the Fields tab with three counters")
        << QStringList {"Option3(2)"} << 1
        << QStringList {"Command1", "Command2", "SSTab1", "Text5(3)", "Text5(0)", "Text5(1)",
               "Text5(2)", "CBExit"};
    QTest::newRow("the Container tab")
        << QStringList {} << 2
        << QStringList {"Command1", "Command2", "SSTab1", "Text6", "CBExit", "Check3"};
}

void StartUpTest::focusOrder()
{
    QFETCH(QStringList, steps);
    QFETCH(int, tab);
    QFETCH(QStringList, order);
    if (steps.isEmpty() && tab == 0)
        QCOMPARE(m_ui->focusedControl(), order.first());
    for (const QString &step : steps)
        m_ui->click(step);
    m_ui->showTab(tab);
    m_ui->control(order.first())->setFocus(Qt::OtherFocusReason);
    QStringList forward = {m_ui->focusedControl()};
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << m_ui->focusedControl();
    }
    QCOMPARE(forward, order + QStringList {order.first()});

    QStringList backward = {m_ui->focusedControl()};
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        backward.prepend(m_ui->focusedControl());
    }
    QCOMPARE(backward, order + QStringList {order.first()});
}

void StartUpTest::focusFrameStandsOutOnTheStrip_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Do IT") << "Command1";
    QTest::newRow("Clear Container") << "Command2";
    QTest::newRow("Exit") << "CBExit";
}

void StartUpTest::focusFrameStandsOutOnTheStrip()
{
    // What Tab's focus changes on the button's edge, which borders the strip,
    // pixel by pixel: a frame all round, at 3:1 at least against the strip,
    // as WCAG asks.
    QFETCH(QString, button);
    QWidget *strip = m_ui->control("Picture1");
    QWidget *focused = m_ui->control(button);
    const QRect around = QRect(focused->mapTo(strip, QPoint(0, 0)), focused->size());
    m_ui->control("Text2(0)")->setFocus(Qt::MouseFocusReason);
    const QImage before = strip->grab(around).toImage();
    focused->setFocus(Qt::TabFocusReason);
    const QImage after = strip->grab(around).toImage();
    const QColor background = strip->palette().color(strip->backgroundRole());
    int standingOut = 0;
    for (int y = 0; y < after.height(); ++y) {
        for (int x = 0; x < after.width(); ++x) {
            const bool edge = x == 0 || y == 0 || x == after.width() - 1 || y == after.height() - 1;
            if (edge && after.pixel(x, y) != before.pixel(x, y)
                && contrast(after.pixelColor(x, y), background) >= 3.0)
                ++standingOut;
        }
    }
    // The corners are rounded.
    const int frame = 2 * (focused->width() + focused->height()) - 16;
    QVERIFY2(
        standingOut >= frame, qPrintable(QStringLiteral("%1 of %2").arg(standingOut).arg(frame)));
}

void StartUpTest::tabShortcuts_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QKeyCombination>("keys");
    QTest::addColumn<int>("shown");
    const char *tabs[] = {"setup", "Fields", "Container"};
    // A box, a button and the headers: the keys work wherever the focus is.
    const char *boxes[] = {"Text2(0)", "Text5(0)", "Text6"};
    const struct
    {
        const char *name;
        QKeyCombination keys;
        int step;
    } shortcuts[] = {{"Ctrl+Tab", Qt::CTRL | Qt::Key_Tab, 1},
        {"Ctrl+Shift+Tab", Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, 2},
        {"Ctrl+Page Down", Qt::CTRL | Qt::Key_PageDown, 1},
        {"Ctrl+Page Up", Qt::CTRL | Qt::Key_PageUp, 2}};
    for (int tab = 0; tab < 3; ++tab) {
        for (const char *focus : {boxes[tab], "Command1", "SSTab1"}) {
            for (const auto &shortcut : shortcuts) {
                const int shown = (tab + shortcut.step) % 3;
                QTest::addRow(
                    "%s on %s, in %s, shows %s", shortcut.name, tabs[tab], focus, tabs[shown])
                    << tab << focus << shortcut.keys << shown;
            }
        }
    }
}

void StartUpTest::tabShortcuts()
{
    QFETCH(int, tab);
    QFETCH(QString, focus);
    QFETCH(QKeyCombination, keys);
    QFETCH(int, shown);
    m_ui->showTab(tab);
    QWidget *target
        = focus == "SSTab1" ? m_ui->window().findChild<QTabBar *>() : m_ui->control(focus);
    target->setFocus(Qt::TabFocusReason);
    QTest::keyClick(target, keys.key(), keys.keyboardModifiers());
    QCOMPARE(m_ui->currentTab(), shown);
    // The focus stays where the user can see it: a box left behind on the
    // hidden page hands it to the page in front.
    QVERIFY(QApplication::focusWidget()->isVisible());
}

void StartUpTest::clearContainer_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("full");
    const char *tabs[] = {"setup", "Fields", "Container"};
    for (int tab = 0; tab < 3; ++tab) {
        QTest::addRow("empty, on %s", tabs[tab]) << tab << false;
        QTest::addRow("full, on %s", tabs[tab]) << tab << true;
    }
}

void StartUpTest::clearContainer()
{
    QFETCH(int, tab);
    QFETCH(bool, full);
    if (full) {
        m_ui->pressDoIt();
        QCOMPARE(m_ui->container()->model().rowCount(), size_t(12));
    }
    m_ui->showTab(tab);
    const QStringList before = visibleState(*m_ui);
    const int64_t lines = m_ui->window().module().LineList->lineCount();

    m_ui->click("Command2");
    QCOMPARE(m_ui->containerText(), QString());
    QCOMPARE(m_ui->currentTab(), tab);
    QCOMPARE(visibleState(*m_ui), before);
    QCOMPARE(m_ui->window().module().LineList->lineCount(), lines);
    QVERIFY(m_ui->messages().isEmpty());

    // The next run fills it again.
    m_ui->pressDoIt();
    QCOMPARE(m_ui->container()->model().rowCount(), size_t(12));
}

void StartUpTest::exitEndsTheProgram_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("tab");
    for (int tab = 0; tab < 3; ++tab) {
        QTest::addRow("click, tab %d", tab) << "click" << tab;
        QTest::addRow("Alt+E, tab %d", tab) << "Alt+E" << tab;
    }
    QTest::newRow("Enter on Exit") << "Enter" << 0;
    QTest::newRow("keypad Enter on Exit") << "keypad Enter" << 0;
    QTest::newRow("Space on Exit") << "Space" << 0;
    QTest::newRow("closing the window") << "close" << 1;
}

void StartUpTest::exitEndsTheProgram()
{
    QFETCH(QString, how);
    QFETCH(int, tab);
    m_ui->pressDoIt();
    m_ui->showTab(tab);
    // With the focus in a text box, Alt+E still reaches the button.
    if (tab == 1)
        m_ui->click("Text5(0)");
    if (tab == 2)
        m_ui->click("Text6");
    QTimer action;
    action.setSingleShot(true);
    connect(&action, &QTimer::timeout, [&] {
        if (how == "click")
            QTest::mouseClick(m_ui->control("CBExit"), Qt::LeftButton);
        else if (how == "Alt+E")
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::AltModifier);
        else if (how.endsWith("Enter") || how == "Space")
            m_ui->press("CBExit",
                how == "Enter"       ? Qt::Key_Return
                    : how == "Space" ? Qt::Key_Space
                                     : Qt::Key_Enter);
        else
            m_ui->window().close();
    });
    action.start(0);
    // Only a program that ends leaves its event loop; 99 would mean it kept running.
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    connect(&stillRunning, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    stillRunning.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(m_ui->messages().isEmpty());
    QCOMPARE(m_ui->saveDialogsShown(), 1);
}

void StartUpTest::keysOnAFocusedControl_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("pressed");
    // Exit, pressed, ends the program: exitEndsTheProgram has its keys.
    for (const char *button : {"Command1", "Command2"}) {
        QTest::addRow("Enter presses %s", button) << button << int(Qt::Key_Return) << button;
        QTest::addRow("keypad Enter presses %s", button) << button << int(Qt::Key_Enter) << button;
        QTest::addRow("Space presses %s", button) << button << int(Qt::Key_Space) << button;
    }
    for (const char *control : {"Command1", "Command2", "CBExit"}) {
        QTest::addRow("Escape on %s presses nothing", control)
            << control << int(Qt::Key_Escape) << QString();
    }
    for (const char *control : {"Option3(0)", "Text4(0)", "Text5(0)"}) {
        QTest::addRow("Enter on %s presses nothing", control)
            << control << int(Qt::Key_Return) << QString();
    }
}

void StartUpTest::keysOnAFocusedControl()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(QString, pressed);
    QHash<QString, int> clicks;
    QObject counting;
    for (const char *name : {"Command1", "Command2", "CBExit"}) {
        connect(m_ui->control<QPushButton>(name), &QPushButton::clicked, &counting,
            [&clicks, name] { ++clicks[name]; });
    }
    const QStringList before = visibleState(*m_ui);
    m_ui->press(focus, static_cast<Qt::Key>(key));
    QHash<QString, int> expected;
    if (!pressed.isEmpty())
        expected.insert(pressed, 1);
    QCOMPARE(clicks, expected);
    QCOMPARE(m_ui->saveDialogsShown(), pressed == "Command1" ? 1 : 0);
    if (pressed.isEmpty())
        QCOMPARE(visibleState(*m_ui), before);
    QVERIFY(m_ui->window().isVisible());
}

QTEST_MAIN(StartUpTest)
#include "tst_startup.moc"
