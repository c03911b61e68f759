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

#include <list>
#include <memory>

class RunLines;
class QPainter;
class QTextLayout;

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

    // Tests lower these to reach their edges with small texts; the scroll
    // limit takes effect with the next lines shown.
    size_t copyLimit = MaxCopyBytes;
    std::uint64_t scrollLimit = ScrollMapping::Limit;

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
    // A selection larger than copyLimit is not copied, and a cut of it
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
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;

private:
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

    // A piece of a row laid out on its own: a whole short row, or one
    // stretch of a long one, at x pixels from the row's start.
    struct Piece
    {
        size_t row = 0;
        size_t from = 0;
        size_t to = 0;
        qreal x = 0;
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
    // False when the selection is empty or larger than copyLimit.
    bool publishSelection(QClipboard::Mode mode) const;
    // Not between the carriage return and line feed of a row's break.
    size_t outsideBreak(size_t offset) const;
    std::pair<size_t, size_t> wordAround(size_t offset) const;
    // Where a drag has reached: by characters, or by words after a double click.
    void extendTo(size_t at);

    int rowHeight() const;
    int visibleRows() const;
    size_t firstVisibleRow() const { return m_topRow; }
    // Where a row is drawn; rows far out of view are placed just beyond it.
    int yOfRow(size_t row) const;
    void scrollTo(size_t topRow);
    void scrollBy(long long rows);
    void scrollBarAction(int action);
    void wheelBy(const class QWheelEvent &event);
    const RowStretches *stretchesOf(size_t row) const;
    Piece pieceHolding(size_t row, size_t offset) const;
    Piece pieceAtX(size_t row, qreal x) const;
    Piece pieceOf(size_t row, const RowStretches *stretches, size_t index) const;
    void layOut(QTextLayout &layout, const Piece &piece) const;
    void drawPictures(QPainter &painter, const QTextLayout &layout, const Piece &piece, QPointF at,
        size_t selectionFrom, size_t selectionTo) const;
    size_t offsetAtX(size_t row, qreal x) const;
    int xOf(size_t offset) const;
    QRect caretRect() const;
    void ensureCaretVisible();
    void updateScrollBars();
    void noteWidth(size_t row, qreal width);
    void restartBlinking();

    ContainerModel m_model;
    // Tests lower the window's limit to reach it with small texts.
    friend class ReaderWindowForTests;
    ReaderWindow m_reader {m_model};
    ContainerEvents m_events {this, m_reader};
    size_t m_anchor = 0;
    size_t m_caret = 0;
    // Where Up and Down try to keep the caret, in pixels from the row's start.
    int m_goalX = -1;
    // The widest row shown since the last edit that could have narrowed it:
    // the horizontal scroll bar's range.
    int m_widest = 0;
    size_t m_widestRow = 0;
    size_t m_rowCount = 1;
    // The top row is the view's own; the vertical scroll bar shows it
    // through the mapping, and m_settingBar marks the bar being set from it.
    size_t m_topRow = 0;
    ScrollMapping m_scroll;
    bool m_settingBar = false;
    // A fine wheel's turn, until it makes a notch.
    int m_wheelAngle = 0;
    std::unique_ptr<CharWidths> m_widths;
    // The long rows met lately, with their stretches; kept in step with edits.
    struct LongRow
    {
        size_t row;
        RowStretches stretches;
    };
    mutable std::list<LongRow> m_longRows;
    bool m_selectedOnFocus = false;
    QString m_preedit;
    int m_preeditCaret = 0;
    bool m_caretShown = true;
    bool m_selecting = false;
    bool m_selectingWords = false;
    size_t m_wordAnchorStart = 0;
    size_t m_wordAnchorEnd = 0;
    QPoint m_doubleClickAt;
    QBasicTimer m_tripleClick;
    QPoint m_lastMouse;
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QBasicTimer m_primary;
};
