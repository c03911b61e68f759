// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's view: painting the rows in view, the caret, the keys, the
// mouse, the clipboard and input methods.
#include "container.h"

#include "containerevents.h"
#include "containermime.h"
#include "utf8.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTextLayout>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <limits>

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

// Characters drawn as pictures are laid out as spaces that the picture
// covers, one for one, so columns stay the text's own.
QString visible(QString text)
{
    for (QChar &character : text) {
        if (isPictured(character.unicode()))
            character = QLatin1Char(' ');
    }
    return text;
}

// Ctrl+K, as Qt's text boxes take it on X11, whatever the platform's own keys.
bool deletesToRowEnd(const QKeyEvent &event)
{
    return event.matches(QKeySequence::DeleteEndOfLine)
        || (event.key() == Qt::Key_K && event.modifiers() == Qt::ControlModifier);
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
    m_widths = std::make_unique<CharWidths>(font());
    // Steps of the bar move the top row by rows; the wheel is counted here.
    connect(
        verticalScrollBar(), &QAbstractSlider::actionTriggered, this, &Container::scrollBarAction);
    verticalScrollBar()->installEventFilter(this);
    updateScrollBars();
}

Container::~Container() = default;

void Container::setLines(std::shared_ptr<const RunLines> lines)
{
    // The primary selection stands for a selection in the text; with the text
    // gone it would only keep the old run's lines alive into the next run.
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection()
        && qobject_cast<const ContainerMimeData *>(clipboard->mimeData(QClipboard::Selection)))
        clipboard->clear(QClipboard::Selection);
    m_primary.stop();
    m_model.setLines(std::move(lines));
    m_reader.edited(0, 0, 0);
    m_reader.follow(0);
    m_anchor = m_caret = 0;
    m_goalX = -1;
    m_widest = 0;
    m_rowCount = m_model.rowCount();
    m_longRows.clear();
    m_selectedOnFocus = false;
    horizontalScrollBar()->setValue(0);
    m_topRow = 0;
    updateScrollBars();
    viewport()->update();
    m_events.textReplaced(m_caret);
}

void Container::clear()
{
    setLines(nullptr);
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
    m_anchor = outsideBreak(std::min(anchor, m_model.size()));
    moveCaret(outsideBreak(std::min(caret, m_model.size())), true);
}

void Container::selectAll()
{
    // The caret goes to the end without scrolling there: the view stays where
    // the user was reading.
    m_anchor = 0;
    m_caret = m_model.size();
    m_goalX = -1;
    m_selectedOnFocus = false;
    m_model.closeUndoStep();
    m_primary.start(0, this);
    restartBlinking();
    viewport()->update();
    if (m_reader.follow(m_caret))
        m_events.textReplaced(m_caret);
    m_events.selection(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret));
}

void Container::selectAllOnFocus()
{
    m_anchor = 0;
    m_caret = m_model.size();
    m_goalX = -1;
    m_selectedOnFocus = true;
    m_model.closeUndoStep();
    m_primary.stop();
    restartBlinking();
    viewport()->update();
    tellCaret();
}

void Container::deselect()
{
    if (!hasSelectedText())
        return;
    m_anchor = m_caret;
    m_selectedOnFocus = false;
    viewport()->update();
    m_events.selection(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret));
}

void Container::undo()
{
    if (!m_model.canUndo())
        return;
    // The caret goes after the text that comes back, nothing selected: the
    // next key must not overwrite what was just restored.
    const ContainerModel::Change change = m_model.undo();
    afterEdit(change.from, 0, 0, change.to);
}

void Container::redo()
{
    if (!m_model.canRedo())
        return;
    const ContainerModel::Change change = m_model.redo();
    afterEdit(change.from, 0, 0, change.to);
}

void Container::copy()
{
    copyOrRefuse();
}

void Container::cut()
{
    if (copyOrRefuse())
        deleteSelection();
}

bool Container::copyOrRefuse()
{
    if (!hasSelectedText())
        return false;
    if (publishSelection(QClipboard::Clipboard))
        return true;
    const auto bytes = static_cast<qint64>(
        std::min<size_t>(std::max(m_anchor, m_caret) - std::min(m_anchor, m_caret),
            size_t(std::numeric_limits<qint64>::max())));
    emit copyRefused(tr("The selection holds %1 of text, more than can be copied (%2). The "
                        "clipboard keeps what it held. To get these lines into a file, tick "
                        "“print to file” and press Do IT.")
                         .arg(QLocale().formattedDataSize(bytes),
                             QLocale().formattedDataSize(static_cast<qint64>(copyLimit))));
    return false;
}

void Container::paste()
{
    insertFromMime(
        QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard), std::min(m_anchor, m_caret));
}

void Container::replaceText(size_t from, size_t to, const QString &text)
{
    m_model.closeUndoStep();
    replaceRange(outsideBreak(std::min(from, m_model.size())),
        outsideBreak(std::min(to, m_model.size())), text.toStdString());
    m_model.closeUndoStep();
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

bool Container::publishSelection(QClipboard::Mode mode) const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (mode == QClipboard::Selection && !clipboard->supportsSelection())
        return false;
    // Beyond the limit the clipboard, and the primary selection, keep what they held.
    if (!hasSelectedText() || std::max(m_anchor, m_caret) - std::min(m_anchor, m_caret) > copyLimit)
        return false;
    clipboard->setMimeData(new ContainerMimeData(m_model.fragment(
                               std::min(m_anchor, m_caret), std::max(m_anchor, m_caret))),
        mode);
    return true;
}

void Container::replaceSelection(const QString &text)
{
    replaceRange(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret), text.toStdString());
}

void Container::replaceRange(size_t from, size_t to, const std::string &utf8)
{
    if (from == to && utf8.empty())
        return;
    m_events.removal(from, to);
    m_model.replace(from, to, utf8);
    afterEdit(from, to - from, utf8.size(), from + utf8.size());
}

void Container::afterEdit(size_t from, size_t removed, size_t inserted, size_t caret)
{
    const long long rowsAdded
        = static_cast<long long>(m_model.rowCount()) - static_cast<long long>(m_rowCount);
    m_rowCount = m_model.rowCount();
    // An edit inside one row measures only what it touched of that row;
    // anything else forgets the rows from the edit on.
    const size_t row = m_model.rowOf(from);
    // With no line feed inserted and as many rows as before, none was removed.
    const bool withinRow
        = rowsAdded == 0 && (removed > 0 || inserted > 0) && m_model.rowOf(from + inserted) == row;
    auto kept = m_longRows.end();
    if (withinRow) {
        kept = std::find_if(m_longRows.begin(), m_longRows.end(),
            [row](const LongRow &longRow) { return longRow.row == row; });
        if (kept != m_longRows.end()) {
            kept->stretches.edited(m_model, from, removed, inserted, *m_widths);
            // A carriage return typed before the line feed joins the break.
            if (kept->stretches.to() != m_model.rowEnd(row)
                || m_model.rowEnd(row) - m_model.rowStart(row) <= RowStretches::Bytes) {
                m_longRows.erase(kept);
                kept = m_longRows.end();
            }
        }
    }
    for (auto longRow = m_longRows.begin(); longRow != m_longRows.end();) {
        if (longRow == kept || longRow->row < row)
            ++longRow;
        else if (withinRow) {
            longRow->stretches.moved(
                static_cast<std::ptrdiff_t>(inserted) - static_cast<std::ptrdiff_t>(removed));
            ++longRow;
        } else {
            longRow = m_longRows.erase(longRow);
            kept = m_longRows.end();
        }
    }
    if (row <= m_widestRow && (rowsAdded != 0 || row == m_widestRow || removed + inserted == 0))
        m_widest = 0;
    m_selectedOnFocus = false;
    m_anchor = m_caret = outsideBreak(caret);
    m_goalX = -1;
    updateScrollBars();
    ensureCaretVisible();
    restartBlinking();
    viewport()->update();
    m_reader.edited(from, removed, inserted);
    if (m_reader.follow(m_caret) || (removed == 0 && inserted == 0)) {
        m_events.textReplaced(m_caret);
        return;
    }
    m_events.insertion(from, from + inserted);
    m_events.caret(m_caret);
}

void Container::tellCaret()
{
    if (m_reader.follow(m_caret))
        m_events.textReplaced(m_caret);
    else
        m_events.caret(m_caret);
}

int Container::rowHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

int Container::visibleRows() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

int Container::yOfRow(size_t row) const
{
    const long long beyond = visibleRows() + 1LL;
    const long long rowsDown = std::clamp(
        static_cast<long long>(row) - static_cast<long long>(m_topRow), -beyond, beyond);
    return int(rowsDown) * rowHeight();
}

const RowStretches *Container::stretchesOf(size_t row) const
{
    const size_t start = m_model.rowStart(row);
    const size_t end = m_model.rowEnd(row);
    if (end - start <= RowStretches::Bytes)
        return nullptr;
    for (const LongRow &longRow : m_longRows) {
        if (longRow.row == row)
            return &longRow.stretches;
    }
    // A few long rows are kept: those in view, and the caret's.
    constexpr size_t Kept = 64;
    if (m_longRows.size() >= Kept)
        m_longRows.erase(m_longRows.begin());
    m_longRows.push_back({row, RowStretches(m_model, start, end, *m_widths)});
    return &m_longRows.back().stretches;
}

Container::Piece Container::pieceOf(size_t row, const RowStretches *stretches, size_t index) const
{
    Piece piece;
    piece.row = row;
    if (stretches) {
        const RowStretches::Stretch stretch = stretches->at(index);
        piece.from = stretch.from;
        piece.to = stretch.to;
        piece.x = stretch.x;
    } else {
        piece.from = m_model.rowStart(row);
        piece.to = m_model.rowEnd(row);
    }
    piece.bytes = m_model.text(piece.from, piece.to);
    return piece;
}

Container::Piece Container::pieceHolding(size_t row, size_t offset) const
{
    const RowStretches *stretches = stretchesOf(row);
    return pieceOf(row, stretches, stretches ? stretches->indexOf(offset) : 0);
}

Container::Piece Container::pieceAtX(size_t row, qreal x) const
{
    const RowStretches *stretches = stretchesOf(row);
    return pieceOf(row, stretches, stretches ? stretches->indexAtX(x) : 0);
}

void Container::layOut(QTextLayout &layout, const Piece &piece) const
{
    const QString text = QString::fromStdString(piece.bytes);
    layout.setText(visible(text));
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    // Each picture takes the room it is drawn in.
    QList<QTextLayout::FormatRange> pictures;
    const qreal space = m_widths->of(U' ');
    for (qsizetype column = 0; column < text.size(); ++column) {
        const char16_t code = text[column].unicode();
        if (!isPictured(code))
            continue;
        QTextCharFormat format;
        format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
        format.setFontLetterSpacing(m_widths->of(code) - space);
        pictures.append({int(column), 1, format});
    }
    layout.setFormats(pictures);
    if (!m_preedit.isEmpty() && m_caret >= piece.from && m_caret <= piece.to
        && m_model.rowOf(m_caret) == piece.row)
        layout.setPreeditArea(columnOf(piece.bytes, m_caret - piece.from), m_preedit);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e7);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

void Container::drawPictures(QPainter &painter, const QTextLayout &layout, const Piece &piece,
    QPointF at, size_t selectionFrom, size_t selectionTo) const
{
    const QString text = QString::fromStdString(piece.bytes);
    const QTextLine line = layout.lineAt(0);
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    bool fontSet = false;
    size_t offset = piece.from;
    for (qsizetype column = 0; column < text.size(); ++column) {
        const char16_t code = text[column].unicode();
        const size_t here = offset;
        offset += code < 0x80              ? 1
            : code < 0x800                 ? 2
            : QChar::isLowSurrogate(code)  ? 0
            : QChar::isHighSurrogate(code) ? 4
                                           : 3;
        if (!isPictured(code))
            continue;
        if (!fontSet) {
            painter.setFont(pictureFont(font()));
            fontSet = true;
        }
        const qreal x = at.x() + line.cursorToX(int(column));
        const qreal width = m_widths->of(code);
        const QRectF box(x + 1.5, at.y() + line.ascent() - fontMetrics().ascent() + 2.5, width - 3,
            fontMetrics().height() - 5);
        const bool selected = here >= selectionFrom && here < selectionTo;
        painter.setPen(
            palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawRect(box);
        painter.drawText(box, Qt::AlignCenter, pictureText(code));
    }
}

size_t Container::offsetAtX(size_t row, qreal x) const
{
    const Piece piece = pieceAtX(row, x);
    QTextLayout layout;
    layOut(layout, piece);
    const int column = layout.lineAt(0).xToCursor(x - piece.x, QTextLine::CursorBetweenCharacters);
    return piece.from + bytesOfColumn(piece.bytes, column);
}

int Container::xOf(size_t offset) const
{
    const Piece piece = pieceHolding(m_model.rowOf(offset), offset);
    QTextLayout layout;
    layOut(layout, piece);
    return qRound(piece.x + layout.lineAt(0).cursorToX(columnOf(piece.bytes, offset - piece.from)));
}

size_t Container::offsetAt(QPoint point) const
{
    const int rowInView = point.y() < 0 ? -1 - (-point.y() / rowHeight()) : point.y() / rowHeight();
    const auto row
        = size_t(std::clamp<long long>(static_cast<long long>(firstVisibleRow()) + rowInView, 0,
            static_cast<long long>(m_model.rowCount() - 1)));
    return offsetAtX(row, point.x() - Margin + horizontalScrollBar()->value());
}

QRect Container::characterRect(size_t offset) const
{
    const size_t row = m_model.rowOf(offset);
    const Piece piece = pieceHolding(row, offset);
    QTextLayout layout;
    layOut(layout, piece);
    const int column = columnOf(piece.bytes, offset - piece.from);
    const qreal x = piece.x + layout.lineAt(0).cursorToX(column);
    const qreal next
        = column < layout.text().size() ? piece.x + layout.lineAt(0).cursorToX(column + 1) : x;
    const int y = yOfRow(row);
    return QRect(Margin + qRound(x) - horizontalScrollBar()->value(), y,
        std::max(1, qRound(next - x)), rowHeight());
}

QRect Container::caretRect() const
{
    const size_t row = m_model.rowOf(m_caret);
    const int y = yOfRow(row);
    const int x = Margin + xOf(m_caret) - horizontalScrollBar()->value();
    return QRect(
        x, y, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this) + 1, rowHeight());
}

void Container::ensureCaretVisible()
{
    ensureVisible(m_caret);
}

void Container::ensureVisible(size_t offset)
{
    offset = std::min(offset, m_model.size());
    const size_t row = m_model.rowOf(offset);
    const auto rows = size_t(visibleRows());
    if (row < m_topRow)
        scrollTo(row);
    else if (row >= m_topRow + rows)
        scrollTo(row - rows + 1);

    const int x = xOf(offset);
    noteWidth(row, x);
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
    const size_t rowCount = m_model.rowCount();
    m_scroll = ScrollMapping(rowCount > size_t(rows) ? rowCount - size_t(rows) : 0, scrollLimit);
    m_topRow = std::min<size_t>(m_topRow, m_scroll.lastTopRow());
    QScrollBar *vertical = verticalScrollBar();
    m_settingBar = true;
    vertical->setRange(0, m_scroll.maximum());
    // The page sizes the thumb; a page of keys or clicks is counted in rows.
    vertical->setPageStep(
        m_scroll.proportional() ? std::max(1, m_scroll.valueOf(size_t(rows))) : rows);
    vertical->setSingleStep(1);
    vertical->setValue(m_scroll.valueOf(m_topRow));
    m_settingBar = false;
    QScrollBar *horizontal = horizontalScrollBar();
    const int room = viewport()->width() - 2 * Margin;
    horizontal->setRange(0, std::max(0, m_widest - room));
    horizontal->setPageStep(room);
    horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
}

void Container::scrollTo(size_t topRow)
{
    m_topRow = std::min<size_t>(topRow, m_scroll.lastTopRow());
    m_settingBar = true;
    verticalScrollBar()->setValue(m_scroll.valueOf(m_topRow));
    m_settingBar = false;
    viewport()->update();
}

void Container::scrollBy(long long rows)
{
    const size_t up = rows < 0 ? size_t(-(rows + 1)) + 1 : 0;
    scrollTo(rows < 0 ? m_topRow - std::min(m_topRow, up) : m_topRow + size_t(rows));
}

void Container::scrollBarAction(int action)
{
    // The bar's arrows, its keys and clicks into its groove step by rows; it
    // then takes the value that stands for the new top row. A drag, or a jump
    // to a place, goes by its value (scrollContentsBy).
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
    case QAbstractSlider::SliderSingleStepSub:
    case QAbstractSlider::SliderPageStepAdd:
    case QAbstractSlider::SliderPageStepSub: {
        const bool page = action == QAbstractSlider::SliderPageStepAdd
            || action == QAbstractSlider::SliderPageStepSub;
        const bool down = action == QAbstractSlider::SliderSingleStepAdd
            || action == QAbstractSlider::SliderPageStepAdd;
        const long long rows = page ? visibleRows() : 1;
        scrollBy(down ? rows : -rows);
        break;
    }
    case QAbstractSlider::SliderToMinimum:
        scrollTo(0);
        break;
    case QAbstractSlider::SliderToMaximum:
        scrollTo(m_scroll.lastTopRow());
        break;
    default:
        return;
    }
    verticalScrollBar()->setSliderPosition(m_scroll.valueOf(m_topRow));
}

void Container::wheelBy(const QWheelEvent &event)
{
    // Whole notches of 120, as Qt's scroll bars count them, each the system's
    // number of rows, or a page with Ctrl or Shift; a fine wheel adds up.
    m_wheelAngle += event.angleDelta().y();
    const int notches = m_wheelAngle / 120;
    m_wheelAngle -= notches * 120;
    const bool byPage = event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    scrollBy(-static_cast<long long>(notches)
        * (byPage ? visibleRows() : QApplication::wheelScrollLines()));
}

void Container::noteWidth(size_t row, qreal width)
{
    // The scroll range grows with the widest row seen, as in editors that
    // would otherwise measure every row of a large text; an edit that may
    // have narrowed that row starts the count again.
    const int needed = int(std::min<qreal>(std::ceil(width), INT_MAX - Margin)) + Margin;
    if (needed <= m_widest)
        return;
    m_widest = needed;
    m_widestRow = row;
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
    auto vertical = [&](long long by) {
        const auto target = size_t(std::clamp<long long>(
            static_cast<long long>(row) + by, 0, static_cast<long long>(rows - 1)));
        return offsetAtX(target, m_goalX >= 0 ? m_goalX : xOf(from));
    };
    // Within the stretch of the row on the caret's side of the move.
    auto step = [&](size_t inside, bool forward, bool words) {
        const Piece piece = pieceHolding(row, inside);
        QTextLayout layout;
        layOut(layout, piece);
        const int column = columnOf(piece.bytes, from - piece.from);
        const QTextLayout::CursorMode mode
            = words ? QTextLayout::SkipWords : QTextLayout::SkipCharacters;
        const int to = forward ? layout.nextCursorPosition(column, mode)
                               : layout.previousCursorPosition(column, mode);
        return piece.from + bytesOfColumn(piece.bytes, to);
    };

    switch (how) {
    case Move::Left:
    case Move::WordLeft:
        if (from == start)
            return row > 0 ? m_model.rowEnd(row - 1) : from;
        return step(from - 1, false, how == Move::WordLeft);
    case Move::Right:
    case Move::WordRight:
        if (from >= end)
            return row + 1 < rows ? m_model.rowStart(row + 1) : from;
        return step(from, true, how == Move::WordRight);
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

size_t Container::outsideBreak(size_t offset) const
{
    // Between the carriage return and the line feed of a row's break, a caret
    // would split the pair with the next key typed.
    if (offset == 0 || offset >= m_model.size() || m_model.byteAt(offset) != '\n'
        || m_model.byteAt(offset - 1) != '\r')
        return offset;
    const size_t row = m_model.rowOf(offset);
    return std::min(offset, m_model.rowEnd(row));
}

std::pair<size_t, size_t> Container::wordAround(size_t offset) const
{
    const Piece piece = pieceHolding(m_model.rowOf(offset), offset);
    const QString text = QString::fromStdString(piece.bytes);
    const int column = columnOf(piece.bytes, offset - piece.from);
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
    return {piece.from + bytesOfColumn(piece.bytes, first),
        piece.from + bytesOfColumn(piece.bytes, last)};
}

void Container::moveCaret(size_t to, bool extend)
{
    const bool wasSelected = hasSelectedText();
    m_caret = outsideBreak(to);
    if (!extend)
        m_anchor = m_caret;
    m_selectedOnFocus = false;
    m_model.closeUndoStep();
    ensureCaretVisible();
    restartBlinking();
    if (hasSelectedText())
        m_primary.start(0, this);
    tellCaret();
    if (wasSelected || hasSelectedText())
        m_events.selection(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret));
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
            || deletesToRowEnd(*key) || !typedText(*key).isEmpty()) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool Container::eventFilter(QObject *watched, QEvent *event)
{
    // The wheel over the text reaches the vertical bar too.
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        if (qAbs(wheel->angleDelta().y()) >= qAbs(wheel->angleDelta().x())) {
            wheelBy(*wheel);
            return true;
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
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
        if (navigation.how == Move::PageUp || navigation.how == Move::PageDown)
            scrollBy(navigation.how == Move::PageUp ? -visibleRows() : visibleRows());
        size_t to = move(m_caret, navigation.how);
        // Shift+Up on the first row and Shift+Down on the last select to the
        // text's start and end.
        const size_t row = m_model.rowOf(m_caret);
        if (navigation.extend && navigation.how == Move::Up && row == 0)
            to = 0;
        else if (navigation.extend && navigation.how == Move::Down && row + 1 == m_model.rowCount())
            to = m_model.size();
        moveCaret(to, navigation.extend);
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
        || event.matches(QKeySequence::DeleteStartOfWord) || deletesToRowEnd(event))
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
    // Ctrl+K takes the rest of the row, or at its end the row's break.
    if (deletesToRowEnd(event))
        how = m_caret < m_model.rowEnd(m_model.rowOf(m_caret)) ? Move::End : Move::Right;
    else if (event.matches(QKeySequence::DeleteEndOfWord))
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
        // A third click soon after a double click, where it was, takes the row.
        if (m_tripleClick.isActive()
            && (event->position().toPoint() - m_doubleClickAt).manhattanLength()
                < QApplication::startDragDistance()) {
            m_tripleClick.stop();
            const size_t row = m_model.rowOf(at);
            m_anchor = m_model.rowStart(row);
            moveCaret(m_model.rowEnd(row), true);
            m_selecting = false;
            return;
        }
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
    extendTo(offsetAt(m_lastMouse));
}

void Container::extendTo(size_t at)
{
    if (!m_selectingWords) {
        moveCaret(at, true);
        return;
    }
    // Word by word, keeping the word first double-clicked selected.
    const auto [start, end] = wordAround(at);
    if (at < m_wordAnchorStart) {
        m_anchor = m_wordAnchorEnd;
        moveCaret(start, true);
    } else {
        m_anchor = m_wordAnchorStart;
        moveCaret(std::max(end, m_wordAnchorEnd), true);
    }
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
    const auto [start, end] = wordAround(offsetAt(event->position().toPoint()));
    m_wordAnchorStart = m_anchor = start;
    m_wordAnchorEnd = end;
    m_selecting = true;
    m_selectingWords = true;
    moveCaret(end, true);
    m_doubleClickAt = event->position().toPoint();
    m_tripleClick.start(QApplication::doubleClickInterval(), this);
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
    // The texts of the other boxes' menus, so that Qt's translations serve both.
    const auto text
        = [](const char *source) { return QCoreApplication::translate("QLineEdit", source); };
    add(text("&Undo"), QKeySequence::Undo, m_model.canUndo(), &Container::undo);
    add(text("&Redo"), QKeySequence::Redo, m_model.canRedo(), &Container::redo);
    menu.addSeparator();
    add(text("Cu&t"), QKeySequence::Cut, selected, &Container::cut);
    add(text("&Copy"), QKeySequence::Copy, selected, &Container::copy);
    add(text("&Paste"), QKeySequence::Paste, clipboard && clipboard->hasText(), &Container::paste);
    add(text("Delete"), QKeySequence::Delete, selected, &Container::deleteSelection);
    menu.addSeparator();
    add(text("Select All"), QKeySequence::SelectAll, m_model.size() > 0, &Container::selectAll);
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
        if (m_lastMouse.y() < 0)
            scrollBy(-1);
        else if (m_lastMouse.y() >= viewport()->height())
            scrollBy(1);
        const QPoint inside(
            m_lastMouse.x(), std::clamp(m_lastMouse.y(), 0, std::max(0, viewport()->height() - 1)));
        extendTo(offsetAt(inside));
    } else if (event->timerId() == m_tripleClick.timerId()) {
        m_tripleClick.stop();
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
            // Replacement is counted in characters around the caret, in the
            // stretch of its row that the surrounding text gave.
            const Piece piece = pieceHolding(m_model.rowOf(m_caret), m_caret);
            const int column = columnOf(piece.bytes, m_caret - piece.from);
            from = piece.from
                + bytesOfColumn(piece.bytes, std::max(0, column + event->replacementStart()));
            to = piece.from
                + bytesOfColumn(piece.bytes,
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
    // The surrounding text is the caret's row, or the stretch of a long row
    // around the caret.
    const Piece piece = pieceHolding(m_model.rowOf(m_caret), m_caret);
    const auto columnIn
        = [&piece](size_t offset) { return columnOf(piece.bytes, offset - piece.from); };
    const bool anchorInPiece = m_anchor >= piece.from && m_anchor <= piece.to;
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
        return QString::fromStdString(piece.bytes);
    case Qt::ImCursorPosition:
        return columnIn(m_caret);
    case Qt::ImAnchorPosition:
        return columnIn(anchorInPiece ? m_anchor : m_caret);
    case Qt::ImCurrentSelection:
        // Only a selection within the piece, so never more than a stretch.
        if (!anchorInPiece)
            return QString();
        return QString::fromStdString(piece.bytes.substr(std::min(m_anchor, m_caret) - piece.from,
            std::max(m_anchor, m_caret) - std::min(m_anchor, m_caret)));
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void Container::scrollContentsBy(int, int)
{
    // The bar moved by itself (a drag, a jump): its value picks the top row,
    // unless it already stands for it.
    const int value = verticalScrollBar()->value();
    if (!m_settingBar && value != m_scroll.valueOf(m_topRow))
        m_topRow = m_scroll.rowOf(value);
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
        m_widths = std::make_unique<CharWidths>(font());
        m_longRows.clear();
        m_widest = 0;
        updateScrollBars();
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        viewport()->update();
}

void Container::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const size_t first = firstVisibleRow();
    const size_t rows = m_model.rowCount();
    // Only the rows the paint asks for: the caret's blink repaints one.
    const size_t from = first + size_t(std::max(0, event->rect().top() / height));
    const size_t last
        = std::min(rows, first + size_t(std::max(0, event->rect().bottom() / height)) + 1);
    const size_t selectionFrom = std::min(m_anchor, m_caret);
    const size_t selectionTo = std::max(m_anchor, m_caret);
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    QTextCharFormat selectedFormat;
    selectedFormat.setBackground(palette().brush(group, QPalette::Highlight));
    selectedFormat.setForeground(palette().brush(group, QPalette::HighlightedText));
    const int left = Margin - horizontalScrollBar()->value();
    const qreal viewLeft = horizontalScrollBar()->value() - Margin;
    const qreal viewRight = viewLeft + viewport()->width();
    const size_t caretRow = m_model.rowOf(m_caret);
    const int ascent = fontMetrics().ascent();

    for (size_t row = from; row < last; ++row) {
        const size_t end = m_model.rowEnd(row);
        const qreal top = double((row - first) * size_t(height));
        const RowStretches *stretches = stretchesOf(row);
        const size_t firstPiece = stretches ? stretches->indexAtX(viewLeft) : 0;
        const size_t lastPiece = stretches ? stretches->indexAtX(viewRight) : 0;
        qreal width = 0;
        for (size_t index = firstPiece; index <= lastPiece; ++index) {
            const Piece piece = pieceOf(row, stretches, index);
            QTextLayout layout;
            layOut(layout, piece);
            const QTextLine line = layout.lineAt(0);
            // Every row's baseline where the font puts it, whatever fallback
            // font a character of the row needed.
            const QPointF at(left + piece.x, top + ascent - line.ascent());
            QList<QTextLayout::FormatRange> selections;
            if (selectionFrom < selectionTo && selectionFrom <= piece.to
                && selectionTo > piece.from) {
                const int selectedFrom
                    = columnOf(piece.bytes, std::max(selectionFrom, piece.from) - piece.from);
                const int selectedTo
                    = columnOf(piece.bytes, std::min(selectionTo, piece.to) - piece.from);
                selections.append({selectedFrom, selectedTo - selectedFrom, selectedFormat});
            }
            painter.setPen(palette().color(group, QPalette::Text));
            layout.draw(&painter, at, selections);
            drawPictures(painter, layout, piece, at, selectionFrom, selectionTo);
            painter.setFont(font());
            width = piece.x + line.naturalTextWidth();
            // A selected line break shows as a space's width of highlight.
            if (piece.to == end && selectionTo > end && selectionFrom <= end && row + 1 < rows) {
                painter.fillRect(QRectF(left + width, top,
                                     fontMetrics().horizontalAdvance(QLatin1Char(' ')), height),
                    selectedFormat.background());
            }
            if (row == caretRow && hasFocus() && m_caretShown && m_caret >= piece.from
                && (m_caret < piece.to || (m_caret == piece.to && piece.to == end))) {
                int column = columnOf(piece.bytes, m_caret - piece.from);
                if (!m_preedit.isEmpty())
                    column += m_preeditCaret;
                layout.drawCursor(&painter, at, column,
                    style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
            }
        }
        noteWidth(row, stretches ? stretches->width() : width);
    }
}
