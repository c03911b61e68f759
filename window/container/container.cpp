// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's view: painting the rows in view, the caret, the keys, the
// mouse, the clipboard and input methods.
#include "container.h"

#include "containerevents.h"
#include "containermime.h"
#include "textboundaries.h"
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
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

namespace {

// Room between the frame and the text, as in the window's other text boxes.
constexpr int Margin = 3;

// A place in a row as QTextLayout counts it, from the row's first bytes.
int columnOf(std::string_view row, size_t bytes)
{
    return int(utf16Units(row.substr(0, bytes)));
}

size_t bytesOfColumn(std::string_view row, int column)
{
    return bytesOfUtf16Units(row, size_t(std::max(column, 0)));
}

// Ctrl+K, as Qt's text boxes take it on X11, whatever the platform's own keys.
bool deletesToRowEnd(const QKeyEvent &event)
{
    return event.matches(QKeySequence::DeleteEndOfLine)
        || (event.key() == Qt::Key_K && event.modifiers() == Qt::ControlModifier);
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
    viewport()->setAcceptDrops(true);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // Steps of the bars move the top row by rows and the view by pixels;
    // the wheel is counted here.
    connect(
        verticalScrollBar(), &QAbstractSlider::actionTriggered, this, &Container::scrollBarAction);
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
        &Container::horizontalBarAction);
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
    m_size = m_model.size();
    m_rows.clear();
    m_selectedOnFocus = false;
    m_left = 0;
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
                             QLocale().formattedDataSize(static_cast<qint64>(m_copyLimit))));
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
    if (!hasSelectedText())
        return false;
    // Beyond the limit the clipboard, and another program's primary
    // selection, keep what they held; an older selection of this text's own
    // would be pasted by a middle click as if it were this one, so it goes.
    if (std::max(m_anchor, m_caret) - std::min(m_anchor, m_caret) > m_copyLimit) {
        if (mode == QClipboard::Selection
            && qobject_cast<const ContainerMimeData *>(clipboard->mimeData(mode)))
            clipboard->clear(mode);
        return false;
    }
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
    // An undo or redo tells where its text now stands; what it replaced
    // follows from the sizes before and after.
    const size_t rows = m_model.rowCount();
    const size_t placed = removed == 0 && inserted == 0 ? caret - from : inserted;
    const size_t replaced = placed + m_size - m_model.size();
    const size_t lineFeedsPlaced = m_model.rowOf(from + placed) - m_model.rowOf(from);
    m_rows.edited(from, replaced, placed, lineFeedsPlaced + m_rowCount - rows, lineFeedsPlaced);
    const size_t row = m_model.rowOf(from);
    if (row <= m_widestRow && (rows != m_rowCount || row == m_widestRow || removed + inserted == 0))
        m_widest = 0;
    m_rowCount = rows;
    m_size = m_model.size();
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

Container::Piece Container::pieceHolding(size_t row, size_t offset) const
{
    const RowStretches::Placed placed = m_rows.stretches(row).holding(offset);
    return {row, placed.from(), placed.to(), std::string(placed.layout->bytes())};
}

size_t Container::offsetAtX(size_t row, qreal x) const
{
    const RowStretches::Placed placed = m_rows.stretches(row).atX(x);
    return placed.offsetAt(x);
}

qreal Container::xOf(size_t offset) const
{
    const RowStretches::Placed placed = m_rows.stretches(m_model.rowOf(offset)).holding(offset);
    return placed.xOf(offset);
}

size_t Container::offsetAt(QPoint point) const
{
    const int rowInView = point.y() < 0 ? -1 - (-point.y() / rowHeight()) : point.y() / rowHeight();
    const auto row
        = size_t(std::clamp<long long>(static_cast<long long>(firstVisibleRow()) + rowInView, 0,
            static_cast<long long>(m_model.rowCount() - 1)));
    return offsetAtX(row, point.x() - Margin + qreal(m_left));
}

namespace {

// A place in the view, far places drawn just beyond it.
int inView(qreal x)
{
    constexpr qreal Far = 1 << 30;
    return int(std::floor(std::clamp(x, -Far, Far) + 0.5));
}

} // namespace

QRect Container::characterRect(size_t offset) const
{
    const size_t row = m_model.rowOf(offset);
    const RowStretches::Placed placed = m_rows.stretches(row).holding(offset);
    const size_t next
        = offset < placed.to() ? offset + utf8SequenceLength(m_model.byteAt(offset)) : offset;
    const qreal x = placed.xOf(offset);
    const qreal nextX = placed.xOf(next);
    const int left = inView(Margin + std::min(x, nextX) - qreal(m_left));
    const int right = inView(Margin + std::max(x, nextX) - qreal(m_left));
    return QRect(left, yOfRow(row), std::max(1, right - left), rowHeight());
}

QRect Container::caretRect() const
{
    return caretRectAt(m_caret);
}

QRect Container::caretRectAt(size_t offset) const
{
    const size_t row = m_model.rowOf(offset);
    const int y = yOfRow(row);
    const int x = inView(Margin + xOf(offset) - qreal(m_left));
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

    // Laying out the new view may move the caret, when stretches before it
    // were only estimated: a few rounds settle it.
    const qreal room = viewport()->width() - 2 * Margin;
    for (int round = 0; round < 4; ++round) {
        const qreal x = xOf(offset);
        noteWidth(row, std::max(x, m_rows.stretches(row).width()));
        const auto left = qreal(m_left);
        if (x < left)
            setLeft(std::uint64_t(std::max<qreal>(0, x - room / 4)));
        else if (x > left + room)
            setLeft(std::uint64_t(x - room + room / 4));
        else
            break;
    }
}

void Container::prepareView()
{
    const size_t last = std::min(m_model.rowCount(), m_topRow + size_t(visibleRows()) + 1);
    const qreal viewLeft = qreal(m_left) - Margin;
    const qreal viewRight = viewLeft + viewport()->width();
    // The rows just outside are painted too, for marks that reach into view.
    const size_t above = m_topRow > 0 ? m_topRow - 1 : 0;
    const size_t below = std::min(m_model.rowCount(), last + 1);
    for (size_t row = above; row < below; ++row) {
        RowStretches &stretches = m_rows.stretches(row);
        stretches.layOutBetween(viewLeft, viewRight);
        if (row >= m_topRow && row < last)
            noteWidth(row, stretches.width());
    }
    m_rows.keepNear(above, below, m_model.rowOf(m_caret));
}

void Container::updateScrollBars()
{
    const int rows = visibleRows();
    const size_t rowCount = m_model.rowCount();
    m_scroll = ScrollMapping(rowCount > size_t(rows) ? rowCount - size_t(rows) : 0, m_scrollLimit);
    m_topRow = std::min<size_t>(m_topRow, m_scroll.last());
    QScrollBar *vertical = verticalScrollBar();
    m_settingBar = true;
    vertical->setRange(0, m_scroll.maximum());
    // The page sizes the thumb; a page of keys or clicks is counted in rows.
    vertical->setPageStep(
        m_scroll.proportional() ? std::max(1, m_scroll.valueOf(size_t(rows))) : rows);
    vertical->setSingleStep(1);
    vertical->setValue(m_scroll.valueOf(m_topRow));
    m_settingBar = false;
    prepareView();
    updateHorizontalBar();
}

void Container::updateHorizontalBar()
{
    const int room = viewport()->width() - 2 * Margin;
    m_horizontal = ScrollMapping(std::uint64_t(std::max<qreal>(0, std::ceil(m_widest - room))));
    m_left = std::min(m_left, m_horizontal.last());
    QScrollBar *horizontal = horizontalScrollBar();
    m_settingBar = true;
    horizontal->setRange(0, m_horizontal.maximum());
    horizontal->setPageStep(m_horizontal.proportional()
            ? std::max(1, m_horizontal.valueOf(std::uint64_t(std::max(room, 0))))
            : room);
    horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
    horizontal->setValue(m_horizontal.valueOf(m_left));
    m_settingBar = false;
}

void Container::setLeft(std::uint64_t left)
{
    m_left = std::min(left, m_horizontal.last());
    m_settingBar = true;
    horizontalScrollBar()->setValue(m_horizontal.valueOf(m_left));
    m_settingBar = false;
    prepareView();
    viewport()->update();
}

void Container::scrollTo(size_t topRow)
{
    m_topRow = std::min<size_t>(topRow, m_scroll.last());
    m_settingBar = true;
    verticalScrollBar()->setValue(m_scroll.valueOf(m_topRow));
    m_settingBar = false;
    prepareView();
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
        scrollTo(m_scroll.last());
        break;
    default:
        return;
    }
    verticalScrollBar()->setSliderPosition(m_scroll.valueOf(m_topRow));
}

void Container::horizontalBarAction(int action)
{
    // As the vertical bar's: steps and pages move the view by pixels, and
    // the bar then shows where it stands.
    const auto page = std::uint64_t(std::max(1, viewport()->width() - 2 * Margin));
    const auto step = std::uint64_t(horizontalScrollBar()->singleStep());
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        setLeft(m_left + step);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        setLeft(m_left - std::min(m_left, step));
        break;
    case QAbstractSlider::SliderPageStepAdd:
        setLeft(m_left + page);
        break;
    case QAbstractSlider::SliderPageStepSub:
        setLeft(m_left - std::min(m_left, page));
        break;
    case QAbstractSlider::SliderToMinimum:
        setLeft(0);
        break;
    case QAbstractSlider::SliderToMaximum:
        setLeft(m_horizontal.last());
        break;
    default:
        return;
    }
    horizontalScrollBar()->setSliderPosition(m_horizontal.valueOf(m_left));
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
    const qreal needed = std::ceil(width) + Margin;
    if (needed <= m_widest)
        return;
    m_widest = needed;
    m_widestRow = row;
    updateHorizontalBar();
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
    // Over the row's text, whatever stretches the step crosses.
    auto step = [&](bool forward, bool words) {
        return cursorStep(m_model, start, end, from, forward,
            words ? QTextLayout::SkipWords : QTextLayout::SkipCharacters);
    };

    switch (how) {
    case Move::Left:
    case Move::WordLeft:
        if (from == start)
            return row > 0 ? m_model.rowEnd(row - 1) : from;
        return step(false, how == Move::WordLeft);
    case Move::Right:
    case Move::WordRight:
        if (from >= end)
            return row + 1 < rows ? m_model.rowStart(row + 1) : from;
        return step(true, how == Move::WordRight);
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
    // The text a few kilobytes either side, on whole characters: a word
    // longer than that is taken in part, and a long row is never read whole.
    constexpr size_t Reach = 4096;
    const size_t row = m_model.rowOf(offset);
    const size_t rowStart = m_model.rowStart(row);
    const size_t rowEnd = m_model.rowEnd(row);
    size_t from = offset - std::min(offset - rowStart, Reach);
    while (from < offset && isUtf8Continuation(m_model.byteAt(from)))
        ++from;
    size_t to = offset + std::min(rowEnd - offset, Reach);
    while (to < rowEnd && isUtf8Continuation(m_model.byteAt(to)))
        ++to;
    const auto [wordFrom, wordTo] = wordAt(m_model.text(from, to), offset - from);
    return {from + wordFrom, from + wordTo};
}

std::pair<size_t, size_t> Container::rowAround(size_t offset) const
{
    const size_t row = m_model.rowOf(offset);
    return {m_model.rowStart(row),
        row + 1 < m_model.rowCount() ? m_model.rowStart(row + 1) : m_model.rowEnd(row)};
}

bool Container::rightToLeft(size_t row) const
{
    // Decided by the row's first strong character, looked for in its first
    // bytes, then its first kilobytes: a longer row of digits and spaces
    // alone reads left to right.
    const size_t start = m_model.rowStart(row);
    const size_t end = m_model.rowEnd(row);
    std::optional<bool> found;
    for (const size_t reach : {size_t(256), size_t(65536)}) {
        found = readsRightToLeft(m_model.text(start, std::min(end, start + reach)));
        if (found || end - start <= reach)
            break;
    }
    return found.value_or(false);
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
        Move how = navigation.how;
        const size_t row = m_model.rowOf(m_caret);
        // In a row that reads right to left, Left goes on to the next
        // character and Right back, as in Qt's text boxes.
        if ((how == Move::Left || how == Move::Right || how == Move::WordLeft
                || how == Move::WordRight)
            && rightToLeft(row)) {
            how = how == Move::Left     ? Move::Right
                : how == Move::Right    ? Move::Left
                : how == Move::WordLeft ? Move::WordRight
                                        : Move::WordLeft;
        }
        // Without Shift, Left and Right first collapse a selection to its edge.
        if (!navigation.extend && hasSelectedText() && (how == Move::Left || how == Move::Right)) {
            moveCaret(how == Move::Left ? std::min(m_anchor, m_caret) : std::max(m_anchor, m_caret),
                false);
            return true;
        }
        const bool keepsGoal
            = how == Move::Up || how == Move::Down || how == Move::PageUp || how == Move::PageDown;
        if (keepsGoal && m_goalX < 0)
            m_goalX = xOf(m_caret);
        const qreal goal = m_goalX;
        if (how == Move::PageUp || how == Move::PageDown)
            scrollBy(how == Move::PageUp ? -visibleRows() : visibleRows());
        size_t to = move(m_caret, how);
        // Shift+Up on the first row and Shift+Down on the last select to the
        // text's start and end.
        if (navigation.extend && how == Move::Up && row == 0)
            to = 0;
        else if (navigation.extend && how == Move::Down && row + 1 == m_model.rowCount())
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
    const size_t row = m_model.rowOf(m_caret);
    // Ctrl+K takes from the selection's anchor, or the caret, to the end of
    // the caret's row: at the row's end, with nothing selected, nothing.
    if (deletesToRowEnd(event)) {
        const size_t end = m_model.rowEnd(row);
        if (m_anchor == end)
            moveCaret(end, false);
        else
            replaceRange(std::min(m_anchor, end), std::max(m_anchor, end), {});
        return;
    }
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
    size_t other = 0;
    // Backspace takes one character back, not the whole cluster: an accent
    // typed after its letter goes alone.
    if (how == Move::Left && m_caret > m_model.rowStart(row)) {
        const std::string before
            = m_model.text(m_caret - std::min<size_t>(m_caret - m_model.rowStart(row), 4), m_caret);
        other = m_caret - (before.size() - utf8CharacterBefore(before, before.size()));
    } else {
        other = move(m_caret, how);
    }
    replaceRange(std::min(other, m_caret), std::max(other, m_caret), {});
}

void Container::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    const size_t at = offsetAt(point);
    if (event->button() == Qt::LeftButton) {
        m_gesture = Gesture::Characters;
        m_pressedAt = point;
        m_goalX = -1;
        // A third click soon after a double click, where it was, takes the
        // row with its break, and a drag then goes on by rows.
        if (m_tripleClick.isActive()
            && (point - m_doubleClickAt).manhattanLength() < QApplication::startDragDistance()) {
            m_tripleClick.stop();
            m_gesture = Gesture::Rows;
            std::tie(m_gestureFrom, m_gestureTo) = rowAround(at);
            m_anchor = m_gestureFrom;
            moveCaret(m_gestureTo, true);
            return;
        }
        const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
        if (!extend && pressStartsDrag(at)) {
            m_gesture = Gesture::DragSelection;
            return;
        }
        moveCaret(at, extend);
    } else if (event->button() == Qt::MiddleButton
        && QGuiApplication::clipboard()->supportsSelection()) {
        // The X11 way: the middle button pastes the primary selection where it clicks.
        m_anchor = m_caret = at;
        insertFromMime(QGuiApplication::clipboard()->mimeData(QClipboard::Selection), at);
    }
}

void Container::mouseMoveEvent(QMouseEvent *event)
{
    if (m_gesture == Gesture::None || !(event->buttons() & Qt::LeftButton))
        return;
    m_lastMouse = event->position().toPoint();
    if (m_gesture == Gesture::DragSelection) {
        if ((m_lastMouse - m_pressedAt).manhattanLength() > QApplication::startDragDistance())
            startDrag();
        return;
    }
    if (viewport()->rect().contains(m_lastMouse))
        m_autoScroll.stop();
    else if (!m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollMs, this);
    extendTo(offsetAt(m_lastMouse));
}

void Container::extendTo(size_t at)
{
    // By words or rows, the one the gesture began with stays selected.
    std::pair<size_t, size_t> unit;
    switch (m_gesture) {
    case Gesture::Characters:
        moveCaret(at, true);
        return;
    case Gesture::Words:
        unit = wordAround(at);
        break;
    case Gesture::Rows:
        unit = rowAround(at);
        break;
    default:
        return;
    }
    if (at < m_gestureFrom) {
        m_anchor = m_gestureTo;
        moveCaret(unit.first, true);
    } else {
        m_anchor = m_gestureFrom;
        moveCaret(std::max(unit.second, m_gestureTo), true);
    }
}

void Container::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // Pressed on the selection and let go without dragging: a plain click.
    if (m_gesture == Gesture::DragSelection)
        moveCaret(offsetAt(event->position().toPoint()), false);
    m_gesture = Gesture::None;
    m_autoScroll.stop();
}

void Container::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    std::tie(m_gestureFrom, m_gestureTo) = wordAround(offsetAt(event->position().toPoint()));
    m_gesture = Gesture::Words;
    m_anchor = m_gestureFrom;
    moveCaret(m_gestureTo, true);
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
        // Selecting, the mouse beyond the view scrolls; a drag held over the
        // text, near its top or bottom row.
        const int edge = m_dropAt ? rowHeight() : 0;
        if (m_lastMouse.y() < edge)
            scrollBy(-1);
        else if (m_lastMouse.y() >= viewport()->height() - edge)
            scrollBy(1);
        else if (m_dropAt)
            m_autoScroll.stop();
        const QPoint inside(
            m_lastMouse.x(), std::clamp(m_lastMouse.y(), 0, std::max(0, viewport()->height() - 1)));
        if (m_dropAt)
            showDropAt(offsetAt(inside));
        else
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
    } else if (event->preeditString() != m_preedit && !event->preeditString().isEmpty()) {
        // As typing would, what is being composed takes the selection's place.
        deleteSelection();
    }
    m_preedit = event->preeditString();
    m_preeditCaret = int(m_preedit.size());
    m_preeditCaretShown = true;
    m_preeditFormats.clear();
    for (const QInputMethodEvent::Attribute &attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCaret = attribute.start;
            m_preeditCaretShown = attribute.length != 0;
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            const QTextCharFormat format
                = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (format.isValid())
                m_preeditFormats.append({attribute.start, attribute.length, format});
        }
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
    // A bar moved by itself (a drag, a jump): its value picks the top row or
    // the left edge, unless it already stands for it.
    viewport()->update();
    if (m_settingBar)
        return;
    const int value = verticalScrollBar()->value();
    if (value != m_scroll.valueOf(m_topRow))
        m_topRow = m_scroll.placeOf(value);
    const int across = horizontalScrollBar()->value();
    if (across != m_horizontal.valueOf(m_left))
        m_left = m_horizontal.placeOf(across);
    prepareView();
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
        m_rows.setFont(font());
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
    // Only the rows and columns the paint asks for (the caret's blink repaints
    // one), and the row either side, into which marks stacked high or deep
    // may reach.
    constexpr size_t Overhang = 1;
    const QRect asked = event->rect();
    const size_t firstAsked = first + size_t(std::max(0, asked.top() / height));
    const size_t from = firstAsked - std::min(firstAsked, Overhang);
    const size_t last
        = std::min(rows, first + size_t(std::max(0, asked.bottom() / height)) + 1 + Overhang);
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    PieceDrawing drawing;
    drawing.selectionFrom = std::min(m_anchor, m_caret);
    drawing.selectionTo = std::max(m_anchor, m_caret);
    drawing.selected.setBackground(palette().brush(group, QPalette::Highlight));
    drawing.selected.setForeground(palette().brush(group, QPalette::HighlightedText));
    drawing.text = palette().color(group, QPalette::Text);
    drawing.selectedText = palette().color(group, QPalette::HighlightedText);
    drawing.baseline = fontMetrics().ascent();
    const qreal left = Margin - qreal(m_left);
    const qreal viewLeft = asked.left() - left;
    const qreal viewRight = asked.right() + 1 - left;
    const size_t caretRow = m_model.rowOf(m_caret);
    const int caretWidth = style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this);
    const qreal breakWidth = fontMetrics().horizontalAdvance(QLatin1Char(' '));

    for (size_t row = from; row < last; ++row) {
        // Every row in view was laid out when the view changed; one that
        // was not is laid out for this paint alone.
        const RowStretches *stretches = m_rows.find(row);
        std::optional<RowStretches> unprepared;
        if (!stretches) {
            unprepared.emplace(m_model, m_rows.style(), m_model.rowStart(row), m_model.rowEnd(row));
            unprepared->layOutBetween(viewLeft, viewRight);
            stretches = &*unprepared;
        }
        const size_t end = stretches->to();
        const qreal top = yOfRow(row);
        for (const RowStretches::Placed &piece : stretches->laidOutBetween(viewLeft, viewRight)) {
            const bool holdsCaret = row == caretRow && m_caret >= piece.from()
                && (m_caret < piece.to() || m_caret == end);
            // What an input method composes is laid out into the caret's piece.
            std::shared_ptr<const StretchLayout> layout = piece.layout;
            if (holdsCaret && !m_preedit.isEmpty())
                layout = layout->composing(
                    m_rows.style(), {piece.local(m_caret), m_preedit, m_preeditFormats});
            PieceDrawing own = drawing;
            own.selectionFrom = piece.local(drawing.selectionFrom);
            own.selectionTo = piece.local(drawing.selectionTo);
            const QPointF at(left + piece.x, top);
            layout->draw(painter, m_rows.style(), at, own);
            // A selected line break shows as a space's width of highlight.
            if (piece.to() == end && drawing.selectionTo > end && drawing.selectionFrom <= end
                && row + 1 < rows) {
                const qreal x
                    = stretches->rightToLeft() ? at.x() - breakWidth : at.x() + layout->width();
                painter.fillRect(QRectF(x, top, breakWidth, height), drawing.selected.background());
            }
            if (holdsCaret && hasFocus() && m_caretShown
                && (m_preedit.isEmpty() || m_preeditCaretShown)) {
                layout->drawCaret(painter, at, piece.local(m_caret),
                    m_preedit.isEmpty() ? 0 : m_preeditCaret, caretWidth, drawing.baseline);
            }
        }
    }
    if (m_dropAt) {
        const QRect dropCaret = caretRectAt(*m_dropAt);
        painter.fillRect(dropCaret.x(), dropCaret.y(),
            style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this), dropCaret.height(),
            palette().color(group, QPalette::Text));
    }
}
