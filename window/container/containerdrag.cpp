// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's drag and drop: its selection dragged away, text dropped in.
#include "container.h"

#include "containerevents.h"
#include "containermime.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>

namespace {

// A drag within the Container moves its text, or copies it with the
// platform's copy key held; text from or to another program is copied.
void acceptDrop(QDropEvent *event, const QObject *container)
{
    if (event->source() != container && event->possibleActions().testFlag(Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->acceptProposedAction();
    }
}

} // namespace

bool Container::pressStartsDrag(size_t at) const
{
    // As in Qt's text boxes, a press on the selection or at its edge may
    // drag it. The selection made as the focus arrived is nobody's choice
    // of text: a press in it is an ordinary click.
    return hasSelectedText() && !m_selectedOnFocus && at >= std::min(m_anchor, m_caret)
        && at <= std::max(m_anchor, m_caret);
}

ContainerMimeData *Container::dragData() const
{
    // The text goes as pieces, whatever its size; another program is offered
    // only as much as it could be given by the clipboard.
    const size_t from = std::min(m_anchor, m_caret);
    const size_t to = std::max(m_anchor, m_caret);
    return new ContainerMimeData(m_model.fragment(from, to),
        to - from <= m_copyLimit ? ContainerMimeData::Offered::ToAll
                                 : ContainerMimeData::Offered::ToContainerOnly);
}

void Container::startDrag()
{
    m_gesture = Gesture::None;
    auto *drag = new QDrag(this);
    drag->setMimeData(dragData());
    // A move within the Container is made by the drop itself; a move that
    // another program asks for leaves the text here, as a copy.
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
}

bool Container::acceptsDrop(const QMimeData *mime) const
{
    // Whether there is text is enough: reading it would fetch the whole of
    // it from the other program at every move of the mouse.
    return mime && (qobject_cast<const ContainerMimeData *>(mime) || mime->hasText());
}

void Container::showDropAt(std::optional<size_t> at)
{
    if (at)
        at = outsideBreak(*at);
    if (at == m_dropAt)
        return;
    m_dropAt = at;
    viewport()->update();
}

void Container::dragEnterEvent(QDragEnterEvent *event)
{
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    acceptDrop(event, this);
    showDropAt(offsetAt(event->position().toPoint()));
}

void Container::dragMoveEvent(QDragMoveEvent *event)
{
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    acceptDrop(event, this);
    m_lastMouse = event->position().toPoint();
    showDropAt(offsetAt(m_lastMouse));
    // Held over the top or bottom row, the text scrolls on.
    if ((m_lastMouse.y() < rowHeight() || m_lastMouse.y() >= viewport()->height() - rowHeight())
        && !m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollMs, this);
}

void Container::dragLeaveEvent(QDragLeaveEvent *)
{
    showDropAt(std::nullopt);
    m_autoScroll.stop();
}

void Container::dropEvent(QDropEvent *event)
{
    showDropAt(std::nullopt);
    m_autoScroll.stop();
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    acceptDrop(event, this);
    drop(event->mimeData(), offsetAt(event->position().toPoint()),
        event->source() == this && event->dropAction() == Qt::MoveAction);
}

void Container::drop(const QMimeData *mime, size_t at, bool moveOwn)
{
    at = outsideBreak(at);
    const size_t from = std::min(m_anchor, m_caret);
    const size_t to = std::max(m_anchor, m_caret);
    if (!moveOwn || from == to) {
        // Beside the selection, not over it.
        deselect();
        insertFromMime(mime, at);
        return;
    }
    if (at >= from && at <= to) {
        moveCaret(to, false);
        return;
    }
    // The selection and the text it passes over trade places, in one
    // replacement, so that one undo puts both back.
    const size_t first = std::min(from, at);
    const size_t last = std::max(to, at);
    TextFragment moved = at > to ? m_model.fragment(to, at) : m_model.fragment(from, to);
    moved.append(at > to ? m_model.fragment(from, to) : m_model.fragment(at, from));
    m_events.removal(first, last);
    m_model.replace(first, last, moved);
    afterEdit(first, last - first, last - first, at > to ? at : at + (to - from));
}
