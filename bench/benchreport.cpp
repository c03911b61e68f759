// SPDX-License-Identifier: GPL-3.0-or-later
// Clocks, child processes, their figures, medians and tables.
#include "benchreport.h"

#include "watchdog.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace bench {

const char *const TimedOut = ">";

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QByteArray runChild(
    const QStringList &arguments, const QProcessEnvironment &environment, int timeoutMs)
{
    return runProgram(QCoreApplication::applicationFilePath(), arguments, environment, timeoutMs);
}

QByteArray runProgram(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(program, arguments);
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

Platform offscreen()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return {QStringLiteral("offscreen"), environment};
}

Platform x11(const QString &display)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return {QStringLiteral("X11"), environment};
}

void report(const char *key, double figure)
{
    std::printf("%s %.6f\n", key, figure);
    std::fflush(stdout);
}

void reportTimedOut(const char *key)
{
    std::printf("%s %s\n", key, TimedOut);
    std::fflush(stdout);
}

Figures figuresOf(const QByteArray &output)
{
    Figures figures;
    for (const QByteArray &line : output.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0)
            figures.insert(line.left(space), line.mid(space + 1));
    }
    return figures;
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

MedianFigure medianFigure(const std::vector<Figures> &passes, const char *key, int capSeconds,
    long long memoryCapKilobytes)
{
    std::vector<double> values;
    for (const Figures &figures : passes) {
        const QByteArray figure = figures.value(key);
        if (figure == TimedOut)
            return {std::nullopt, QStringLiteral("> %1 s").arg(capSeconds)};
        if (figure == OverMemory) {
            return {std::nullopt,
                QStringLiteral("> %1 GB").arg(double(memoryCapKilobytes) * 1024 / 1e9, 0, 'f', 1)};
        }
        if (!figure.isEmpty())
            values.push_back(figure.toDouble());
    }
    if (values.empty())
        return {};
    return {spread(values).median, QString()};
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
