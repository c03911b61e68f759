// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's edits as they add up: 100,000 characters typed into the
// real window, a row at a time with a character typed into the row above
// after each, then the text doubled 14 times through the clipboard (Ctrl+A,
// Ctrl+C, Ctrl+End, Ctrl+V): what a key costs on the way, what each paste
// round takes and the memory the program holds. Beside it, what a run of the
// widest fields holds, and what a copy of a few of its rows keeps on the
// clipboard after the Container is cleared. The passes reach the window only
// as a user does, so that they build against an earlier commit too, whose
// passes take turns with this build's.
#include "benchreport.h"
#include "container.h"
#include "mainform.h"
#include "paintclock.h"
#include "watchdog.h"
#include "windowsteps.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

namespace bench {
namespace {

constexpr int Repetitions = 3;
constexpr int Characters = 100'000;
constexpr int RowCharacters = 64;
constexpr int Doublings = 14;
constexpr int KeysTimed = 21;
// A step past CapSeconds, or a pass past MemoryCapKilobytes, ends the pass
// with the figures it has.
constexpr int CapSeconds = 60;
constexpr long long MemoryCapKilobytes = 3'000'000;
constexpr int PassCapMs = 1'200'000;
constexpr int SettleMs = 300;
// The edits after which a key is timed on the way.
constexpr int EditsBeforeTimedKeys = 40'000;

void expect(bool holds, const char *what)
{
    if (!holds)
        throw Failure(QLatin1String(what));
}

// Resident memory above idle, in kilobytes.
double aboveIdle(long long idle, const char *field = "VmRSS")
{
    return double(statusKilobytes(field) - idle);
}

void resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        throw Failure(QStringLiteral("cannot reset the peak memory through /proc/self/clear_refs"));
}

void showWindow(Main &window)
{
    window.show();
    if (!QTest::qWaitForWindowActive(&window))
        throw Failure(QStringLiteral("the window did not become active"));
}

Container *containerOf(const Main &window)
{
    showContainerTab(window);
    return visibleControl<Container>(window, QStringLiteral("Text6"));
}

// Typing and doubling, printing "key figure" lines as it goes: seconds for
// keys and rounds, kilobytes above the idle window for memory, bytes for text.
void typingPass()
{
    Watchdog watchdog(CapSeconds, MemoryCapKilobytes);
    Main window;
    watchdog.arm("set-up");
    showWindow(window);
    Container *const box = containerOf(window);
    QWidget *const viewport = box->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center());
    expect(box->hasFocus(), "the Container did not take the focus");
    QTest::qWait(SettleMs);
    watchdog.disarm();
    const long long idle = statusKilobytes("VmRSS");
    resetPeak();
    report("idle", double(idle));

    PaintClock clock(viewport, watchdog);
    // Keys typed at the end of the text, each timed until it is painted.
    const auto timeKeys = [&](const std::string &key) {
        QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
        QCoreApplication::processEvents();
        std::vector<double> seconds;
        for (int i = 0; i < KeysTimed; ++i) {
            const size_t before = box->model().size();
            if (const std::optional<double> taken = clock.time(
                    key.c_str(), [&] { QTest::keyClick(box, Qt::Key_X); },
                    [&] { return box->model().size() == before + 1; }))
                seconds.push_back(*taken);
        }
        report((key + "-median").c_str(), spread(seconds).median);
    };
    const auto reportMemory = [&](const std::string &key) {
        report(("memory-" + key).c_str(), aboveIdle(idle));
        report(("text-" + key).c_str(), double(box->model().size()));
    };

    timeKeys("key-fresh");
    std::mt19937 random(25);
    const char *const letters = "etaoinshrdlucmfwypvbgkjqxz";
    int edits = 0;
    bool timedOnTheWay = false;
    while (edits < Characters) {
        watchdog.arm("typing");
        for (int column = 0; column < RowCharacters && edits < Characters; ++column) {
            QTest::keyClick(box, column % 7 == 6 ? ' ' : letters[random() % 26]);
            if (++edits % 128 == 0)
                QCoreApplication::processEvents();
        }
        // The row ends, and a character goes into the row above, at its start.
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Up);
        QTest::keyClick(box, '*');
        QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
        edits += 2;
        QCoreApplication::processEvents();
        watchdog.disarm();
        if (!timedOnTheWay && edits >= EditsBeforeTimedKeys) {
            timeKeys("key-40000");
            timedOnTheWay = true;
        }
    }
    report("edits", edits);
    timeKeys("key-typed");
    reportMemory("typed");

    for (int round = 1; round <= Doublings; ++round) {
        const size_t before = box->model().size();
        const std::string key = "round-" + std::to_string(round);
        clock.time(
            key.c_str(),
            [&] {
                QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
                QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
                QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
            },
            [&] { return box->model().size() == 2 * before; });
        expect(box->model().size() == 2 * before, "a paste round did not double the text");
        timeKeys("key-" + key);
        reportMemory(key);
    }
    report("peak", aboveIdle(idle, "VmHWM"));
    report("total", double(statusKilobytes("VmRSS")));
}

// A run of three counters zero-filled to 127 digits, what it holds in
// memory, and what a copy of its first rows keeps once the Container is
// cleared and the run made again.
void widePass()
{
    Watchdog watchdog(CapSeconds, MemoryCapKilobytes);
    Main window;
    watchdog.arm("set-up");
    showWindow(window);
    setCounters(window, {{-32768, 32767, 127}, {-32768, 32767, 127}, {-32768, 32767, 127}});
    Container *const box = containerOf(window);
    QWidget *const viewport = box->viewport();
    clickIndicator(window, QStringLiteral("Check3"));
    expect(!visibleControl<QCheckBox>(window, QStringLiteral("Check3"))->isChecked(),
        "print to file is still ticked");
    auto *doIt = visibleControl<QAbstractButton>(window, QStringLiteral("Command1"));
    auto *clear = visibleControl<QAbstractButton>(window, QStringLiteral("Command2"));
    QTest::qWait(SettleMs);
    watchdog.disarm();
    const long long idle = statusKilobytes("VmRSS");

    const auto step = [&](const char *key, const std::function<void()> &action) {
        watchdog.arm(key);
        action();
        QTest::qWait(SettleMs);
        watchdog.disarm();
        report(key, aboveIdle(idle));
    };
    const auto run = [&] {
        QTest::mouseClick(doIt, Qt::LeftButton);
        expect(QTest::qWaitFor([&] { return box->model().size() > 0; }, CapSeconds * 1000),
            "the run did not fill the Container");
    };
    step("wide-run", run);
    step("wide-copied", [&] {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center());
        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        for (int row = 0; row < 3; ++row)
            QTest::keyClick(box, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    });
    step("wide-cleared", [&] {
        QTest::mouseClick(clear, Qt::LeftButton);
        expect(QTest::qWaitFor([&] { return box->model().size() == 0; }, CapSeconds * 1000),
            "Clear Container left text");
    });
    step("wide-again", run);
}

// The passes of one build.
struct Build
{
    QString name;
    QString program;
    std::vector<Figures> passes;
    QStringList failures;
};

void measureInto(Build &build, const char *pass, const Platform &platform)
{
    try {
        build.passes.push_back(figuresOf(runProgram(
            build.program, {QString::fromLatin1(pass)}, platform.environment, PassCapMs)));
    } catch (const Failure &failure) {
        build.failures << QString::fromStdString(failure.what()).trimmed();
    }
}

// The median of a figure over the passes; a pass cut short first names its step.
struct Cell
{
    std::optional<double> median;
    QString missing;
};

Cell cellOf(const Build &build, const QByteArray &key)
{
    std::vector<double> values;
    QString missing;
    for (const Figures &figures : build.passes) {
        const QByteArray figure = figures.value(key);
        if (!figure.isEmpty() && figure != TimedOut && figure != OverMemory) {
            values.push_back(figure.toDouble());
            continue;
        }
        // Where the pass stopped: the step cut short, past time or memory.
        for (auto other = figures.begin(); other != figures.end(); ++other) {
            if (*other == TimedOut)
                missing = QStringLiteral("> %1 s at %2").arg(CapSeconds).arg(other.key());
            else if (*other == OverMemory)
                missing = QStringLiteral("> %1 GB at %2")
                              .arg(double(MemoryCapKilobytes) * 1024 / 1e9, 0, 'f', 1)
                              .arg(other.key());
        }
        if (missing.isEmpty())
            missing = QStringLiteral("-");
    }
    if (values.empty())
        return {std::nullopt, missing};
    return {spread(values).median, {}};
}

QString shown(const Cell &cell, const std::function<QString(double)> &text)
{
    return cell.median ? text(*cell.median) : cell.missing;
}

QString ratioText(const Cell &ours, const Cell &theirs)
{
    if (!ours.median || !theirs.median || *ours.median <= 0)
        return {};
    return QStringLiteral("%1x").arg(*theirs.median / *ours.median, 0, 'f', 1);
}

// Decimal megabytes to a tenth: a small text's memory shows.
QString tenthsText(double megabytes)
{
    return QString::number(megabytes, 'f', 1) + " MB";
}

QString kilobytesText(double kilobytes)
{
    return tenthsText(kilobytes * 1024 / 1e6);
}

void printTyping(const Build &ours, const Build *theirs)
{
    QStringList header {QStringLiteral("step"), ours.name};
    if (theirs)
        header << theirs->name << QStringLiteral("ratio");
    Table table(header);
    const auto add = [&](const QString &name, const QByteArray &key,
                         const std::function<QString(double)> &text, bool ratio) {
        const Cell cell = cellOf(ours, key);
        QStringList row {name, shown(cell, text)};
        if (theirs) {
            const Cell other = cellOf(*theirs, key);
            row << shown(other, text) << (ratio ? ratioText(cell, other) : QString());
        }
        table.add(row);
    };
    add(QStringLiteral("a key, empty text"), "key-fresh-median", millisecondsText, true);
    add(QStringLiteral("a key after 40,000 edits"), "key-40000-median", millisecondsText, true);
    add(QStringLiteral("a key after 100,000 edits"), "key-typed-median", millisecondsText, true);
    for (int round : {1, 2, 4, 7, 10, 14}) {
        const QByteArray key = "round-" + QByteArray::number(round);
        add(QStringLiteral("paste round %1").arg(round), key, millisecondsText, true);
        add(QStringLiteral("a key after round %1").arg(round), "key-" + key + "-median",
            millisecondsText, true);
    }
    std::printf("\nEach key and each paste round, timed until painted: medians\n");
    table.print();

    QStringList memoryHeader {QStringLiteral("after"), QStringLiteral("text")};
    memoryHeader << ours.name + QStringLiteral(", above idle") << QStringLiteral("x text");
    if (theirs)
        memoryHeader << theirs->name + QStringLiteral(", above idle");
    Table memory(memoryHeader);
    const auto addMemory = [&](const QString &name, const QByteArray &suffix) {
        const Cell text = cellOf(ours, "text-" + suffix);
        const Cell held = cellOf(ours, "memory-" + suffix);
        QStringList row {name, shown(text, [](double bytes) { return tenthsText(bytes / 1e6); }),
            shown(held, kilobytesText)};
        row << (text.median && held.median
                ? QStringLiteral("%1").arg(*held.median * 1024 / *text.median, 0, 'f', 3)
                : QString());
        if (theirs)
            row << shown(cellOf(*theirs, "memory-" + suffix), kilobytesText);
        memory.add(row);
    };
    addMemory(QStringLiteral("100,000 characters typed"), "typed");
    for (int round = 1; round <= Doublings; ++round)
        addMemory(
            QStringLiteral("paste round %1").arg(round), "round-" + QByteArray::number(round));
    std::printf("\nMemory as the text doubles: medians\n");
    memory.print();
    const Cell peak = cellOf(ours, "peak");
    const Cell total = cellOf(ours, "total");
    const Cell text = cellOf(ours, "text-round-" + QByteArray::number(Doublings));
    if (peak.median && total.median && text.median) {
        std::printf("%s: peak %s above idle; the whole program %s, %.3f x its %s of text\n",
            qPrintable(ours.name), qPrintable(kilobytesText(*peak.median)),
            qPrintable(kilobytesText(*total.median)), *total.median * 1024 / *text.median,
            qPrintable(tenthsText(*text.median / 1e6)));
    }
}

void printWide(const Build &ours, const Build *theirs)
{
    QStringList header {QStringLiteral("step"), ours.name};
    if (theirs)
        header << theirs->name;
    Table table(header);
    const std::vector<std::pair<QString, QByteArray>> steps = {
        {QStringLiteral("Do IT"), "wide-run"},
        {QStringLiteral("three rows copied"), "wide-copied"},
        {QStringLiteral("Clear Container, the copy kept"), "wide-cleared"},
        {QStringLiteral("Do IT again"), "wide-again"},
    };
    for (const auto &[name, key] : steps) {
        QStringList row {name, shown(cellOf(ours, key), kilobytesText)};
        if (theirs)
            row << shown(cellOf(*theirs, key), kilobytesText);
        table.add(row);
    }
    std::printf("\nThree counters zero-filled to 127 digits, print to file unticked: resident "
                "memory above the idle window, medians\n");
    table.print();
}

void measureAll(const QString &baseline, const QString &label)
{
    const Clock::time_point begin = Clock::now();
    const QString display = qEnvironmentVariable("KELVARO_BENCH_DISPLAY");
    const Platform platform = display.isEmpty() ? offscreen() : x11(display);
    Build ours {QStringLiteral("this build"), QCoreApplication::applicationFilePath(), {}, {}};
    Build theirs {label, baseline, {}, {}};
    Build oursWide = ours;
    Build theirsWide = theirs;
    // The baseline's pass before each of this build's, so that both meet the same load.
    for (int i = 0; i < Repetitions; ++i) {
        if (!baseline.isEmpty()) {
            measureInto(theirs, "--typing-pass", platform);
            measureInto(theirsWide, "--wide-pass", platform);
        }
        measureInto(ours, "--typing-pass", platform);
        measureInto(oursWide, "--wide-pass", platform);
    }
    std::printf("The Container's edits, %s, %d passes of each build taking turns\n",
        qPrintable(platform.name), Repetitions);
    printTyping(ours, baseline.isEmpty() ? nullptr : &theirs);
    printWide(oursWide, baseline.isEmpty() ? nullptr : &theirsWide);
    for (const Build *build : {&ours, &theirs, &oursWide, &theirsWide}) {
        for (const QString &failure : build->failures)
            std::printf("%s: %s\n", qPrintable(build->name), qPrintable(failure));
    }
    std::printf(
        "\nEach pass is a process of its own with the real window. Typing: %d characters typed "
        "with QTest key clicks into the Container, rows of %d and Enter, and after each row a "
        "character typed at the start of the row above (Up) before Ctrl+End; then %d paste "
        "rounds, each Ctrl+A, Ctrl+C, Ctrl+End, Ctrl+V through the platform's clipboard, timed "
        "until the view has painted the doubled text. A key: %d x typed at the end, each timed "
        "until painted. Memory: VmRSS above the idle window with the empty Container focused. A "
        "step past %d s or a pass past %.1f GB ends the pass. Measured in %.0f s.\n",
        Characters, RowCharacters, Doublings, KeysTimed, CapSeconds,
        double(MemoryCapKilobytes) * 1024 / 1e9, secondsSince(begin));
    std::fflush(stdout);
}

} // namespace
} // namespace bench

using namespace bench;

int main(int argc, char *argv[])
{
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (argc == 2 && (mode == "--typing-pass" || mode == "--wide-pass")) {
            QApplication app(argc, argv);
            if (mode == "--typing-pass")
                typingPass();
            else
                widePass();
            return 0;
        }
        if (argc == 1 || (argc == 4 && mode == "--baseline")) {
            QCoreApplication app(argc, argv);
            measureAll(argc == 4 ? QString::fromLocal8Bit(argv[2]) : QString(),
                argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString());
            return 0;
        }
        std::fprintf(stderr,
            "usage: kelvaro-edits-bench [--baseline PROGRAM LABEL]\n"
            "       kelvaro-edits-bench --typing-pass | --wide-pass\n");
        return 2;
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "kelvaro-edits-bench: %s\n", failure.what());
        return 1;
    }
}
