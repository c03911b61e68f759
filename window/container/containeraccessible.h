// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader gets from the Container: its text, caret and selection,
// read a row at a time.
#pragma once

#include <cstddef>

class Container;
class QAccessibleEvent;

// Makes Qt's accessibility ask the Container through its own interface.
void installContainerAccessibility();

// Where the Container's events go instead of to Qt's accessibility, which
// hands them on only while a screen reader listens: a recorder, for a test of
// what a screen reader would be told. nullptr goes back to Qt.
using ContainerEventSink = void (*)(QAccessibleEvent *event);
void setContainerEventSink(ContainerEventSink sink);

// Tell a screen reader, when one listens, what changed. Offsets are the model's.
void notifyRemoval(Container *container, size_t from, size_t to);
void notifyInsertion(Container *container, size_t from, size_t to);
void notifyTextReplaced(Container *container);
void notifyCaret(Container *container);
void notifySelection(Container *container);
