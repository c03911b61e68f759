// SPDX-License-Identifier: GPL-3.0-or-later
// The one way tests and benchmarks reach inside a class: each class that lets
// them declares `friend class <Class>ForTests;` beside what they may set.
#pragma once

#include "container.h"
#include "containerevents.h"
#include "containermime.h"
#include "containermodel.h"
#include "mainform.h"
#include "readerwindow.h"
#include "streamingwrite.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class MainForTests
{
public:
    // The Save dialog, for a presenter that answers at once.
    static CommonDialog &commonDialog(Main &window) { return window.CommonDialog1; }
    static void setProgressDelay(Main &window, int milliseconds)
    {
        window.m_progressDelayMs = milliseconds;
    }
};

// The shape of the Container's text: its tree's height, which bounds what
// any edit or look-up visits, and the nodes that the text and its undo and
// redo steps hold between them, which is their memory.
class ContainerModelForTests
{
public:
    static size_t height(const ContainerModel &model) { return model.m_text.height(); }
    static size_t nodesHeld(const ContainerModel &model)
    {
        std::vector<const PieceTree *> trees {&model.m_text};
        for (const auto *steps : {&model.m_undo, &model.m_redo}) {
            for (const ContainerModel::Step &step : *steps)
                trees.push_back(&step.replaced);
        }
        return PieceTree::nodesHeld(trees);
    }
};

// The Container's limits, lowered to reach their edges with small texts.
class ContainerForTests
{
public:
    static void setCopyLimit(Container &box, size_t bytes) { box.m_copyLimit = bytes; }
    // Takes effect with the next lines shown.
    static void setScrollLimit(Container &box, std::uint64_t limit) { box.m_scrollLimit = limit; }
    // What a drag of the selection carries.
    static std::unique_ptr<QMimeData> dragData(const Container &box)
    {
        return std::unique_ptr<QMimeData>(box.dragData());
    }
};

// The writer of a run's file, held back or disturbed where a test says.
class StreamingWriteForTests
{
public:
    // Called on every writing thread after each chunk (false) and once the file
    // is being finished (true); empty for none. Set before a write starts.
    static void setWriterHook(std::function<void(bool finishing)> hook)
    {
        StreamingWrite::writerHook() = std::move(hook);
    }
};

class ReaderWindowForTests
{
public:
    // The most a screen reader is shown of the Container's text at once,
    // lowered so that a text of a few thousand bytes is shown as a window.
    static void setReply(Container &container, size_t units) { container.m_reader.m_reply = units; }
};

class ContainerEventsForTests
{
public:
    using Sink = ContainerEvents::Sink;
    // The Container's events for a screen reader go to the sink instead, also
    // when no reader listens; nullptr gives them back to Qt.
    static void setSink(Sink sink) { ContainerEvents::s_sink = sink; }
};
