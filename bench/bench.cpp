// SPDX-License-Identifier: GPL-3.0-or-later
// Large "Do IT" runs timed three ways: the run alone, the real window, and a
// Python peer that writes the same file. Then the Container itself with an
// eight-million-line run in it. With --large, a 100,000,000-line run streamed
// to disk beside dd.
#include "benchcommon.h"
#include "containerbench.h"

#include "container.h"
#include "filereplacement.h"
#include "streamingwrite.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

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

    if (!finished || !shown.messages.isEmpty() || shown.dialogs != 1 || !QFile::exists(path)
        || container->model().size() != size_t(window.module().LineList->size())) {
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
    for (const QString &field : workload.fields)
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
    const QString streamedFile = folder.filePath(workload.name + "-streamed.CTF");
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

    addSpread(table, run, "core: lines + file", core, secondsText, bound(targets.coreSeconds, "s"),
        within(core.median, targets.coreSeconds));
    const Spread streamed = spread(repeated([&] {
        QFile::remove(streamedFile);
        return runStreamed(workload, streamedFile).seconds;
    }));
    addSpread(table, run, "core: streamed file", streamed, secondsText,
        bound(targets.coreSeconds, "s"), within(streamed.median, targets.coreSeconds));
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
    const bool same = sameBytes(coreFile, peerFile) && sameBytes(windowFile, peerFile)
        && sameBytes(streamedFile, peerFile);
    addFigure(table, run, "core, streamed and window files = peer's (cmp)",
        same ? "identical" : "DIFFERENT", "identical", same);
    for (const QString &file : {coreFile, windowFile, peerFile, streamedFile})
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
    std::printf("core: planRun, BuildLines and the file written as the window writes it, no "
                "window. streamed: planRun, "
                "RecordStream and streamRecordFile, as a printed run of any size is written. end "
                "to end: the real window (offscreen) from the click on Do IT until the Container "
                "holds every line, the file written. peak memory: that window process's VmHWM. "
                "peer: the whole python3 process. Files in %s. Measured in %.0f s.\n",
        qPrintable(base), secondsSince(begin));
    std::fflush(stdout);
    measureContainers(folder.path(), atLimitCore, qEnvironmentVariable("KELVARO_BENCH_DISPLAY"));
}

// A large run: 100,000,000 lines of three counters, a 3.4 GB file, streamed
// into the build folder beside dd writing as many bytes there. One large file
// at a time, each removed before the next.
const Workload Large
    = {"L", {{0, 999, 4}, {0, 999, 4}, {0, 99, 3}}, {}, false, {"Serial number ", "-", "-", " ok"}};
constexpr int LargeRepetitions = 3;
constexpr int64_t Megabyte = 1'000'000;

Written runDd(const QString &path, int64_t bytes, bool fsync)
{
    const int64_t blocks = (bytes + (int64_t(1) << 20) - 1) >> 20;
    QStringList arguments {QStringLiteral("if=/dev/zero"), "of=" + path, QStringLiteral("bs=1M"),
        "count=" + QString::number(blocks)};
    if (fsync)
        arguments << QStringLiteral("conv=fsync");
    QProcess dd;
    dd.setStandardErrorFile(QProcess::nullDevice());
    const Clock::time_point start = Clock::now();
    dd.start(QStringLiteral("dd"), arguments);
    if (!dd.waitForFinished(-1) || dd.exitStatus() != QProcess::NormalExit || dd.exitCode() != 0)
        throw Failure(QStringLiteral("dd failed"));
    return {secondsSince(start), blocks << 20};
}

// Runs write, removes its file and lets the disk settle before the next one,
// so that no run pays for the write-back of another.
std::vector<double> megabytesPerSecond(const QString &path, const std::function<Written()> &write)
{
    std::vector<double> rates;
    for (int i = 0; i < LargeRepetitions; ++i) {
        QFile::remove(path);
        sync();
        const Written written = write();
        rates.push_back(static_cast<double>(written.bytes) / Megabyte / written.seconds);
        QFile::remove(path);
    }
    sync();
    return rates;
}

struct Responsiveness
{
    double firstProgress;
    double cancelAnswered;
};

// The run written as the window starts it, on its own thread: the time until
// the first progress shows, and, half a second in, from Cancel until the writer
// has stopped and its temporary file is gone.
Responsiveness measureCancel(const Workload &workload, const QString &path)
{
    RunModule module;
    const RunPlan plan = acceptedRun(module, settingsOf(workload));
    StreamingWrite write(path, recordsOf(plan, module), plan.fileBytes);
    const Clock::time_point start = Clock::now();
    write.start();
    while (write.linesDone() == 0 && !write.isFinished())
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const double firstProgress = secondsSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Clock::time_point cancelled = Clock::now();
    write.cancel();
    write.wait();
    const double answered = secondsSince(cancelled);
    if (write.result().outcome != WriteOutcome::Cancelled || QFile::exists(path)
        || !QDir(QFileInfo(path).path())
                .entryList({QStringLiteral("*.CTF*")}, QDir::Files)
                .isEmpty())
        throw Failure(QStringLiteral("a cancelled run left a file"));
    return {firstProgress, answered};
}

void measureLarge(const QString &folderPath)
{
    const Clock::time_point begin = Clock::now();
    const long long idleKilobytes = statusKilobytes("VmHWM");
    const QDir folder(folderPath);
    const QString path = folder.filePath(QStringLiteral("kelvaro-large.CTF"));
    const RunSettings settings = settingsOf(Large);
    RunModule module;
    const RunPlan plan = acceptedRun(module, settings);
    const qint64 free = QStorageInfo(folderPath).bytesAvailable();
    if (free < plan.fileBytes + (int64_t(2) << 30)) {
        throw Failure(
            QStringLiteral("%1 has %L2 bytes free; the large run needs %L3 and 2 GiB more")
                .arg(folderPath)
                .arg(free)
                .arg(plan.fileBytes));
    }

    Table table({"run", "measure", "median", "min", "max", "target", "met"});
    const QString run = QStringLiteral("%1 %L2 lines").arg(Large.name).arg(plan.lineCount);
    addFigure(table, run, "file size",
        QString::number(static_cast<double>(plan.fileBytes) / 1e9, 'f', 2) + " GB");
    const Spread streamed
        = spread(megabytesPerSecond(path, [&] { return runStreamed(Large, path); }));
    const Spread dd
        = spread(megabytesPerSecond(path, [&] { return runDd(path, plan.fileBytes, true); }));
    const double ratio = streamed.median / dd.median;
    addSpread(table, run, "streamed file, committed (fsync)", streamed, rateText);
    addSpread(table, run, "dd bs=1M conv=fsync, same size and folder", dd, rateText);
    addFigure(table, run, "streamed / dd, with fsync", QString::number(ratio * 100, 'f', 1) + " %",
        ">= 80 %", ratio >= 0.8);
    const Spread plain
        = spread(megabytesPerSecond(path, [&] { return runStreamed(Large, path, true); }));
    const Spread ddPlain
        = spread(megabytesPerSecond(path, [&] { return runDd(path, plan.fileBytes, false); }));
    addSpread(table, run, "streamed into a plain file, no fsync", plain, rateText);
    addSpread(table, run, "dd bs=1M, no fsync", ddPlain, rateText);
    addFigure(table, run, "streamed / dd, no fsync",
        QString::number(plain.median / ddPlain.median * 100, 'f', 1) + " %");
    const long long peakKilobytes = statusKilobytes("VmHWM");
    const double peakMegabytes = static_cast<double>(peakKilobytes - idleKilobytes) * 1024 / 1e6;
    addFigure(table, run, "peak memory of the process (VmHWM)",
        megabytesText(static_cast<double>(peakKilobytes) * 1024 / 1e6));
    addFigure(table, run, "peak memory above the idle process", megabytesText(peakMegabytes),
        "<= 100 MB", peakMegabytes <= 100);

    std::vector<double> firstProgress;
    std::vector<double> cancelAnswered;
    for (int i = 0; i < LargeRepetitions; ++i) {
        sync();
        const Responsiveness figures = measureCancel(Large, path);
        firstProgress.push_back(figures.firstProgress);
        cancelAnswered.push_back(figures.cancelAnswered);
    }
    const Spread progress = spread(firstProgress);
    const Spread cancel = spread(cancelAnswered);
    addSpread(table, run, "first progress after start", progress, millisecondsText, "<= 500 ms",
        progress.median <= 0.5);
    addSpread(table, run, "Cancel answered, half a second in", cancel, millisecondsText,
        "<= 200 ms", cancel.median <= 0.2);

    // A run whose file no disk holds: 65,536^3 lines.
    RunSettings huge = settings;
    for (CounterPanel &panel : huge.panels) {
        panel.start = QStringLiteral("-32768");
        panel.end = QStringLiteral("32767");
    }
    const Spread refusal = spread(repeated([&] {
        const Clock::time_point start = Clock::now();
        const RunPlan hugePlan = acceptedRun(module, huge);
        FileReplacement file;
        if (!file.open(path, hugePlan.fileBytes) || QFile::exists(path))
            throw Failure(QStringLiteral("a file larger than the disk was not refused"));
        return secondsSince(start);
    }));
    addSpread(table, "65,536^3 lines", "refused for free space", refusal, millisecondsText,
        "< 10 ms", refusal.median < 0.010);

    std::printf("Kelvaro large-run benchmark: median, min and max of %d runs\n", LargeRepetitions);
    table.print();
    std::printf(
        "streamed: planRun, RecordStream and streamRecordFile through the save file, "
        "whose commit syncs the file to disk; dd writes as many bytes from /dev/zero in "
        "1 MiB blocks, with conv=fsync where compared with it. No fsync: the records "
        "written to a plain file and closed, beside dd without conv=fsync. Each write "
        "starts after sync, with the earlier file removed. Rates in decimal MB/s, whole "
        "process of dd included. First progress and Cancel: StreamingWrite polled as the "
        "window would, Cancel answered once the writer stopped and its file is gone. The "
        "free-space refusal: planRun and FileReplacement::open, %d runs after a warm-up. Files "
        "in %s, removed. Measured in %.0f s.\n",
        Repetitions, qPrintable(folderPath), secondsSince(begin));
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
        if (argc == 3 && std::string(argv[1]) == "--container") {
            QApplication app(argc, argv);
            runContainerActions(QString::fromLocal8Bit(argv[2]));
            return 0;
        }
        if (argc == 3 && std::string(argv[1]) == "--large") {
            QCoreApplication app(argc, argv);
            measureLarge(QString::fromLocal8Bit(argv[2]));
            return 0;
        }
        if (argc != 3) {
            std::fprintf(stderr,
                "usage: kelvaro-bench PYTHON PEER_SCRIPT\n       kelvaro-bench --large FOLDER\n");
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
