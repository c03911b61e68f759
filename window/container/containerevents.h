// SPDX-License-Identifier: GPL-3.0-or-later
// What the Container tells a screen reader when its text, caret, selection or description changes.
#pragma once

#include <QString>

#include <cstddef>

class ReaderWindow;
class QAccessibleEvent;
class QObject;

// The view's events for a screen reader, sent only while one listens. Offsets
// are the model's, told as the window shows them; a removal is told before it
// is made, everything else after. A reader caches what it heard of the
// description (the rows, what is selected), so every change of it is told,
// after the event that changed it.
class ContainerEvents
{
public:
    ContainerEvents(QObject *view, const ReaderWindow &window);

    void removal(size_t from, size_t to);
    void insertion(size_t from, size_t to);
    // The whole text changed at once, or the window moved; the caret is
    // where it stands now.
    void textReplaced(size_t caret);
    void caret(size_t caret);
    // The selection runs from..to, from <= to.
    void selection(size_t from, size_t to);

private:
    friend class ContainerEventsForTests;
    // Where the events go instead of to Qt's accessibility, which hands them
    // on only while a screen reader listens: a test's recorder.
    using Sink = void (*)(QAccessibleEvent *event);
    static inline Sink s_sink = nullptr;

    static bool listening();
    static void send(QAccessibleEvent *event);
    void describe();

    QObject *m_view;
    const ReaderWindow &m_window;
    QString m_described;
};
