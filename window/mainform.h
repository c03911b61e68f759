// SPDX-License-Identifier: GPL-3.0-or-later
// The Kelvaro window: its controls, start-up, reactions, key filters and commands.
//
// The controls keep their design names. What each is on screen (k is a
// counter panel, 0 to 2, for counter k+1; j a field, 0 to 3, for Field j+1):
//
//   Picture1           the blue strip along the top that holds the commands
//   Command1           "Do IT": makes the lines (Command1_Click is the run)
//   Command2           "Clear Container": empties the Container
//   CBExit             "Exit": ends the program
//   MainFrame, SSTab1  the frame under the strip, and the tabs "setup",
//                      "Fields" and "Container" in it
//   Frame7, Option3(k) "number of counters" and its options "one", "two", "three"
//   Frame1(k)          counter k+1's panel, captioned "Counter 1" on every panel
//   Frame2(k)          "Type": Option1(k) "Alpha", Option4(k) "Numeric"
//   Frame5(k)          "Direction": Option2(k) "UP", Option5(k) "Down"
//   Frame3(k)          "Padded" (Check1(k)) and the pad width box Text1(k) under it
//   Frame4(k)          "Start Count", the box Text2(k)
//   ENdCntFrm(k)       "End Count", the box Text3(k)
//   Frame6(k)          "Step", the box Text4(k)
//   Frame8             the "Fields" page: Label1(j) "Field j+1" over the box
//                      Text5(j), Label2(k) "+ Counter k+1 here +" between them
//   Frame9             the "Container" page: Check3 "print to file" and the
//                      Container itself, Text6
//   CommonDialog1      the Save dialog a printed run asks for its file with
//
// The handlers are named control_event: Option5_Click(k) runs when "Down" is
// chosen in panel k, Text2_KeyPress(k) filters a key typed into Start Count,
// Text6_GotFocus selects the whole Container as the focus arrives.
#pragma once

#include "commondialog.h"
#include "controlarray.h"
#include "runmodule.h"

#include <QHash>
#include <QWidget>

#include <cstdint>
#include <functional>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class Container;
class ControlLayout;
class Frame;
class TabControl;

class Main : public QWidget
{
    Q_OBJECT

public:
    explicit Main(QWidget *parent = nullptr);

    // The run's lasting values: the number of counters, the latest run's lines.
    const RunModule &module() const { return m_module; }
    const CommonDialog &commonDialog() const { return CommonDialog1; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // form: the widget that holds the layout, scrolled in a small window.
    void createControls(QWidget *form);
    void createCounterPanel(ControlLayout &layout, QWidget *page, int i);
    void connectHandlers();
    // Hands the characters typed into box to its key-press handler.
    void watchKeys(QLineEdit *box, const std::function<void(int16_t &)> &keyPress);

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void CBExit_Click();
    void Check1_Click(int index);
    void Option1_Click(int index);
    void Option2_Click(int index);
    void Option3_Click(int index);
    void Option4_Click(int index);
    void Option5_Click(int index);
    void Text1_GotFocus(int index);
    void Text2_GotFocus(int index);
    void Text3_GotFocus(int index);
    void Text4_GotFocus(int index);
    void Text5_GotFocus(int index);
    void Text6_GotFocus();
    void Text1_KeyPress(int index, int16_t &keyAscii);
    void Text2_KeyPress(int index, int16_t &keyAscii);
    void Text3_KeyPress(int index, int16_t &keyAscii);
    void Text4_KeyPress(int index, int16_t &keyAscii);

    void writeStartEnd(int i, const char *start, const char *end);
    void startEndKeyPress(QLineEdit *box, int index, int16_t &keyAscii);
    RunSettings readSettings() const;
    void warn(const QString &message);
    // Puts the focus, and the user, in the box a refused run's message names.
    void focusBox(const SettingBox &box);

    // Tests give the dialog a presenter that answers at once, and show the
    // progress dialog without its delay.
    friend class MainForTests;

    RunModule m_module;
    CommonDialog CommonDialog1;
    // A write shorter than this shows no progress dialog.
    int m_progressDelayMs = 300;
    QHash<QObject *, std::function<void(int16_t &)>> m_keyPress;

    QFrame *Picture1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *CBExit = nullptr;
    Frame *MainFrame = nullptr;
    TabControl *SSTab1 = nullptr;
    Frame *Frame7 = nullptr;
    Frame *Frame8 = nullptr;
    Frame *Frame9 = nullptr;
    QCheckBox *Check3 = nullptr;
    Container *Text6 = nullptr;
    ControlArray<QRadioButton> Option3;
    ControlArray<Frame> Frame1;
    ControlArray<Frame> Frame2;
    ControlArray<Frame> Frame3;
    ControlArray<Frame> Frame4;
    ControlArray<Frame> Frame5;
    ControlArray<Frame> Frame6;
    ControlArray<Frame> ENdCntFrm;
    ControlArray<QRadioButton> Option1;
    ControlArray<QRadioButton> Option4;
    ControlArray<QRadioButton> Option2;
    ControlArray<QRadioButton> Option5;
    ControlArray<QCheckBox> Check1;
    ControlArray<QLineEdit> Text1;
    ControlArray<QLineEdit> Text2;
    ControlArray<QLineEdit> Text3;
    ControlArray<QLineEdit> Text4;
    ControlArray<QLineEdit> Text5;
    ControlArray<QLabel> Label1;
    ControlArray<QLabel> Label2;
};
