// SPDX-License-Identifier: GPL-3.0-or-later
// What the Container tells a screen reader when its text, caret, selection or description changes.
#include "containerevents.h"

#include "containermodel.h"
#include "readerwindow.h"

#include <QAccessible>

namespace {

// Longer changes are announced without their text: a screen reader would only
// be handed megabytes to speak.
constexpr size_t LongestAnnounced = size_t(64) << 10;

QString announced(const ReaderWindow &window, size_t from, size_t to)
{
    return to - from <= LongestAnnounced ? QString::fromStdString(window.model().text(from, to))
                                         : QString();
}

} // namespace

ContainerEvents::ContainerEvents(QObject *view, const ReaderWindow &window)
    : m_view(view)
    , m_window(window)
{ }

bool ContainerEvents::listening()
{
    return s_sink || QAccessible::isActive();
}

void ContainerEvents::send(QAccessibleEvent *event)
{
    if (s_sink)
        s_sink(event);
    else
        QAccessible::updateAccessibility(event);
}

void ContainerEvents::removal(size_t from, size_t to)
{
    if (!listening() || from >= to)
        return;
    QAccessibleTextRemoveEvent event(m_view, m_window.toUtf16(from), announced(m_window, from, to));
    send(&event);
}

void ContainerEvents::insertion(size_t from, size_t to)
{
    if (!listening() || from >= to)
        return;
    QAccessibleTextInsertEvent event(m_view, m_window.toUtf16(from), announced(m_window, from, to));
    send(&event);
}

void ContainerEvents::textReplaced(size_t caret)
{
    if (!listening())
        return;
    // Told without the texts, which may be hundreds of megabytes. An update
    // without text is dropped on the way to the screen reader; the caret's
    // row and the description, which counts the rows, are what it hears.
    QAccessibleTextUpdateEvent event(m_view, 0, QString(), QString());
    send(&event);
    this->caret(caret);
}

void ContainerEvents::caret(size_t caret)
{
    if (!listening())
        return;
    QAccessibleTextCursorEvent event(m_view, m_window.toUtf16(caret));
    send(&event);
    describe();
}

void ContainerEvents::selection(size_t from, size_t to)
{
    if (!listening())
        return;
    QAccessibleTextSelectionEvent event(m_view, m_window.toUtf16(from), m_window.toUtf16(to));
    send(&event);
    describe();
}

void ContainerEvents::describe()
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_view);
    if (!accessible)
        return;
    const QString description = accessible->text(QAccessible::Description);
    if (description == m_described)
        return;
    m_described = description;
    QAccessibleEvent event(m_view, QAccessible::DescriptionChanged);
    send(&event);
}
