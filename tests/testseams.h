// SPDX-License-Identifier: GPL-3.0-or-later
// The knobs of product classes that tests turn, each declared by its class as a friend.
#pragma once

#include "container.h"
#include "containerevents.h"
#include "readerwindow.h"

#include <cstddef>

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
