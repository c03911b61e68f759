// SPDX-License-Identifier: GPL-3.0-or-later
// The Container: a multi-line text box that shows a run's lines without copying
// them, and stays as quick with millions of lines as with ten.
#pragma once

#include "containerevents.h"
#include "containermodel.h"
#include "readerwindow.h"
#include "rowstretches.h"
#include "scrollmapping.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QClipboard>
#include <QString>
#include <QTextLayout>

#include <memory>
#include <optional>

class ContainerMimeData;
class RunLines;
class QMimeData;

// Plain text in the window's font, no wrapping, both scroll bars. It paints
// only the rows in view, and hands its text to the clipboard and the primary
// selection only when another program asks for it.
class Container : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // A copy takes at most this much of the text: beyond it the bytes would
    // be made whole for whoever pastes, and a file is the better way to them.
    static constexpr size_t MaxCopyBytes = size_t(1) << 30;

    explicit Container(QWidget *parent = nullptr);
    ~Container() override;

    // Shows the run's lines, shared with the run: they are made as they are shown.
    void setLines(std::shared_ptr<const RunLines> lines);
    void clear();

    const ContainerModel &model() const { return m_model; }
    // What a screen reader is shown of the text.
    const ReaderWindow &readerWindow() const { return m_reader; }
    // The whole text; as large as the text, so for small texts.
    QString toPlainText() const;
    QString selectedText() const;
    bool hasSelectedText() const { return m_anchor != m_caret; }
    size_t caretOffset() const { return m_caret; }
    size_t anchorOffset() const { return m_anchor; }
    // Selects from anchor to caret (byte offsets on whole characters) and shows the caret.
    void setSelection(size_t anchor, size_t caret);
    void selectAll();
    // Selects everything as a box does when the focus arrives: not a
    // selection the user made, so the primary selection stays with whoever
    // owns it, and a screen reader is not handed the whole text.
    void selectAllOnFocus();
    // The selection is still the one made as the focus arrived.
    bool selectedOnFocus() const { return m_selectedOnFocus; }
    void deselect();

    // The offset nearest a point of the viewport, and where a character is
    // drawn there, as painted: what a screen reader points at.
    size_t offsetAt(QPoint viewportPoint) const;
    QRect characterRect(size_t offset) const;
    // Scrolls the character at offset into view, the caret left where it is.
    void ensureVisible(size_t offset);

    void undo();
    void redo();
    // A selection larger than MaxCopyBytes is not copied, and a cut of it
    // deletes nothing: copyRefused says why.
    void cut();
    void copy();
    void paste();
    void deleteSelection();
    // Replaces the bytes from..to (whole characters) as typing would, as one
    // undo step; the caret goes after the new text.
    void replaceText(size_t from, size_t to, const QString &text);

signals:
    void copyRefused(const QString &message);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;

private:
    friend class ContainerForTests;

    // How often a selection or a drag held beyond the text's edge scrolls it.
    static constexpr int AutoScrollMs = 50;

    enum class Move {
        Left,
        Right,
        WordLeft,
        WordRight,
        Up,
        Down,
        PageUp,
        PageDown,
        Home,
        End,
        Top,
        Bottom
    };

    // The text of the piece of a row that holds an offset: a whole short
    // row, or a stretch of a long one.
    struct Piece
    {
        size_t row = 0;
        size_t from = 0;
        size_t to = 0;
        std::string bytes;
    };

    // The two halves of a key press: a caret move, or an edit or command.
    // Each says whether the key was its own.
    bool navigate(const QKeyEvent &event);
    bool edit(const QKeyEvent &event);
    void deleteByKey(const QKeyEvent &event);
    size_t move(size_t from, Move how) const;
    void moveCaret(size_t to, bool extend);
    void replaceSelection(const QString &text);
    void replaceRange(size_t from, size_t to, const std::string &utf8);
    void afterEdit(size_t from, size_t removed, size_t inserted, size_t caret);
    // Tells a screen reader where the caret stands, and the text it now
    // reads when the caret took the reader's window along.
    void tellCaret();
    void insertFromMime(const class QMimeData *mime, size_t at);
    bool copyOrRefuse();
    // False when the selection is empty or larger than the copy limit.
    bool publishSelection(QClipboard::Mode mode) const;
    // Not between the carriage return and line feed of a row's break.
    size_t outsideBreak(size_t offset) const;
    std::pair<size_t, size_t> wordAround(size_t offset) const;
    // The row with its break, as a triple click takes it.
    std::pair<size_t, size_t> rowAround(size_t offset) const;
    bool rightToLeft(size_t row) const;
    // Where a drag has reached: by characters, words or rows, as the press began.
    void extendTo(size_t at);
    // Dragging the selection away, and taking text dropped in (containerdrag.cpp).
    bool pressStartsDrag(size_t at) const;
    ContainerMimeData *dragData() const;
    void startDrag();
    bool acceptsDrop(const QMimeData *mime) const;
    void showDropAt(std::optional<size_t> at);
    void drop(const QMimeData *mime, size_t at, bool moveOwn);

    int rowHeight() const;
    int visibleRows() const;
    size_t firstVisibleRow() const { return m_topRow; }
    // Where a row is drawn; rows far out of view are placed just beyond it.
    int yOfRow(size_t row) const;
    void scrollTo(size_t topRow);
    void scrollBy(long long rows);
    void scrollBarAction(int action);
    void horizontalBarAction(int action);
    void wheelBy(const class QWheelEvent &event);
    Piece pieceHolding(size_t row, size_t offset) const;
    // x counts pixels from the rows' left ends, whatever the view shows.
    size_t offsetAtX(size_t row, qreal x) const;
    qreal xOf(size_t offset) const;
    QRect caretRect() const;
    QRect caretRectAt(size_t offset) const;
    void ensureCaretVisible();
    // Lays out what the view shows, before it is painted, and widens the
    // horizontal range to the rows in it.
    void prepareView();
    void updateScrollBars();
    void updateHorizontalBar();
    void setLeft(std::uint64_t left);
    void noteWidth(size_t row, qreal width);
    void restartBlinking();

    // MaxCopyBytes and the scroll bar's largest value, which tests lower to
    // reach them with small texts.
    size_t m_copyLimit = MaxCopyBytes;
    std::uint64_t m_scrollLimit = ScrollMapping::Limit;

    ContainerModel m_model;
    // Tests lower the window's limit to reach it with small texts.
    friend class ReaderWindowForTests;
    ReaderWindow m_reader {m_model};
    ContainerEvents m_events {this, m_reader};
    size_t m_anchor = 0;
    size_t m_caret = 0;
    // Where Up and Down try to keep the caret, in pixels from the row's start.
    qreal m_goalX = -1;
    // The widest row shown since the last edit that could have narrowed it,
    // with the margin: the horizontal scroll bar's range.
    qreal m_widest = 0;
    size_t m_widestRow = 0;
    // The text's rows and bytes as the last edit left them.
    size_t m_rowCount = 1;
    size_t m_size = 0;
    // The view's left edge, in pixels from the rows' left ends; the
    // horizontal bar shows it through its own mapping.
    std::uint64_t m_left = 0;
    ScrollMapping m_horizontal;
    // The top row is the view's own; the vertical scroll bar shows it
    // through the mapping, and m_settingBar marks the bar being set from it.
    size_t m_topRow = 0;
    ScrollMapping m_scroll;
    bool m_settingBar = false;
    // A fine wheel's turn, until it makes a notch.
    int m_wheelAngle = 0;
    // The rows laid out lately; positions asked for lay out what they need.
    mutable LaidOutRows m_rows {m_model, font()};
    bool m_selectedOnFocus = false;
    QString m_preedit;
    int m_preeditCaret = 0;
    bool m_preeditCaretShown = true;
    // The input method's underlines and the like, counted from the preedit's start.
    QList<QTextLayout::FormatRange> m_preeditFormats;
    bool m_caretShown = true;
    // What the left button held down does as the mouse moves: selects by
    // characters, by the words or rows a double or triple click began with
    // (m_gestureFrom..m_gestureTo), or drags the selection it went down on.
    enum class Gesture { None, Characters, Words, Rows, DragSelection };
    Gesture m_gesture = Gesture::None;
    size_t m_gestureFrom = 0;
    size_t m_gestureTo = 0;
    QPoint m_pressedAt;
    // Where dropped text would go, shown as a caret while a drag is over the text.
    std::optional<size_t> m_dropAt;
    QPoint m_doubleClickAt;
    QBasicTimer m_tripleClick;
    QPoint m_lastMouse;
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QBasicTimer m_primary;
};
