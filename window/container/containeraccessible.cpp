// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's accessible text interface.
#include "containeraccessible.h"

#include "container.h"

#include <QAccessibleWidget>
#include <QScrollBar>
#include <QTextBoundaryFinder>

#include <climits>

namespace {

int clampToInt(size_t value)
{
    return int(std::min<size_t>(value, INT_MAX));
}

} // namespace

// Offsets are UTF-16 code units, as Qt counts them.
class ContainerAccessible : public QAccessibleWidget,
                            public QAccessibleTextInterface,
                            public QAccessibleEditableTextInterface
{
public:
    explicit ContainerAccessible(Container *container)
        : QAccessibleWidget(container, QAccessible::EditableText)
    { }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        // The value of a text box is its text; a screen reader asks the text
        // interface for it, a row at a time.
        if (type == QAccessible::Value)
            return {};
        // What a screen reader says on entering, besides the name and the
        // row at the caret: how much there is, and that typing replaces it all.
        if (type == QAccessible::Description) {
            // A text that ends with a line break ends with an empty row that
            // holds no line.
            const ContainerModel &shown = model();
            size_t rows = shown.rowCount();
            if (shown.rowStart(rows - 1) == shown.size())
                --rows;
            const QString count = rows == 0
                ? Container::tr("empty")
                : Container::tr("%Ln rows", nullptr, int(std::min<size_t>(rows, INT_MAX)));
            return container()->selectedOnFocus() && container()->hasSelectedText()
                ? Container::tr("%1, all selected").arg(count)
                : count;
        }
        return QAccessibleWidget::text(type);
    }

    // The selection made as the focus arrived is told by the description:
    // reported as a selection, a screen reader would fetch and speak the
    // whole text on entering.
    bool userSelection() const
    {
        return container()->hasSelectedText() && !container()->selectedOnFocus();
    }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !userSelection())
            return;
        *startOffset = toUtf16(std::min(container()->anchorOffset(), container()->caretOffset()));
        *endOffset = toUtf16(std::max(container()->anchorOffset(), container()->caretOffset()));
    }
    int selectionCount() const override { return userSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            container()->deselect();
    }
    void setSelection(int, int startOffset, int endOffset) override
    {
        container()->setSelection(fromUtf16(startOffset), fromUtf16(endOffset));
    }

    int cursorPosition() const override { return toUtf16(container()->caretOffset()); }
    void setCursorPosition(int position) override
    {
        const size_t at = fromUtf16(position);
        container()->setSelection(at, at);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return QString::fromStdString(model().text(fromUtf16(startOffset), fromUtf16(endOffset)));
    }
    int characterCount() const override { return toUtf16(model().size()); }

    QRect characterRect(int offset) const override
    {
        const QRect drawn = container()->characterRect(fromUtf16(offset));
        return QRect(container()->viewport()->mapToGlobal(drawn.topLeft()), drawn.size());
    }

    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint local = container()->viewport()->mapFromGlobal(point);
        return toUtf16(container()->offsetAt(local));
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        container()->setSelection(fromUtf16(startIndex), fromUtf16(endIndex));
    }

    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
        int *endOffset) const override
    {
        return around(offset, boundaryType, 0, startOffset, endOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override
    {
        return around(offset, boundaryType, -1, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override
    {
        return around(offset, boundaryType, 1, startOffset, endOffset);
    }

    // Edits as typed, each one undo step.
    void deleteText(int startOffset, int endOffset) override
    {
        replaceText(startOffset, endOffset, QString());
    }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        const size_t from = fromUtf16(startOffset);
        const size_t to = fromUtf16(endOffset);
        container()->replaceText(std::min(from, to), std::max(from, to), text);
    }

private:
    Container *container() const { return static_cast<Container *>(widget()); }
    const ContainerModel &model() const { return container()->model(); }
    int toUtf16(size_t offset) const { return clampToInt(model().utf16Offset(offset)); }
    size_t fromUtf16(int offset) const
    {
        return offset < 0 ? model().size() : model().offsetOfUtf16(size_t(offset));
    }

    // The row, word, sentence or character at the offset, or the one before
    // or after it. Everything is looked for within rows, never over the whole text.
    QString around(int offset, QAccessible::TextBoundaryType boundary, int step, int *startOffset,
        int *endOffset) const
    {
        *startOffset = *endOffset = -1;
        if (boundary == QAccessible::NoBoundary) {
            *startOffset = 0;
            *endOffset = characterCount();
            return step == 0 ? text(0, *endOffset) : QString();
        }
        const size_t at = fromUtf16(offset);
        size_t row = model().rowOf(at);
        if (boundary == QAccessible::LineBoundary || boundary == QAccessible::ParagraphBoundary) {
            if ((step < 0 && row == 0) || (step > 0 && row + 1 >= model().rowCount()))
                return {};
            row = size_t(static_cast<long long>(row) + step);
            // A row is reported with its line break, as Qt's own text boxes do.
            const size_t start = model().rowStart(row);
            const size_t end
                = row + 1 < model().rowCount() ? model().rowStart(row + 1) : model().size();
            *startOffset = toUtf16(start);
            *endOffset = toUtf16(end);
            return QString::fromStdString(model().text(start, end));
        }

        const size_t rowStart = model().rowStart(row);
        const QString rowText = QString::fromStdString(model().rowText(row));
        const int rowOffset = toUtf16(rowStart);
        int position = std::clamp(offset - rowOffset, 0, int(rowText.size()));
        const auto type = boundary == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
            : boundary == QAccessible::SentenceBoundary         ? QTextBoundaryFinder::Sentence
                                                                : QTextBoundaryFinder::Grapheme;
        QTextBoundaryFinder finder(type, rowText);
        finder.setPosition(position);
        if (!finder.isAtBoundary())
            position = int(finder.toPreviousBoundary());
        finder.setPosition(position);
        if (step < 0) {
            const qsizetype previous = finder.toPreviousBoundary();
            if (previous < 0)
                return {};
            finder.setPosition(previous);
        } else if (step > 0) {
            if (finder.toNextBoundary() < 0)
                return {};
        }
        const qsizetype start = finder.position();
        const qsizetype end = finder.toNextBoundary();
        if (end < 0)
            return {};
        *startOffset = rowOffset + int(start);
        *endOffset = rowOffset + int(end);
        return rowText.mid(start, end - start);
    }
};

namespace {

QAccessibleInterface *containerFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("Container") && object && object->isWidgetType())
        return new ContainerAccessible(static_cast<Container *>(object));
    return nullptr;
}

} // namespace

void installContainerAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(containerFactory);
        return true;
    }();
    (void)installed;
}
