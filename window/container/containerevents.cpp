// SPDX-License-Identifier: GPL-3.0-or-later
// What the Container tells a screen reader when its text, caret or selection changes.
#include "containerevents.h"

#include "containermodel.h"

#include <QAccessible>

#include <climits>

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

int clampToInt(size_t value)
{
    return int(std::min<size_t>(value, INT_MAX));
}

} // namespace

void setContainerEventSink(ContainerEventSink sink)
{
    eventSink = sink;
}

namespace {

// A removal or an insertion of the text from..to, as it stands in the model now.
template<typename Event>
void notifyChange(QObject *view, const ContainerModel &model, size_t from, size_t to)
{
    if (!listening() || from >= to)
        return;
    const QString text
        = to - from <= LongestAnnounced ? QString::fromStdString(model.text(from, to)) : QString();
    Event event(view, clampToInt(model.utf16Offset(from)), text);
    send(&event);
}

} // namespace

void notifyRemoval(QObject *view, const ContainerModel &model, size_t from, size_t to)
{
    notifyChange<QAccessibleTextRemoveEvent>(view, model, from, to);
}

void notifyInsertion(QObject *view, const ContainerModel &model, size_t from, size_t to)
{
    notifyChange<QAccessibleTextInsertEvent>(view, model, from, to);
}

void notifyTextReplaced(QObject *view, const ContainerModel &model, size_t caret)
{
    if (!listening())
        return;
    // The whole text changed at once (a run, Clear Container, undo): told
    // without the texts, which may be hundreds of megabytes. An update without
    // text is dropped on the way to the screen reader; the description, which
    // counts the rows, is what it hears.
    QAccessibleTextUpdateEvent event(view, 0, QString(), QString());
    send(&event);
    QAccessibleEvent described(view, QAccessible::DescriptionChanged);
    send(&described);
    notifyCaret(view, model, caret);
}

void notifyCaret(QObject *view, const ContainerModel &model, size_t caret)
{
    if (!listening())
        return;
    QAccessibleTextCursorEvent event(view, clampToInt(model.utf16Offset(caret)));
    send(&event);
}

void notifySelection(QObject *view, const ContainerModel &model, size_t from, size_t to)
{
    if (!listening())
        return;
    QAccessibleTextSelectionEvent event(
        view, clampToInt(model.utf16Offset(from)), clampToInt(model.utf16Offset(to)));
    send(&event);
}
