// SPDX-License-Identifier: GPL-3.0-or-later
// The Container: a multi-line text box that shows a run's lines without copying
// them, and stays as quick with millions of lines as with ten.
#pragma once

#include "containermodel.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QClipboard>
#include <QString>

class LineBuffer;
class QTextLayout;

// Plain text in the window's font, no wrapping, both scroll bars. It paints
// only the rows in view, and hands its text to the clipboard and the primary
// selection only when another program asks for it.
class Container : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit Container(QWidget *parent = nullptr);
    ~Container() override;

    // Shows the run's lines, shared with the run: nothing is copied.
    void setLines(const LineBuffer &lines);
    void clear();

    const ContainerModel &model() const { return m_model; }
    // The whole text; as large as the text, so for small texts.
    QString toPlainText() const;
    QString selectedText() const;
    bool hasSelectedText() const { return m_anchor != m_caret; }
    size_t caretOffset() const { return m_caret; }
    size_t anchorOffset() const { return m_anchor; }
    // Selects from anchor to caret (byte offsets on whole characters) and shows the caret.
    void setSelection(size_t anchor, size_t caret);
    void selectAll();
    void deselect();

    // The offset nearest a point of the viewport, and where a character is
    // drawn there, as painted: what a screen reader points at.
    size_t offsetAt(QPoint viewportPoint) const;
    QRect characterRect(size_t offset) const;

    void undo();
    void redo();
    void cut();
    void copy() const;
    void paste();
    void deleteSelection();

protected:
    bool event(QEvent *event) override;
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
    void insertFromMime(const class QMimeData *mime, size_t at);
    void publishSelection(QClipboard::Mode mode) const;

    int rowHeight() const;
    int visibleRows() const;
    size_t firstVisibleRow() const;
    QString displayedRow(size_t row) const;
    void layOut(QTextLayout &layout, size_t row) const;
    int xOf(size_t offset) const;
    QRect caretRect() const;
    void ensureCaretVisible();
    void updateScrollBars();
    void noteWidth(int width);
    void restartBlinking();

    ContainerModel m_model;
    size_t m_anchor = 0;
    size_t m_caret = 0;
    // Where Up and Down try to keep the caret, in pixels from the row's start.
    int m_goalX = -1;
    // The widest row shown so far: the horizontal scroll bar's range.
    int m_widest = 0;
    QString m_preedit;
    int m_preeditCaret = 0;
    bool m_caretShown = true;
    bool m_selecting = false;
    bool m_selectingWords = false;
    size_t m_wordAnchorEnd = 0;
    QPoint m_lastMouse;
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QBasicTimer m_primary;
};
