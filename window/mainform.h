// SPDX-License-Identifier: GPL-3.0-or-later
// The Kelvaro window: its controls, start-up, reactions, key filters and commands.
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

    // The Save dialog of a run. Tests give it a presenter that answers at once.
    CommonDialog CommonDialog1;

    const RunModule &module() const { return m_module; }
    // Tests reach the Container's capacity and the progress dialog with small runs.
    RunModule &module() { return m_module; }
    void setProgressDelay(int milliseconds) { m_progressDelayMs = milliseconds; }

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

    RunModule m_module;
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
