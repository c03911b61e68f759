// SPDX-License-Identifier: GPL-3.0-or-later
// Large "Do IT" runs timed three ways: the run alone, the real window, and a
// Python peer that writes the same file.
#include "mainform.h"
#include "recordfile.h"
#include "recordstream.h"
#include "runmodule.h"
#include "streamingwrite.h"

#include <Qsci/qsciscintilla.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Repetitions = 5;
constexpr int ChildTimeoutMs = 120'000;

const std::array<QString, 4> StartUpFields
    = {"First Field ", " Second Field ", " Third Field ", " Fourth Field"};

// A Numeric counter counting up by 1; width 0 writes plain numbers.
struct Counter
{
    int start;
    int end;
    int width;
};

// The bounds a workload should stay within; 0 where there is none.
struct Targets
{
    double coreSeconds = 0;
    double peerRatio = 0;
    double endToEndSeconds = 0;
    double peakMegabytes = 0;
    bool perLineAtMostFirst = false;
};

struct Workload
{
    QString name;
    std::vector<Counter> counters;
    Targets targets;
    bool peerOnce = false;
    bool refused = false;
    std::array<QString, 4> fields = StartUpFields;
};

const std::vector<Workload> Workloads = {
    {"W1", {{0, 99, 0}, {0, 99, 0}, {0, 99, 0}}, {0.15, 10, 1.5, 600, false}},
    {"W2", {{-32768, 32767, 6}}, {}},
    {"W3", {{1, 2000, 0}, {1, 2500, 0}}, {0, 0, 8, 3000, true}},
    {"at limit", {{1, 125, 0}, {-32768, 31231, 0}}, {0, 0, 8, 3000, false}, true},
    {"beyond", {{1, 201, 0}, {-32768, 7032, 0}}, {}, false, true},
};

struct Failure : std::runtime_error
{
    explicit Failure(const QString &what)
        : std::runtime_error(what.toStdString())
    { }
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int64_t lineCount(const Workload &workload)
{
    int64_t lines = 1;
    for (const Counter &counter : workload.counters)
        lines *= counter.end - counter.start + 1;
    return lines;
}

// The settings the window would read once the workload's boxes are set.
RunSettings settingsOf(const Workload &workload)
{
    RunSettings settings;
    settings.counterOptions[workload.counters.size() - 1] = true;
    settings.fields = workload.fields;
    settings.printToFile = true;
    for (size_t k = 0; k < workload.counters.size(); ++k) {
        const Counter &counter = workload.counters[k];
        CounterPanel &panel = settings.panels[k];
        panel.start = QString::number(counter.start);
        panel.end = QString::number(counter.end);
        panel.step = QStringLiteral("1");
        panel.padded = counter.width > 0;
        panel.width = QString::number(counter.width);
    }
    return settings;
}

double runCore(const Workload &workload, const QString &path)
{
    const RunSettings settings = settingsOf(workload);
    RunModule module;
    module.NewLine = "\r\n";
    const Clock::time_point start = Clock::now();
    module.ReadCounterCount(settings.counterOptions);
    const std::variant<RunPlan, QString> plan = module.planRun(settings);
    // A printed run is refused only where the window builds it in memory.
    const bool refused = std::holds_alternative<QString>(plan)
        || RunModule::inMemoryRefusal(std::get<RunPlan>(plan));
    if (refused != workload.refused)
        throw Failure(workload.name + ": planRun answered unexpectedly");
    if (workload.refused) {
        const double seconds = secondsSince(start);
        if (QFile::exists(path))
            throw Failure(workload.name + ": a refused run wrote a file");
        return seconds;
    }
    module.BuildLines(std::get<RunPlan>(plan));
    if (const std::optional<QString> problem = writeRecordFile(path, module.LineList))
        throw Failure(workload.name + ": " + *problem);
    const double seconds = secondsSince(start);
    if (static_cast<int64_t>(module.LineList.size()) != lineCount(workload))
        throw Failure(workload.name + ": wrong number of lines");
    return seconds;
}

struct Written
{
    double seconds;
    int64_t bytes;
};

// The run as a printed run of any size is written: measured, then its records
// streamed through the save file, whose commit syncs the file to disk. With
// plainFile, into a plain file closed without fsync instead: what making the
// records and handing them to the system cost, as dd without fsync would.
Written runStreamed(const Workload &workload, const QString &path, bool plainFile = false)
{
    const RunSettings settings = settingsOf(workload);
    RunModule module;
    module.NewLine = "\r\n";
    const Clock::time_point start = Clock::now();
    module.ReadCounterCount(settings.counterOptions);
    const RunPlan plan = std::get<RunPlan>(module.planRun(settings));
    std::optional<RecordStream> records = RecordStream::create(plan, module.CounterCount);
    const std::atomic<bool> cancel {false};
    WriteProgress progress;
    bool written = false;
    if (plainFile) {
        QFile file(path);
        written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
            && streamRecords(
                   *records,
                   [&file](const char *data, size_t size) {
                       return file.write(data, static_cast<qint64>(size))
                           == static_cast<qint64>(size);
                   },
                   cancel, progress)
                == WriteOutcome::Written;
    } else {
        written = streamRecordFile(path, *records, plan.fileBytes, cancel, progress).outcome
            == WriteOutcome::Written;
    }
    if (!written || progress.bytes() != plan.fileBytes)
        throw Failure(workload.name + ": the streamed file was not written");
    return {secondsSince(start), plan.fileBytes};
}

// Finds a control the way a user does: by looking at the window.
template<typename T>
T *visibleControl(const Main &window, const QString &name)
{
    auto *control = window.findChild<T *>(name);
    if (!control || !control->isVisible())
        throw Failure(QStringLiteral("no visible control %1").arg(name));
    return control;
}

void clickIndicator(const Main &window, const QString &name)
{
    auto *button = visibleControl<QAbstractButton>(window, name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(7, button->height() / 2));
}

// Clicks into the box, which selects its text, and types or pastes the number
// over it. The boxes take typed digits only, so a user pastes a negative number.
void enterNumber(const Main &window, const QString &name, int value)
{
    auto *box = visibleControl<QLineEdit>(window, name);
    const QString text = QString::number(value);
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    if (value < 0) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
        QTest::keyClicks(box, text);
    }
    if (box->text() != text)
        throw Failure(QStringLiteral("%1 reads %2, not %3").arg(name, box->text(), text));
}

void setUpWindow(const Main &window, const Workload &workload)
{
    const int counters = static_cast<int>(workload.counters.size());
    if (counters > 1)
        clickIndicator(window, QStringLiteral("Option3(%1)").arg(counters - 1));
    for (int k = 0; k < counters; ++k) {
        const Counter &counter = workload.counters[static_cast<size_t>(k)];
        enterNumber(window, QStringLiteral("Text2(%1)").arg(k), counter.start);
        enterNumber(window, QStringLiteral("Text3(%1)").arg(k), counter.end);
        if (counter.width > 0) {
            clickIndicator(window, QStringLiteral("Check1(%1)").arg(k));
            enterNumber(window, QStringLiteral("Text1(%1)").arg(k), counter.width);
        }
    }
    // "print to file" is ticked at start-up; the run relies on it.
    if (!window.findChild<QCheckBox *>(QStringLiteral("Check3"))->isChecked())
        throw Failure(QStringLiteral("print to file is not ticked"));
}

// The process's peak resident memory in kB. Read from the process itself: a
// parent's getrusage would count the memory the parent had when it forked.
long long peakKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    throw Failure(QStringLiteral("no VmHWM in /proc/self/status"));
}

// One run in the real window, in its own process: prints the seconds from the
// click on "Do IT" until the Container holds every line, and the peak memory.
void runWindow(const Workload &workload, const QString &path)
{
    Main window;
    int dialogs = 0;
    window.CommonDialog1.setPresenter([&dialogs, &path](const CommonDialog &) {
        ++dialogs;
        return std::optional<QString>(path);
    });
    // A message box runs its own event loop; this closes it from inside that loop.
    QStringList messages;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&messages] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            messages << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(0);
    window.show();
    if (!QTest::qWaitForWindowActive(&window))
        throw Failure(QStringLiteral("the window did not become active"));
    setUpWindow(window, workload);

    auto *container = window.findChild<QsciScintilla *>(QStringLiteral("Text6"));
    auto *doIt = visibleControl<QAbstractButton>(window, QStringLiteral("Command1"));
    const int64_t lines = lineCount(workload);
    const Clock::time_point start = Clock::now();
    QTest::mouseClick(doIt, Qt::LeftButton);
    const bool finished = QTest::qWaitFor(
        [&] { return !messages.isEmpty() || container->lines() == lines + 1; }, ChildTimeoutMs);
    const double seconds = secondsSince(start);

    const bool wroteFile = QFile::exists(path);
    if (workload.refused) {
        if (messages.size() != 1 || dialogs != 0 || wroteFile || container->length() != 0)
            throw Failure(workload.name + ": the window did not refuse the run before any work");
    } else if (!finished || !messages.isEmpty() || dialogs != 1 || !wroteFile
        || static_cast<size_t>(container->length()) != window.module().LineList.text().size()) {
        throw Failure(workload.name + ": the window's run went wrong " + messages.join(' '));
    }
    std::printf("%.6f %lld\n", seconds, peakKilobytes());
}

struct WindowRun
{
    double seconds;
    double peakMegabytes;
};

WindowRun runWindowChild(size_t workload, const QString &path)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--window"), QString::number(workload), path});
    if (!child.waitForFinished(ChildTimeoutMs) || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() != 0) {
        throw Failure(QStringLiteral("the window process failed:\n")
            + QString::fromLocal8Bit(child.readAllStandardError()));
    }
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
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

struct Spread
{
    double median;
    double min;
    double max;
};

Spread spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    const double median
        = values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {median, values.front(), values.back()};
}

class Table
{
public:
    void add(const QString &run, const QString &measure, const QString &median,
        const QString &min = {}, const QString &max = {}, const QString &target = {},
        std::optional<bool> met = std::nullopt)
    {
        m_rows.push_back(
            {run, measure, median, min, max, target, met ? (*met ? "yes" : "NO") : QString()});
    }

    void add(const QString &run, const QString &measure, Spread figures, QString (*format)(double),
        const QString &target = {}, std::optional<bool> met = std::nullopt)
    {
        add(run, measure, format(figures.median), format(figures.min), format(figures.max), target,
            met);
    }

    void print() const
    {
        std::array<qsizetype, 7> widths {};
        for (const auto &row : m_rows) {
            for (size_t column = 0; column < row.size(); ++column)
                widths[column] = std::max(widths[column], row[column].size());
        }
        for (const auto &row : m_rows) {
            QString line;
            for (size_t column = 0; column < row.size(); ++column)
                line += row[column].leftJustified(widths[column] + 2);
            std::printf("%s\n", qPrintable(line.trimmed()));
        }
    }

private:
    std::vector<std::array<QString, 7>> m_rows {
        {"run", "measure", "median", "min", "max", "target", "met"}};
};

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 3) + " s";
}

QString microsecondsText(double seconds)
{
    return QString::number(seconds * 1e6, 'f', 1) + " us";
}

QString millisecondsText(double seconds)
{
    return QString::number(seconds * 1e3, 'f', 1) + " ms";
}

QString megabytesText(double megabytes)
{
    return QString::number(megabytes, 'f', 0) + " MB";
}

QString bytesText(double bytes)
{
    return QString::number(bytes, 'f', 0) + " B";
}

std::optional<bool> within(double value, double bound)
{
    return bound > 0 ? std::optional<bool>(value <= bound) : std::nullopt;
}

QString bound(double value, const char *unit)
{
    return value > 0 ? QStringLiteral("<= %1 %2").arg(value).arg(QLatin1String(unit)) : QString();
}

// Adds the figures of one workload to the table; returns its peak bytes per line.
double measure(Table &table, size_t index, const QDir &folder, const QString &python,
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

    if (workload.refused) {
        // Both runs have already checked that nothing was asked, shown or written.
        table.add(run, "refused by planRun and the memory check", core, microsecondsText,
            "refused, no file", true);
        table.add(run, "refused in the window", endToEnd, millisecondsText, "message only, no file",
            true);
        table.add(run, "peak memory", peak, megabytesText);
        return 0;
    }

    table.add(run, "core: lines + file", core, secondsText, bound(targets.coreSeconds, "s"),
        within(core.median, targets.coreSeconds));
    const Spread streamed = spread(repeated([&] {
        QFile::remove(streamedFile);
        return runStreamed(workload, streamedFile).seconds;
    }));
    table.add(run, "core: streamed file", streamed, secondsText, bound(targets.coreSeconds, "s"),
        within(streamed.median, targets.coreSeconds));
    table.add(run, "end to end: window", endToEnd, secondsText, bound(targets.endToEndSeconds, "s"),
        within(endToEnd.median, targets.endToEndSeconds));
    table.add(run, "peak memory", peak, megabytesText, bound(targets.peakMegabytes, "MB"),
        within(peak.max, targets.peakMegabytes));
    const double perLine = peak.median * 1e6 / static_cast<double>(lines);
    // Below a million lines the window's own memory outweighs the lines'.
    if (lines >= 1'000'000) {
        const bool compared = targets.perLineAtMostFirst;
        table.add(run, "peak memory per line", bytesText(perLine), {}, {},
            compared ? "<= " + Workloads[0].name + " " + bytesText(firstPerLine) : QString(),
            compared ? std::optional<bool>(perLine <= firstPerLine) : std::nullopt);
    }

    // At the limit the peer runs once, for its file: five more runs would cost
    // half a minute.
    const Spread peer = spread(workload.peerOnce
            ? std::vector<double> {runPeer(python, peerScript, workload, peerFile)}
            : repeated([&] { return runPeer(python, peerScript, workload, peerFile); }));
    table.add(run, workload.peerOnce ? "peer: Python, 1 run" : "peer: Python", peer, secondsText);
    const double ratio = peer.median / core.median;
    table.add(run, "peer / core", QString::number(ratio, 'f', 1) + "x", {}, {},
        targets.peerRatio > 0 ? QStringLiteral(">= %1x").arg(targets.peerRatio) : QString(),
        targets.peerRatio > 0 ? std::optional<bool>(ratio >= targets.peerRatio) : std::nullopt);
    const bool same = sameBytes(coreFile, peerFile) && sameBytes(windowFile, peerFile)
        && sameBytes(streamedFile, peerFile);
    table.add(run, "core, streamed and window files = peer's (cmp)",
        same ? "identical" : "DIFFERENT", {}, {}, "identical", same);
    for (const QString &file : {coreFile, windowFile, peerFile, streamedFile})
        QFile::remove(file);
    return perLine;
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
    Table table;
    double firstPerLine = 0;
    for (size_t index = 0; index < Workloads.size(); ++index) {
        const double perLine
            = measure(table, index, QDir(folder.path()), python, peerScript, firstPerLine);
        if (index == 0)
            firstPerLine = perLine;
    }
    std::printf("Kelvaro benchmark: median, min and max of %d runs after a warm-up\n", Repetitions);
    table.print();
    std::printf("core: planRun, BuildLines and writeRecordFile, no window. streamed: planRun, "
                "RecordStream and streamRecordFile, as a printed run of any size is written. end "
                "to end: the real "
                "window (offscreen) from the click on Do IT until the Container holds every "
                "line, the file written. peak memory: that window process's VmHWM. peer: the "
                "whole python3 process. Files in %s. Measured in %.0f s.\n",
        qPrintable(base), secondsSince(begin));
}

// A run far beyond the Container: 100,000,000 lines of three counters, a
// 3.4 GB file, streamed into the build folder beside dd writing as many bytes
// there. One large file at a time, each removed before the next.
const Workload Large = {"L", {{0, 999, 4}, {0, 999, 4}, {0, 99, 3}}, {}, false, false,
    {"Serial number ", "-", "-", " ok"}};
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

QString rateText(double megabytesPerSecond)
{
    return QString::number(megabytesPerSecond, 'f', 0) + " MB/s";
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
    const RunSettings settings = settingsOf(workload);
    RunModule module;
    module.NewLine = "\r\n";
    module.ReadCounterCount(settings.counterOptions);
    const RunPlan plan = std::get<RunPlan>(module.planRun(settings));
    StreamingWrite write(
        path, std::move(*RecordStream::create(plan, module.CounterCount)), plan.fileBytes);
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
    const long long idleKilobytes = peakKilobytes();
    const QDir folder(folderPath);
    const QString path = folder.filePath(QStringLiteral("kelvaro-large.CTF"));
    const RunSettings settings = settingsOf(Large);
    RunModule module;
    module.NewLine = "\r\n";
    module.ReadCounterCount(settings.counterOptions);
    const RunPlan plan = std::get<RunPlan>(module.planRun(settings));
    const qint64 free = QStorageInfo(folderPath).bytesAvailable();
    if (free < plan.fileBytes + (int64_t(2) << 30)) {
        throw Failure(
            QStringLiteral("%1 has %L2 bytes free; the large run needs %L3 and 2 GiB more")
                .arg(folderPath)
                .arg(free)
                .arg(plan.fileBytes));
    }

    Table table;
    const QString run = QStringLiteral("%1 %L2 lines").arg(Large.name).arg(plan.lineCount);
    table.add(run, "file size",
        QString::number(static_cast<double>(plan.fileBytes) / 1e9, 'f', 2) + " GB");
    const Spread streamed
        = spread(megabytesPerSecond(path, [&] { return runStreamed(Large, path); }));
    const Spread dd
        = spread(megabytesPerSecond(path, [&] { return runDd(path, plan.fileBytes, true); }));
    const double ratio = streamed.median / dd.median;
    table.add(run, "streamed file, committed (fsync)", streamed, rateText);
    table.add(run, "dd bs=1M conv=fsync, same size and folder", dd, rateText);
    table.add(run, "streamed / dd, with fsync", QString::number(ratio * 100, 'f', 0) + " %", {}, {},
        ">= 80 %", ratio >= 0.8);
    const Spread plain
        = spread(megabytesPerSecond(path, [&] { return runStreamed(Large, path, true); }));
    const Spread ddPlain
        = spread(megabytesPerSecond(path, [&] { return runDd(path, plan.fileBytes, false); }));
    table.add(run, "streamed into a plain file, no fsync", plain, rateText);
    table.add(run, "dd bs=1M, no fsync", ddPlain, rateText);
    table.add(run, "streamed / dd, no fsync",
        QString::number(plain.median / ddPlain.median * 100, 'f', 0) + " %");
    const double peakMegabytes = static_cast<double>(peakKilobytes() - idleKilobytes) * 1024 / 1e6;
    table.add(run, "peak memory of the process (VmHWM)",
        megabytesText(static_cast<double>(peakKilobytes()) * 1024 / 1e6));
    table.add(run, "peak memory above the idle process", megabytesText(peakMegabytes), {}, {},
        "<= 100 MB", peakMegabytes <= 100);

    std::vector<double> firstProgress;
    std::vector<double> cancelAnswered;
    for (int i = 0; i < LargeRepetitions; ++i) {
        sync();
        const Responsiveness figures = measureCancel(Large, path);
        firstProgress.push_back(figures.firstProgress);
        cancelAnswered.push_back(figures.cancelAnswered);
    }
    table.add(run, "first progress after start", spread(firstProgress), millisecondsText,
        "<= 500 ms", spread(firstProgress).median <= 0.5);
    table.add(run, "Cancel answered, half a second in", spread(cancelAnswered), millisecondsText,
        "<= 200 ms", spread(cancelAnswered).median <= 0.2);

    // A run whose file no disk holds: 65,536^3 lines.
    RunSettings huge = settings;
    for (CounterPanel &panel : huge.panels) {
        panel.start = QStringLiteral("-32768");
        panel.end = QStringLiteral("32767");
    }
    const Spread refusal = spread(repeated([&] {
        const Clock::time_point start = Clock::now();
        const RunPlan hugePlan = std::get<RunPlan>(module.planRun(huge));
        if (!spaceRefusal(path, hugePlan.fileBytes) || QFile::exists(path))
            throw Failure(QStringLiteral("a file larger than the disk was not refused"));
        return secondsSince(start);
    }));
    table.add("65,536^3 lines", "refused for free space", refusal, millisecondsText, "< 10 ms",
        refusal.median < 0.010);

    std::printf("Kelvaro large-run benchmark: median, min and max of %d runs\n", LargeRepetitions);
    table.print();
    std::printf("streamed: planRun, RecordStream and streamRecordFile through the save file, "
                "whose commit syncs the file to disk; dd writes as many bytes from /dev/zero in "
                "1 MiB blocks, with conv=fsync where compared with it. No fsync: the records "
                "written to a plain file and closed, beside dd without conv=fsync. Each write "
                "starts after sync, with the earlier file removed. Rates in decimal MB/s, whole "
                "process of dd included. First progress and Cancel: StreamingWrite polled as the "
                "window would, Cancel answered once the writer stopped and its file is gone. Files "
                "in %s, removed. Measured in %.0f s.\n",
        qPrintable(folderPath), secondsSince(begin));
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
