// SPDX-License-Identifier: GPL-3.0-or-later
// The Container as a text box: keys, mouse, clipboard and undo, through the real window.
#include "windowdriver.h"

#include "container.h"
#include "runlines.h"
#include "testseams.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <map>

namespace {

// Rows "0" to "999".
std::shared_ptr<const RunLines> thousandRows()
{
    return std::make_shared<const RunLines>(std::vector<std::string>(2),
        std::vector<CounterSettings> {{0, 999, 1, 1, false, true, true}}, TextEncoding::Utf8, "",
        "\r\n", 1 << 20);
}

// Three rows, typed into the Container; the caret ends after the last "c".
const QString Typed = QStringLiteral("abc\r\nabcdef\r\nabc");

const QString TheirSelection = QStringLiteral("another program's selection");

// A row's expected caret that stands for "as QPlainTextEdit does": the
// row's text, selection and caret are those of a QPlainTextEdit given the
// same text and the same steps.
constexpr int AsPlainTextEdit = -1;

// The text as QPlainTextEdit holds it, where a row break is one line feed.
QString asPlainText(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

// A place in the Container counted as QPlainTextEdit counts it: in UTF-16
// units, a row break as one.
int plainPosition(const Container *box, size_t offset)
{
    const QString before = QString::fromStdString(box->model().text(0, offset));
    return int(before.size() - before.count(QLatin1String("\r\n")));
}

size_t containerOffset(const Container *box, int position)
{
    const QString text = box->toPlainText();
    qsizetype unit = 0;
    for (int counted = 0; counted < position && unit < text.size(); ++counted)
        unit += QStringView(text).mid(unit, 2) == QLatin1String("\r\n") ? 2 : 1;
    return box->model().offsetOfUtf16(size_t(unit));
}

// A point on the character at a position, in either box's viewport: "l" a
// quarter of its width from its left edge, "r" three quarters; at a row's
// end, just beyond it.
QPoint pointAt(QWidget *box, int position, const QString &side)
{
    auto *container = qobject_cast<Container *>(box);
    auto *edit = qobject_cast<QPlainTextEdit *>(box);
    const QString text = container ? asPlainText(container->toPlainText()) : edit->toPlainText();
    auto xy = [container, edit](int at) {
        if (container)
            return container->characterRect(containerOffset(container, at)).topLeft()
                + QPoint(0, container->fontMetrics().height() / 2);
        QTextCursor cursor(edit->document());
        cursor.setPosition(at);
        return edit->cursorRect(cursor).topLeft()
            + QPoint(0, edit->cursorRect(cursor).height() / 2);
    };
    const QPoint here = xy(position);
    const qreal part = side == QLatin1String("l") ? 0.25 : 0.75;
    if (position >= text.size() || text.at(position) == QLatin1Char('\n'))
        return here + QPoint(qRound(12 * part), 0);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    graphemes.setPosition(position);
    const int next = xy(int(graphemes.toNextBoundary())).x();
    return QPoint(qRound(std::min(here.x(), next) + std::abs(next - here.x()) * part), here.y());
}

// Presses the mouse at one point and lets it go at another, with the keys
// held. A drag that the platform carries (X11) runs a loop of its own,
// which takes the mouse from its first move on.
void drag(QWidget *surface, QPoint from, QPoint to, Qt::KeyboardModifiers held)
{
    auto send = [surface, to, held](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, to, surface->mapToGlobal(to), Qt::LeftButton, buttons, held);
        QApplication::sendEvent(surface, &event);
    };
    QTest::mousePress(surface, Qt::LeftButton, held, from);
    QTimer carried;
    carried.setSingleShot(true);
    QObject::connect(&carried, &QTimer::timeout, [&send] {
        send(QEvent::MouseMove, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::NoButton);
    });
    carried.start(0);
    send(QEvent::MouseMove, Qt::LeftButton);
    if (carried.isActive()) {
        carried.stop();
        QTest::mouseRelease(surface, Qt::LeftButton, held, to);
    }
}

// Text dragged in from another program and dropped at a point.
void dropOn(QWidget *surface, QPoint at, QMimeData *data)
{
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(surface, &enter);
    QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(surface, &move);
    QDropEvent drop(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(surface, &drop);
}

// Presses each step on the box: a key sequence such as "Shift+Home",
// "type:" and the text to type, "paste:" and the text to paste with Ctrl+V,
// a click, double or triple click "at" a character (its position as
// QPlainTextEdit counts, "l" or "r" for the half), a "drag from" one to
// another, or a "drop at" one of text from another program.
void press(QWidget *box, const QStringList &steps)
{
    static const QRegularExpression click(
        QStringLiteral("^(click|double click|triple click) at (\\d+)([lr])( to (\\d+)([lr]))?$"));
    static const QRegularExpression dragging(
        QStringLiteral("^(Ctrl\\+)?drag from (\\d+)([lr]) to (\\d+)([lr])$"));
    static const QRegularExpression drop(QStringLiteral("^drop at (\\d+)([lr]):(.*)$"));
    auto *area = qobject_cast<QAbstractScrollArea *>(box);
    QWidget *surface = area ? area->viewport() : box;
    for (const QString &step : steps) {
        const QRegularExpressionMatch clicked = click.match(step);
        const QRegularExpressionMatch dragged = dragging.match(step);
        const QRegularExpressionMatch dropped = drop.match(step);
        if (step.startsWith(QLatin1String("type:"))) {
            WindowDriver::typeKeys(box, step.mid(5));
        } else if (step.startsWith(QLatin1String("paste:"))) {
            QGuiApplication::clipboard()->setText(step.mid(6));
            QTest::keySequence(box, QKeySequence(QKeySequence::Paste));
        } else if (clicked.hasMatch()) {
            const QPoint point = pointAt(box, clicked.captured(2).toInt(), clicked.captured(3));
            if (clicked.captured(1) == QLatin1String("click")) {
                QTest::mouseClick(surface, Qt::LeftButton, {}, point);
                continue;
            }
            QTest::mouseDClick(surface, Qt::LeftButton, {}, point);
            if (clicked.captured(1) == QLatin1String("double click"))
                continue;
            // The third press, held down as far as the click drags.
            const QPoint to = clicked.captured(4).isEmpty()
                ? point
                : pointAt(box, clicked.captured(5).toInt(), clicked.captured(6));
            QTest::mousePress(surface, Qt::LeftButton, {}, point);
            QMouseEvent move(QEvent::MouseMove, to, surface->mapToGlobal(to), Qt::NoButton,
                Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &move);
            QTest::mouseRelease(surface, Qt::LeftButton, {}, to);
        } else if (dragged.hasMatch()) {
            drag(surface, pointAt(box, dragged.captured(2).toInt(), dragged.captured(3)),
                pointAt(box, dragged.captured(4).toInt(), dragged.captured(5)),
                dragged.captured(1).isEmpty() ? Qt::NoModifier : Qt::ControlModifier);
        } else if (dropped.hasMatch()) {
            QMimeData data;
            data.setText(dropped.captured(3));
            dropOn(surface, pointAt(box, dropped.captured(1).toInt(), dropped.captured(2)), &data);
        } else {
            QTest::keySequence(box, QKeySequence(step));
        }
    }
}

// Gives a QPlainTextEdit the Container's text and selection, then both boxes
// the same steps, and compares what each then holds.
void pressBesidePlainTextEdit(Container *box, const QStringList &steps)
{
    QPlainTextEdit edit;
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.setTabChangesFocus(true);
    edit.setFont(box->font());
    edit.resize(box->size());
    edit.setPlainText(asPlainText(box->toPlainText()));
    QTextCursor cursor(edit.document());
    cursor.setPosition(plainPosition(box, box->anchorOffset()));
    cursor.setPosition(plainPosition(box, box->caretOffset()), QTextCursor::KeepAnchor);
    edit.setTextCursor(cursor);
    press(box, steps);
    // Shown only now, over the Container, so that a drag carried by the
    // platform finds each box where its points are.
    edit.setAttribute(Qt::WA_ShowWithoutActivating);
    edit.move(box->mapToGlobal(QPoint(0, 0)));
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    press(&edit, steps);
    QCOMPARE(asPlainText(box->toPlainText()), edit.toPlainText());
    QCOMPARE(plainPosition(box, box->anchorOffset()), edit.textCursor().anchor());
    QCOMPARE(plainPosition(box, box->caretOffset()), edit.textCursor().position());
}

// What the Container told a screen reader: each event's type and the length
// of the text it carried.
QList<std::pair<QAccessible::Event, qsizetype>> sentToScreenReader;
// The descriptions it announced, as it announced them.
QStringList heardDescriptions;

void recordAccessibleEvent(QAccessibleEvent *event)
{
    qsizetype carried = 0;
    if (event->type() == QAccessible::TextInserted)
        carried = static_cast<QAccessibleTextInsertEvent *>(event)->textInserted().size();
    else if (event->type() == QAccessible::TextRemoved)
        carried = static_cast<QAccessibleTextRemoveEvent *>(event)->textRemoved().size();
    else if (event->type() == QAccessible::TextUpdated)
        carried = static_cast<QAccessibleTextUpdateEvent *>(event)->textInserted().size();
    sentToScreenReader.append({event->type(), carried});
    if (event->type() == QAccessible::DescriptionChanged)
        heardDescriptions << event->accessibleInterface()->text(QAccessible::Description);
}

// Records what the Container tells a screen reader while it lives.
class Recording
{
public:
    Recording()
    {
        sentToScreenReader.clear();
        heardDescriptions.clear();
        ContainerEventsForTests::setSink(recordAccessibleEvent);
    }
    ~Recording() { ContainerEventsForTests::setSink(nullptr); }
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;
};

QPoint rowPoint(Container *box, int row, int x)
{
    return QPoint(x, row * box->fontMetrics().lineSpacing() + box->fontMetrics().lineSpacing() / 2);
}

// The row at the top of the view.
size_t topRow(Container *box)
{
    return box->model().rowOf(box->offsetAt(QPoint(1, 1)));
}

// Drags the vertical bar's thumb to the groove's start or end.
void dragThumb(QScrollBar *bar, bool toEnd)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    const QRect thumb = bar->style()->subControlRect(
        QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    const QPoint to(thumb.center().x(), toEnd ? bar->height() - 1 : 0);
    QTest::mousePress(bar, Qt::LeftButton, {}, thumb.center());
    QMouseEvent move(
        QEvent::MouseMove, to, bar->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
}

} // namespace

class ContainerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_ui.reset(); }

    void keys_data();
    void keys();
    void mouse_data();
    void mouse();
    void clipboardKeepsEveryByte_data();
    void clipboardKeepsEveryByte();
    void copyOverTheLimitIsRefused_data();
    void copyOverTheLimitIsRefused();
    void scrollingMovesByRowsAtAnyScale_data();
    void scrollingMovesByRowsAtAnyScale();
    void undoOfTypingOverARun();
    void primarySelectionIsTheUsersOwn_data();
    void primarySelectionIsTheUsersOwn();
    void controlCharactersAreDrawnDistinctly();
    void inputMethodTextIsDrawnWithItsFormats();
    void marksReachingIntoTheNextRowAreDrawn();
    void horizontalRangeFollowsTheWidestRow_data();
    void horizontalRangeFollowsTheWidestRow();
    void longRowsReadAsOneLayout_data();
    void longRowsReadAsOneLayout();
    void aRowWiderThanAnIntIsShownToItsEnd();
    void contextMenuOffersTheEditCommands();
    void screenReaderReadsRowsCaretAndSelection();
    void screenReaderHearsEveryDescription_data();
    void screenReaderHearsEveryDescription();
    void screenReaderIsToldRowsNotTextOfALargeText();
    void screenReaderReadsAWindowOfALargeText();
    void screenReaderReadsOnPastTheWindowsEdge_data();
    void screenReaderReadsOnPastTheWindowsEdge();

private:
    std::unique_ptr<WindowDriver> m_ui;
    Container *m_box = nullptr;
};

void ContainerTest::init()
{
    m_ui = std::make_unique<WindowDriver>();
    m_box = m_ui->container();
    m_ui->type("Text6", "abc");
    QTest::keyClick(m_box, Qt::Key_Return);
    WindowDriver::typeKeys(m_box, "abcdef");
    QTest::keyClick(m_box, Qt::Key_Enter);
    WindowDriver::typeKeys(m_box, "abc");
    QCOMPARE(m_ui->containerText(), Typed);
}

void ContainerTest::keys_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("caret");

    const int lastRow = 13;
    QTest::newRow("Home goes to the row's start") << QStringList {"Home"} << Typed << "" << lastRow;
    QTest::newRow("Shift+Home selects to the row's start")
        << QStringList {"Shift+Home"} << Typed << "abc" << lastRow;
    QTest::newRow("Up and Up keep the column") << QStringList {"Up", "Up"} << Typed << "" << 3;
    QTest::newRow("Down from a long row ends at a short row's end")
        << QStringList {"Up", "End", "Down"} << Typed << "" << 16;
    QTest::newRow("Shift+Left takes the line break whole") << QStringList {
        "Home", "Shift+Left"} << Typed << "\r\n" << 11;
    QTest::newRow("Ctrl+Home, Shift+Down selects a row and its break") << QStringList {
        "Ctrl+Home", "Shift+Down"} << Typed << "abc\r\n" << 5;
    QTest::newRow("Ctrl+Shift+Left selects the word before")
        << QStringList {"Ctrl+Shift+Left"} << Typed << "abc" << lastRow;
    QTest::newRow("Ctrl+End and Page Up, Page Down stay in the text")
        << QStringList {"Ctrl+Home", "PgDown", "PgUp", "Ctrl+End"} << Typed << "" << 16;
    QTest::newRow("Backspace at a row's start joins the rows")
        << QStringList {"Home", "Backspace"} << "abc\r\nabcdefabc"
        << "" << 11;
    QTest::newRow("Delete at a row's end joins the rows")
        << QStringList {"Ctrl+Home", "End", "Delete"} << "abcabcdef\r\nabc"
        << "" << 3;
    QTest::newRow("Enter inserts carriage return and line feed")
        << QStringList {"Ctrl+Home", "Right", "Return"} << "a\r\nbc\r\nabcdef\r\nabc"
        << "" << 3;
    QTest::newRow("Ctrl+A and typing replace everything")
        << QStringList {"Ctrl+A", "type:zy"} << "zy"
        << "" << 2;
    QTest::newRow("Ctrl+A and Delete empty the box") << QStringList {"Ctrl+A", "Delete"} << ""
                                                     << "" << 0;
    QTest::newRow("Ctrl+A and Backspace empty the box") << QStringList {"Ctrl+A", "Backspace"} << ""
                                                        << "" << 0;
    QTest::newRow("Ctrl+X cuts and Ctrl+V pastes at the caret")
        << QStringList {"Ctrl+Home", "Shift+End", "Ctrl+X", "Ctrl+End", "Ctrl+V"}
        << "\r\nabcdef\r\nabcabc"
        << "" << 16;
    QTest::newRow("Ctrl+C copies and pasting over the selection replaces it")
        << QStringList {"Shift+Home", "Ctrl+C", "Ctrl+Home", "Shift+Right", "Ctrl+V"}
        << "abcbc\r\nabcdef\r\nabc"
        << "" << 3;
    QTest::newRow("Ctrl+Z undoes the typing of a row at once")
        << QStringList {"Ctrl+Z"} << "abc\r\nabcdef\r\n"
        << "" << 13;
    QTest::newRow("Ctrl+Z then Ctrl+Y puts it back")
        << QStringList {"Ctrl+Z", "Ctrl+Y"} << Typed << "" << 16;
    QTest::newRow("Ctrl+Shift+Z also redoes")
        << QStringList {"Ctrl+Z", "Ctrl+Shift+Z"} << Typed << "" << 16;
    QTest::newRow("undo of typing over a selection puts the caret after what it brings back")
        << QStringList {"Ctrl+A", "type:xyz", "Ctrl+Z"} << Typed << "" << 16;
    QTest::newRow("a word deleted, undone and typed after keeps the word")
        << QStringList {"Ctrl+Backspace", "Ctrl+Z", "type:x"} << Typed + "x"
        << "" << 17;
    QTest::newRow("Backspace held down is undone at once") << QStringList {"Backspace", "Backspace",
        "Backspace", "Backspace", "Ctrl+Z"} << Typed << "" << 16;
    QTest::newRow("Delete held down is undone at once")
        << QStringList {"Ctrl+Home", "Delete", "Delete", "Delete", "Ctrl+Z"} << Typed << "" << 3;
    QTest::newRow("deleting, then typing, are two steps")
        << QStringList {"Backspace", "type:z", "Ctrl+Z"} << "abc\r\nabcdef\r\nab"
        << "" << 15;
    QTest::newRow("Shift+Up on the first row selects to the start")
        << QStringList {"Ctrl+Home", "Right", "Right", "Shift+Up"} << Typed << "ab" << 0;
    QTest::newRow("Shift+Down on the last row selects to the end")
        << QStringList {"Home", "Right", "Shift+Down"} << Typed << "bc" << 16;
    QTest::newRow("Ctrl+K deletes to the row's end")
        << QStringList {"Ctrl+Home", "Right", "Ctrl+K"} << "a\r\nabcdef\r\nabc"
        << "" << 1;
    QTest::newRow("a lone carriage return before a break is deleted whole")
        << QStringList {"Ctrl+A", "paste:a\r\r\nb", "Ctrl+Home", "End", "Backspace", "type:x"}
        << "ax\r\nb"
        << "" << 2;
    QTest::newRow("Right from a lone carriage return skips the whole break")
        << QStringList {"Ctrl+A", "paste:a\r\r\nb", "Ctrl+Home", "End", "Right", "type:x"}
        << "a\r\r\nxb"
        << "" << 5;
    // Long rows are laid out a stretch at a time; moves and edits cross
    // between stretches as within one.
    const QString longRow = QString(5000, QLatin1Char('x'));
    QTest::newRow("a long row is edited at its end")
        << QStringList {"Ctrl+A", "paste:" + longRow, "Left", "Backspace", "type:ab"}
        << longRow.left(4998) + "abx"
        << "" << 5000;
    QTest::newRow("Shift+Home selects a long row whole")
        << QStringList {"Ctrl+A", "paste:" + longRow, "type:é", "Shift+Home"} << longRow + "é"
        << longRow + "é" << 0;
    QTest::newRow("Ctrl+Left crosses a long row's stretches to the word's start")
        << QStringList {"Ctrl+A", "paste:" + longRow, "Ctrl+Left"} << longRow << "" << 0;
    QTest::newRow("Ctrl+Backspace deletes a long row's last word whole")
        << QStringList {"Ctrl+A", "paste:ab " + longRow, "Ctrl+Backspace"} << "ab "
        << "" << 3;
    QTest::newRow("Tab moves on and types nothing") << QStringList {"Tab"} << Typed << "" << 16;

    // The rest do what a QPlainTextEdit does with the same text and keys.
    auto likePlainTextEdit = [](const char *name, const QStringList &steps) {
        QTest::newRow(name) << steps << QString() << QString() << AsPlainTextEdit;
    };
    likePlainTextEdit("Ctrl+K at a row's end deletes nothing", {"Ctrl+Home", "End", "Ctrl+K"});
    likePlainTextEdit("Ctrl+K deletes from a selection's anchor to the end of the caret's row",
        {"Ctrl+Home", "Right", "Shift+Down", "Ctrl+K"});
    likePlainTextEdit("Ctrl+K with a selection back to the row before deletes that row's break",
        {"Up", "Home", "Shift+Up", "Ctrl+K"});
    const QString hebrew = QStringLiteral("paste:\u05D0\u05D1\u05D2 abc \u05D3\u05D4");
    likePlainTextEdit("Left in a right-to-left row goes on to the next character",
        {"Ctrl+A", hebrew, "Home", "Left", "Left", "Shift+Left"});
    likePlainTextEdit("Ctrl+Left in a right-to-left row goes on to the next word",
        {"Ctrl+A", hebrew, "Home", "Ctrl+Left", "Ctrl+Shift+Left"});
    likePlainTextEdit("Right in a right-to-left row collapses a selection to its start",
        {"Ctrl+A", hebrew, "Home", "Shift+Left", "Shift+Left", "Right"});
    likePlainTextEdit("Right in a left-to-right row goes on through right-to-left words",
        {"Ctrl+A", "paste:ab \u05D0\u05D1 cd", "Home", "Right", "Right", "Right", "Right",
            "Shift+Right"});
    likePlainTextEdit("Backspace after a combining mark deletes the mark alone",
        {"Ctrl+A", "paste:xe\u0301", "Backspace"});
    likePlainTextEdit("Backspace after an emoji with a skin tone deletes the tone alone",
        {"Ctrl+A", "paste:x\U0001F44D\U0001F3FD", "Backspace"});
    likePlainTextEdit("Delete before a letter with a combining mark deletes both",
        {"Ctrl+A", "paste:xe\u0301y", "Home", "Right", "Delete"});
}

void ContainerTest::keys()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, text);
    QFETCH(QString, selected);
    QFETCH(int, caret);

    if (caret == AsPlainTextEdit) {
        // QPlainTextEdit takes Ctrl+K only where the platform's keys have it.
        if (steps.contains(QLatin1String("Ctrl+K"))
            && !QKeySequence::keyBindings(QKeySequence::DeleteEndOfLine)
                    .contains(QKeySequence(QStringLiteral("Ctrl+K"))))
            QSKIP("QPlainTextEdit has no Ctrl+K here (tst_container_x11 runs this under Xvfb)");
        pressBesidePlainTextEdit(m_box, steps);
        return;
    }
    press(m_box, steps);
    QCOMPARE(m_ui->containerText(), text);
    QCOMPARE(m_box->selectedText(), selected);
    if (steps.last() == QLatin1String("Tab"))
        QVERIFY(!m_box->hasFocus());
    else
        QCOMPARE(m_box->caretOffset(), size_t(caret));
}

void ContainerTest::mouse_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("text");

    const QString rows = QStringLiteral("\r\n").repeated(100);
    QTest::newRow("a click puts the caret at the row's start")
        << QStringList {"click"} << "" << 5 << Typed;
    QTest::newRow("Shift+click selects from the caret")
        << QStringList {"shift click"} << "abc\r\nabcdef" << 11 << Typed;
    QTest::newRow("a double click selects the word")
        << QStringList {"double click"} << "abcdef" << 11 << Typed;
    QTest::newRow("a drag selects what it passes")
        << QStringList {"drag"} << "abcdef\r\nabc" << 16 << Typed;
    QTest::newRow("a wheel step scrolls without moving the caret")
        << QStringList {"wheel"} << "" << 200 << rows + Typed;
    QTest::newRow("a triple click selects the row and its break") << QStringList {
        "triple click"} << "abcdef\r\n" << 13 << Typed;
    QTest::newRow("a drag after a double click keeps the word and adds whole words")
        << QStringList {"word drag"} << "abc\r\nabcdef" << 0 << Typed;
    QTest::newRow("a click that brings the focus selects everything")
        << QStringList {"click from elsewhere"} << Typed << 16 << Typed;
    QTest::newRow("a right click that brings the focus selects, the next left click places")
        << QStringList {"right click from elsewhere, Escape, click"} << "" << 5 << Typed;

    // The rest do what a QPlainTextEdit does with the same text and clicks.
    auto likePlainTextEdit = [](const char *name, const QStringList &steps) {
        QTest::newRow(name) << steps << QString() << AsPlainTextEdit << QString();
    };
    likePlainTextEdit("a double click on a word's last character, right half, selects the word",
        {"Ctrl+A", "paste:hello world", "double click at 4r"});
    likePlainTextEdit("a double click on punctuation selects the punctuation",
        {"Ctrl+A", "paste:a, b...c", "double click at 5l"});
    likePlainTextEdit("a double click past a row's end selects its last word",
        {"Ctrl+A", "paste:ab cd\r\nx", "double click at 5r"});
    likePlainTextEdit("a double click on a word with characters beyond U+FFFF selects all of it",
        {"Ctrl+A", "paste:ab \U0001D400\U0001D401x cd", "double click at 3r"});
    likePlainTextEdit("a double click on an emoji with a skin tone selects it whole",
        {"Ctrl+A", "paste:ab \U0001F44D\U0001F3FD cd", "double click at 3r"});
    likePlainTextEdit("a triple click on an empty row selects its break, which Ctrl+X cuts",
        {"Ctrl+A", "paste:abc\r\n\r\ndef", "triple click at 4l", "Ctrl+X"});
    likePlainTextEdit(
        "a triple click on the last row selects it to the end", {"triple click at 14l"});
    likePlainTextEdit("a drag after a triple click adds whole rows, their breaks included",
        {"triple click at 5l to 1r"});
    likePlainTextEdit("a press on the selection and a release where it was places the caret",
        {"Ctrl+Home", "Shift+End", "click at 1l"});
    likePlainTextEdit("text dropped from another program goes in where it is dropped",
        {"Ctrl+Home", "Shift+End", "drop at 7r:xyz"});
    likePlainTextEdit("a drag of the selection moves it where it is dropped",
        {"Ctrl+Home", "Shift+End", "drag from 1l to 8r"});
    likePlainTextEdit("a drag of the selection moves it back before itself",
        {"Ctrl+End", "Shift+Home", "drag from 13l to 5r"});
    likePlainTextEdit("a drag of the selection with Ctrl held copies it",
        {"Ctrl+Home", "Shift+End", "Ctrl+drag from 1l to 8r"});
    likePlainTextEdit("a drag of the selection is undone at once",
        {"Ctrl+Home", "Shift+End", "drag from 1l to 8r", "Ctrl+Z"});
}

void ContainerTest::mouse()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, selected);
    QFETCH(int, caret);
    QFETCH(QString, text);

    if (caret == AsPlainTextEdit) {
        if (!steps.filter(QStringLiteral("drag from")).isEmpty()
            && QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("this platform carries no drag (tst_container_x11 runs this under Xvfb)");
        pressBesidePlainTextEdit(m_box, steps);
        return;
    }
    const QString action = steps.first();
    QWidget *surface = m_box->viewport();
    const QPoint rowOneStart = rowPoint(m_box, 1, 1);
    if (action == "click") {
        QTest::mouseClick(surface, Qt::LeftButton, {}, rowOneStart);
    } else if (action == "shift click") {
        QTest::keyClick(m_box, Qt::Key_Home, Qt::ControlModifier);
        QTest::mouseClick(surface, Qt::LeftButton, Qt::ShiftModifier, rowPoint(m_box, 1, 400));
    } else if (action == "double click") {
        QTest::mouseDClick(surface, Qt::LeftButton, {}, rowPoint(m_box, 1, 10));
    } else if (action == "drag") {
        QTest::mousePress(surface, Qt::LeftButton, {}, rowOneStart);
        QMouseEvent move(QEvent::MouseMove, rowPoint(m_box, 2, 300),
            surface->mapToGlobal(rowPoint(m_box, 2, 300)), Qt::NoButton, Qt::LeftButton,
            Qt::NoModifier);
        QApplication::sendEvent(surface, &move);
        QTest::mouseRelease(surface, Qt::LeftButton, {}, rowPoint(m_box, 2, 300));
    } else if (action == "triple click") {
        QTest::mouseDClick(surface, Qt::LeftButton, {}, rowPoint(m_box, 1, 10));
        QTest::mouseClick(surface, Qt::LeftButton, {}, rowPoint(m_box, 1, 10));
    } else if (action == "word drag") {
        QTest::mouseDClick(surface, Qt::LeftButton, {}, rowPoint(m_box, 1, 10));
        QMouseEvent move(QEvent::MouseMove, rowPoint(m_box, 0, 10),
            surface->mapToGlobal(rowPoint(m_box, 0, 10)), Qt::NoButton, Qt::LeftButton,
            Qt::NoModifier);
        QApplication::sendEvent(surface, &move);
        QTest::mouseRelease(surface, Qt::LeftButton, {}, rowPoint(m_box, 0, 10));
    } else if (action == "click from elsewhere") {
        QTest::keyClick(m_box, Qt::Key_Tab);
        QTest::mouseClick(surface, Qt::LeftButton, {}, rowOneStart);
    } else if (action == "right click from elsewhere, Escape, click") {
        QTest::keyClick(m_box, Qt::Key_Tab);
        // The menu opens on the press and takes the release, as under X11.
        QTimer closer;
        closer.setSingleShot(true);
        connect(&closer, &QTimer::timeout, [] {
            if (QWidget *menu = QApplication::activePopupWidget())
                QTest::keyClick(menu, Qt::Key_Escape);
        });
        closer.start(0);
        QTest::mousePress(surface, Qt::RightButton, {}, rowOneStart);
        QVERIFY(m_box->hasFocus());
        QCOMPARE(m_box->selectedText(), Typed);
        QTest::mouseClick(surface, Qt::LeftButton, {}, rowOneStart);
    } else if (action == "wheel") {
        QGuiApplication::clipboard()->setText(QStringLiteral("\r\n").repeated(100));
        QTest::keyClick(m_box, Qt::Key_Home, Qt::ControlModifier);
        QTest::keySequence(m_box, QKeySequence(QKeySequence::Paste));
        m_box->verticalScrollBar()->setValue(0);
        QWheelEvent wheel(rowOneStart, surface->mapToGlobal(rowOneStart), {}, QPoint(0, -120),
            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(surface, &wheel);
        QVERIFY(m_box->verticalScrollBar()->value() > 0);
    } else {
        press(m_box, steps);
    }
    QCOMPARE(m_box->selectedText(), selected);
    QCOMPARE(m_box->caretOffset(), size_t(caret));
    QCOMPARE(m_ui->containerText(), text);
}

void ContainerTest::clipboardKeepsEveryByte_data()
{
    QTest::addColumn<QString>("text");

    QString controls;
    for (char16_t code = 0; code < 32; ++code)
        controls += QChar(code);
    QTest::newRow("codes 0 to 31") << controls;
    QTest::newRow("a lone carriage return and a lone line feed") << QStringLiteral("a\rb\nc\r\n\r");
    QTest::newRow("non-Latin text") << QStringLiteral("Ελληνικά, 日本語, עברית, 😀");
}

void ContainerTest::clipboardKeepsEveryByte()
{
    QFETCH(QString, text);

    QTest::keySequence(m_box, QKeySequence(QKeySequence::SelectAll));
    QGuiApplication::clipboard()->setText(text);
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Paste));
    QCOMPARE(m_ui->containerText(), text);
    QGuiApplication::clipboard()->clear();
    QTest::keySequence(m_box, QKeySequence(QKeySequence::SelectAll));
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Copy));
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
    QCOMPARE(
        QGuiApplication::clipboard()->mimeData()->data("text/plain;charset=utf-8"), text.toUtf8());
    // A drag of the selection carries the same.
    QCOMPARE(ContainerForTests::dragData(*m_box)->data("text/plain;charset=utf-8"), text.toUtf8());
}

void ContainerTest::copyOverTheLimitIsRefused_data()
{
    QTest::addColumn<int>("copyLimit");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("copied");

    const int all = int(Typed.size());
    QTest::newRow("Ctrl+C of a selection at the limit copies it") << all << "Ctrl+C" << true;
    QTest::newRow("Ctrl+C of a selection just above the limit is refused")
        << all - 1 << "Ctrl+C" << false;
    QTest::newRow("Ctrl+Insert just above the limit is refused") << all - 1 << "Ctrl+Ins" << false;
    QTest::newRow("Ctrl+X at the limit cuts") << all << "Ctrl+X" << true;
    QTest::newRow("Ctrl+X just above the limit deletes nothing") << all - 1 << "Ctrl+X" << false;
}

void ContainerTest::copyOverTheLimitIsRefused()
{
    QFETCH(int, copyLimit);
    QFETCH(QString, key);
    QFETCH(bool, copied);

    ContainerForTests::setCopyLimit(*m_box, size_t(copyLimit));
    const QString before = QStringLiteral("held before");
    QGuiApplication::clipboard()->setText(before);
    press(m_box, {"Ctrl+A", key});
    QCOMPARE(QGuiApplication::clipboard()->text(), copied ? Typed : before);
    const bool cut = key == QLatin1String("Ctrl+X");
    QCOMPARE(m_ui->containerText(), copied && cut ? QString() : Typed);
    // A drag offers another program what a copy would give it; the
    // Container itself takes the text dropped, whatever its size.
    if (!cut || !copied) {
        const std::unique_ptr<QMimeData> dragged = ContainerForTests::dragData(*m_box);
        QCOMPARE(dragged->text(), copied ? Typed : QString());
        dropOn(m_box->viewport(), QPoint(1, 1), dragged.get());
        QCOMPARE(m_ui->containerText(), Typed + Typed);
    }
    if (copied) {
        QCOMPARE(m_ui->messages(), QStringList());
        return;
    }
    QCOMPARE(m_ui->messages().size(), 1);
    const QString message = m_ui->messages().first();
    QVERIFY2(message.contains(QLocale().formattedDataSize(Typed.size())), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("“print to file”")), qPrintable(message));
}

void ContainerTest::scrollingMovesByRowsAtAnyScale_data()
{
    QTest::addColumn<quint64>("scrollLimit");
    QTest::addColumn<QStringList>("steps");
    // The top row then: rows and pages from the first, or from the last top row when fromEnd.
    QTest::addColumn<bool>("fromEnd");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("pages");

    // With a thousand rows, a limit of 100 makes each place of the bar
    // stand for about ten rows, as the bar of a huge text stands for millions.
    for (const quint64 limit : {quint64(ScrollMapping::Limit), quint64(100)}) {
        const QByteArray scale = limit == 100 ? ", bar mapped" : ", bar one to one";
        QTest::newRow("a wheel notch scrolls three rows" + scale)
            << limit << QStringList {"wheel down"} << false << 3 << 0;
        QTest::newRow("a wheel notch at the end scrolls three rows back" + scale)
            << limit << QStringList {"Ctrl+End", "wheel up"} << true << -3 << 0;
        QTest::newRow("Down on the bar scrolls a row each" + scale)
            << limit << QStringList(7, "bar Down") << false << 7 << 0;
        QTest::newRow("Page Down on the bar scrolls a page" + scale)
            << limit << QStringList {"bar PgDown"} << false << 0 << 1;
        QTest::newRow("Page Down twice and Up scroll two pages less a row" + scale)
            << limit << QStringList {"PgDown", "PgDown", "Up"} << false << -1 << 2;
        QTest::newRow("Ctrl+End shows the last row" + scale)
            << limit << QStringList {"Ctrl+End"} << true << 0 << 0;
        QTest::newRow("the thumb dragged to the end shows the last row" + scale)
            << limit << QStringList {"drag to end"} << true << 0 << 0;
        QTest::newRow("the thumb dragged back to the start shows the first row" + scale)
            << limit << QStringList {"Ctrl+End", "drag to start"} << false << 0 << 0;
    }
}

void ContainerTest::scrollingMovesByRowsAtAnyScale()
{
    QFETCH(quint64, scrollLimit);
    QFETCH(QStringList, steps);
    QFETCH(bool, fromEnd);
    QFETCH(int, rows);
    QFETCH(int, pages);

    ContainerForTests::setScrollLimit(*m_box, scrollLimit);
    m_box->setLines(thousandRows());
    QScrollBar *bar = m_box->verticalScrollBar();
    const int inView = m_box->viewport()->height() / m_box->fontMetrics().lineSpacing();
    const size_t lastTop = m_box->model().rowCount() - size_t(inView);
    for (const QString &step : steps) {
        if (step.startsWith(QLatin1String("wheel"))) {
            const QPoint at(5, 5);
            const int notch = step.endsWith(QLatin1String("down")) ? -120 : 120;
            QWheelEvent wheel(at, m_box->viewport()->mapToGlobal(at), {}, QPoint(0, notch),
                Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(m_box->viewport(), &wheel);
        } else if (step.startsWith(QLatin1String("bar "))) {
            QTest::keySequence(bar, QKeySequence(step.mid(4)));
        } else if (step.startsWith(QLatin1String("drag to "))) {
            dragThumb(bar, step.endsWith(QLatin1String("end")));
        } else {
            QTest::keySequence(m_box, QKeySequence(step));
        }
    }
    const size_t expected
        = (fromEnd ? lastTop : 0) + size_t(static_cast<long long>(rows) + qint64(pages) * inView);
    QCOMPARE(topRow(m_box), expected);
}

void ContainerTest::undoOfTypingOverARun()
{
    m_ui->click("Check3");
    m_ui->pressDoIt();
    const QString run = m_ui->containerText();
    QCOMPARE(run.count("\r\n"), 11);
    // Clicking in selects the whole run; typing replaces it, undo brings it back.
    m_ui->type("Text6", "new");
    QCOMPARE(m_ui->containerText(), QStringLiteral("new"));
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Undo));
    QCOMPARE(m_ui->containerText(), run);
    QCOMPARE(m_box->selectedText(), QString());
    QCOMPARE(m_box->caretOffset(), m_box->model().size());
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Redo));
    QCOMPARE(m_ui->containerText(), QStringLiteral("new"));
    m_ui->click("Command2");
    QCOMPARE(m_ui->containerText(), QString());
    QVERIFY(!m_box->model().canUndo());
}

void ContainerTest::primarySelectionIsTheUsersOwn_data()
{
    QTest::addColumn<bool>("clickedInto");
    QTest::addColumn<QStringList>("steps");
    // What a middle click then pastes.
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("copyLimit");

    const int all = int(Typed.size());
    QTest::newRow("the select-all of a click into the box leaves it alone")
        << true << QStringList {} << TheirSelection << all;
    QTest::newRow("Ctrl+A claims it") << false << QStringList {"Ctrl+A"} << Typed << all;
    QTest::newRow("Shift+Home claims it")
        << false << QStringList {"Shift+Home"} << QStringLiteral("abc") << all;
    QTest::newRow("a selection above the copy limit leaves another's alone, silently")
        << false << QStringList {"Ctrl+A"} << TheirSelection << all - 1;
    QTest::newRow("a selection above the copy limit takes back the text's own older one")
        << false << QStringList {"Shift+Home", "Ctrl+A"} << QString() << all - 1;
}

void ContainerTest::primarySelectionIsTheUsersOwn()
{
    QFETCH(bool, clickedInto);
    QFETCH(QStringList, steps);
    QFETCH(QString, offered);
    QFETCH(int, copyLimit);

    ContainerForTests::setCopyLimit(*m_box, size_t(copyLimit));
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection())
        QSKIP("this platform has no primary selection (tst_container_x11 runs this under Xvfb)");
    clipboard->setText(TheirSelection, QClipboard::Selection);
    if (clickedInto) {
        QTest::keyClick(m_box, Qt::Key_Tab);
        QTest::mouseClick(m_box->viewport(), Qt::LeftButton, {}, rowPoint(m_box, 1, 1));
        QCOMPARE(m_box->selectedText(), Typed);
    }
    for (const QString &step : steps) {
        press(m_box, {step});
        QCoreApplication::processEvents();
    }
    QCOMPARE(clipboard->text(QClipboard::Selection), offered);
    QCOMPARE(m_ui->messages(), QStringList());
}

void ContainerTest::controlCharactersAreDrawnDistinctly()
{
    // Every code without a glyph, eight to a row (a line feed is a row break).
    QString text;
    QList<int> offsets;
    for (char16_t code = 0; code < 0xA0; ++code) {
        if (code == '\n' || (code >= 0x20 && code < 0x7F))
            continue;
        if (offsets.size() % 8 == 0 && !offsets.isEmpty())
            text += QStringLiteral("\r\n");
        offsets.append(int(QString(text).toUtf8().size()));
        text += QChar(code);
    }
    m_box->resize(800, m_box->height());
    QTest::keySequence(m_box, QKeySequence(QKeySequence::SelectAll));
    QGuiApplication::clipboard()->setText(text);
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Paste));
    QTest::keySequence(m_box, QKeySequence(QKeySequence::MoveToStartOfDocument));
    QCOMPARE(m_ui->containerText(), text);

    const QImage shown = m_box->viewport()->grab().toImage();
    const QColor background = m_box->viewport()->palette().color(QPalette::Base);
    QList<QImage> pictures;
    for (const int offset : offsets) {
        const QImage picture = shown.copy(m_box->characterRect(size_t(offset)));
        // Not blank, and like no other.
        QImage blank(picture.size(), picture.format());
        blank.fill(background);
        QVERIFY(picture != blank);
        for (const QImage &other : pictures)
            QVERIFY(picture != other);
        pictures.append(picture);
    }
}

void ContainerTest::inputMethodTextIsDrawnWithItsFormats()
{
    auto composing = [this](const QList<QInputMethodEvent::Attribute> &attributes) {
        QInputMethodEvent event(QStringLiteral("xzx"), attributes);
        QApplication::sendEvent(m_box, &event);
        return m_box->viewport()->grab().toImage();
    };
    // Below the baseline of the text being composed, where an underline goes.
    const QRect caret = m_box->characterRect(m_box->caretOffset());
    const int ascent = m_box->fontMetrics().ascent();
    const QRect below(caret.x(), caret.y() + ascent + 1,
        m_box->fontMetrics().horizontalAdvance(QStringLiteral("xzx")), caret.height() - ascent - 1);
    QTextCharFormat underlined;
    underlined.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    const QImage plain = composing({}).copy(below);
    const QImage formatted
        = composing({{QInputMethodEvent::TextFormat, 0, 3, underlined}}).copy(below);
    QImage blank(plain.size(), plain.format());
    blank.fill(m_box->viewport()->palette().color(QPalette::Base));
    QCOMPARE(plain, blank);
    QVERIFY(formatted != blank);
    QCOMPARE(m_ui->containerText(), Typed);
}

void ContainerTest::marksReachingIntoTheNextRowAreDrawn()
{
    // Dots stacked below a letter reach down into the empty row under it,
    // which a repaint of that row alone (the caret blinking there) draws too.
    press(m_box, {"Ctrl+A", "paste:a" + QString(24, QChar(0x0323)) + "\r\n\r\nb"});
    const QRect rowBox = m_box->characterRect(m_box->model().rowStart(1));
    const QRect emptyRow(0, rowBox.y(), m_box->viewport()->width(), rowBox.height());
    const QImage whole = m_box->viewport()->grab().toImage().copy(emptyRow);
    QImage blank(whole.size(), whole.format());
    blank.fill(m_box->viewport()->palette().color(QPalette::Base));
    QVERIFY(whole != blank);
    QPixmap part(m_box->viewport()->size());
    part.fill(m_box->viewport()->palette().color(QPalette::Base));
    m_box->viewport()->render(&part, emptyRow.topLeft(), QRegion(emptyRow));
    QCOMPARE(part.toImage().copy(emptyRow), whole);
}

void ContainerTest::horizontalRangeFollowsTheWidestRow_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("scrolls");

    const QString wide = QStringLiteral("type:") + QString(300, QLatin1Char('w'));
    QTest::newRow("a wide row gives room to scroll") << QStringList {wide} << true;
    QTest::newRow("deleting the widest row takes the room away")
        << QStringList {wide, "Shift+Home", "Delete"} << false;
    QTest::newRow("undoing its typing takes the room away")
        << QStringList {wide, "Ctrl+Z"} << false;
}

void ContainerTest::horizontalRangeFollowsTheWidestRow()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, scrolls);

    press(m_box, steps);
    QCoreApplication::processEvents();
    m_box->viewport()->repaint();
    QCOMPARE(m_box->horizontalScrollBar()->maximum() > 0, scrolls);
}

void ContainerTest::longRowsReadAsOneLayout_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QStringList>("steps");

    const QString latin
        = QStringLiteral("The quick (brown) fox, 28 1 trillion, jumps over a dog. ");
    const QString arabic = QStringLiteral("مرحبا بالعالم، كيف حالك اليوم؟ ");
    // Into the row's middle, split it, join it again, type and undo, type;
    // then type at its start what the row starts with.
    const auto edits = [](const QString &words) {
        return QStringList {"Ctrl+Home"} + QStringList(300, "Ctrl+Right")
            + QStringList {"Return", "Backspace", "type:x", "Ctrl+Z", "type:yz", "Ctrl+Home",
                "type:" + words.left(1)};
    };
    QTest::newRow("Latin prose") << latin << QStringList();
    QTest::newRow("AV, kerned") << QStringLiteral("AV") << QStringList();
    QTest::newRow("CJK") << QStringLiteral("日本語の文章です。") << QStringList();
    QTest::newRow("Arabic, right to left and joined") << arabic << QStringList();
    QTest::newRow("Latin prose after a split, a join and an undone word") << latin << edits(latin);
    QTest::newRow("Arabic after a split, a join and an undone word") << arabic << edits(arabic);
}

void ContainerTest::longRowsReadAsOneLayout()
{
    QFETCH(QString, words);
    QFETCH(QStringList, steps);

    // A row of 12 KiB, laid out a stretch at a time, against layouts of it
    // made whole: across its first 8 KiB every character stands where they
    // put it, so no join leaves a gap, an overlap or a drift. Qt shapes a
    // layout in runs of at most 4,096 characters, so that one layout of the
    // whole row is itself cut there (a kerning pair lost, Arabic letters
    // unjoined); each character is measured instead in a layout of the
    // 4,000 characters around it, from the one a thousand before it.
    QString pasted;
    while (pasted.toUtf8().size() < qsizetype(12) * 1024)
        pasted += words;
    press(m_box, QStringList {"Ctrl+A", "paste:" + pasted} + steps);
    const QString row = m_ui->containerText();
    QCOMPARE(row.count(QStringLiteral("\r\n")), 0);

    struct Character
    {
        size_t offset;
        int column;
        int units;
    };
    QList<Character> characters;
    size_t offset = 0;
    for (int column = 0; offset < size_t(8) * 1024;) {
        const int units = row.at(column).isHighSurrogate() ? 2 : 1;
        characters.append({offset, column, units});
        offset += size_t(row.mid(column, units).toUtf8().size());
        column += units;
    }
    // Asking lays the stretches out; in a right-to-left row the later ones
    // then move the earlier, so the places are read once all are laid out.
    for (const Character &character : std::as_const(characters))
        m_box->characterRect(character.offset);

    constexpr int Window = 4000;
    constexpr int Step = 1000;
    std::map<int, std::unique_ptr<QTextLayout>> windows;
    const auto leftIn = [&](int start, const Character &character) {
        auto &layout = windows[start];
        if (!layout) {
            layout = std::make_unique<QTextLayout>(row.mid(start, Window), m_box->font());
            QTextOption option;
            option.setWrapMode(QTextOption::NoWrap);
            option.setTextDirection(row.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
            layout->setTextOption(option);
            layout->beginLayout();
            layout->createLine().setLineWidth(1e7);
            layout->endLayout();
        }
        const QTextLine line = layout->lineAt(0);
        const int column = character.column - start;
        return std::min(line.cursorToX(column), line.cursorToX(column + character.units));
    };
    for (const Character &character : std::as_const(characters)) {
        const int start = std::max(0, character.column / Step - 1) * Step;
        const auto anchor = std::lower_bound(characters.begin(), characters.end(), start,
            [](const Character &other, int column) { return other.column < column; });
        const qreal expected = leftIn(start, character) - leftIn(start, *anchor);
        const int shown = m_box->characterRect(character.offset).left()
            - m_box->characterRect(anchor->offset).left();
        QVERIFY2(std::abs(shown - expected) <= 2,
            qPrintable(
                QStringLiteral("byte %1 stands at %2 from byte %3, a whole layout puts it at %4")
                    .arg(character.offset)
                    .arg(shown)
                    .arg(anchor->offset)
                    .arg(expected)));
    }

    // Selected, the joins in view leave no hole in the highlight, along the
    // row's top, above the glyphs.
    const auto middle = std::find_if(characters.begin(), characters.end(),
        [](const Character &character) { return character.offset >= 1024; });
    m_box->setSelection(middle->offset, middle->offset);
    m_box->selectAll();
    const QImage shown = m_box->viewport()->grab().toImage();
    const QColor background = m_box->viewport()->palette().color(QPalette::Base);
    const int y = 1;
    for (int x = 3; x < shown.width() - 3; ++x)
        QVERIFY2(shown.pixelColor(x, y) != background, qPrintable(QString::number(x)));
}

void ContainerTest::aRowWiderThanAnIntIsShownToItsEnd()
{
    QFont font = m_box->font();
    font.setPixelSize(400);
    m_box->setFont(font);
    m_box->resize(1200, m_box->height());
    const QString row(6'000'000, QLatin1Char('W'));
    QVERIFY(QFontMetricsF(font).horizontalAdvance(row.left(1000)) * 6000 > double(1LL << 31));
    press(m_box, {"Ctrl+A", "paste:" + row, "Ctrl+Home", "Ctrl+End"});
    QCOMPARE(m_box->caretOffset(), size_t(row.size()));
    QScrollBar *bar = m_box->horizontalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());

    // The last character is in view, and drawn.
    const QRect view = m_box->viewport()->rect();
    const auto inView = [&view](const QRect &rect) {
        return rect.left() >= view.left() && rect.right() <= view.right();
    };
    const QRect last = m_box->characterRect(size_t(row.size()) - 1);
    QVERIFY(inView(last));
    const QImage shown = m_box->viewport()->grab().toImage();
    const QImage drawn = shown.copy(last.left(), 0, last.width(), shown.height());
    QImage blank(drawn.size(), drawn.format());
    blank.fill(m_box->viewport()->palette().color(QPalette::Base));
    QVERIFY(drawn != blank);

    // Typing there keeps it in view; a click on the last W's left half
    // lands before it.
    press(m_box, {"type:x"});
    QVERIFY(inView(m_box->characterRect(size_t(row.size()))));
    const QRect w = m_box->characterRect(size_t(row.size()) - 1);
    QTest::mouseClick(m_box->viewport(), Qt::LeftButton, {}, QPoint(w.left() + w.width() / 4, 1));
    QCOMPARE(m_box->caretOffset(), size_t(row.size()) - 1);
}

void ContainerTest::contextMenuOffersTheEditCommands()
{
    QGuiApplication::clipboard()->clear();
    QStringList offered;
    QTimer reader;
    reader.setSingleShot(true);
    connect(&reader, &QTimer::timeout, [&offered] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator())
                offered << action->text().remove('&') + (action->isEnabled() ? "" : " (off)");
        }
        menu->close();
    });
    reader.start(0);
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, QPoint(5, 5), m_box->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_box->viewport(), &event);
    QCOMPARE(offered,
        QStringList({"Undo", "Redo (off)", "Cut (off)", "Copy (off)", "Paste (off)", "Delete (off)",
            "Select All"}));
}

void ContainerTest::screenReaderReadsRowsCaretAndSelection()
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_box);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().multiLine && accessible->state().editable);
    QAccessibleTextInterface *text = accessible->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(Typed.size()));
    QCOMPARE(text->cursorPosition(), int(Typed.size()));

    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(7, QAccessible::LineBoundary, &start, &end),
        QStringLiteral("abcdef\r\n"));
    QCOMPARE(std::make_pair(start, end), std::make_pair(5, 13));
    QCOMPARE(text->textBeforeOffset(7, QAccessible::LineBoundary, &start, &end),
        QStringLiteral("abc\r\n"));
    QCOMPARE(
        text->textAtOffset(7, QAccessible::WordBoundary, &start, &end), QStringLiteral("abcdef"));
    QCOMPARE(text->textAtOffset(7, QAccessible::CharBoundary, &start, &end), QStringLiteral("c"));
    // A row's carriage return and line feed are one character, wherever a
    // reader asks within it or steps onto it.
    for (const auto &[offset, step] : {std::pair(3, 0), {4, 0}, {2, 1}, {5, -1}}) {
        const QString character = step == 0
            ? text->textAtOffset(offset, QAccessible::CharBoundary, &start, &end)
            : step > 0 ? text->textAfterOffset(offset, QAccessible::CharBoundary, &start, &end)
                       : text->textBeforeOffset(offset, QAccessible::CharBoundary, &start, &end);
        QCOMPARE(std::make_tuple(character, start, end), std::make_tuple(QString("\r\n"), 3, 5));
    }
    QCOMPARE(
        text->textAfterOffset(3, QAccessible::CharBoundary, &start, &end), QStringLiteral("a"));

    QTest::keyClick(m_box, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(std::make_pair(start, end), std::make_pair(13, 16));
    // A screen reader may move the caret too, and edit as typing does.
    text->setCursorPosition(2);
    QCOMPARE(m_box->caretOffset(), size_t(2));
    QCOMPARE(text->selectionCount(), 0);
    QAccessibleEditableTextInterface *editable = accessible->editableTextInterface();
    QVERIFY(editable);
    editable->insertText(0, QStringLiteral("x"));
    editable->deleteText(1, 2);
    editable->replaceText(0, 1, QStringLiteral("Y"));
    QCOMPARE(m_ui->containerText(), "Ybc" + Typed.mid(3));
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Undo));
    QCOMPARE(m_ui->containerText(), "xbc" + Typed.mid(3));

    // Where a screen reader is told each character stands is where the view
    // draws it, control pictures and wide characters included: pointing at
    // its left half finds that character again.
    m_box->setLines(
        std::make_shared<const RunLines>("a\tb\x01xyz\xC3\xA9\xE2\x82\xACw", "\r\n", 2));
    const QString shown = m_box->toPlainText();
    for (int offset = 0; offset < text->characterCount(); ++offset) {
        if (shown.at(offset) == u'\r' || shown.at(offset) == u'\n')
            continue;
        const QRect drawn = text->characterRect(offset);
        QCOMPARE(text->offsetAtPoint(drawn.center() - QPoint(drawn.width() / 4, 0)), offset);
    }
    // So it is in a long row, where one stretch ends and the next begins.
    m_box->setLines(std::make_shared<const RunLines>(std::string(3000, 'w'), "\r\n", 1));
    m_box->setSelection(2040, 2040);
    for (int offset = 2040; offset < 2060; ++offset) {
        const QRect drawn = text->characterRect(offset);
        QCOMPARE(text->offsetAtPoint(drawn.center() - QPoint(drawn.width() / 4, 0)), offset);
    }
}

void ContainerTest::screenReaderHearsEveryDescription_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("heard");

    QTest::newRow("Shift+Up selects within two rows")
        << QStringList {"Shift+Up"} << QStringList {"3 rows, 2 selected"};
    QTest::newRow("Ctrl+A, then Right, selects all and nothing")
        << QStringList {"Ctrl+A", "Right"} << QStringList {"3 rows, all selected", "3 rows"};
    QTest::newRow("typing over everything leaves one row, Enter and a letter two")
        << QStringList {"Ctrl+A", "type:x", "Return", "type:y"}
        << QStringList {"3 rows, all selected", "1 row", "2 rows"};
    QTest::newRow("entering again selects all")
        << QStringList {"Tab", "Shift+Tab"} << QStringList {"3 rows, all selected"};
    QTest::newRow("Clear Container leaves it empty")
        << QStringList {"click:Command2"} << QStringList {"empty"};
    QTest::newRow("undo after Clear Container brings the rows back") << QStringList {
        "Ctrl+A", "Delete", "Ctrl+Z"} << QStringList {"3 rows, all selected", "empty", "3 rows"};
}

void ContainerTest::screenReaderHearsEveryDescription()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, heard);
    const Recording recording;
    for (const QString &step : std::as_const(steps)) {
        if (step.startsWith(QLatin1String("click:")))
            m_ui->click(step.mid(6));
        else
            press(QApplication::focusWidget(), {step});
    }
    QCOMPARE(heardDescriptions, heard);
    QCOMPARE(
        QAccessible::queryAccessibleInterface(m_box)->text(QAccessible::Description), heard.last());
}

void ContainerTest::screenReaderIsToldRowsNotTextOfALargeText()
{
    // "a 0 0" to "j 299 9".
    const std::vector<CounterSettings> counters {{'a', 'j', 1, 1, true, true, false},
        {0, 299, 1, 1, false, true, false}, {0, 9, 1, 1, false, true, false}};
    m_box->setLines(std::make_shared<const RunLines>(
        std::vector<std::string>(4), counters, TextEncoding::Utf8, "", "\r\n", 1 << 20));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_box);
    const Recording recording;

    // Entering by Tab selects everything, which the description tells
    // instead of a selection whose text a screen reader would fetch.
    QTest::keyClick(m_box, Qt::Key_Tab);
    sentToScreenReader.clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QVERIFY(m_box->hasFocus());
    QCOMPARE(m_box->selectedText().size(), m_box->toPlainText().size());
    QCOMPARE(heardDescriptions, QStringList {"30,000 rows, all selected"});
    QCOMPARE(accessible->textInterface()->selectionCount(), 0);
    QVERIFY(!sentToScreenReader.isEmpty());
    for (const auto &[type, carried] : std::as_const(sentToScreenReader)) {
        QVERIFY(type != QAccessible::TextSelectionChanged);
        QCOMPARE(carried, 0);
    }
}

void ContainerTest::screenReaderReadsAWindowOfALargeText()
{
    // A lowered limit stands for a text larger than a reader is shown at
    // once: a window of about 200 units around the caret, of a text of about 4,900.
    ReaderWindowForTests::setReply(*m_box, 400);
    m_box->setLines(thousandRows());
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_box);
    QAccessibleTextInterface *text = accessible->textInterface();
    const Recording recording;

    // The window's rows are whole and in order, the caret's among them, its
    // offsets its own. The text ends with a break, so with an empty row.
    auto checkWindow = [text](int caretRow) {
        QStringList rows = text->text(0, text->characterCount()).split(QStringLiteral("\r\n"));
        if (rows.last().isEmpty())
            rows.removeLast();
        QVERIFY(text->characterCount() <= 400);
        QVERIFY(rows.size() > 10);
        for (qsizetype k = 1; k < rows.size(); ++k)
            QCOMPARE(rows[k].toInt(), rows.first().toInt() + k);
        int start = 0;
        int end = 0;
        const QString caretRowText
            = text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end);
        QCOMPARE(caretRowText, QString::number(caretRow) + QStringLiteral("\r\n"));
    };
    checkWindow(0);
    if (QTest::currentTestFailed())
        return;

    sentToScreenReader.clear();
    QTest::keyClick(m_box, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(sentToScreenReader.contains({QAccessible::TextUpdated, 0}));
    QCOMPARE(text->cursorPosition(), text->characterCount());

    // Within the window the caret moves and types without a new one.
    sentToScreenReader.clear();
    const int before = text->cursorPosition();
    QTest::keyClick(m_box, Qt::Key_Up);
    QCOMPARE(text->cursorPosition(), before - 5);
    checkWindow(999);
    if (QTest::currentTestFailed())
        return;
    QTest::keyClick(m_box, Qt::Key_X);
    QVERIFY(!sentToScreenReader.contains({QAccessible::TextUpdated, 0}));
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end),
        QStringLiteral("x999\r\n"));
    QCOMPARE(end - start, 6);

    // Ctrl+A selects the whole text: the reader is told so, and is shown the
    // selection within the window.
    QTest::keyClick(m_box, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(std::make_pair(start, end), std::make_pair(0, text->characterCount()));
    QCOMPARE(
        accessible->text(QAccessible::Description), QStringLiteral("1,000 rows, all selected"));

    // "Replace the whole text" replaces all of it, not only the window, and
    // comes back whole with one undo.
    const QString whole = m_box->toPlainText();
    accessible->editableTextInterface()->replaceText(
        0, text->characterCount(), QStringLiteral("new"));
    QCOMPARE(m_box->toPlainText(), QStringLiteral("new"));
    QTest::keySequence(m_box, QKeySequence(QKeySequence::Undo));
    QCOMPARE(m_box->toPlainText(), whole);

    // Leaving it makes the next.
    sentToScreenReader.clear();
    QTest::keyClick(m_box, Qt::Key_Home, Qt::ControlModifier);
    QVERIFY(sentToScreenReader.contains({QAccessible::TextUpdated, 0}));
    QCOMPARE(text->cursorPosition(), 0);
    checkWindow(0);
}

void ContainerTest::screenReaderReadsOnPastTheWindowsEdge_data()
{
    // From the last row the reader is shown; "read on" reads row after row,
    // as a reader reading everything does, and puts the caret where it stopped.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("pages");

    QTest::newRow("Down reads the next row") << QStringList {"Down"} << 1 << 0;
    QTest::newRow("Right at the row's end reads the next row")
        << QStringList {"End", "Right"} << 1 << 0;
    QTest::newRow("Page Down reads the row a page on") << QStringList {"PgDown"} << 0 << 1;
    QTest::newRow("reading on to the window's end, then on from the caret")
        << QStringList {"read on"} << 1 << 0;
}

void ContainerTest::screenReaderReadsOnPastTheWindowsEdge()
{
    QFETCH(QStringList, steps);
    QFETCH(int, rows);
    QFETCH(int, pages);
    ReaderWindowForTests::setReply(*m_box, 400);
    m_box->setLines(thousandRows());
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(m_box)->textInterface();
    int start = 0;
    int end = 0;
    const auto rowAtCaret = [&] {
        return text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end);
    };
    text->textAtOffset(text->characterCount() - 1, QAccessible::LineBoundary, &start, &end);
    text->setCursorPosition(start);
    const int lastRow = rowAtCaret().toInt();
    QVERIFY(lastRow > 10);

    for (const QString &step : std::as_const(steps)) {
        if (step != QLatin1String("read on")) {
            press(m_box, {step});
            continue;
        }
        QStringList read;
        int readTo = 0;
        for (QString row = rowAtCaret(); !row.isEmpty();
             row = text->textAfterOffset(start, QAccessible::LineBoundary, &start, &end)) {
            read << row;
            readTo = end;
        }
        QCOMPARE(read, QStringList {QString::number(lastRow) + QStringLiteral("\r\n")});
        text->setCursorPosition(readTo);
    }
    const int page = m_box->viewport()->height() / m_box->fontMetrics().lineSpacing();
    QCOMPARE(rowAtCaret(), QString::number(lastRow + rows + pages * page) + QStringLiteral("\r\n"));
    QVERIFY(text->characterCount() <= 400);
}

QTEST_MAIN(ContainerTest)
#include "tst_container.moc"
