// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's view: painting the rows in view, the caret, the keys, the
// mouse, the clipboard and input methods.
#include "container.h"

#include "containeraccessible.h"
#include "containermime.h"
#include "linebuffer.h"
#include "utf8.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>
#include <climits>

namespace {

// Room between the frame and the text, as in the window's other text boxes.
constexpr int Margin = 3;
constexpr int AutoScrollMs = 50;

// A place in a row as QTextLayout counts it, from the row's first bytes.
int columnOf(std::string_view row, size_t bytes)
{
    return int(utf16Units(row.substr(0, bytes)));
}

size_t bytesOfColumn(std::string_view row, int column)
{
    return bytesOfUtf16Units(row, size_t(std::max(column, 0)));
}

// Characters that have no glyph of their own are shown as the symbols that
// stand for them, one for one, so columns stay the text's own.
QString visible(QString text)
{
    for (QChar &character : text) {
        const char16_t code = character.unicode();
        if (code < 0x20)
            character = QChar(char16_t(0x2400 + code));
        else if (code == 0x7F)
            character = QChar(char16_t(0x2421));
        else if (code >= 0x80 && code < 0xA0)
            character = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

bool isWordCharacter(QChar character)
{
    return character.isLetterOrNumber() || character.isMark() || character == QLatin1Char('_');
}

// Text a key press types, or nothing for keys that are commands.
QString typedText(const QKeyEvent &event)
{
    QString text = event.text();
    if (text.isEmpty())
        return {};
    // Ctrl or Alt with a key is a command (Alt+E is "&Exit"); AltGr, which some
    // systems report as Ctrl+Alt, still types.
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers.testFlag(Qt::ControlModifier) != modifiers.testFlag(Qt::AltModifier))
        return {};
    const QChar first = text.front();
    if (first.unicode() < 0x20 || first.unicode() == 0x7F)
        return {};
    return text;
}

} // namespace

Container::Container(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_KeyCompression, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    installContainerAccessibility();
    updateScrollBars();
}

Container::~Container() = default;

void Container::setLines(const LineBuffer &lines)
{
    // The primary selection stands for a selection in the text; with the text
    // gone it would only keep the old run's lines alive into the next run.
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection()
        && qobject_cast<const ContainerMimeData *>(clipboard->mimeData(QClipboard::Selection)))
        clipboard->clear(QClipboard::Selection);
    m_primary.stop();
    m_model.setLines(lines);
    m_anchor = m_caret = 0;
    m_goalX = -1;
    m_widest = 0;
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
    notifyTextReplaced(this);
}

void Container::clear()
{
    setLines(LineBuffer());
}

QString Container::toPlainText() const
{
    return QString::fromStdString(m_model.text(0, m_model.size()));
}

QString Container::selectedText() const
{
    return QString::fromStdString(
        m_model.text(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret)));
}

void Container::setSelection(size_t anchor, size_t caret)
{
    m_anchor = std::min(anchor, m_model.size());
    moveCaret(std::min(caret, m_model.size()), true);
}

void Container::selectAll()
{
    // The caret goes to the end without scrolling there: the view stays where
    // the user was reading.
    m_anchor = 0;
    m_caret = m_model.size();
    m_goalX = -1;
    m_model.closeUndoStep();
    m_primary.start(0, this);
    restartBlinking();
    viewport()->update();
    notifySelection(this);
}

void Container::deselect()
{
    if (!hasSelectedText())
        return;
    m_anchor = m_caret;
    viewport()->update();
    notifySelection(this);
}

void Container::undo()
{
    if (!m_model.canUndo())
        return;
    const ContainerModel::Change change = m_model.undo();
    // The text that comes back is selected, so the user sees what returned.
    afterEdit(change.from, 0, 0, change.to);
    m_anchor = change.from;
    notifySelection(this);
}

void Container::redo()
{
    if (!m_model.canRedo())
        return;
    const ContainerModel::Change change = m_model.redo();
    afterEdit(change.from, 0, 0, change.to);
}

void Container::copy() const
{
    if (hasSelectedText())
        publishSelection(QClipboard::Clipboard);
}

void Container::cut()
{
    copy();
    deleteSelection();
}

void Container::paste()
{
    insertFromMime(
        QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard), std::min(m_anchor, m_caret));
}

void Container::deleteSelection()
{
    if (hasSelectedText())
        replaceRange(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret), {});
}

void Container::insertFromMime(const QMimeData *mime, size_t at)
{
    if (!mime)
        return;
    const bool intoSelection = hasSelectedText() && at == std::min(m_anchor, m_caret);
    const size_t to = intoSelection ? std::max(m_anchor, m_caret) : at;
    // Our own text goes back in as the pieces it was taken from: pasting a
    // million copied lines copies nothing.
    if (const auto *own = qobject_cast<const ContainerMimeData *>(mime)) {
        m_model.replace(at, to, own->fragment());
        afterEdit(at, to - at, own->fragment().size(), at + own->fragment().size());
        return;
    }
    if (!mime->hasText())
        return;
    m_model.closeUndoStep();
    replaceRange(at, to, mime->text().toStdString());
    m_model.closeUndoStep();
}

void Container::publishSelection(QClipboard::Mode mode) const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (mode == QClipboard::Selection && !clipboard->supportsSelection())
        return;
    if (!hasSelectedText())
        return;
    clipboard->setMimeData(new ContainerMimeData(m_model.fragment(
                               std::min(m_anchor, m_caret), std::max(m_anchor, m_caret))),
        mode);
}

void Container::replaceSelection(const QString &text)
{
    replaceRange(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret), text.toStdString());
}

void Container::replaceRange(size_t from, size_t to, const std::string &utf8)
{
    if (from == to && utf8.empty())
        return;
    notifyRemoval(this, from, to);
    m_model.replace(from, to, utf8);
    afterEdit(from, to - from, utf8.size(), from + utf8.size());
}

void Container::afterEdit(size_t from, size_t removed, size_t inserted, size_t caret)
{
    m_anchor = m_caret = caret;
    m_goalX = -1;
    updateScrollBars();
    ensureCaretVisible();
    restartBlinking();
    viewport()->update();
    if (removed == 0 && inserted == 0)
        notifyTextReplaced(this);
    else
        notifyInsertion(this, from, from + inserted);
    notifyCaret(this);
}

int Container::rowHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

int Container::visibleRows() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

size_t Container::firstVisibleRow() const
{
    return size_t(std::max(0, verticalScrollBar()->value()));
}

QString Container::displayedRow(size_t row) const
{
    return visible(QString::fromStdString(m_model.rowText(row)));
}

void Container::layOut(QTextLayout &layout, size_t row) const
{
    layout.setText(displayedRow(row));
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    if (!m_preedit.isEmpty() && row == m_model.rowOf(m_caret)) {
        const size_t start = m_model.rowStart(row);
        layout.setPreeditArea(columnOf(m_model.text(start, m_caret), m_caret - start), m_preedit);
    }
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e7);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

int Container::xOf(size_t offset) const
{
    const size_t row = m_model.rowOf(offset);
    const size_t start = m_model.rowStart(row);
    QTextLayout layout;
    layOut(layout, row);
    const std::string text = m_model.text(start, offset);
    return qRound(layout.lineAt(0).cursorToX(columnOf(text, text.size())));
}

size_t Container::offsetAt(QPoint point) const
{
    const int rowInView = point.y() < 0 ? -1 - (-point.y() / rowHeight()) : point.y() / rowHeight();
    const auto row
        = size_t(std::clamp<long long>(static_cast<long long>(firstVisibleRow()) + rowInView, 0,
            static_cast<long long>(m_model.rowCount() - 1)));
    QTextLayout layout;
    layOut(layout, row);
    const int x = point.x() - Margin + horizontalScrollBar()->value();
    const int column = layout.lineAt(0).xToCursor(x, QTextLine::CursorBetweenCharacters);
    return m_model.rowStart(row) + bytesOfColumn(m_model.rowText(row), column);
}

QRect Container::characterRect(size_t offset) const
{
    const size_t row = m_model.rowOf(offset);
    const size_t start = m_model.rowStart(row);
    QTextLayout layout;
    layOut(layout, row);
    const std::string text = m_model.text(start, m_model.rowEnd(row));
    const int column = columnOf(text, offset - start);
    const qreal x = layout.lineAt(0).cursorToX(column);
    const qreal next = column < layout.text().size() ? layout.lineAt(0).cursorToX(column + 1) : x;
    const int y = int(
        (static_cast<long long>(row) - static_cast<long long>(firstVisibleRow())) * rowHeight());
    return QRect(Margin + qRound(x) - horizontalScrollBar()->value(), y,
        std::max(1, qRound(next - x)), rowHeight());
}

QRect Container::caretRect() const
{
    const size_t row = m_model.rowOf(m_caret);
    const int y = int(
        (static_cast<long long>(row) - static_cast<long long>(firstVisibleRow())) * rowHeight());
    const int x = Margin + xOf(m_caret) - horizontalScrollBar()->value();
    return QRect(
        x, y, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this) + 1, rowHeight());
}

void Container::ensureCaretVisible()
{
    QScrollBar *vertical = verticalScrollBar();
    const auto row = static_cast<long long>(m_model.rowOf(m_caret));
    if (row < vertical->value())
        vertical->setValue(int(std::min<long long>(row, INT_MAX)));
    else if (row >= vertical->value() + visibleRows())
        vertical->setValue(int(std::min<long long>(row - visibleRows() + 1, INT_MAX)));

    const int x = xOf(m_caret);
    noteWidth(x);
    QScrollBar *horizontal = horizontalScrollBar();
    const int room = viewport()->width() - 2 * Margin;
    if (x < horizontal->value())
        horizontal->setValue(std::max(0, x - room / 4));
    else if (x > horizontal->value() + room)
        horizontal->setValue(x - room + room / 4);
}

void Container::updateScrollBars()
{
    const int rows = visibleRows();
    QScrollBar *vertical = verticalScrollBar();
    const auto lastTop = static_cast<long long>(m_model.rowCount()) - rows;
    vertical->setRange(0, int(std::clamp<long long>(lastTop, 0, INT_MAX)));
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);
    QScrollBar *horizontal = horizontalScrollBar();
    const int room = viewport()->width() - 2 * Margin;
    horizontal->setRange(0, std::max(0, m_widest - room));
    horizontal->setPageStep(room);
    horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
}

void Container::noteWidth(int width)
{
    // The scroll range grows with the widest row seen, as in editors that
    // would otherwise measure every row of a large text.
    if (width + Margin <= m_widest)
        return;
    m_widest = width + Margin;
    horizontalScrollBar()->setRange(0, std::max(0, m_widest - (viewport()->width() - 2 * Margin)));
}

void Container::restartBlinking()
{
    m_caretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
    viewport()->update();
}

size_t Container::move(size_t from, Move how) const
{
    const size_t row = m_model.rowOf(from);
    const size_t start = m_model.rowStart(row);
    const size_t end = m_model.rowEnd(row);
    const size_t rows = m_model.rowCount();
    auto column = [&] { return columnOf(m_model.text(start, from), from - start); };
    auto atColumn = [&](int target) { return start + bytesOfColumn(m_model.rowText(row), target); };
    auto vertical = [&](long long by) {
        const auto target = size_t(std::clamp<long long>(
            static_cast<long long>(row) + by, 0, static_cast<long long>(rows - 1)));
        const int goal = m_goalX >= 0 ? m_goalX : xOf(from);
        QTextLayout layout;
        layOut(layout, target);
        const int targetColumn
            = layout.lineAt(0).xToCursor(goal, QTextLine::CursorBetweenCharacters);
        return m_model.rowStart(target) + bytesOfColumn(m_model.rowText(target), targetColumn);
    };

    switch (how) {
    case Move::Left:
    case Move::WordLeft: {
        if (from == start)
            return row > 0 ? m_model.rowEnd(row - 1) : from;
        QTextLayout layout;
        layOut(layout, row);
        return atColumn(layout.previousCursorPosition(column(),
            how == Move::WordLeft ? QTextLayout::SkipWords : QTextLayout::SkipCharacters));
    }
    case Move::Right:
    case Move::WordRight: {
        if (from >= end)
            return row + 1 < rows ? m_model.rowStart(row + 1) : from;
        QTextLayout layout;
        layOut(layout, row);
        return atColumn(layout.nextCursorPosition(column(),
            how == Move::WordRight ? QTextLayout::SkipWords : QTextLayout::SkipCharacters));
    }
    case Move::Up:
        return vertical(-1);
    case Move::Down:
        return vertical(1);
    case Move::PageUp:
        return vertical(-visibleRows());
    case Move::PageDown:
        return vertical(visibleRows());
    case Move::Home:
        return start;
    case Move::End:
        return end;
    case Move::Top:
        return 0;
    case Move::Bottom:
        return m_model.size();
    }
    return from;
}

void Container::moveCaret(size_t to, bool extend)
{
    const bool wasSelected = hasSelectedText();
    m_caret = to;
    if (!extend)
        m_anchor = to;
    m_model.closeUndoStep();
    ensureCaretVisible();
    restartBlinking();
    if (hasSelectedText())
        m_primary.start(0, this);
    notifyCaret(this);
    if (wasSelected || hasSelectedText())
        notifySelection(this);
}

bool Container::event(QEvent *event)
{
    // Ctrl+Z and the like are the box's own, even where the window has a
    // shortcut on the same keys.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)
            || key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut)
            || key->matches(QKeySequence::Paste) || key->matches(QKeySequence::SelectAll)
            || !typedText(*key).isEmpty()) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void Container::keyPressEvent(QKeyEvent *event)
{
    if (!navigate(*event) && !edit(*event))
        event->ignore();
}

bool Container::navigate(const QKeyEvent &event)
{
    struct Navigation
    {
        QKeySequence::StandardKey key;
        Move how;
        bool extend;
    };
    static const Navigation navigations[] = {
        {QKeySequence::MoveToNextChar, Move::Right, false},
        {QKeySequence::MoveToPreviousChar, Move::Left, false},
        {QKeySequence::MoveToNextWord, Move::WordRight, false},
        {QKeySequence::MoveToPreviousWord, Move::WordLeft, false},
        {QKeySequence::MoveToNextLine, Move::Down, false},
        {QKeySequence::MoveToPreviousLine, Move::Up, false},
        {QKeySequence::MoveToNextPage, Move::PageDown, false},
        {QKeySequence::MoveToPreviousPage, Move::PageUp, false},
        {QKeySequence::MoveToStartOfLine, Move::Home, false},
        {QKeySequence::MoveToEndOfLine, Move::End, false},
        {QKeySequence::MoveToStartOfDocument, Move::Top, false},
        {QKeySequence::MoveToEndOfDocument, Move::Bottom, false},
        {QKeySequence::SelectNextChar, Move::Right, true},
        {QKeySequence::SelectPreviousChar, Move::Left, true},
        {QKeySequence::SelectNextWord, Move::WordRight, true},
        {QKeySequence::SelectPreviousWord, Move::WordLeft, true},
        {QKeySequence::SelectNextLine, Move::Down, true},
        {QKeySequence::SelectPreviousLine, Move::Up, true},
        {QKeySequence::SelectNextPage, Move::PageDown, true},
        {QKeySequence::SelectPreviousPage, Move::PageUp, true},
        {QKeySequence::SelectStartOfLine, Move::Home, true},
        {QKeySequence::SelectEndOfLine, Move::End, true},
        {QKeySequence::SelectStartOfDocument, Move::Top, true},
        {QKeySequence::SelectEndOfDocument, Move::Bottom, true},
    };
    for (const Navigation &navigation : navigations) {
        if (!event.matches(navigation.key))
            continue;
        // Without Shift, Left and Right first collapse a selection to its edge.
        if (!navigation.extend && hasSelectedText()
            && (navigation.how == Move::Left || navigation.how == Move::Right)) {
            moveCaret(navigation.how == Move::Left ? std::min(m_anchor, m_caret)
                                                   : std::max(m_anchor, m_caret),
                false);
            return true;
        }
        const bool keepsGoal = navigation.how == Move::Up || navigation.how == Move::Down
            || navigation.how == Move::PageUp || navigation.how == Move::PageDown;
        if (keepsGoal && m_goalX < 0)
            m_goalX = xOf(m_caret);
        const int goal = m_goalX;
        if (navigation.how == Move::PageUp || navigation.how == Move::PageDown) {
            QScrollBar *vertical = verticalScrollBar();
            vertical->setValue(vertical->value()
                + (navigation.how == Move::PageUp ? -visibleRows() : visibleRows()));
        }
        moveCaret(move(m_caret, navigation.how), navigation.extend);
        m_goalX = keepsGoal ? goal : -1;
        return true;
    }
    return false;
}

bool Container::edit(const QKeyEvent &event)
{
    if (event.matches(QKeySequence::SelectAll))
        selectAll();
    else if (event.matches(QKeySequence::Copy))
        copy();
    else if (event.matches(QKeySequence::Cut))
        cut();
    else if (event.matches(QKeySequence::Paste))
        paste();
    else if (event.matches(QKeySequence::Undo))
        undo();
    else if (event.matches(QKeySequence::Redo)
        || (event.key() == Qt::Key_Y && event.modifiers() == Qt::ControlModifier))
        redo();
    else if (event.matches(QKeySequence::Delete) || event.key() == Qt::Key_Backspace
        || event.matches(QKeySequence::DeleteEndOfWord)
        || event.matches(QKeySequence::DeleteStartOfWord))
        deleteByKey(event);
    else if (event.matches(QKeySequence::InsertParagraphSeparator)
        || event.matches(QKeySequence::InsertLineSeparator)) {
        // Each typed row is undone on its own.
        replaceSelection(QStringLiteral("\r\n"));
        m_model.closeUndoStep();
    } else if (const QString text = typedText(event); !text.isEmpty())
        replaceSelection(text);
    else
        return false;
    return true;
}

void Container::deleteByKey(const QKeyEvent &event)
{
    if (hasSelectedText()) {
        deleteSelection();
        return;
    }
    Move how = Move::Right;
    if (event.matches(QKeySequence::DeleteEndOfWord))
        how = Move::WordRight;
    else if (event.matches(QKeySequence::DeleteStartOfWord))
        how = Move::WordLeft;
    else if (event.key() == Qt::Key_Backspace)
        how = Move::Left;
    const size_t other = move(m_caret, how);
    replaceRange(std::min(other, m_caret), std::max(other, m_caret), {});
}

void Container::mousePressEvent(QMouseEvent *event)
{
    const size_t at = offsetAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        m_selecting = true;
        m_selectingWords = false;
        m_goalX = -1;
        moveCaret(at, event->modifiers().testFlag(Qt::ShiftModifier));
    } else if (event->button() == Qt::MiddleButton
        && QGuiApplication::clipboard()->supportsSelection()) {
        // The X11 way: the middle button pastes the primary selection where it clicks.
        m_anchor = m_caret = at;
        insertFromMime(QGuiApplication::clipboard()->mimeData(QClipboard::Selection), at);
    }
}

void Container::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    m_lastMouse = event->position().toPoint();
    if (viewport()->rect().contains(m_lastMouse))
        m_autoScroll.stop();
    else if (!m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollMs, this);
    const size_t at = offsetAt(m_lastMouse);
    if (m_selectingWords) {
        // Word by word, keeping the word first double-clicked selected.
        if (at < m_wordAnchorEnd) {
            m_anchor = m_wordAnchorEnd;
            moveCaret(move(move(at, Move::Right), Move::WordLeft), true);
        } else {
            moveCaret(at, true);
        }
        return;
    }
    moveCaret(at, true);
}

void Container::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_selecting = false;
    m_autoScroll.stop();
}

void Container::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const size_t at = offsetAt(event->position().toPoint());
    const size_t row = m_model.rowOf(at);
    const size_t start = m_model.rowStart(row);
    const std::string bytes = m_model.rowText(row);
    const QString text = QString::fromStdString(bytes);
    const int column = columnOf(bytes, at - start);
    int first = column;
    int last = column;
    if (column < text.size() && isWordCharacter(text[column])) {
        while (first > 0 && isWordCharacter(text[first - 1]))
            --first;
        while (last < text.size() && isWordCharacter(text[last]))
            ++last;
    } else if (column < text.size()) {
        ++last;
    }
    m_anchor = start + bytesOfColumn(bytes, first);
    m_wordAnchorEnd = start + bytesOfColumn(bytes, last);
    m_selecting = true;
    m_selectingWords = true;
    moveCaret(m_wordAnchorEnd, true);
}

void Container::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    auto add = [&menu, this](
                   const QString &text, QKeySequence::StandardKey key, bool enabled, auto command) {
        QAction *action = menu.addAction(text, this, command);
        action->setShortcut(QKeySequence(key));
        action->setEnabled(enabled);
    };
    const bool selected = hasSelectedText();
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    add(tr("&Undo"), QKeySequence::Undo, m_model.canUndo(), &Container::undo);
    add(tr("&Redo"), QKeySequence::Redo, m_model.canRedo(), &Container::redo);
    menu.addSeparator();
    add(tr("Cu&t"), QKeySequence::Cut, selected, &Container::cut);
    add(tr("&Copy"), QKeySequence::Copy, selected, &Container::copy);
    add(tr("&Paste"), QKeySequence::Paste, clipboard && clipboard->hasText(), &Container::paste);
    add(tr("Delete"), QKeySequence::Delete, selected, &Container::deleteSelection);
    menu.addSeparator();
    add(tr("Select All"), QKeySequence::SelectAll, m_model.size() > 0, &Container::selectAll);
    menu.exec(event->globalPos());
}

void Container::focusInEvent(QFocusEvent *event)
{
    restartBlinking();
    QAbstractScrollArea::focusInEvent(event);
}

void Container::focusOutEvent(QFocusEvent *event)
{
    m_blink.stop();
    m_caretShown = false;
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

void Container::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_blink.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update(caretRect());
    } else if (event->timerId() == m_autoScroll.timerId()) {
        QScrollBar *vertical = verticalScrollBar();
        if (m_lastMouse.y() < 0)
            vertical->setValue(vertical->value() - 1);
        else if (m_lastMouse.y() >= viewport()->height())
            vertical->setValue(vertical->value() + 1);
        const QPoint inside(
            m_lastMouse.x(), std::clamp(m_lastMouse.y(), 0, std::max(0, viewport()->height() - 1)));
        moveCaret(offsetAt(inside), true);
    } else if (event->timerId() == m_primary.timerId()) {
        m_primary.stop();
        publishSelection(QClipboard::Selection);
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void Container::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        size_t from = std::min(m_anchor, m_caret);
        size_t to = std::max(m_anchor, m_caret);
        if (event->replacementLength() > 0 && !hasSelectedText()) {
            // Replacement is counted in characters around the caret, in its row.
            const size_t row = m_model.rowOf(m_caret);
            const size_t start = m_model.rowStart(row);
            const std::string bytes = m_model.rowText(row);
            const int column = columnOf(bytes, m_caret - start);
            from = start + bytesOfColumn(bytes, std::max(0, column + event->replacementStart()));
            to = start
                + bytesOfColumn(bytes,
                    std::max(0, column + event->replacementStart() + event->replacementLength()));
        }
        replaceRange(from, to, event->commitString().toStdString());
    }
    m_preedit = event->preeditString();
    m_preeditCaret = int(m_preedit.size());
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor)
            m_preeditCaret = attribute.start;
    }
    viewport()->update();
}

QVariant Container::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const size_t row = m_model.rowOf(m_caret);
    const size_t start = m_model.rowStart(row);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle:
        return QRectF(caretRect().translated(viewport()->pos()));
    case Qt::ImSurroundingText:
        return QString::fromStdString(m_model.rowText(row));
    case Qt::ImCursorPosition:
        return columnOf(m_model.text(start, m_caret), m_caret - start);
    case Qt::ImAnchorPosition:
        if (m_model.rowOf(m_anchor) != row)
            return columnOf(m_model.text(start, m_caret), m_caret - start);
        return columnOf(m_model.text(start, m_anchor), m_anchor - start);
    case Qt::ImCurrentSelection:
        if (m_model.rowOf(m_anchor) != row)
            return QString();
        return selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void Container::scrollContentsBy(int, int)
{
    viewport()->update();
}

void Container::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void Container::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_widest = 0;
        updateScrollBars();
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        viewport()->update();
}

void Container::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const size_t first = firstVisibleRow();
    const size_t rows = m_model.rowCount();
    const size_t last = std::min(rows, first + size_t(visibleRows()) + 1);
    const size_t selectionFrom = std::min(m_anchor, m_caret);
    const size_t selectionTo = std::max(m_anchor, m_caret);
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    QTextCharFormat selectedFormat;
    selectedFormat.setBackground(palette().brush(group, QPalette::Highlight));
    selectedFormat.setForeground(palette().brush(group, QPalette::HighlightedText));
    painter.setPen(palette().color(group, QPalette::Text));
    const int left = Margin - horizontalScrollBar()->value();
    const size_t caretRow = m_model.rowOf(m_caret);

    for (size_t row = first; row < last; ++row) {
        const size_t start = m_model.rowStart(row);
        const size_t end = m_model.rowEnd(row);
        QTextLayout layout;
        layOut(layout, row);
        const QPointF at(left, double((row - first) * size_t(height)));
        QList<QTextLayout::FormatRange> selections;
        std::string bytes;
        if (selectionFrom < selectionTo && selectionFrom <= end && selectionTo > start) {
            bytes = m_model.text(start, end);
            const int from = columnOf(bytes, std::max(selectionFrom, start) - start);
            const int to = columnOf(bytes, std::min(selectionTo, end) - start);
            selections.append({from, to - from, selectedFormat});
            // A selected line break shows as a space's width of highlight.
            if (selectionTo > end && row + 1 < rows) {
                const qreal x = at.x() + layout.lineAt(0).naturalTextWidth();
                painter.fillRect(
                    QRectF(x, at.y(), fontMetrics().horizontalAdvance(QLatin1Char(' ')), height),
                    selectedFormat.background());
            }
        }
        layout.draw(&painter, at, selections);
        noteWidth(int(layout.lineAt(0).naturalTextWidth()));
        if (row == caretRow && hasFocus() && m_caretShown) {
            if (bytes.empty())
                bytes = m_model.text(start, end);
            int column = columnOf(bytes, m_caret - start);
            if (!m_preedit.isEmpty())
                column += m_preeditCaret;
            layout.drawCursor(&painter, at, column,
                style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
        }
    }
}
