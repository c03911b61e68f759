// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmark's sections share: the workloads, the runs made without
// the window, and the real window set up for a workload.
#pragma once

#include "benchreport.h"
#include "mainform.h"
#include "recordstream.h"
#include "runmodule.h"
#include "windowsteps.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <variant>
#include <vector>

namespace bench {

constexpr int ChildTimeoutMs = 120'000;

// The bounds a workload should stay within; 0 where there is none.
struct Targets
{
    double coreSeconds = 0;
    double peerRatio = 0;
    double endToEndSeconds = 0;
    double peakMegabytes = 0;
    bool perLineAtMostFirst = false;
};

// The fields as the window shows them at start-up.
extern const std::array<QString, 4> StartUpFields;

struct Workload
{
    QString name;
    std::vector<Counter> counters;
    Targets targets;
    bool peerOnce = false;
    std::array<QString, 4> fields = StartUpFields;
};

extern const std::vector<Workload> Workloads;
// Eight million lines: the largest run the Container took when it held the run's text.
const Workload &atLimit();

int64_t lineCount(const Workload &workload);
// The settings the window would read once the workload's boxes are set.
RunSettings settingsOf(const Workload &workload);
// Reads the settings into module and plans the run, as "Do IT" does.
std::variant<RunPlan, Refusal> plannedRun(RunModule &module, const RunSettings &settings);
// The same, failing when planRun refuses the run.
RunPlan acceptedRun(RunModule &module, const RunSettings &settings);
// The run's records, made on the fly; fails when a field has no Windows-1252 byte.
RecordStream recordsOf(const RunPlan &plan, const RunModule &module);

// The run without a window: planRun, BuildLines and its file, as the window writes it.
double runCore(const Workload &workload, const QString &path);

struct Written
{
    double seconds;
    int64_t bytes;
};

// The run as a printed run of any size is written: measured, then its records
// streamed through the save file, whose commit syncs the file to disk. With
// plainFile, into a plain file closed without fsync instead: what making the
// records and handing them to the system cost, as dd without fsync would.
Written runStreamed(const Workload &workload, const QString &path, bool plainFile = false);

// Sets the workload's counters in the window's boxes, as a user does.
void setUpWindow(const Main &window, const Workload &workload);

// The real window, shown and active. Its Save dialog answers with savePath at
// once; its message boxes are closed as they open, their texts kept.
class ShownWindow
{
public:
    explicit ShownWindow(const QString &savePath);

    Main window;
    int dialogs = 0;
    QStringList messages;

private:
    QTimer m_closer;
};

} // namespace bench
