// SPDX-License-Identifier: GPL-3.0-or-later
// What the Container tells a screen reader when its text, caret or selection changes.
#pragma once

#include <cstddef>

class ReaderWindow;
class QAccessibleEvent;
class QObject;

// Where the Container's events go instead of to Qt's accessibility, which
// hands them on only while a screen reader listens: a recorder, for a test of
// what a screen reader would be told. nullptr goes back to Qt.
using ContainerEventSink = void (*)(QAccessibleEvent *event);
void setContainerEventSink(ContainerEventSink sink);

// Tell a screen reader, when one listens, what changed in the view's text.
// Offsets are the model's, told as the window shows them; a removal is told
// before it is made, an insertion after.
void notifyRemoval(QObject *view, const ReaderWindow &window, size_t from, size_t to);
void notifyInsertion(QObject *view, const ReaderWindow &window, size_t from, size_t to);
// The whole text changed at once, or the window moved; the caret is where it
// stands now.
void notifyTextReplaced(QObject *view, const ReaderWindow &window, size_t caret);
void notifyCaret(QObject *view, const ReaderWindow &window, size_t caret);
// The selection runs from..to, from <= to.
void notifySelection(QObject *view, const ReaderWindow &window, size_t from, size_t to);
