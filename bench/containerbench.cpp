// SPDX-License-Identifier: GPL-3.0-or-later
// What a user does with the largest run in the Container, timed as the user
// does it: the run that fills it, a click into it, keys, scrolling, copying,
// another program pasting, clearing it, and the memory all that takes.
#include "containerbench.h"

#include "actiontimer.h"
#include "benchcommon.h"
#include "container.h"
#include "watchdog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QWheelEvent>

#include <cstdio>
#include <memory>

namespace bench {
namespace {

// An action that takes longer is cut short, and shown as taking more.
constexpr int CapSeconds = 60;
constexpr double ActionTarget = 0.050;
constexpr double EndToEndTarget = 1.0;
constexpr double EndToEndPerCore = 2.0;
constexpr int Repetitions = 3;
constexpr int ChildCapMs = 900'000;

// A window with one of the two Containers in it, as the actions need it.
void addBytes(QCryptographicHash &hash, const char *data, size_t size)
{
    hash.addData(QByteArrayView(data, qsizetype(size)));
}

// The real window: the user sets up the largest run, turns to the Container's
// tab and unticks "print to file".
class Subject
{
public:
    Subject()
        : m_shown(QString())
    {
        const Main &window = m_shown.window;
        setUpWindow(window, atLimit());
        showContainerTab(window);
        clickIndicator(window, QStringLiteral("Check3"));
        if (visibleControl<QCheckBox>(window, QStringLiteral("Check3"))->isChecked())
            throw Failure(QStringLiteral("print to file is still ticked"));
        m_container = visibleControl<Container>(window, QStringLiteral("Text6"));
    }

    Container *box() const { return m_container; }
    QAbstractButton *doIt() const { return button("Command1"); }
    QAbstractButton *clearButton() const { return button("Command2"); }
    size_t textSize() const { return m_container->model().size(); }
    size_t rowCount() const { return m_container->model().rowCount(); }

    bool allSelected() const
    {
        return textSize() > 0
            && std::min(m_container->anchorOffset(), m_container->caretOffset()) == 0
            && std::max(m_container->anchorOffset(), m_container->caretOffset()) == textSize();
    }

    void addText(QCryptographicHash &hash) const
    {
        m_container->model().fragment(0, textSize()).forEachChunk([&hash](std::string_view chunk) {
            addBytes(hash, chunk.data(), chunk.size());
        });
    }

private:
    QAbstractButton *button(const char *name) const
    {
        return visibleControl<QAbstractButton>(m_shown.window, QLatin1String(name));
    }

    ShownWindow m_shown;
    Container *m_container = nullptr;
};

// Runs program with its output going to a file, and serves this window's
// events (the clipboard among them) until it ends; the seconds it took, or
// nothing when it ran past the cap.
std::optional<double> consumedSeconds(
    const QString &program, const QStringList &arguments, const QString &output)
{
    QProcess process;
    process.setStandardOutputFile(output);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(CapSeconds * 1000, &loop, &QEventLoop::quit);
    const Clock::time_point start = Clock::now();
    process.start(program, arguments);
    loop.exec();
    const double seconds = secondsSince(start);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Failure(program + QStringLiteral(" failed: ") + process.readAllStandardError());
    return seconds;
}

// Another program pastes what was copied: xclip, a process of its own, reads
// the clipboard while the window serves it. cat of a file of the same size,
// its output going to a file the same way, is what reading the bytes costs.
void pasteElsewhere(const Subject &subject, const QString &folder)
{
    report("peak-before-paste", double(statusKilobytes("VmHWM")));
    const QString pasted = folder + QStringLiteral("/pasted");
    const QString copied = folder + QStringLiteral("/copied-by-cat");
    const std::optional<double> paste = consumedSeconds(QStringLiteral("xclip"),
        {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}, pasted);
    if (!paste) {
        reportTimedOut("paste");
        QFile::remove(pasted);
        return;
    }
    report("paste", *paste);
    QFile file(pasted);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("xclip wrote no file"));
    QCryptographicHash pastedHash(QCryptographicHash::Sha256);
    pastedHash.addData(&file);
    QCryptographicHash textHash(QCryptographicHash::Sha256);
    subject.addText(textHash);
    report("pasted-bytes", double(file.size()));
    report("paste-identical",
        size_t(file.size()) == subject.textSize() && pastedHash.result() == textHash.result());
    if (const std::optional<double> cat = consumedSeconds(QStringLiteral("cat"), {pasted}, copied))
        report("cat", *cat);
    else
        reportTimedOut("cat");
    QFile::remove(pasted);
    QFile::remove(copied);
}

void expect(bool holds, const char *what)
{
    if (!holds)
        throw Failure(QLatin1String(what));
}

void wheelStep(QWidget *viewport)
{
    const QPoint at = viewport->rect().center();
    QWheelEvent wheel(at, viewport->mapToGlobal(at), {}, {0, -QWheelEvent::DefaultDeltasPerStep},
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
}

// Each action is timed from the event until it has been handled, the events
// it posted and its timers due have run, and the Container has repainted.
void runActions(const Subject &subject, const QString &folder)
{
    QAbstractScrollArea *box = subject.box();
    QWidget *viewport = box->viewport();
    QScrollBar *vertical = box->verticalScrollBar();
    ActionTimer timed(viewport, CapSeconds);

    timed("run", [&] { QTest::mouseClick(subject.doIt(), Qt::LeftButton); });
    expect(subject.rowCount() == size_t(lineCount(atLimit())) + 1, "Do IT left lines out");
    const size_t text = subject.textSize();
    report("text-bytes", double(text));

    timed("focus-click",
        [&] { QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center()); });
    expect(box->hasFocus() && subject.allSelected(), "a click into the box selected nothing");
    timed("ctrl-end", [&] { QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier); });
    expect(vertical->value() == vertical->maximum(), "Ctrl+End did not scroll to the end");
    timed("typed", [&] { QTest::keyClick(box, 'x'); });
    expect(subject.textSize() == text + 1, "the typed character is not in the text");

    QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
    timed("page-down", [&] { QTest::keyClick(box, Qt::Key_PageDown); });
    expect(vertical->value() > 0, "Page Down did not scroll");
    const int paged = vertical->value();
    timed("wheel", [&] { wheelStep(viewport); });
    expect(vertical->value() > paged, "the wheel did not scroll");

    timed("ctrl-a", [&] { QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier); });
    expect(subject.allSelected(), "Ctrl+A did not select the text");
    timed("ctrl-c", [&] { QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier); });
    if (QGuiApplication::platformName() == QLatin1String("xcb")
        && !QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        pasteElsewhere(subject, folder);
    timed("typed-over", [&] { QTest::keyClick(box, 'y'); });
    expect(subject.textSize() == 1, "typing over the whole text left some of it");
    timed("undo", [&] { QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier); });
    expect(subject.textSize() == text + 1, "Ctrl+Z did not bring the text back");

    timed("clear", [&] { QTest::mouseClick(subject.clearButton(), Qt::LeftButton); });
    expect(subject.textSize() == 0, "Clear Container left text");
    report("rss-after-clear", double(statusKilobytes("VmRSS")));
    report("peak", double(statusKilobytes("VmHWM")));
}

std::vector<Figures> runRepeatedly(const Platform &platform, const QString &folder)
{
    std::vector<Figures> runs;
    for (int i = 0; i < Repetitions; ++i) {
        runs.push_back(figuresOf(
            runChild({QStringLiteral("--container"), folder}, platform.environment, ChildCapMs)));
    }
    return runs;
}

enum class Unit { Seconds, Milliseconds, Megabytes, Count };

// One figure across the runs: its median and largest value, or why there is none.
struct ColumnFigure
{
    std::optional<Spread> spread;
    QString missing;
};

ColumnFigure figureOf(const std::vector<Figures> &runs, const char *key, Unit unit)
{
    std::vector<double> values;
    for (const Figures &figures : runs) {
        const auto found = figures.constFind(key);
        if (found == figures.constEnd())
            return {std::nullopt, QStringLiteral("not reached")};
        if (*found == TimedOut)
            return {std::nullopt, QStringLiteral("> %1 s").arg(CapSeconds)};
        values.push_back(
            unit == Unit::Megabytes ? found->toDouble() * 1024 / 1e6 : found->toDouble());
    }
    if (values.empty())
        return {std::nullopt, QStringLiteral("not run")};
    return {spread(values), {}};
}

QString textOf(double value, Unit unit)
{
    switch (unit) {
    case Unit::Seconds:
        return secondsText(value);
    case Unit::Milliseconds:
        return millisecondsText(value);
    case Unit::Megabytes:
        return megabytesText(value);
    case Unit::Count:
        break;
    }
    return QString::number(value, 'f', 0);
}

// The rows of one platform.
class ContainerRows
{
public:
    ContainerRows(Table &table, QString platform, const std::vector<Figures> &runs)
        : m_table(table)
        , m_platform(std::move(platform))
        , m_runs(runs)
    { }

    // Adds a row; with a bound, the median is held to it.
    void add(const char *key, const QString &measure, Unit unit, double bound = 0,
        const QString &target = {})
    {
        const ColumnFigure mine = figureOf(m_runs, key, unit);
        const std::optional<bool> met = bound > 0
            ? std::optional<bool>(mine.spread && mine.spread->median <= bound)
            : std::nullopt;
        m_table.add(
            {m_platform, measure, mine.spread ? textOf(mine.spread->median, unit) : mine.missing,
                mine.spread ? textOf(mine.spread->max, unit) : QString(), target, yesNo(met)});
    }

    // A check each run made, 1 when it held.
    void addVerdict(const char *key, const QString &measure)
    {
        const ColumnFigure figure = figureOf(m_runs, key, Unit::Count);
        QString verdict = figure.missing;
        if (figure.spread)
            verdict = figure.spread->min == 1 ? QStringLiteral("identical")
                                              : QStringLiteral("DIFFERENT");
        m_table.add({m_platform, measure, verdict, {}, QStringLiteral("identical"),
            yesNo(verdict == QLatin1String("identical"))});
    }

    // A figure made from the others.
    void addFigure(const QString &measure, const QString &figure, const QString &target = {},
        std::optional<bool> met = std::nullopt)
    {
        m_table.add({m_platform, measure, figure, {}, target, yesNo(met)});
    }

    // The median of a figure, 0 when it has none.
    double median(const char *key) const
    {
        const ColumnFigure figure = figureOf(m_runs, key, Unit::Count);
        return figure.spread ? figure.spread->median : 0;
    }

private:
    Table &m_table;
    QString m_platform;
    const std::vector<Figures> &m_runs;
};

void addPlatform(Table &table, const Platform &platform, const QString &folder, double coreSeconds)
{
    const std::vector<Figures> runs = runRepeatedly(platform, folder);
    ContainerRows rows(table, platform.name, runs);

    rows.add("run", QStringLiteral("end to end: Do IT until the Container shows the run"),
        Unit::Seconds, EndToEndTarget, bound(EndToEndTarget, "s"));
    const double perCore = rows.median("run") / coreSeconds;
    rows.addFigure(QStringLiteral("end to end / core (%1: the run writing its file, no window)")
                       .arg(secondsText(coreSeconds)),
        QString::number(perCore, 'f', 2) + "x", QStringLiteral("<= %1x").arg(EndToEndPerCore),
        perCore <= EndToEndPerCore);
    const QString action = bound(ActionTarget * 1e3, "ms");
    rows.add("focus-click", QStringLiteral("focus by click (selects all)"), Unit::Milliseconds,
        ActionTarget, action);
    rows.add("ctrl-end", QStringLiteral("Ctrl+End"), Unit::Milliseconds, ActionTarget, action);
    rows.add(
        "typed", QStringLiteral("a typed character"), Unit::Milliseconds, ActionTarget, action);
    rows.add("page-down", QStringLiteral("Page Down"), Unit::Milliseconds, ActionTarget, action);
    rows.add("wheel", QStringLiteral("a wheel step"), Unit::Milliseconds, ActionTarget, action);
    rows.add("ctrl-a", QStringLiteral("Ctrl+A"), Unit::Milliseconds, ActionTarget, action);
    rows.add("ctrl-c", QStringLiteral("Ctrl+C (the copy itself)"), Unit::Milliseconds, ActionTarget,
        action);
    if (platform.name == QLatin1String("X11")) {
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
            rows.addFigure(QStringLiteral("paste into another program"), "skipped: no xclip");
        } else {
            rows.add(
                "paste", QStringLiteral("xclip -o -selection clipboard > file"), Unit::Seconds);
            rows.add("cat", QStringLiteral("cat of a file that size > file"), Unit::Seconds);
            rows.add("pasted-bytes", QStringLiteral("pasted bytes"), Unit::Count);
            rows.addVerdict(
                "paste-identical", QStringLiteral("pasted = the Container's text (size, SHA-256)"));
        }
    }
    rows.add("typed-over", QStringLiteral("a typed character, everything selected"),
        Unit::Milliseconds, ActionTarget, action);
    rows.add("undo", QStringLiteral("Ctrl+Z of that"), Unit::Milliseconds);
    rows.add("clear", QStringLiteral("Clear Container"), Unit::Milliseconds, ActionTarget, action);

    // The Container holds none of the run's text: the window stays near its
    // idle size, except while another program pastes under X11, when Qt's
    // clipboard hands the requested text over as one buffer.
    const bool pastes = platform.name == QLatin1String("X11")
        && !QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty();
    constexpr double WindowBound = 100;
    const double text = rows.median("text-bytes");
    const double peakBound = pastes ? text / 1e6 + WindowBound : WindowBound;
    rows.add("text-bytes", QStringLiteral("the run's text, bytes"), Unit::Count);
    rows.add("peak", QStringLiteral("peak memory of the whole run (VmHWM)"), Unit::Megabytes,
        peakBound,
        pastes ? QStringLiteral("<= text + 100 MB = %1").arg(megabytesText(peakBound))
               : QStringLiteral("<= 100 MB"));
    if (pastes) {
        rows.add("peak-before-paste", QStringLiteral("peak memory before the paste"),
            Unit::Megabytes, WindowBound, QStringLiteral("<= 100 MB"));
    }
    rows.add("rss-after-clear", QStringLiteral("memory after Clear Container (VmRSS)"),
        Unit::Megabytes, WindowBound, QStringLiteral("<= 100 MB"));
}

} // namespace

void runContainerActions(const QString &folder)
{
    const Subject subject;
    runActions(subject, folder);
}

void measureContainers(const QString &folder, double coreSeconds, const QString &display)
{
    const Clock::time_point begin = Clock::now();
    Table table({"platform", "measure", "median", "max", "target", "met"});
    addPlatform(table, offscreen(), folder, coreSeconds);
    if (display.isEmpty())
        table.add({"X11",
            "skipped: no X server (bench/run starts Xvfb with openbox when both are installed)"});
    else
        addPlatform(table, x11(display), folder, coreSeconds);

    std::printf(
        "\nThe Container with an eight-million-line run (%s lines, print to file unticked): "
        "median and max of %d runs\n",
        qPrintable(QStringLiteral("%L1").arg(lineCount(atLimit()))), Repetitions);
    table.print();
    std::printf(
        "Each run is a process of its own that fills the Container once and takes every action in "
        "turn; an action is timed from the QTest key or mouse event (a wheel event sent to the "
        "view) until it is handled, the events it posted and the timers due have run, and the "
        "view has repainted, in the real window set up as a user does. Ctrl+End from the "
        "selection, the typed character at the end, Page Down and the wheel "
        "from the top. An action past %d s is cut short. Under X11 (Xvfb, openbox) the primary "
        "selection and the clipboard are real; xclip pastes right after Ctrl+C. Measured in "
        "%.0f s.\n",
        CapSeconds, secondsSince(begin));
}

} // namespace bench
