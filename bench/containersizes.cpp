// SPDX-License-Identifier: GPL-3.0-or-later
// The Container at run sizes from a million lines to 65,536^3, "print to file"
// unticked: "Do IT" until the window shows the run and answers, the keys and
// the scroll bar a user works with, each until the view has painted, and the
// memory the run takes above the idle window. It reaches the window only as a
// user does and the Container only through its view (the model's size and
// rows, the scroll bars, the viewport), so the same passes build against an
// earlier commit's Container, whose 8,000,000-line row is timed in turn with
// this build's rows.
#include "benchreport.h"
#include "container.h"
#include "mainform.h"
#include "paintclock.h"
#include "watchdog.h"
#include "windowsteps.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace bench {
namespace {

// A step that takes longer is cut short and shown as taking more; a pass
// whose resident memory passes MemoryCapKilobytes is ended the same way.
constexpr int CapSeconds = 30;
constexpr long long MemoryCapKilobytes = 4'000'000;
constexpr int PassCapMs = 300'000;
constexpr int Repetitions = 5;
// Between two steps, as a user pauses, work the window left for later can run.
constexpr int PauseMs = 50;
constexpr int SettleMs = 300;

constexpr double RunTarget = 0.050;
constexpr double ActionTarget = 0.016;
constexpr double MemoryTargetMegabytes = 50;
constexpr double ClearedTargetMegabytes = 10;

struct RunSize
{
    QString name;
    std::vector<Counter> counters;
};

const std::vector<RunSize> RunSizes = {
    {QStringLiteral("1,000,000 lines"), {{0, 99, 0}, {0, 99, 0}, {0, 99, 0}}},
    {QStringLiteral("8,000,000 lines"), {{1, 125, 0}, {-32768, 31231, 0}}},
    {QStringLiteral("100,000,000 lines"), {{1, 1000, 0}, {1, 1000, 0}, {1, 100, 0}}},
    {QStringLiteral("65,536^3 lines"),
        {{-32768, 32767, 0}, {-32768, 32767, 0}, {-32768, 32767, 0}}},
};
// The row the baseline measures beside this build's.
const RunSize &baselineSize()
{
    return RunSizes[1];
}

// A pass is named by its counters, "start:end" apiece, so that a baseline
// built from another commit is asked for the same run whatever its own list.
QString counterText(const std::vector<Counter> &counters)
{
    QStringList parts;
    for (const Counter &counter : counters)
        parts << QStringLiteral("%1:%2").arg(counter.start).arg(counter.end);
    return parts.join(',');
}

std::vector<Counter> countersOf(const QString &text)
{
    std::vector<Counter> counters;
    for (const QString &part : text.split(',')) {
        const QStringList bounds = part.split(':');
        bool startRead = false;
        bool endRead = false;
        if (bounds.size() == 2)
            counters.push_back({bounds[0].toInt(&startRead), bounds[1].toInt(&endRead), 0});
        if (!startRead || !endRead)
            throw Failure(QStringLiteral("not a counter's start:end: %1").arg(part));
    }
    if (counters.empty() || counters.size() > 3)
        throw Failure(QStringLiteral("one to three counters, not %1").arg(text));
    return counters;
}

uint64_t lineCount(const std::vector<Counter> &counters)
{
    uint64_t lines = 1;
    for (const Counter &counter : counters)
        lines *= uint64_t(int64_t(counter.end) - counter.start + 1);
    return lines;
}

// Closes each message box as it opens, keeping its text, and says so while
// nothing is in the Container: a refused run ends there.
class MessageWatch : public QObject
{
public:
    explicit MessageWatch(std::function<void()> shownOnEmpty)
        : m_shownOnEmpty(std::move(shownOnEmpty))
    {
        qApp->installEventFilter(this);
    }

    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            QMetaObject::invokeMethod(box, "accept", Qt::QueuedConnection);
            m_shownOnEmpty();
        }
        return false;
    }

private:
    std::function<void()> m_shownOnEmpty;
};

// Where the scroll bar's thumb and groove are, as its style draws them.
struct ThumbPlace
{
    QPoint thumb;
    QPoint middle;
};

ThumbPlace thumbPlace(const QScrollBar &bar)
{
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.singleStep = bar.singleStep();
    option.pageStep = bar.pageStep();
    option.upsideDown = bar.invertedAppearance();
    if (bar.orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    const QStyle &style = *bar.style();
    const QPoint thumb
        = style.subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &bar)
              .center();
    const QPoint groove
        = style.subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, &bar)
              .center();
    return {thumb, {thumb.x(), groove.y()}};
}

void expect(bool holds, const char *what)
{
    if (!holds)
        throw Failure(QLatin1String(what));
}

// One pass in this process: the window set up for the run as a user does,
// then each step, printing "key figure" lines as it goes.
void runPass(const std::vector<Counter> &counters)
{
    const uint64_t lines = lineCount(counters);
    Watchdog watchdog(CapSeconds, MemoryCapKilobytes);
    Main window;
    window.show();
    if (!QTest::qWaitForWindowActive(&window))
        throw Failure(QStringLiteral("the window did not become active"));
    watchdog.arm("set-up");
    setCounters(window, counters);
    showContainerTab(window);
    clickIndicator(window, QStringLiteral("Check3"));
    expect(!visibleControl<QCheckBox>(window, QStringLiteral("Check3"))->isChecked(),
        "print to file is still ticked");
    auto *box = visibleControl<Container>(window, QStringLiteral("Text6"));
    auto *doIt = visibleControl<QAbstractButton>(window, QStringLiteral("Command1"));
    auto *clear = visibleControl<QAbstractButton>(window, QStringLiteral("Command2"));
    QWidget *viewport = box->viewport();
    QScrollBar *vertical = box->verticalScrollBar();
    QTest::qWait(SettleMs);
    watchdog.disarm();

    // The peak from here on, above the window as it idles.
    const long long idle = statusKilobytes("VmRSS");
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        throw Failure(QStringLiteral("cannot reset the peak memory through /proc/self/clear_refs"));
    clearRefs.close();

    PaintClock clock(viewport, watchdog);
    const MessageWatch messages([&] {
        if (box->model().size() == 0)
            clock.interrupt();
    });
    const auto showsRun
        = [&] { return box->model().size() > 0 && box->model().rowCount() >= lines; };
    if (!clock.time(
            "run", [&] { QTest::mouseClick(doIt, Qt::LeftButton); }, showsRun)) {
        QTest::qWait(SettleMs);
        expect(box->model().size() == 0, "a refused run left text in the Container");
        report("refused", 1);
        std::printf("message %s\n", qPrintable(messages.texts.join(' ').simplified()));
        return;
    }
    if (!messages.texts.isEmpty())
        std::printf("message %s\n", qPrintable(messages.texts.join(' ').simplified()));

    const auto pause = [&] {
        watchdog.arm("pause");
        QTest::qWait(PauseMs);
        watchdog.disarm();
    };
    const auto untimed = [&](const char *key, const std::function<void()> &step) {
        watchdog.arm(key);
        step();
        watchdog.disarm();
        pause();
    };
    untimed("focus-click",
        [&] { QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center()); });
    untimed("ctrl-home", [&] { QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier); });
    expect(box->hasFocus() && vertical->value() == 0, "Ctrl+Home did not go to the top");

    clock.time(
        "page-down", [&] { QTest::keyClick(box, Qt::Key_PageDown); },
        // The caret, not the bar: with 2^48 rows a page is far less than one
        // step of the bar's value.
        [&] { return box->caretOffset() > 0; });
    pause();
    const ThumbPlace place = thumbPlace(*vertical);
    const auto nearMiddle = [&] {
        const double range = double(vertical->maximum()) - vertical->minimum();
        const double at = (double(vertical->value()) - vertical->minimum()) / range;
        return range > 0 && at > 0.4 && at < 0.6;
    };
    clock.time(
        "drag",
        [&] {
            QTest::mousePress(vertical, Qt::LeftButton, {}, place.thumb);
            QTest::mouseMove(vertical, place.middle);
            QTest::mouseRelease(vertical, Qt::LeftButton, {}, place.middle);
        },
        nearMiddle);
    pause();
    clock.time(
        "ctrl-end", [&] { QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier); },
        [&] { return vertical->value() == vertical->maximum(); });
    pause();
    clock.time(
        "ctrl-a", [&] { QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier); },
        [] { return true; });
    pause();
    untimed("deselect", [&] { QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier); });
    report("peak", double(statusKilobytes("VmHWM") - idle));

    const size_t before = box->model().size();
    clock.time(
        "typed", [&] { QTest::keyClick(box, 'x'); },
        [&] { return box->model().size() == before + 1; });
    pause();
    untimed("clear", [&] {
        QTest::mouseClick(clear, Qt::LeftButton);
        expect(QTest::qWaitFor([&] { return box->model().size() == 0; }, CapSeconds * 1000),
            "Clear Container left text");
        QTest::qWait(SettleMs);
    });
    report("after-clear", double(statusKilobytes("VmRSS") - idle));
}

// The passes of one row, from this build or the baseline.
struct Row
{
    QString name;
    std::vector<Figures> passes;
    QStringList failures;
    bool givenUp = false;
};

enum class Unit { Milliseconds, Megabytes };

struct Column
{
    const char *key;
    QString header;
    Unit unit;
    double target;
};

const std::vector<Column> &columns()
{
    static const std::vector<Column> all = {
        {"run", QStringLiteral("Do IT"), Unit::Milliseconds, RunTarget},
        {"ctrl-end", QStringLiteral("Ctrl+End"), Unit::Milliseconds, ActionTarget},
        {"typed", QStringLiteral("a typed character"), Unit::Milliseconds, ActionTarget},
        {"ctrl-a", QStringLiteral("Ctrl+A"), Unit::Milliseconds, ActionTarget},
        {"page-down", QStringLiteral("Page Down"), Unit::Milliseconds, ActionTarget},
        {"drag", QStringLiteral("thumb to the middle"), Unit::Milliseconds, ActionTarget},
        {"peak", QStringLiteral("peak above idle"), Unit::Megabytes, MemoryTargetMegabytes},
        {"after-clear", QStringLiteral("after Clear, above idle"), Unit::Megabytes,
            ClearedTargetMegabytes},
    };
    return all;
}

QString targetText(const Column &column)
{
    return column.unit == Unit::Milliseconds ? QStringLiteral("<= %1 ms").arg(column.target * 1e3)
                                             : QStringLiteral("<= %1 MB").arg(column.target);
}

// The median over the passes, marked when it misses its target; or why there is none.
QString cellOf(const Row &row, const Column &column)
{
    const MedianFigure figure
        = medianFigure(row.passes, column.key, CapSeconds, MemoryCapKilobytes);
    if (!figure.cutShort.isEmpty())
        return figure.cutShort;
    if (!figure.median)
        return {};
    const double median = *figure.median;
    const double shown = column.unit == Unit::Milliseconds ? median : median * 1024 / 1e6;
    const QString text
        = column.unit == Unit::Milliseconds ? millisecondsText(shown) : megabytesText(shown);
    return shown <= column.target ? text : text + QStringLiteral(" *");
}

QStringList cellsOf(const Row &row)
{
    QStringList cells {row.name};
    qsizetype refused = 0;
    for (const Figures &figures : row.passes)
        refused += figures.contains("refused");
    if (!row.passes.empty() && refused == qsizetype(row.passes.size()))
        return cells << QStringLiteral("refused")
                     << QStringList(qsizetype(columns().size()) - 1, QString())
                     << QString::number(row.passes.size());
    for (const Column &column : columns())
        cells << cellOf(row, column);
    cells << QString::number(row.passes.size());
    if (refused > 0)
        cells[1] = QStringLiteral("refused %1 of %2").arg(refused).arg(row.passes.size());
    if (row.passes.empty() && !row.failures.isEmpty())
        cells[1] = QStringLiteral("failed");
    return cells;
}

// The program that measures the baseline's row, and the commit it was built
// from; without a program, there is no baseline row.
struct Baseline
{
    QString program;
    QString label;
};

// One pass in a child of program; a pass cut short or failed stops its row's repetitions.
void measureInto(Row &row, const QString &program, const std::vector<Counter> &counters,
    const Platform &platform)
{
    if (row.givenUp)
        return;
    try {
        const Figures figures = figuresOf(runProgram(program,
            {QStringLiteral("--pass"), counterText(counters)}, platform.environment, PassCapMs));
        for (const QByteArray &figure : figures) {
            if (figure == TimedOut || figure == OverMemory)
                row.givenUp = true;
        }
        row.passes.push_back(figures);
    } catch (const Failure &failure) {
        row.failures << QString::fromStdString(failure.what()).trimmed();
        row.givenUp = true;
    }
}

void measurePlatform(const Platform &platform, const Baseline &baseline)
{
    const Clock::time_point begin = Clock::now();
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<Row> rows;
    rows.reserve(RunSizes.size() + 1);
    for (const RunSize &size : RunSizes)
        rows.push_back({size.name, {}, {}, false});
    Row before {!baseline.program.isEmpty()
            ? QStringLiteral("%1, baseline %2").arg(baselineSize().name, baseline.label)
            : QString(),
        {}, {}, false};
    // The baseline's row before each of this build's, so that both meet the same load.
    for (int i = 0; i < Repetitions; ++i) {
        for (size_t index = 0; index < RunSizes.size(); ++index) {
            if (!baseline.program.isEmpty())
                measureInto(before, baseline.program, baselineSize().counters, platform);
            measureInto(rows[index], self, RunSizes[index].counters, platform);
        }
    }
    if (!baseline.program.isEmpty())
        rows.push_back(before);

    QStringList header {QStringLiteral("run")};
    QStringList targets {QStringLiteral("target")};
    for (const Column &column : columns()) {
        header << column.header;
        targets << targetText(column);
    }
    header << QStringLiteral("passes");
    Table table(header);
    table.add(targets);
    for (const Row &row : rows)
        table.add(cellsOf(row));
    std::printf("\nThe Container, %s, print to file unticked: medians of the passes",
        qPrintable(platform.name));
    if (!baseline.program.isEmpty())
        std::printf(", the baseline's passes taking turns with the others'");
    std::printf("\n");
    table.print();
    for (const Row &row : rows) {
        for (const QString &failure : row.failures)
            std::printf("%s: %s\n", qPrintable(row.name), qPrintable(failure));
        // A pass cut short stops at the step that ran over, timed or not.
        for (const Figures &figures : row.passes) {
            for (auto figure = figures.begin(); figure != figures.end(); ++figure) {
                if (*figure == TimedOut || *figure == OverMemory)
                    std::printf("%s: cut short at %s, %s\n", qPrintable(row.name),
                        figure.key().constData(),
                        *figure == TimedOut
                            ? qPrintable(QStringLiteral("past %1 s").arg(CapSeconds))
                            : "past the memory cap");
            }
        }
        const auto messaged = std::find_if(row.passes.begin(), row.passes.end(),
            [](const Figures &figures) { return figures.contains("message"); });
        if (messaged != row.passes.end())
            std::printf("%s, the window's message: \"%s\"\n", qPrintable(row.name),
                qPrintable(QString::fromUtf8(messaged->value("message"))));
    }
    std::printf("Measured in %.0f s.\n", secondsSince(begin));
    std::fflush(stdout);
}

void measureAll(const Baseline &baseline)
{
    measurePlatform(offscreen(), baseline);
    const QString display = qEnvironmentVariable("KELVARO_BENCH_DISPLAY");
    if (display.isEmpty())
        std::printf("\nX11 skipped: no X server (bench/run starts Xvfb with openbox when both are "
                    "installed)\n");
    else
        measurePlatform(x11(display), baseline);
    std::printf(
        "\nEach pass is a process of its own: the real window set up as a user does, a click on "
        "Do IT, a click into the Container and Ctrl+Home, then Page Down, the scroll bar's thumb "
        "dragged to the middle with the mouse, Ctrl+End, Ctrl+A, a typed character at the end "
        "and Clear Container, %d ms apart. Each is timed from the QTest event until the "
        "Container's view has painted its effect and the event loop has come round again; Do IT "
        "until the view has painted the whole run (rows >= lines). Memory in decimal MB above "
        "the idle window's resident memory, its peak reset through /proc/self/clear_refs: the "
        "peak until the typed character, and what stays after Clear Container. * misses its "
        "target. A step past %d s, or a pass past %.1f GB of memory, ends its row's passes. A "
        "refused run "
        "is one that showed a message and left the Container empty.\n",
        PauseMs, CapSeconds, double(MemoryCapKilobytes) * 1024 / 1e9);
}

} // namespace
} // namespace bench

using namespace bench;

int main(int argc, char *argv[])
{
    try {
        if (argc == 3 && std::string(argv[1]) == "--pass") {
            QApplication app(argc, argv);
            runPass(countersOf(QString::fromLocal8Bit(argv[2])));
            return 0;
        }
        if (argc == 1 || (argc == 4 && std::string(argv[1]) == "--baseline")) {
            QCoreApplication app(argc, argv);
            Baseline baseline;
            if (argc == 4)
                baseline = {QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])};
            measureAll(baseline);
            return 0;
        }
        std::fprintf(stderr,
            "usage: kelvaro-container-bench [--baseline PROGRAM LABEL]\n"
            "       kelvaro-container-bench --pass START:END[,START:END...]\n");
        return 2;
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "kelvaro-container-bench: %s\n", failure.what());
        return 1;
    }
}
