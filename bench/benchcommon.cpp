// SPDX-License-Identifier: GPL-3.0-or-later
// The workloads and the runs that the benchmark's sections share.
#include "benchcommon.h"

#include "recordfile.h"
#include "recordstream.h"
#include "testseams.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMessageBox>
#include <QTest>

#include <atomic>

namespace bench {

const std::array<QString, 4> StartUpFields
    = {"First Field ", " Second Field ", " Third Field ", " Fourth Field"};

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

std::variant<RunPlan, Refusal> plannedRun(RunModule &module, const RunSettings &settings)
{
    module.NewLine = "\r\n";
    module.ReadCounterCount(settings.counterOptions);
    return module.planRun(settings);
}

RunPlan acceptedRun(RunModule &module, const RunSettings &settings)
{
    std::variant<RunPlan, Refusal> plan = plannedRun(module, settings);
    if (const Refusal *refusal = std::get_if<Refusal>(&plan))
        throw Failure(QStringLiteral("planRun refused the run: ") + refusal->message);
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
    const std::variant<RunPlan, Refusal> plan = plannedRun(module, settings);
    if (std::holds_alternative<Refusal>(plan))
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

void setUpWindow(const Main &window, const Workload &workload)
{
    setCounters(window, workload.counters);
    // "print to file" is ticked at start-up; the run relies on it.
    if (!window.findChild<QCheckBox *>(QStringLiteral("Check3"))->isChecked())
        throw Failure(QStringLiteral("print to file is not ticked"));
}

ShownWindow::ShownWindow(const QString &savePath)
{
    MainForTests::commonDialog(window).setPresenter([this, savePath](const CommonDialog &) {
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

} // namespace bench
