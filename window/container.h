// SPDX-License-Identifier: GPL-3.0-or-later
// The Container: a QScintilla editor set up as a plain multi-line text box.
#pragma once

#include <string>

class QFont;
class QsciScintilla;

// No margins, no folding, no wrapping, both scroll bars, the given font (the
// editor does not inherit its parent's), and carriage return with line feed as
// the line break.
void setupContainer(QsciScintilla *container, const QFont &font);

// Replaces the whole text with UTF-8 bytes in one step. Kept out of the undo
// history: a run's millions of lines would otherwise be held twice.
void setContainerText(QsciScintilla *container, const std::string &utf8);
