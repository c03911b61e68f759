// SPDX-License-Identifier: GPL-3.0-or-later
// Large "Do IT" runs timed three ways: the run alone, the real window, and a
// Python peer that writes the same file. Then the Container itself with the
// largest run in it, beside the QScintilla editor it replaced.
#include "benchcommon.h"
#include "containerbench.h"

#include "container.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr int Repetitions = 5;

// One run in the real window, in its own process: prints the seconds from the
// click on "Do IT" until the Container holds every line, and the peak memory.
void runWindow(const Workload &workload, const QString &path)
{
    ShownWindow shown(path);
    const Main &window = shown.window;
    setUpWindow(window, workload);

    auto *container = window.findChild<Container *>(QStringLiteral("Text6"));
    auto *doIt = visibleControl<QAbstractButton>(window, QStringLiteral("Command1"));
    const int64_t lines = lineCount(workload);
    const Clock::time_point start = Clock::now();
    QTest::mouseClick(doIt, Qt::LeftButton);
    const bool finished = QTest::qWaitFor(
        [&] {
            return !shown.messages.isEmpty() || container->model().rowCount() == size_t(lines + 1);
        },
        ChildTimeoutMs);
    const double seconds = secondsSince(start);

    const bool wroteFile = QFile::exists(path);
    if (workload.refused) {
        if (shown.messages.size() != 1 || shown.dialogs != 0 || wroteFile
            || container->model().size() != 0)
            throw Failure(workload.name + ": the window did not refuse the run before any work");
    } else if (!finished || !shown.messages.isEmpty() || shown.dialogs != 1 || !wroteFile
        || container->model().size() != window.module().LineList.text().size()) {
        throw Failure(workload.name + ": the window's run went wrong " + shown.messages.join(' '));
    }
    std::printf("%.6f %lld\n", seconds, statusKilobytes("VmHWM"));
}

struct WindowRun
{
    double seconds;
    double peakMegabytes;
};

WindowRun runWindowChild(size_t workload, const QString &path)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QList<QByteArray> figures = runChild(
        {QStringLiteral("--window"), QString::number(workload), path}, environment, ChildTimeoutMs)
                                          .trimmed()
                                          .split(' ');
    if (figures.size() != 2)
        throw Failure(QStringLiteral("the window process printed no figures"));
    return {figures[0].toDouble(), figures[1].toDouble() * 1024 / 1e6};
}

// The peer's whole process, interpreter start included: what a user of the
// script would wait for.
double runPeer(
    const QString &python, const QString &script, const Workload &workload, const QString &path)
{
    QStringList arguments {script, path};
    for (const QString &field : StartUpFields)
        arguments << field;
    for (const Counter &counter : workload.counters) {
        arguments << QString::number(counter.start) << QString::number(counter.end)
                  << QString::number(counter.width);
    }
    QProcess peer;
    const Clock::time_point start = Clock::now();
    peer.start(python, arguments);
    if (!peer.waitForFinished(ChildTimeoutMs) || peer.exitStatus() != QProcess::NormalExit
        || peer.exitCode() != 0) {
        throw Failure(QStringLiteral("the peer failed:\n")
            + QString::fromLocal8Bit(peer.readAllStandardError()));
    }
    return secondsSince(start);
}

bool sameBytes(const QString &one, const QString &other)
{
    return QProcess::execute(QStringLiteral("cmp"), {QStringLiteral("-s"), one, other}) == 0;
}

// A warm-up run, then the figures of Repetitions runs.
template<typename Run>
auto repeated(Run run)
{
    run();
    std::vector<decltype(run())> figures;
    figures.reserve(Repetitions);
    for (int i = 0; i < Repetitions; ++i)
        figures.push_back(run());
    return figures;
}

void addSpread(Table &table, const QString &run, const QString &measure, Spread figures,
    QString (*format)(double), const QString &target = {}, std::optional<bool> met = std::nullopt)
{
    table.add({run, measure, format(figures.median), format(figures.min), format(figures.max),
        target, yesNo(met)});
}

void addFigure(Table &table, const QString &run, const QString &measure, const QString &figure,
    const QString &target = {}, std::optional<bool> met = std::nullopt)
{
    table.add({run, measure, figure, {}, {}, target, yesNo(met)});
}

struct Measured
{
    double peakPerLine = 0;
    double coreSeconds = 0;
};

// Adds the figures of one workload to the table.
Measured measure(Table &table, size_t index, const QDir &folder, const QString &python,
    const QString &peerScript, double firstPerLine)
{
    const Workload &workload = Workloads[index];
    const Targets &targets = workload.targets;
    const QString coreFile = folder.filePath(workload.name + "-core.CTF");
    const QString windowFile = folder.filePath(workload.name + "-window.CTF");
    const QString peerFile = folder.filePath(workload.name + "-peer.CTF");
    const int64_t lines = lineCount(workload);
    const QString run = QStringLiteral("%1 %L2 lines").arg(workload.name).arg(lines);

    // Each run writes a new file, as after a fresh Save dialog.
    const Spread core = spread(repeated([&] {
        QFile::remove(coreFile);
        return runCore(workload, coreFile);
    }));
    std::vector<double> windowSeconds;
    std::vector<double> peaks;
    for (const WindowRun &windowRun : repeated([&] {
             QFile::remove(windowFile);
             return runWindowChild(index, windowFile);
         })) {
        windowSeconds.push_back(windowRun.seconds);
        peaks.push_back(windowRun.peakMegabytes);
    }
    const Spread endToEnd = spread(windowSeconds);
    const Spread peak = spread(peaks);

    if (workload.refused) {
        // Both runs have already checked that nothing was asked, shown or written.
        addSpread(
            table, run, "refused by planRun", core, microsecondsText, "refused, no file", true);
        addSpread(table, run, "refused in the window", endToEnd, millisecondsText,
            "message only, no file", true);
        addSpread(table, run, "peak memory", peak, megabytesText);
        return {};
    }

    addSpread(table, run, "core: lines + file", core, secondsText, bound(targets.coreSeconds, "s"),
        within(core.median, targets.coreSeconds));
    addSpread(table, run, "end to end: window", endToEnd, secondsText,
        bound(targets.endToEndSeconds, "s"), within(endToEnd.median, targets.endToEndSeconds));
    addSpread(table, run, "peak memory", peak, megabytesText, bound(targets.peakMegabytes, "MB"),
        within(peak.max, targets.peakMegabytes));
    const double perLine = peak.median * 1e6 / static_cast<double>(lines);
    // Below a million lines the window's own memory outweighs the lines'.
    if (lines >= 1'000'000) {
        const bool compared = targets.perLineAtMostFirst;
        addFigure(table, run, "peak memory per line", bytesText(perLine),
            compared ? "<= " + Workloads[0].name + " " + bytesText(firstPerLine) : QString(),
            compared ? std::optional<bool>(perLine <= firstPerLine) : std::nullopt);
    }

    // At the limit the peer runs once, for its file: five more runs would cost
    // half a minute.
    const Spread peer = spread(workload.peerOnce
            ? std::vector<double> {runPeer(python, peerScript, workload, peerFile)}
            : repeated([&] { return runPeer(python, peerScript, workload, peerFile); }));
    addSpread(
        table, run, workload.peerOnce ? "peer: Python, 1 run" : "peer: Python", peer, secondsText);
    const double ratio = peer.median / core.median;
    addFigure(table, run, "peer / core", QString::number(ratio, 'f', 1) + "x",
        targets.peerRatio > 0 ? QStringLiteral(">= %1x").arg(targets.peerRatio) : QString(),
        targets.peerRatio > 0 ? std::optional<bool>(ratio >= targets.peerRatio) : std::nullopt);
    const bool same = sameBytes(coreFile, peerFile) && sameBytes(windowFile, peerFile);
    addFigure(table, run, "core and window files = peer's (cmp)", same ? "identical" : "DIFFERENT",
        "identical", same);
    for (const QString &file : {coreFile, windowFile, peerFile})
        QFile::remove(file);
    return {perLine, core.median};
}

void measureAll(const QString &python, const QString &peerScript)
{
    // In memory where the system has it: on disk, write-back of the earlier
    // runs' files would time the disk rather than Kelvaro.
    const QString base
        = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir folder(base + QStringLiteral("/kelvaro-bench-XXXXXX"));
    if (!folder.isValid())
        throw Failure(QStringLiteral("no temporary folder in %1").arg(base));
    const Clock::time_point begin = Clock::now();
    Table table({"run", "measure", "median", "min", "max", "target", "met"});
    double firstPerLine = 0;
    double atLimitCore = 0;
    for (size_t index = 0; index < Workloads.size(); ++index) {
        const Measured measured
            = measure(table, index, QDir(folder.path()), python, peerScript, firstPerLine);
        if (index == 0)
            firstPerLine = measured.peakPerLine;
        if (&Workloads[index] == &atLimit())
            atLimitCore = measured.coreSeconds;
    }
    std::printf("Kelvaro benchmark: median, min and max of %d runs after a warm-up\n", Repetitions);
    table.print();
    std::printf("core: planRun, BuildLines and writeRecordFile, no window. end to end: the real "
                "window (offscreen) from the click on Do IT until the Container holds every "
                "line, the file written. peak memory: that window process's VmHWM. peer: the "
                "whole python3 process. Files in %s. Measured in %.0f s.\n",
        qPrintable(base), secondsSince(begin));
    std::fflush(stdout);
    measureContainers(folder.path(), atLimitCore, qEnvironmentVariable("KELVARO_BENCH_DISPLAY"));
}

} // namespace

int main(int argc, char *argv[])
{
    try {
        if (argc == 4 && std::string(argv[1]) == "--window") {
            QApplication app(argc, argv);
            runWindow(Workloads.at(std::stoul(argv[2])), QString::fromLocal8Bit(argv[3]));
            return 0;
        }
        if (argc == 4 && std::string(argv[1]) == "--container") {
            QApplication app(argc, argv);
            runContainerActions(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
            return 0;
        }
        if (argc != 3) {
            std::fprintf(stderr, "usage: kelvaro-bench PYTHON PEER_SCRIPT\n");
            return 2;
        }
        QCoreApplication app(argc, argv);
        measureAll(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
        return 0;
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "kelvaro-bench: %s\n", failure.what());
        return 1;
    }
}
