// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's text model on large texts, checked against a plain string.
#include "containermodel.h"
#include "runlines.h"
#include "testseams.h"

#include <QTest>

#include <cmath>
#include <random>

// One edit: replace from..to with text.
struct Edit
{
    size_t from;
    size_t to;
    std::string text;
};
Q_DECLARE_METATYPE(Edit)

namespace {

using Lines = std::shared_ptr<const RunLines>;

Lines runOf(const std::vector<std::string> &fields, const std::vector<CounterSettings> &counters)
{
    return std::make_shared<const RunLines>(
        fields, counters, TextEncoding::Utf8, "", "\r\n", 1 << 20);
}

std::string textOf(const Lines &lines)
{
    std::string text(size_t(lines ? lines->size() : 0), '?');
    if (lines)
        lines->copy(0, lines->size(), text.data());
    return text;
}

// A run's lines: "n-00" to "n-999999", each with CR LF.
Lines millionLines()
{
    const CounterSettings numbers {0, 999, 1, 1, false, true, true};
    return runOf({"n-", "", ""}, {numbers, numbers});
}

// Rows as a plain scan of the text sees them.
std::vector<size_t> rowStartsOf(const std::string &text)
{
    std::vector<size_t> starts {0};
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n')
            starts.push_back(i + 1);
    }
    return starts;
}

void compareRows(const ContainerModel &model, const std::string &expected)
{
    QCOMPARE(model.size(), expected.size());
    const std::vector<size_t> starts = rowStartsOf(expected);
    QCOMPARE(model.rowCount(), starts.size());
    // Every row near each end, and a spread between.
    for (size_t row = 0; row < starts.size();
         row += row < 50 || row + 50 > starts.size() ? 1 : 9973) {
        QCOMPARE(model.rowStart(row), starts[row]);
        QCOMPARE(model.rowOf(starts[row]), row);
        const size_t next = row + 1 < starts.size() ? starts[row + 1] : expected.size();
        std::string row_text = expected.substr(starts[row], next - starts[row]);
        while (!row_text.empty() && row_text.back() == '\n') {
            row_text.pop_back();
            if (!row_text.empty() && row_text.back() == '\r')
                row_text.pop_back();
        }
        QCOMPARE(model.rowText(row), row_text);
    }
}

} // namespace

class ContainerModelTest : public QObject
{
    Q_OBJECT

private slots:
    void editsMatchAPlainString_data();
    void editsMatchAPlainString();
    void randomEditsUndoAndRedo();
    void aHundredThousandEditsCostAsTheFirst();
    void offsetsInUtf16();
    void clearGivesTheRunBack();
    void editsOnATrillionLines();
};

void ContainerModelTest::editsMatchAPlainString_data()
{
    QTest::addColumn<bool>("run");
    QTest::addColumn<QList<Edit>>("edits");

    QTest::newRow("typing into the middle of a million lines")
        << true
        << QList<Edit> {{5'000'000, 5'000'000, "x"}, {5'000'001, 5'000'001, "y"},
               {5'000'002, 5'000'002, "\r\n"}};
    QTest::newRow("deleting across many rows and pieces")
        << true << QList<Edit> {{100, 100, "ab\ncd"}, {50, 2'000'000, ""}, {40, 60, ""}};
    QTest::newRow("replacing everything, then typing")
        << true << QList<Edit> {{0, ~size_t(0), "z"}, {1, 1, "\r\n"}, {0, 0, "top\n"}};
    QTest::newRow("splitting a carriage return from its line feed")
        << true << QList<Edit> {{5, 5, "|"}, {0, 1, ""}};
    QTest::newRow("lone line feeds and carriage returns typed into an empty text")
        << false << QList<Edit> {{0, 0, "a\nb\rc\r\n"}, {2, 2, "\n\n"}, {0, 0, "\r"}};
    QTest::newRow("an insertion at the very end")
        << true << QList<Edit> {{~size_t(0), ~size_t(0), "end"}};
}

void ContainerModelTest::editsMatchAPlainString()
{
    QFETCH(bool, run);
    QFETCH(QList<Edit>, edits);

    ContainerModel model;
    const Lines lines = run ? millionLines() : nullptr;
    model.setLines(lines);
    std::string expected = textOf(lines);
    compareRows(model, expected);
    for (Edit edit : edits) {
        edit.to = std::min(edit.to, expected.size());
        edit.from = std::min(edit.from, edit.to);
        model.replace(edit.from, edit.to, edit.text);
        expected.replace(edit.from, edit.to - edit.from, edit.text);
        model.closeUndoStep();
    }
    compareRows(model, expected);
    while (model.canUndo())
        model.undo();
    QCOMPARE(model.text(0, model.size()), textOf(lines));
}

void ContainerModelTest::randomEditsUndoAndRedo()
{
    // Two hundred random edits, each checked, then all undone and redone. Some
    // are runs of Backspace or Delete, which undo at once; every undo tells
    // where the restored text stands, which is where the view puts the caret.
    ContainerModel model;
    const Lines lines = runOf({"γάμμα ", "."}, {{'A', 'C', 1, 1, true, true, false}});
    model.setLines(lines);
    std::string expected = textOf(lines);
    std::vector<std::string> history {expected};
    std::vector<std::pair<size_t, size_t>> restored {{0, 0}};
    std::mt19937 random(20261209);
    // The long one crosses the blocks typed text is counted in.
    std::string longText;
    for (int i = 0; i < 1500; ++i)
        longText += "é😀x\n";
    const std::vector<std::string> texts {
        "", "q", "\r\n", "\n", "long text\r\nwith rows", "é", "😀", longText};
    // Whole characters only: the model is given UTF-8 edges, as the view gives it.
    auto edge = [&](size_t offset) {
        while (offset > 0 && offset < expected.size() && (expected[offset] & 0xC0) == 0x80)
            --offset;
        return offset;
    };
    for (int step = 0; step < 200; ++step) {
        size_t at = edge(random() % (expected.size() + 1));
        const size_t kind = random() % 4;
        if (kind < 2) {
            // Up to four Backspace (kind 0) or Delete (kind 1) presses in a row.
            size_t removed = 0;
            for (size_t press = random() % 4; press < 4; ++press) {
                const size_t from = kind == 0 && at > 0 ? edge(at - 1) : at;
                size_t to = kind == 0 ? at : std::min(at + 1, expected.size());
                while (to < expected.size() && (expected[to] & 0xC0) == 0x80)
                    ++to;
                if (from == to)
                    break;
                model.replace(from, to, "");
                expected.erase(from, to - from);
                removed += to - from;
                at = from;
            }
            if (removed == 0)
                continue;
            restored.emplace_back(at, at + removed);
        } else {
            const size_t other = edge(random() % (expected.size() + 1));
            const size_t from = std::min(at, other);
            const size_t to = std::max(at, other);
            if (kind == 2) {
                const std::string &text = texts[random() % texts.size()];
                model.replace(from, to, text);
                expected.replace(from, to - from, text);
            } else {
                // A copied range pasted over the selection.
                const size_t first = edge(random() % (expected.size() + 1));
                const size_t last = edge(random() % (expected.size() + 1));
                const TextFragment copied
                    = model.fragment(std::min(first, last), std::max(first, last));
                const std::string text = expected.substr(std::min(first, last), copied.size());
                model.replace(from, to, copied);
                expected.replace(from, to - from, text);
            }
            restored.emplace_back(from, to);
        }
        model.closeUndoStep();
        QCOMPARE(model.text(0, model.size()), expected);
        // Counted in UTF-16 at a character's start, and back.
        const size_t offset = edge(random() % (expected.size() + 1));
        const auto units = size_t(QString::fromStdString(expected.substr(0, offset)).size());
        QCOMPARE(model.utf16Offset(offset), units);
        QCOMPARE(model.offsetOfUtf16(units), offset);
        history.push_back(expected);
    }
    compareRows(model, expected);
    for (size_t step = history.size() - 1; step > 0; --step) {
        const ContainerModel::Change change = model.undo();
        QCOMPARE(model.text(0, model.size()), history[step - 1]);
        if (restored[step].first < restored[step].second)
            QCOMPARE(std::make_pair(change.from, change.to), restored[step]);
    }
    QVERIFY(!model.canUndo());
    while (model.canRedo())
        model.redo();
    QCOMPARE(model.text(0, model.size()), expected);
}

void ContainerModelTest::aHundredThousandEditsCostAsTheFirst()
{
    // Typing runs, edits scattered over the text and pastes of copied ranges,
    // checked against a plain string. What an edit visits is bounded by the
    // tree's height, and what it keeps by the nodes that the text and the
    // undo steps hold: neither may grow with the edits before it.
    ContainerModel model;
    const Lines lines = runOf({"row ", ""}, {{1, 2000, 0, 1, false, true, false}});
    model.setLines(lines);
    std::string expected = textOf(lines);
    std::mt19937 random(25);
    constexpr int Edits = 100'000;
    constexpr size_t Batch = 10'000;
    constexpr size_t LargestText = 64 << 10;
    std::vector<size_t> nodesHeld {ContainerModelForTests::nodesHeld(model)};
    bool typingChecked = false;
    bool pasteChecked = false;
    size_t caret = 0;
    size_t edits = 0;
    while (edits < Edits) {
        const size_t kind = expected.size() > LargestText ? 15 : random() % 16;
        const size_t at = random() % (expected.size() + 1);
        if (kind < 10) {
            // Typed where the caret is, a key at a time: the keys after the
            // first lengthen its piece.
            size_t afterFirstKey = 0;
            for (size_t key = random() % 12; key < 12; ++key, ++edits) {
                const std::string typed
                    = random() % 10 == 0 ? "\r\n" : std::string(1, char('a' + random() % 26));
                model.replace(caret, caret, typed);
                expected.insert(caret, typed);
                caret += typed.size();
                if (!typingChecked && afterFirstKey == 0)
                    afterFirstKey = ContainerModelForTests::nodesHeld(model);
            }
            if (!typingChecked) {
                QCOMPARE(ContainerModelForTests::nodesHeld(model), afterFirstKey);
                typingChecked = true;
            }
        } else if (kind < 13) {
            // A Backspace or a character somewhere else.
            ++edits;
            model.closeUndoStep();
            caret = at;
            if (caret > 0 && random() % 2 == 0) {
                model.replace(caret - 1, caret, "");
                expected.erase(--caret, 1);
            } else {
                model.replace(caret, caret, "x");
                expected.insert(caret++, "x");
            }
        } else if (kind < 15) {
            ++edits;
            const size_t from = random() % (expected.size() + 1);
            const size_t to = std::min(expected.size(), from + random() % 2048);
            const TextFragment copied = model.fragment(from, to);
            const size_t before = pasteChecked ? 0 : ContainerModelForTests::nodesHeld(model);
            model.replace(at, at, copied);
            expected.insert(at, expected.substr(from, to - from));
            caret = at + copied.size();
            // The paste shares the copied pieces: a few nodes a level.
            if (!pasteChecked) {
                QCOMPARE_LE(ContainerModelForTests::nodesHeld(model),
                    before + 4 * ContainerModelForTests::height(model));
                pasteChecked = true;
            }
        } else {
            ++edits;
            const size_t to = std::min(expected.size(), at + random() % 4096);
            model.replace(at, to, "");
            expected.erase(at, to - at);
            caret = at;
        }
        if (edits >= Batch * nodesHeld.size()) {
            QCOMPARE(model.text(0, model.size()), expected);
            // An AVL tree of n pieces, at most one a byte, is below 1.45 log2(n + 2) + 1 high.
            QCOMPARE_LE(double(ContainerModelForTests::height(model)),
                1.45 * std::log2(double(expected.size() + 2)) + 1);
            nodesHeld.push_back(ContainerModelForTests::nodesHeld(model));
            typingChecked = pasteChecked = false;
        }
    }
    compareRows(model, expected);
    // An edit keeps O(log n) nodes, and a batch of edits about as many as an
    // early one did (the first batch, on a text of few pieces, keeps fewer).
    QCOMPARE(nodesHeld.size(), size_t(Edits / Batch + 1));
    for (size_t batch = 2; batch < nodesHeld.size(); ++batch) {
        const size_t kept = nodesHeld[batch] - nodesHeld[batch - 1];
        QCOMPARE_LE(kept, Batch * ContainerModelForTests::height(model));
        QCOMPARE_LE(kept, 2 * (nodesHeld[2] - nodesHeld[1]));
    }

    while (model.canUndo())
        model.undo();
    QCOMPARE(model.text(0, model.size()), textOf(lines));
    while (model.canRedo())
        model.redo();
    QCOMPARE(model.text(0, model.size()), expected);
}

void ContainerModelTest::offsetsInUtf16()
{
    ContainerModel model;
    model.setLines(std::make_shared<const RunLines>("aé😀b", "\r\n", 1));
    const std::string text = model.text(0, model.size());
    QCOMPARE(text,
        std::string("a\xc3\xa9\xf0\x9f\x98\x80"
                    "b\r\n"));
    const QString asQt = QString::fromStdString(text);
    for (size_t offset : {0UL, 1UL, 3UL, 7UL, 8UL, 10UL}) {
        const size_t units = model.utf16Offset(offset);
        QCOMPARE(qsizetype(units), QString::fromStdString(text.substr(0, offset)).size());
        QCOMPARE(model.offsetOfUtf16(units), offset);
    }
    QCOMPARE(qsizetype(model.utf16Offset(model.size())), asQt.size());
}

void ContainerModelTest::clearGivesTheRunBack()
{
    ContainerModel model;
    const Lines lines = millionLines();
    model.setLines(lines);
    model.replace(10, 10, "x");
    const TextFragment copied = model.fragment(0, model.size());
    const TextFragment own = model.fragment(5, 15).standalone();
    model.clear();
    QCOMPARE(model.size(), size_t(0));
    QCOMPARE(model.rowCount(), size_t(1));
    QVERIFY(!model.canUndo());
    // What was copied before stays whole after the model lets go of it.
    std::string expected = textOf(lines);
    expected.insert(10, "x");
    QCOMPARE(copied.bytes(), expected);
    QCOMPARE(own.bytes(), expected.substr(5, 10));
}

void ContainerModelTest::editsOnATrillionLines()
{
    // 65,536 x 65,536 x 256 lines, 2^40: no memory could hold their text, and
    // nothing here makes more of it than it reads.
    const CounterSettings wide {-32768, 32767, 0, 1, false, true, false};
    const Lines lines = runOf({"", "", "", ""}, {wide, wide, {0, 255, 0, 1, false, true, false}});
    const auto size = size_t(lines->size());
    constexpr size_t Middle = size_t(1) << 39;
    const std::string middleRow = " 0-32768 0";
    ContainerModel model;
    model.setLines(lines);
    QCOMPARE(model.rowCount(), (size_t(1) << 40) + 1);
    QCOMPARE(model.rowText(Middle), middleRow);
    QCOMPARE(model.rowText(model.rowCount() - 2), " 32767 32767 255");

    // Typing into the middle row and deleting across the last rows.
    const size_t at = model.rowStart(Middle) + 3;
    model.replace(at, at, "typed");
    model.closeUndoStep();
    model.replace(size + 5 - 30, size + 5, "");
    QCOMPARE(model.size(), size - 25);
    QCOMPARE(model.rowText(Middle), " 0-typed32768 0");
    QCOMPARE(model.rowOf(at + 5), Middle);
    QCOMPARE(model.rowCount(), (size_t(1) << 40) - 1);
    QCOMPARE(model.utf16Offset(model.size()), model.size());
    // A copy across the typed text keeps what it took, whatever comes after.
    const TextFragment copied = model.fragment(at - 3, at + 12);
    model.undo();
    QCOMPARE(model.size(), size + 5);
    model.undo();
    QCOMPARE(model.size(), size);
    QCOMPARE(model.rowText(Middle), middleRow);
    QCOMPARE(model.text(size - 20, size), std::string("\r\n 32767 32767 255\r\n"));
    QCOMPARE(copied.bytes(), std::string(" 0-typed32768 0"));
}

QTEST_GUILESS_MAIN(ContainerModelTest)
#include "tst_containermodel.moc"
