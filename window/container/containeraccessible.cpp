// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's accessible text interface.
#include "containeraccessible.h"

#include "container.h"
#include "utf8.h"

#include <QAccessibleWidget>
#include <QLocale>
#include <QScrollBar>
#include <QTextBoundaryFinder>

namespace {

// Words, sentences and characters are looked for this far around an offset:
// a row may be far longer than anything a reader asks to hear at once.
constexpr size_t Around = size_t(16) << 10;

// How many rows the text has and how many of them are selected, as a reader
// hears it on entering and after each change: "3,000,000 rows, all selected".
QString describe(const Container &container)
{
    // A text that ends with a line break ends with an empty row that holds no line.
    const ContainerModel &model = container.model();
    size_t rows = model.rowCount();
    if (model.rowStart(rows - 1) == model.size())
        --rows;
    if (rows == 0)
        return Container::tr("empty");
    const auto counted = [](size_t count) { return QLocale().toString(qulonglong(count)); };
    QString all = rows == 1 ? Container::tr("1 row") : Container::tr("%1 rows").arg(counted(rows));
    if (!container.hasSelectedText())
        return all;
    const size_t from = std::min(container.anchorOffset(), container.caretOffset());
    const size_t to = std::max(container.anchorOffset(), container.caretOffset());
    if (from == 0 && to == model.size())
        return Container::tr("%1, all selected").arg(all);
    // A selection that ends where a row starts selects nothing of that row.
    const size_t first = model.rowOf(from);
    size_t last = model.rowOf(to);
    if (last > first && model.rowStart(last) == to)
        --last;
    return Container::tr("%1, %2 selected").arg(all, counted(last - first + 1));
}

} // namespace

// Offsets are UTF-16 code units, as Qt counts them, in the window of the text
// that the view keeps for a screen reader (readerwindow.h): the whole text
// while it is no longer than a reader is shown at once.
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
        // row at the caret: how much there is, and how much of it is selected.
        if (type == QAccessible::Description)
            return describe(*container());
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
    int characterCount() const override { return reader().length(); }

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

    // Reading on, a screen reader brings each row into view; it selects nothing.
    void scrollToSubstring(int startIndex, int) override
    {
        container()->ensureVisible(fromUtf16(startIndex));
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
        edit(fromUtf16(startOffset), fromUtf16(endOffset), QString());
    }
    void insertText(int offset, const QString &text) override
    {
        edit(fromUtf16(offset), fromUtf16(offset), text);
    }
    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        // "Replace the whole text" (AT-SPI's SetTextContents) arrives as a
        // replacement of everything the reader is shown: with a window shown,
        // that is still the whole text.
        if (startOffset == 0 && (endOffset < 0 || endOffset == characterCount())) {
            edit(0, model().size(), text);
            return;
        }
        edit(fromUtf16(startOffset), fromUtf16(endOffset), text);
    }

private:
    Container *container() const { return static_cast<Container *>(widget()); }
    const ContainerModel &model() const { return container()->model(); }
    const ReaderWindow &reader() const { return container()->readerWindow(); }
    int toUtf16(size_t offset) const { return reader().toUtf16(offset); }
    size_t fromUtf16(int offset) const { return reader().fromUtf16(offset); }
    void edit(size_t from, size_t to, const QString &text)
    {
        container()->replaceText(std::min(from, to), std::max(from, to), text);
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
            // A row is reported with its line break, as Qt's own text boxes
            // do, and as far as it is inside the window.
            size_t start = model().rowStart(row);
            size_t end = row + 1 < model().rowCount() ? model().rowStart(row + 1) : model().size();
            if ((start >= reader().to() && reader().to() < model().size())
                || (end <= reader().from() && reader().from() > 0))
                return {};
            start = std::max(start, reader().from());
            end = std::min(end, reader().to());
            *startOffset = toUtf16(start);
            *endOffset = toUtf16(end);
            return QString::fromStdString(model().text(start, end));
        }

        const auto type = boundary == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
            : boundary == QAccessible::SentenceBoundary         ? QTextBoundaryFinder::Sentence
                                                                : QTextBoundaryFinder::Grapheme;
        int start = 0;
        int end = 0;
        QString found = segmentAt(offset, type, &start, &end);
        // The one before or after may lie in the row before or after.
        if (step > 0 && !found.isEmpty())
            found = segmentAt(end, type, &start, &end);
        else if (step < 0 && !found.isEmpty())
            found = start > 0 ? segmentAt(start - 1, type, &start, &end) : QString();
        if (found.isEmpty())
            return {};
        *startOffset = start;
        *endOffset = end;
        return found;
    }

    // The word, sentence or character at the offset, looked for in its row
    // with the row's line break, near the offset: a row's carriage return and
    // line feed are one character.
    QString segmentAt(
        int offset, QTextBoundaryFinder::BoundaryType type, int *startOffset, int *endOffset) const
    {
        if (offset < 0 || offset >= characterCount())
            return {};
        const size_t at = fromUtf16(offset);
        const size_t row = model().rowOf(at);
        const size_t rowFrom = model().rowStart(row);
        const size_t rowTo
            = row + 1 < model().rowCount() ? model().rowStart(row + 1) : model().size();
        size_t nearFrom = std::max({rowFrom, reader().from(), at - std::min(at, Around)});
        while (nearFrom < at && isUtf8Continuation(model().byteAt(nearFrom)))
            ++nearFrom;
        size_t nearTo = std::min({rowTo, reader().to(), at + Around});
        while (nearTo > at && nearTo < rowTo
            && (isUtf8Continuation(model().byteAt(nearTo)) || model().byteAt(nearTo) == '\n'))
            --nearTo;
        const QString nearby = QString::fromStdString(model().text(nearFrom, nearTo));
        const int nearOffset = toUtf16(nearFrom);
        QTextBoundaryFinder finder(type, nearby);
        finder.setPosition(std::clamp<qsizetype>(offset - nearOffset, 0, nearby.size()));
        if (!finder.isAtBoundary())
            finder.toPreviousBoundary();
        const qsizetype start = finder.position();
        const qsizetype end = finder.toNextBoundary();
        if (start < 0 || end < 0)
            return {};
        *startOffset = nearOffset + int(start);
        *endOffset = nearOffset + int(end);
        return nearby.mid(start, end - start);
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
