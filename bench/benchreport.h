// SPDX-License-Identifier: GPL-3.0-or-later
// How the benchmark measures and prints: clocks, child processes and the
// figures they print, medians, and the tables the figures go into.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

struct Failure : std::runtime_error
{
    explicit Failure(const QString &what)
        : std::runtime_error(what.toStdString())
    { }
};

double secondsSince(Clock::time_point start);

// Runs this benchmark program again with arguments and returns what it
// printed; fails unless it ends well within timeoutMs.
QByteArray runChild(
    const QStringList &arguments, const QProcessEnvironment &environment, int timeoutMs);
// The same with another program.
QByteArray runProgram(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment, int timeoutMs);

// Where a child shows its window: the platform's name and the child's environment.
struct Platform
{
    QString name;
    QProcessEnvironment environment;
};

Platform offscreen();
// The X server display names, its window manager running.
Platform x11(const QString &display);

// A child prints its figures as "key figure" lines, each as soon as it is
// measured: a child cut short keeps the figures it had. TimedOut stands for a
// figure cut short.
extern const char *const TimedOut;
void report(const char *key, double figure);
void reportTimedOut(const char *key);

// What one child printed, by key: each line's first word, and the rest.
using Figures = QMap<QByteArray, QByteArray>;
Figures figuresOf(const QByteArray &output);

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

// The median of key's figures over a row's passes, or the text of the cap
// that cut a pass short ("> 60 s", "> 4.0 GB"); neither when no pass reached
// key.
struct MedianFigure
{
    std::optional<double> median;
    QString cutShort;
};
MedianFigure medianFigure(const std::vector<Figures> &passes, const char *key, int capSeconds,
    long long memoryCapKilobytes);

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
