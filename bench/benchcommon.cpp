// SPDX-License-Identifier: GPL-3.0-or-later
// The workloads, the window steps and the table that the benchmark's sections share.
#include "benchcommon.h"

#include "recordfile.h"
#include "recordstream.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>

namespace bench {

const std::array<QString, 4> StartUpFields
    = {"First Field ", " Second Field ", " Third Field ", " Fourth Field"};

namespace {

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

} // namespace

const std::vector<Workload> Workloads = {
    {"W1", {{0, 99, 0}, {0, 99, 0}, {0, 99, 0}}, {0.15, 10, 1.5, 600, false}},
    {"W2", {{-32768, 32767, 6}}, {}},
    {"W3", {{1, 2000, 0}, {1, 2500, 0}}, {0, 0, 8, 3000, true}},
    {"W4", {{1, 125, 0}, {-32768, 31231, 0}}, {0, 0, 8, 3000, false}, true},
};

const Workload &atLimit()
{
    return Workloads[3];
}

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

std::variant<RunPlan, QString> plannedRun(RunModule &module, const RunSettings &settings)
{
    module.NewLine = "\r\n";
    module.ReadCounterCount(settings.counterOptions);
    return module.planRun(settings);
}

RunPlan acceptedRun(RunModule &module, const RunSettings &settings)
{
    std::variant<RunPlan, QString> plan = plannedRun(module, settings);
    if (const QString *refusal = std::get_if<QString>(&plan))
        throw Failure(QStringLiteral("planRun refused the run: ") + *refusal);
    return std::get<RunPlan>(std::move(plan));
}

RecordStream recordsOf(const RunPlan &plan, const RunModule &module)
{
    std::optional<RecordStream> records = RecordStream::create(plan, module.CounterCount);
    if (!records)
        throw Failure(QStringLiteral("a field has no Windows-1252 byte"));
    return std::move(*records);
}

double runCore(const Workload &workload, const QString &path)
{
    const RunSettings settings = settingsOf(workload);
    RunModule module;
    const Clock::time_point start = Clock::now();
    const std::variant<RunPlan, QString> plan = plannedRun(module, settings);
    if (std::holds_alternative<QString>(plan))
        throw Failure(workload.name + ": planRun refused the run");
    const RunPlan &accepted = std::get<RunPlan>(plan);
    module.BuildLines(accepted);
    const WriteResult written
        = RunModule::writeFile(path, recordsOf(accepted, module), accepted.fileBytes);
    if (written.outcome != WriteOutcome::Written)
        throw Failure(workload.name + ": " + written.reason);
    const double seconds = secondsSince(start);
    if (module.LineList->lineCount() != lineCount(workload))
        throw Failure(workload.name + ": wrong number of lines");
    return seconds;
}

Written runStreamed(const Workload &workload, const QString &path, bool plainFile)
{
    const RunSettings settings = settingsOf(workload);
    RunModule module;
    const Clock::time_point start = Clock::now();
    const RunPlan plan = acceptedRun(module, settings);
    RecordStream records = recordsOf(plan, module);
    const std::atomic<bool> cancel {false};
    WriteProgress progress;
    bool written = false;
    if (plainFile) {
        QFile file(path);
        written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
            && streamRecords(
                   records,
                   [&file](const char *data, size_t size) {
                       return file.write(data, static_cast<qint64>(size))
                           == static_cast<qint64>(size);
                   },
                   cancel, progress)
                == WriteOutcome::Written;
    } else {
        written = streamRecordFile(path, records, plan.fileBytes, cancel, progress).outcome
            == WriteOutcome::Written;
    }
    if (!written || progress.bytes() != plan.fileBytes)
        throw Failure(workload.name + ": the streamed file was not written");
    return {secondsSince(start), plan.fileBytes};
}

void clickIndicator(const Main &window, const QString &name)
{
    auto *button = visibleControl<QAbstractButton>(window, name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(7, button->height() / 2));
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

ShownWindow::ShownWindow(const QString &savePath)
{
    window.CommonDialog1.setPresenter([this, savePath](const CommonDialog &) {
        ++dialogs;
        return std::optional<QString>(savePath);
    });
    // A message box runs its own event loop; this closes it from inside that loop.
    QObject::connect(&m_closer, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            messages << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    m_closer.start(0);
    window.show();
    if (!QTest::qWaitForWindowActive(&window))
        throw Failure(QStringLiteral("the window did not become active"));
}

QByteArray runChild(
    const QStringList &arguments, const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(timeoutMs) || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() != 0) {
        child.kill();
        child.waitForFinished();
        throw Failure(
            QStringLiteral("%1 failed:\n%2")
                .arg(arguments.join(' '), QString::fromLocal8Bit(child.readAllStandardError())));
    }
    return child.readAllStandardOutput();
}

long long statusKilobytes(const char *field)
{
    const std::string key = std::string(field) + ':';
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0)
            return std::stoll(line.substr(key.size()));
    }
    throw Failure(QStringLiteral("no %1 in /proc/self/status").arg(QLatin1String(field)));
}

Spread spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    const double median
        = values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {median, values.front(), values.back()};
}

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

QString rateText(double megabytesPerSecond)
{
    return QString::number(megabytesPerSecond, 'f', 0) + " MB/s";
}

QString yesNo(std::optional<bool> met)
{
    return met ? (*met ? "yes" : "NO") : QString();
}

std::optional<bool> within(double value, double bound)
{
    return bound > 0 ? std::optional<bool>(value <= bound) : std::nullopt;
}

QString bound(double value, const char *unit)
{
    return value > 0 ? QStringLiteral("<= %1 %2").arg(value).arg(QLatin1String(unit)) : QString();
}

Table::Table(QStringList header)
    : m_rows {std::move(header)}
{ }

void Table::add(QStringList row)
{
    m_rows.push_back(std::move(row));
}

void Table::print() const
{
    std::vector<qsizetype> widths;
    for (const QStringList &row : m_rows) {
        widths.resize(std::max(widths.size(), size_t(row.size())));
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[size_t(column)] = std::max(widths[size_t(column)], row[column].size());
    }
    for (const QStringList &row : m_rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column)
            line += row[column].leftJustified(widths[size_t(column)] + 2);
        std::printf("%s\n", qPrintable(line.trimmed()));
    }
}

} // namespace bench
