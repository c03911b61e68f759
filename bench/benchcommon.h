// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmark's sections share: the workloads, the steps a user takes
// in the window, and the table the figures go into.
#pragma once

#include "mainform.h"
#include "recordstream.h"
#include "runmodule.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <variant>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

constexpr int ChildTimeoutMs = 120'000;

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

struct Failure : std::runtime_error
{
    explicit Failure(const QString &what)
        : std::runtime_error(what.toStdString())
    { }
};

double secondsSince(Clock::time_point start);
int64_t lineCount(const Workload &workload);
// The settings the window would read once the workload's boxes are set.
RunSettings settingsOf(const Workload &workload);
// Reads the settings into module and plans the run, as "Do IT" does.
std::variant<RunPlan, QString> plannedRun(RunModule &module, const RunSettings &settings);
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

// Finds a control the way a user does: by looking at the window.
template<typename T>
T *visibleControl(const QWidget &window, const QString &name)
{
    auto *control = window.findChild<T *>(name);
    if (!control || !control->isVisible())
        throw Failure(QStringLiteral("no visible control %1").arg(name));
    return control;
}

// Sets the workload's counters in the window's boxes, as a user does.
void setUpWindow(const Main &window, const Workload &workload);
void clickIndicator(const Main &window, const QString &name);

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

// Runs this benchmark program again with arguments and returns what it
// printed; fails unless it ends well within timeoutMs.
QByteArray runChild(
    const QStringList &arguments, const QProcessEnvironment &environment, int timeoutMs);

// A field of /proc/self/status in kB (VmHWM, VmRSS). Read from the process
// itself: a parent's getrusage would count the memory the parent had when it forked.
long long statusKilobytes(const char *field);

struct Spread
{
    double median;
    double min;
    double max;
};

Spread spread(std::vector<double> values);

QString secondsText(double seconds);
QString microsecondsText(double seconds);
QString millisecondsText(double seconds);
QString megabytesText(double megabytes);
QString bytesText(double bytes);
// Decimal megabytes a second.
QString rateText(double megabytesPerSecond);
QString yesNo(std::optional<bool> met);
std::optional<bool> within(double value, double bound);
QString bound(double value, const char *unit);

// Columns padded to their widest cell, a header first.
class Table
{
public:
    explicit Table(QStringList header);
    void add(QStringList row);
    void print() const;

private:
    std::vector<QStringList> m_rows;
};

} // namespace bench
