// SPDX-License-Identifier: GPL-3.0-or-later
// What the counter boxes let the user type, and select-all when a box gets the focus.
#include "keyfilters.h"
#include "qttranslations.h"
#include "windowdriver.h"

#include "container.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

// A box set up for one kind of filter, holding a known text with the caret at its end.
struct Box
{
    const char *name;
    bool alpha;
};

void prepare(WindowDriver &ui, const Box &box, const QString &text)
{
    if (box.alpha)
        ui.click("Option1(0)");
    if (QLatin1String(box.name) == QLatin1String("Text1(0)"))
        ui.click("Check1(0)");
    ui.paste(box.name, text);
    QTest::keyClick(ui.control(box.name), Qt::Key_End);
}

// The menu that the desktop asks a box for with a right click at where.
QMenu *requestMenu(QWidget *surface, QPoint where)
{
    QContextMenuEvent request(QContextMenuEvent::Mouse, where, surface->mapToGlobal(where));
    QApplication::sendEvent(surface, &request);
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

} // namespace

class GuardsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_ui = std::make_unique<WindowDriver>(); }
    void cleanup() { m_ui.reset(); }

    void filterCodes_data();
    void filterCodes();
    void typedKeys_data();
    void typedKeys();
    void typingReplacesTheSelectedValue();
    void typeIsReadAtEachKeyPress();
    void pastedTextIsTakenAsItIs();
    void selectAllOnFocus_data();
    void selectAllOnFocus();
    void clickAfterAPageHeader_data();
    void clickAfterAPageHeader();
    void focusComingBackKeepsTheCaret_data();
    void focusComingBackKeepsTheCaret();
    void qtTextsInTheUsersLanguage_data();
    void qtTextsInTheUsersLanguage();

private:
    std::unique_ptr<WindowDriver> m_ui;
};

void GuardsTest::filterCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("digit");
    QTest::addColumn<bool>("letter");
    const struct
    {
        int code;
        bool digit;
        bool letter;
    } rows[] = {{0, true, true}, {8, true, true}, {13, true, true}, {31, true, true},
        {32, false, false}, {47, false, false}, {48, true, true}, {57, true, true},
        {58, false, false}, {64, false, false}, {65, false, true}, {90, false, true},
        {91, false, false}, {96, false, false}, {97, false, true}, {122, false, true},
        {123, false, false}, {255, false, false}, {256, true, true}, {-1, true, true}};
    for (const auto &row : rows)
        QTest::addRow("code %d", row.code) << row.code << row.digit << row.letter;
}

void GuardsTest::filterCodes()
{
    QFETCH(int, code);
    QFETCH(bool, digit);
    QFETCH(bool, letter);
    int16_t digits = static_cast<int16_t>(code);
    digitsFilter(digits);
    QCOMPARE(digits, digit ? code : 0);
    int16_t letters = static_cast<int16_t>(code);
    lettersFilter(letters);
    QCOMPARE(letters, letter ? code : 0);
}

void GuardsTest::typedKeys_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");

    const Box numberBoxes[] = {{"Text1(0)", false}, {"Text2(0)", false}, {"Text3(0)", false},
        {"Text4(0)", false}, {"Text4(0)", true}};
    const QString printable = QStringLiteral(" /09:@AZ[`az{");
    for (const Box &box : numberBoxes) {
        const QString kind
            = QString::fromLatin1(box.name) + (box.alpha ? " of an Alpha counter" : "");
        for (const QChar c : printable) {
            const bool digit = c.isDigit();
            QTest::addRow("%s takes %s: code %d", qPrintable(kind), digit ? "a digit" : "no other",
                c.unicode())
                << box.name << box.alpha << 0 << QString(c)
                << (digit ? "12" + QString(c) : QStringLiteral("12"));
        }
        QTest::addRow("%s: Backspace", qPrintable(kind))
            << box.name << box.alpha << int(Qt::Key_Backspace) << ""
            << "1";
        QTest::addRow("%s: Enter", qPrintable(kind))
            << box.name << box.alpha << int(Qt::Key_Return) << ""
            << "12";
        QTest::addRow("%s: Delete", qPrintable(kind))
            << box.name << box.alpha << int(Qt::Key_Home) << "\x7f"
            << "2";
        QTest::addRow("%s: an arrow key", qPrintable(kind))
            << box.name << box.alpha << int(Qt::Key_Left) << ""
            << "12";
        QTest::addRow("%s: no Windows-1252 code", qPrintable(kind))
            << box.name << box.alpha << 0 << "Ж"
            << "12";
    }

    for (const char *name : {"Text2(0)", "Text3(0)"}) {
        for (const QChar c : printable) {
            const bool kept = c.isLetterOrNumber();
            QTest::addRow("Alpha %s %s: code %d", name, kept ? "takes" : "empties on", c.unicode())
                << name << true << 0 << QString(c) << (kept ? QString(c) : QString());
        }
        QTest::addRow("Alpha %s: Backspace empties", name)
            << name << true << int(Qt::Key_Backspace) << ""
            << "";
        QTest::addRow("Alpha %s: Enter empties", name) << name << true << int(Qt::Key_Return) << ""
                                                       << "";
        QTest::addRow("Alpha %s: Escape empties", name) << name << true << int(Qt::Key_Escape) << ""
                                                        << "";
        QTest::addRow("Alpha %s: Delete is no key press", name)
            << name << true << int(Qt::Key_Home) << "\x7f"
            << "2";
        QTest::addRow("Alpha %s: an arrow key keeps the text", name)
            << name << true << int(Qt::Key_Left) << ""
            << "12";
        QTest::addRow("Alpha %s: no Windows-1252 code empties", name) << name << true << 0 << "Ж"
                                                                      << "";
    }
}

void GuardsTest::typedKeys()
{
    QFETCH(QString, box);
    QFETCH(bool, alpha);
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(QString, result);
    const QByteArray name = box.toLatin1();
    prepare(*m_ui, {name.constData(), alpha}, "12");
    QWidget *target = m_ui->control(box);
    if (key != 0)
        QTest::keyClick(target, static_cast<Qt::Key>(key));
    if (text == "\x7f")
        QTest::keyClick(target, Qt::Key_Delete);
    else if (!text.isEmpty())
        WindowDriver::typeKeys(target, text);
    QCOMPARE(m_ui->control<QLineEdit>(box)->text(), result);
}

void GuardsTest::typingReplacesTheSelectedValue()
{
    m_ui->click("Text4(0)");
    QTest::keyClicks(m_ui->control("Text4(0)"), "12a5");
    QCOMPARE(m_ui->control<QLineEdit>("Text4(0)")->text(), QStringLiteral("125"));
    m_ui->click("Option1(0)");
    m_ui->click("Text2(0)");
    QTest::keyClicks(m_ui->control("Text2(0)"), "b");
    QCOMPARE(m_ui->control<QLineEdit>("Text2(0)")->text(), QStringLiteral("b"));
}

void GuardsTest::typeIsReadAtEachKeyPress()
{
    m_ui->click("Option1(0)");
    m_ui->type("Text2(0)", "xy");
    QCOMPARE(m_ui->control<QLineEdit>("Text2(0)")->text(), QStringLiteral("y"));
    // Back to Numeric without leaving the box: the next key is a digit key.
    m_ui->press("Option4(0)", Qt::Key_Space);
    m_ui->type("Text2(0)", "x7y8");
    QCOMPARE(m_ui->control<QLineEdit>("Text2(0)")->text(), QStringLiteral("78"));
}

void GuardsTest::pastedTextIsTakenAsItIs()
{
    m_ui->paste("Text4(0)", "-5 e");
    QCOMPARE(m_ui->control<QLineEdit>("Text4(0)")->text(), QStringLiteral("-5 e"));
    m_ui->click("Option1(0)");
    m_ui->paste("Text3(0)", "Hello");
    QCOMPARE(m_ui->control<QLineEdit>("Text3(0)")->text(), QStringLiteral("Hello"));
    // No box cuts a long paste short.
    const QString digits(40000, QLatin1Char('9'));
    m_ui->paste("Text2(0)", digits);
    QCOMPARE(m_ui->control<QLineEdit>("Text2(0)")->text(), digits);
}

void GuardsTest::selectAllOnFocus_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("how");
    for (const char *box :
        {"Text1(0)", "Text2(0)", "Text3(0)", "Text4(0)", "Text5(0)", "Text5(3)", "Text6"}) {
        for (const char *how : {"Tab", "Shift+Tab", "click"})
            QTest::addRow("%s by %s", box, how) << box << how;
    }
    // So that the menu's Paste replaces the text.
    for (const char *box : {"Text2(0)", "Text4(0)", "Text5(0)"})
        QTest::addRow("%s by a right click", box) << box << "right click";
}

void GuardsTest::selectAllOnFocus()
{
    QFETCH(QString, box);
    QFETCH(QString, how);
    m_ui->click("Check1(0)");
    m_ui->click("Option3(2)");
    m_ui->pressDoIt();
    QWidget *target = m_ui->control(box);
    auto *lineEdit = qobject_cast<QLineEdit *>(target);
    if (lineEdit)
        lineEdit->setText(QStringLiteral("456"));
    m_ui->click(QStringLiteral("SSTab1"));
    QWidget *surface = lineEdit ? target : m_ui->container()->viewport();
    // Focus starts elsewhere, with a caret and no selection in the box.
    m_ui->click(box);
    QTest::mouseClick(
        surface, Qt::LeftButton, {}, QPoint(surface->width() - 2, surface->height() / 2));
    QTest::mouseClick(
        surface, Qt::LeftButton, {}, QPoint(surface->width() - 2, surface->height() / 2));
    m_ui->control("Command2")->setFocus();
    if (lineEdit)
        QVERIFY(!lineEdit->hasSelectedText());

    if (how == "click") {
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(3, surface->height() / 2));
    } else if (how == "right click") {
        // The desktop asks for the menu as the button goes down, and the menu
        // takes the release.
        const QPoint where(3, surface->height() / 2);
        QTest::mousePress(surface, Qt::RightButton, {}, where);
        QMenu *menu = requestMenu(surface, where);
        QVERIFY(menu);
        QTest::mouseRelease(
            menu, Qt::RightButton, {}, menu->mapFromGlobal(surface->mapToGlobal(where)));
        QTest::keyClick(menu, Qt::Key_Escape);
    } else {
        // Step to the box from its neighbour in the focus order.
        for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab,
                how == "Tab" ? Qt::NoModifier : Qt::ShiftModifier);
    }
    QCOMPARE(QApplication::focusWidget(), target);
    if (lineEdit) {
        QCOMPARE(lineEdit->selectedText(), QStringLiteral("456"));
    } else {
        QCOMPARE(m_ui->container()->selectedText(), m_ui->containerText());
        QVERIFY(!m_ui->containerText().isEmpty());
    }
}

void GuardsTest::clickAfterAPageHeader_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("box");
    QTest::newRow("Field 1, from the Container") << "Text6"
                                                 << "Text5(0)";
    QTest::newRow("Start Count, from Field 1") << "Text5(0)"
                                               << "Text2(0)";
}

void GuardsTest::clickAfterAPageHeader()
{
    QFETCH(QString, from);
    QFETCH(QString, box);
    m_ui->click(from);
    QCOMPARE(m_ui->focusedControl(), from);
    // A click on the box's page header, then one into the box.
    m_ui->click(box);
    auto *lineEdit = m_ui->control<QLineEdit>(box);
    QCOMPARE(QApplication::focusWidget(), lineEdit);
    QCOMPARE(lineEdit->selectedText(), lineEdit->text());
    QTest::keyClick(lineEdit, Qt::Key_7);
    QCOMPARE(lineEdit->text(), QStringLiteral("7"));
}

void GuardsTest::focusComingBackKeepsTheCaret_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("how");
    for (const char *box : {"Text1(0)", "Text2(0)", "Text3(0)", "Text4(0)", "Text5(0)"}) {
        QTest::addRow("Paste from %s's menu goes in at the caret", box) << box << "menu";
        QTest::addRow("%s typed into after another window", box) << box << "window";
    }
}

void GuardsTest::focusComingBackKeepsTheCaret()
{
    QFETCH(QString, box);
    QFETCH(QString, how);
    const QByteArray name = box.toLatin1();
    prepare(*m_ui, {name.constData(), false}, "1234");
    auto *lineEdit = m_ui->control<QLineEdit>(box);
    QTest::keyClick(lineEdit, Qt::Key_Home);
    QTest::keyClick(lineEdit, Qt::Key_Right);

    if (how == "menu") {
        QGuiApplication::clipboard()->setText(QStringLiteral("9"));
        // A right click, and the request for a menu that the desktop sends with it.
        const QPoint where = lineEdit->rect().center();
        QTest::mouseClick(lineEdit, Qt::RightButton, {}, where);
        QMenu *menu = requestMenu(lineEdit, where);
        QVERIFY(menu);
        const QList<QAction *> actions = menu->actions();
        const auto paste = std::find_if(actions.begin(), actions.end(),
            [](const QAction *action) { return action->text().startsWith("&Paste"); });
        QVERIFY(paste != actions.end());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(*paste).center());
    } else {
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        other.close();
        m_ui->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_ui->window()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_9);
    }
    QCOMPARE(QApplication::focusWidget(), lineEdit);
    QCOMPARE(lineEdit->text(), QStringLiteral("19234"));
}

void GuardsTest::qtTextsInTheUsersLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("control");
    // Shift+F10, or a right click: the desktop's request for a menu.
    QTest::addColumn<bool>("byKey");
    // Its entries, without their shortcuts; "-" is a separator.
    QTest::addColumn<QStringList>("menu");

    const QStringList german {"&Rückgängig", "Wieder&herstellen", "-", "&Ausschneiden", "&Kopieren",
        "Einf&ügen", "Löschen", "-", "Alles auswählen"};
    const QStringList english {
        "&Undo", "&Redo", "-", "Cu&t", "&Copy", "&Paste", "Delete", "-", "Select All"};
    QTest::newRow("German, a field box") << "de_DE"
                                         << "Text5(0)" << false << german;
    QTest::newRow("German, the Container") << "de_DE"
                                           << "Text6" << false << german;
    QTest::newRow("German, Shift+F10 in the Container") << "de_DE"
                                                        << "Text6" << true << german;
    QTest::newRow("English, Shift+F10 in a Start Count box") << "en_GB"
                                                             << "Text2(0)" << true << english;
}

void GuardsTest::qtTextsInTheUsersLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, control);
    QFETCH(bool, byKey);
    QFETCH(QStringList, menu);
    QObject owner;
    installQtTranslations(&owner, QLocale(locale));
    m_ui->click(control);
    QStringList texts;
    QTimer reader;
    connect(&reader, &QTimer::timeout, [&texts] {
        auto *shown = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!shown || !texts.isEmpty())
            return;
        for (const QAction *action : shown->actions())
            texts << (action->isSeparator() ? "-"
                                            : action->text().section(QLatin1Char('\t'), 0, 0));
        shown->close();
    });
    reader.start(10);
    QWidget *box = m_ui->control(control);
    if (byKey) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    } else {
        auto *area = qobject_cast<QAbstractScrollArea *>(box);
        QWidget *surface = area ? area->viewport() : box;
        requestMenu(surface, surface->rect().center());
    }
    QTRY_VERIFY(!texts.isEmpty());
    QCOMPARE(texts, menu);
}

QTEST_MAIN(GuardsTest)
#include "tst_guards.moc"
