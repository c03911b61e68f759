// SPDX-License-Identifier: GPL-3.0-or-later
// The Container with one long row in the real window, at 10, 50 and 200
// million characters: keys, undo and redo, Enter and both joins beside it,
// a click, scrolling and painting, then Page Down through rows of a million
// characters each. It reaches the window only as a user does and the
// Container only through its view, so the same passes build against an
// earlier commit's Container (bench/run long-row builds today's main), whose
// passes take turns with this build's.
#include "actiontimer.h"
#include "benchreport.h"
#include "container.h"
#include "mainform.h"
#include "watchdog.h"
#include "windowsteps.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
#include <map>
#include <string>

#include <sys/resource.h>

namespace bench {
namespace {

// An action that takes longer is cut short and shown as taking more; a pass
// whose resident memory passes the cap is ended the same way.
constexpr int CapSeconds = 60;
constexpr long long MemoryCapKilobytes = 4'000'000;
constexpr int Repetitions = 3;
constexpr int PassCapMs = 900'000;
constexpr double FrameTarget = 0.016;
const std::vector<qsizetype> Sizes = {10'000'000, 50'000'000, 200'000'000};
// The rows Page Down goes through: a run's lines whose fields hold a
// million characters.
constexpr qsizetype FieldRow = 1'000'000;
constexpr int FieldRows = 64;

void expect(bool holds, const char *what)
{
    if (!holds)
        throw Failure(QLatin1String(what));
}

QString wordsOf(qsizetype characters)
{
    static const QLatin1String words("lorem 0123 ipsum 4567 dolor 89 ");
    QString text;
    text.reserve(characters);
    while (text.size() < characters)
        text += words.left(std::min<qsizetype>(words.size(), characters - text.size()));
    return text;
}

// One pass in this process: the row between two short ones, pasted into the
// real window's Container, and each action in turn.
void runPass(qsizetype characters)
{
    Main window;
    window.show();
    if (!QTest::qWaitForWindowActive(&window))
        throw Failure(QStringLiteral("the window did not become active"));
    showContainerTab(window);
    auto *box = visibleControl<Container>(window, QStringLiteral("Text6"));
    QWidget *viewport = box->viewport();
    const auto key = [box](int code, Qt::KeyboardModifiers modifiers = {}) {
        return [box, code, modifiers] { QTest::keyClick(box, Qt::Key(code), modifiers); };
    };
    const auto keys = [box](QKeySequence::StandardKey sequence) {
        return [box, sequence] { QTest::keySequence(box, QKeySequence(sequence)); };
    };
    ActionTimer timed(viewport, CapSeconds, MemoryCapKilobytes);

    timed.untimed("set-up", [&] {
        QGuiApplication::clipboard()->setText(
            QStringLiteral("above\r\n") + wordsOf(characters) + QStringLiteral("\r\nbelow"));
        QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center());
    });
    timed("paste", keys(QKeySequence::Paste));
    const size_t size = box->model().size();
    expect(size == size_t(characters) + 14, "the row was not pasted whole");

    // On the short row above the long one.
    timed.untimed("ctrl-home", key(Qt::Key_Home, Qt::ControlModifier));
    timed("typed-above", key(Qt::Key_A));
    timed("undo-above", keys(QKeySequence::Undo));
    timed("redo-above", keys(QKeySequence::Redo));
    timed.untimed("end-above", key(Qt::Key_End));
    timed("enter-above", key(Qt::Key_Return));
    timed("undo-enter-above", keys(QKeySequence::Undo));
    expect(box->model().size() == size + 1, "Enter above was not undone");
    // The long row joined to the row above, and to the row below.
    timed.untimed("to-row-start", [&] {
        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_Home);
    });
    timed("backspace-join", key(Qt::Key_Backspace));
    expect(box->model().rowCount() == 2, "Backspace did not join the rows");
    timed("undo-backspace-join", keys(QKeySequence::Undo));
    timed.untimed("to-row-end", [&] {
        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_End);
    });
    timed("delete-join", key(Qt::Key_Delete));
    expect(box->model().rowCount() == 2, "Delete did not join the rows");
    timed("undo-delete-join", keys(QKeySequence::Undo));
    timed("redo-delete-join", keys(QKeySequence::Redo));
    timed.untimed("undo-again", keys(QKeySequence::Undo));
    expect(box->model().rowCount() == 3, "the joins were not undone");

    // At the long row's end, and inside it.
    timed.untimed("to-row-end", [&] {
        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_End);
    });
    timed("typed", key(Qt::Key_X));
    timed("undo-typed", keys(QKeySequence::Undo));
    timed("left", key(Qt::Key_Left));
    timed("home", key(Qt::Key_Home));
    timed.untimed("into-row", [&] {
        for (int step = 0; step < 3; ++step)
            QTest::keyClick(box, Qt::Key_Right, Qt::ControlModifier);
    });
    timed("enter-inside", key(Qt::Key_Return));
    timed("undo-enter-inside", keys(QKeySequence::Undo));
    timed("redo-enter-inside", keys(QKeySequence::Redo));
    timed.untimed("undo-again", keys(QKeySequence::Undo));
    timed("end", key(Qt::Key_End));
    timed("click",
        [&] { QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center()); });
    QScrollBar *horizontal = box->horizontalScrollBar();
    timed("scroll", [&] { horizontal->triggerAction(QAbstractSlider::SliderPageStepSub); });
    timed("paint", [] {});
    timed.untimed("ctrl-home", key(Qt::Key_Home, Qt::ControlModifier));
    timed("page-down", key(Qt::Key_PageDown));
    expect(box->model().size() == size + 1, "the actions left the text changed");

    // The caret blinks on: what the window costs while nobody uses it.
    timed.watchdog().arm("idle-cpu");
    const auto cpuSeconds = [] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double cpuBefore = cpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    QTest::qWait(3000);
    report("idle-cpu", (cpuSeconds() - cpuBefore) / secondsSince(idleStart));
    timed.watchdog().disarm();
    report("peak", double(statusKilobytes("VmHWM")));

    // Rows of a million characters each, paged through from the top: each
    // page shows rows not laid out before.
    timed.untimed("fields", [&] {
        QString rows;
        const QString field = wordsOf(FieldRow);
        for (int row = 0; row < FieldRows; ++row)
            rows += field + QStringLiteral("\r\n");
        QGuiApplication::clipboard()->setText(rows);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keySequence(box, QKeySequence(QKeySequence::Paste));
        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
    });
    expect(box->model().rowCount() == FieldRows + 1, "the rows were not pasted whole");
    double slowest = 0;
    for (const char *page : {"fields-page-1", "fields-page-2", "fields-page-3"}) {
        const Clock::time_point start = Clock::now();
        timed(page, key(Qt::Key_PageDown));
        slowest = std::max(slowest, secondsSince(start));
    }
    report("fields-page-down", slowest);
}

struct Action
{
    const char *key;
    const char *text;
    bool bounded;
};

const std::vector<Action> &actions()
{
    static const std::vector<Action> all = {
        {"paste", "Ctrl+V of the row (with a short row above and below)", false},
        {"typed-above", "a character typed on the row above", true},
        {"undo-above", "Ctrl+Z of it", true},
        {"redo-above", "Ctrl+Shift+Z of it", true},
        {"enter-above", "Enter at the end of the row above", true},
        {"undo-enter-above", "Ctrl+Z of that Enter", true},
        {"backspace-join", "Backspace at the row's start, joining the row above", true},
        {"undo-backspace-join", "Ctrl+Z of that join", true},
        {"delete-join", "Delete at the row's end, joining the row below", true},
        {"undo-delete-join", "Ctrl+Z of that join", true},
        {"redo-delete-join", "Ctrl+Shift+Z of that join", true},
        {"typed", "a character typed at the row's end", true},
        {"undo-typed", "Ctrl+Z of it", true},
        {"left", "Left", true},
        {"home", "Home", true},
        {"enter-inside", "Enter inside the row, three words in", true},
        {"undo-enter-inside", "Ctrl+Z of that Enter", true},
        {"redo-enter-inside", "Ctrl+Shift+Z of that Enter", true},
        {"end", "End", true},
        {"click", "a click in the row", true},
        {"scroll", "the horizontal bar a page left", true},
        {"paint", "a repaint", true},
        {"page-down", "Page Down from the top", true},
        {"fields-page-down", "Page Down through rows of 1,000,000 characters (slowest of 3)", true},
        {"idle-cpu", "CPU while idle, the row in view, 3 s", false},
        {"peak", "peak memory (VmHWM)", false},
    };
    return all;
}

// The passes of one size, from this build or the baseline.
struct Cell
{
    std::vector<Figures> passes;
    QStringList failures;
    bool givenUp = false;
};

void measureInto(Cell &cell, const QString &program, qsizetype characters, const Platform &platform)
{
    if (cell.givenUp)
        return;
    try {
        const Figures figures
            = figuresOf(runProgram(program, {QStringLiteral("--pass"), QString::number(characters)},
                platform.environment, PassCapMs));
        for (const QByteArray &figure : figures) {
            if (figure == TimedOut || figure == OverMemory)
                cell.givenUp = true;
        }
        cell.passes.push_back(figures);
    } catch (const Failure &failure) {
        cell.failures << QString::fromStdString(failure.what()).trimmed();
        cell.givenUp = true;
    }
}

QString cellText(const Cell &cell, const Action &action)
{
    const MedianFigure figure
        = medianFigure(cell.passes, action.key, CapSeconds, MemoryCapKilobytes);
    if (!figure.cutShort.isEmpty())
        return figure.cutShort;
    if (!figure.median)
        return cell.passes.empty() ? QStringLiteral("failed") : QStringLiteral("not reached");
    const double median = *figure.median;
    if (QLatin1String(action.key) == QLatin1String("idle-cpu"))
        return QStringLiteral("%1 %").arg(median * 100, 0, 'f', 1);
    if (QLatin1String(action.key) == QLatin1String("peak"))
        return megabytesText(median * 1024 / 1e6);
    const QString text = millisecondsText(median);
    return action.bounded && median > FrameTarget ? text + QStringLiteral(" *") : text;
}

QString sizeText(qsizetype characters)
{
    return QStringLiteral("%1M").arg(characters / 1'000'000);
}

void measurePlatform(const Platform &platform, const QString &baseline, const QString &label,
    const std::vector<qsizetype> &sizes)
{
    const Clock::time_point begin = Clock::now();
    const QString self = QCoreApplication::applicationFilePath();
    std::map<std::pair<qsizetype, bool>, Cell> cells;
    // The baseline's pass before each of this build's, so that both meet the same load.
    for (int i = 0; i < Repetitions; ++i) {
        for (const qsizetype size : sizes) {
            if (!baseline.isEmpty())
                measureInto(cells[{size, true}], baseline, size, platform);
            measureInto(cells[{size, false}], self, size, platform);
        }
    }
    QStringList header {QStringLiteral("action")};
    for (const qsizetype size : sizes) {
        header << sizeText(size);
        if (!baseline.isEmpty())
            header << QStringLiteral("%1 %2").arg(sizeText(size), label);
    }
    Table table(header);
    for (const Action &action : actions()) {
        QStringList row {QLatin1String(action.text)};
        for (const qsizetype size : sizes) {
            row << cellText(cells[{size, false}], action);
            if (!baseline.isEmpty())
                row << cellText(cells[{size, true}], action);
        }
        table.add(row);
    }
    std::printf("\nThe Container with one long row, %s: medians of %d passes",
        qPrintable(platform.name), Repetitions);
    if (!baseline.isEmpty())
        std::printf(", this build beside %s, their passes taking turns", qPrintable(label));
    std::printf("\n");
    table.print();
    for (const auto &[column, cell] : cells) {
        const QString name = sizeText(column.first) + (column.second ? " " + label : QString());
        for (const QString &failure : cell.failures)
            std::printf("%s: %s\n", qPrintable(name), qPrintable(failure));
        for (const Figures &figures : cell.passes) {
            for (auto figure = figures.begin(); figure != figures.end(); ++figure) {
                if (*figure == TimedOut || *figure == OverMemory)
                    std::printf("%s: cut short at %s, %s\n", qPrintable(name),
                        figure.key().constData(),
                        *figure == TimedOut
                            ? qPrintable(QStringLiteral("past %1 s").arg(CapSeconds))
                            : "past the memory cap");
            }
        }
    }
    std::printf("* misses %.0f ms. Measured in %.0f s.\n", FrameTarget * 1e3, secondsSince(begin));
    std::fflush(stdout);
}

} // namespace
} // namespace bench

using namespace bench;

int main(int argc, char *argv[])
{
    try {
        if (argc == 3 && std::string(argv[1]) == "--pass") {
            QApplication app(argc, argv);
            runPass(std::stoll(argv[2]));
            return 0;
        }
        QCoreApplication app(argc, argv);
        QStringList arguments = app.arguments().mid(1);
        QString baseline;
        QString label;
        if (arguments.size() >= 3 && arguments.first() == QLatin1String("--baseline")) {
            baseline = arguments.at(1);
            label = arguments.at(2);
            arguments = arguments.mid(3);
        }
        std::vector<qsizetype> sizes;
        for (const QString &argument : std::as_const(arguments)) {
            bool read = false;
            sizes.push_back(argument.toLongLong(&read));
            if (!read || sizes.back() < 1)
                throw Failure(QStringLiteral("not a number of characters: %1").arg(argument));
        }
        if (sizes.empty())
            sizes = Sizes;
        measurePlatform(offscreen(), baseline, label, sizes);
        const QString display = qEnvironmentVariable("KELVARO_BENCH_DISPLAY");
        if (display.isEmpty())
            std::printf("\nX11 skipped: no X server (bench/run starts Xvfb with openbox when both "
                        "are installed)\n");
        else
            measurePlatform(x11(display), baseline, label, sizes);
        std::printf(
            "\nEach pass is a process of its own: the real window, the Container's tab, the row "
            "of words pasted with a short row above and below it, then each action in turn, "
            "timed from the QTest event until the events it posted have run and the view has "
            "repainted; then %d rows of %s characters pasted and paged through from the top. An "
            "action past %d s, or a pass past %.1f GB of memory, ends its column's passes.\n",
            FieldRows, qPrintable(QStringLiteral("%L1").arg(FieldRow)), CapSeconds,
            double(MemoryCapKilobytes) * 1024 / 1e9);
        return 0;
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "kelvaro-long-row-bench: %s\n", failure.what());
        return 1;
    }
}
