// SPDX-License-Identifier: GPL-3.0-or-later
// What the Container tells a screen reader when its text, caret or selection changes.
#include "containerevents.h"

#include "containermodel.h"
#include "readerwindow.h"

#include <QAccessible>

namespace {

// Longer changes are announced without their text: a screen reader would only
// be handed megabytes to speak.
constexpr size_t LongestAnnounced = size_t(64) << 10;

ContainerEventSink eventSink = nullptr;

// Events are built only when someone listens: a screen reader through the
// platform's bridge, or a sink of one's own.
bool listening()
{
    return eventSink || QAccessible::isActive();
}

void send(QAccessibleEvent *event)
{
    if (eventSink)
        eventSink(event);
    else
        QAccessible::updateAccessibility(event);
}

} // namespace

void setContainerEventSink(ContainerEventSink sink)
{
    eventSink = sink;
}

namespace {

// A removal or an insertion of the text from..to, as it stands in the model now.
template<typename Event>
void notifyChange(QObject *view, const ReaderWindow &window, size_t from, size_t to)
{
    if (!listening() || from >= to)
        return;
    const QString text = to - from <= LongestAnnounced
        ? QString::fromStdString(window.model().text(from, to))
        : QString();
    Event event(view, window.toUtf16(from), text);
    send(&event);
}

} // namespace

void notifyRemoval(QObject *view, const ReaderWindow &window, size_t from, size_t to)
{
    notifyChange<QAccessibleTextRemoveEvent>(view, window, from, to);
}

void notifyInsertion(QObject *view, const ReaderWindow &window, size_t from, size_t to)
{
    notifyChange<QAccessibleTextInsertEvent>(view, window, from, to);
}

void notifyTextReplaced(QObject *view, const ReaderWindow &window, size_t caret)
{
    if (!listening())
        return;
    // The whole text changed at once (a run, Clear Container, undo), or the
    // window of a text too long for a reader's offsets moved: told
    // without the texts, which may be hundreds of megabytes. An update without
    // text is dropped on the way to the screen reader; the description, which
    // counts the rows, is what it hears.
    QAccessibleTextUpdateEvent event(view, 0, QString(), QString());
    send(&event);
    QAccessibleEvent described(view, QAccessible::DescriptionChanged);
    send(&described);
    notifyCaret(view, window, caret);
}

void notifyCaret(QObject *view, const ReaderWindow &window, size_t caret)
{
    if (!listening())
        return;
    QAccessibleTextCursorEvent event(view, window.toUtf16(caret));
    send(&event);
}

void notifySelection(QObject *view, const ReaderWindow &window, size_t from, size_t to)
{
    if (!listening())
        return;
    QAccessibleTextSelectionEvent event(view, window.toUtf16(from), window.toUtf16(to));
    send(&event);
}
