// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader gets from the Container: its text, caret and selection,
// read a row at a time.
#pragma once

#include <cstddef>

class Container;

// Makes Qt's accessibility ask the Container through its own interface.
void installContainerAccessibility();

// Tell a screen reader, when one listens, what changed. Offsets are the model's.
void notifyRemoval(Container *container, size_t from, size_t to);
void notifyInsertion(Container *container, size_t from, size_t to);
void notifyTextReplaced(Container *container);
void notifyCaret(Container *container);
void notifySelection(Container *container);
