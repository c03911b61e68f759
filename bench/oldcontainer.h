// SPDX-License-Identifier: GPL-3.0-or-later
// The Container as it was before it became Kelvaro's own text box: a QScintilla
// editor, set up, filled and focused the way the window did it. Only the
// benchmark uses it, to time the same actions on both.
#pragma once

#include "commondialog.h"
#include "runmodule.h"

#include <QWidget>

#include <string>

class QPushButton;
class QsciScintilla;

// No margins, no folding, no wrapping, both scroll bars, the given font (the
// editor does not inherit its parent's), and carriage return with line feed as
// the line break.
void setupContainer(QsciScintilla *container, const QFont &font);

// Replaces the whole text with UTF-8 bytes in one step. Kept out of the undo
// history: a run's millions of lines would otherwise be held twice.
void setContainerText(QsciScintilla *container, const std::string &utf8);

// "Do IT", "Clear Container" and the editor, with "print to file" unticked:
// Do IT runs the given settings and fills the editor as the window did.
class OldContainerWindow : public QWidget
{
public:
    OldContainerWindow(const RunSettings &settings, QSize containerSize, const QFont &font);

    QsciScintilla *Text6 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

protected:
    // The editor selected its whole text whenever it got the focus, a click included.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Command1_Click();

    RunSettings m_settings;
    RunModule m_module;
    CommonDialog m_dialog;
    bool m_focusedByClick = false;
    bool m_deliveringClick = false;
};
