// SPDX-License-Identifier: GPL-3.0-or-later
// What the Type, Direction, Padded and number-of-counters choices do to the panels.
#include "windowdriver.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

namespace {

// A panel as the user sees it: "width/start/end/step", then Padded and Type.
QString panelState(const WindowDriver &ui, int i)
{
    auto text = [&](const char *box) { return ui.control<QLineEdit>(element(box, i))->text(); };
    const auto *padded = ui.control<QCheckBox>(element("Check1", i));
    const auto *width = ui.control(element("Text1", i));
    return QStringLiteral("%1/%2/%3/%4 padded:%5%6 width:%7 %8")
        .arg(text("Text1"), text("Text2"), text("Text3"), text("Text4"))
        .arg(padded->isChecked() ? "ticked" : "unticked", padded->isEnabled() ? "" : ",disabled",
            width->isHidden() ? "hidden" : (width->isEnabled() ? "shown" : "shown,disabled"),
            ui.control<QRadioButton>(element("Option1", i))->isChecked() ? "Alpha" : "Numeric");
}

using Choices = UserSteps;

} // namespace

class ChoicesTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_ui = std::make_unique<WindowDriver>(); }
    void cleanup() { m_ui.reset(); }

    void panelChoices_data();
    void panelChoices();
    void choiceInOnePanelLeavesTheOthers_data();
    void choiceInOnePanelLeavesTheOthers();
    void numberOfCounters_data();
    void numberOfCounters();

private:
    std::unique_ptr<WindowDriver> m_ui;
};

void ChoicesTest::panelChoices_data()
{
    QTest::addColumn<Choices>("choices");
    QTest::addColumn<QString>("panel");

    const QString startUp = "3/10/20/1 padded:unticked width:hidden Numeric";
    QTest::newRow("start-up") << Choices {} << startUp;
    QTest::newRow("Down") << Choices {{"click", "Option5(0)", {}}}
                          << "3/20/10/1 padded:unticked width:hidden Numeric";
    QTest::newRow("Down, Alpha") << Choices {{"click", "Option5(0)", {}},
        {"click", "Option1(0)", {}}}
                                 << "1/Z/A/1 padded:unticked,disabled width:hidden Alpha";
    QTest::newRow("Down, Alpha, UP") << Choices {{"click", "Option5(0)", {}},
        {"click", "Option1(0)", {}}, {"click", "Option2(0)", {}}}
                                     << "1/A/Z/1 padded:unticked,disabled width:hidden Alpha";
    QTest::newRow("Down, Alpha, UP, Numeric") << Choices {{"click", "Option5(0)", {}},
        {"click", "Option1(0)", {}}, {"click", "Option2(0)", {}}, {"click", "Option4(0)", {}}}
                                              << "3/10/20/1 padded:unticked width:hidden Numeric";
    QTest::newRow("Alpha, Down") << Choices {{"click", "Option1(0)", {}},
        {"click", "Option5(0)", {}}}
                                 << "1/Z/A/1 padded:unticked,disabled width:hidden Alpha";
    QTest::newRow("Alpha on a padded panel keeps Padded ticked and the box shown")
        << Choices {{"click", "Check1(0)", {}}, {"click", "Option1(0)", {}}}
        << "1/A/Z/1 padded:ticked,disabled width:shown Alpha";
    QTest::newRow("Numeric again enables Padded and sets the width to 3") << Choices {
        {"click", "Check1(0)", {}}, {"click", "Option1(0)", {}},
        {"click", "Option4(0)", {}}} << "3/10/20/1 padded:ticked width:shown Numeric";
    QTest::newRow("a choice discards typed start and end but keeps the step") << Choices {
        {"type", "Text2(0)", "55"}, {"type", "Text3(0)", "66"}, {"type", "Text4(0)", "7"},
        {"click", "Option5(0)", {}}} << "3/20/10/7 padded:unticked width:hidden Numeric";
    QTest::newRow("clicking the selected option again keeps typed values") << Choices {
        {"type", "Text2(0)", "55"}, {"click", "Option2(0)", {}},
        {"click", "Option4(0)", {}}} << "3/55/20/1 padded:unticked width:hidden Numeric";
    QTest::newRow("the arrow key selects Alpha") << Choices {
        {"key", "Option4(0)", "Up"}} << "1/A/Z/1 padded:unticked,disabled width:hidden Alpha";
    QTest::newRow("the arrow key selects Down") << Choices {{"key", "Option2(0)", "Down"}}
                                                << "3/20/10/1 padded:unticked width:hidden Numeric";
    QTest::newRow("Space ticks Padded")
        << Choices {{"key", "Check1(0)", "Space"}} << "3/10/20/1 padded:ticked width:shown Numeric";
    QTest::newRow("unticking hides the width box but keeps its text") << Choices {
        {"click", "Check1(0)", {}}, {"type", "Text1(0)", "5"},
        {"click", "Check1(0)", {}}} << "5/10/20/1 padded:unticked width:hidden Numeric";
    QTest::newRow("ticking again shows the width last typed") << Choices {
        {"click", "Check1(0)", {}}, {"type", "Text1(0)", "5"}, {"click", "Check1(0)", {}},
        {"click", "Check1(0)", {}}} << "5/10/20/1 padded:ticked width:shown Numeric";
}

void ChoicesTest::panelChoices()
{
    QFETCH(Choices, choices);
    QFETCH(QString, panel);
    m_ui->perform(choices);
    QCOMPARE(panelState(*m_ui, 0), panel);
}

void ChoicesTest::choiceInOnePanelLeavesTheOthers_data()
{
    QTest::addColumn<QString>("choice");
    for (const char *control : {"Option1(1)", "Option5(1)", "Check1(1)"})
        QTest::newRow(control) << control;
}

void ChoicesTest::choiceInOnePanelLeavesTheOthers()
{
    QFETCH(QString, choice);
    m_ui->click("Option3(2)");
    for (int i : {0, 2}) {
        m_ui->type(element("Text2", i), QString::number(30 + i));
        m_ui->type(element("Text4", i), QString::number(4 + i));
    }
    const QString first = panelState(*m_ui, 0);
    const QString third = panelState(*m_ui, 2);
    const QString second = panelState(*m_ui, 1);
    m_ui->click(choice);
    QVERIFY(panelState(*m_ui, 1) != second);
    QCOMPARE(panelState(*m_ui, 0), first);
    QCOMPARE(panelState(*m_ui, 2), third);
}

void ChoicesTest::numberOfCounters_data()
{
    QTest::addColumn<QStringList>("choices");
    QTest::addColumn<int>("counters");
    QTest::newRow("two") << QStringList {"Option3(1)"} << 2;
    QTest::newRow("three") << QStringList {"Option3(2)"} << 3;
    QTest::newRow("three, then one") << QStringList {"Option3(2)", "Option3(0)"} << 1;
    QTest::newRow("three, one, three")
        << QStringList {"Option3(2)", "Option3(0)", "Option3(2)"} << 3;
    QTest::newRow("by the arrow key") << QStringList {"Right"} << 2;
}

void ChoicesTest::numberOfCounters()
{
    QFETCH(QStringList, choices);
    QFETCH(int, counters);
    // Every panel, the hidden ones too, gets values of its own; one is Alpha
    // going down, one padded.
    m_ui->click("Option3(2)");
    m_ui->click("Option1(2)");
    m_ui->click("Option5(2)");
    m_ui->click("Check1(1)");
    for (int i = 0; i < 3; ++i) {
        m_ui->type(element("Text4", i), "9");
        if (i < 2)
            m_ui->type(element("Text2", i), "77");
    }
    m_ui->type("Text5(2)", "field three");
    m_ui->type("Text5(3)", "field four");
    m_ui->click("Option3(0)");

    for (const QString &choice : choices) {
        if (choice == "Right")
            m_ui->press("Option3(0)", Qt::Key_Right);
        else
            m_ui->click(choice);
    }
    const QStringList shown = {"Text5(2)", "Label1(2)", "Label2(1)", "Frame1(1)"};
    const QStringList shownWithThree = {"Text5(3)", "Label1(3)", "Label2(2)", "Frame1(2)"};
    for (const QString &name : shown)
        QCOMPARE(!m_ui->control(name)->isHidden(), counters >= 2);
    for (const QString &name : shownWithThree)
        QCOMPARE(!m_ui->control(name)->isHidden(), counters == 3);
    for (const char *name :
        {"Text5(0)", "Text5(1)", "Label1(0)", "Label1(1)", "Label2(0)", "Frame1(0)"})
        QVERIFY(!m_ui->control(name)->isHidden());
    QCOMPARE(m_ui->window().module().CounterCount, int16_t(counters));

    QCOMPARE(panelState(*m_ui, 0), "3/10/20/1 padded:unticked width:hidden Numeric");
    QCOMPARE(panelState(*m_ui, 1), "3/10/20/1 padded:ticked width:shown Numeric");
    QCOMPARE(panelState(*m_ui, 2), "3/20/10/1 padded:unticked,disabled width:hidden Alpha");
    QCOMPARE(m_ui->control<QLineEdit>("Text5(2)")->text(), "field three");
    QCOMPARE(m_ui->control<QLineEdit>("Text5(3)")->text(), "field four");
}

QTEST_MAIN(ChoicesTest)
#include "tst_choices.moc"
