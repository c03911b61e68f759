// SPDX-License-Identifier: GPL-3.0-or-later
// Progress of a run's file, polled from its writer.
#include "runprogress.h"

#include "streamingwrite.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QShortcut>
#include <QTimer>
#include <QTimerEvent>

#include <cmath>

namespace {

constexpr int PollMs = 100;
// The bar counts in thousandths: the run's bytes do not fit an int.
constexpr int Steps = 1000;

QString duration(double seconds)
{
    const long long whole = std::llround(seconds);
    if (whole < 60)
        return RunProgress::tr("%1 s").arg(whole);
    if (whole < 3600)
        return RunProgress::tr("%1 min %2 s").arg(whole / 60).arg(whole % 60);
    return RunProgress::tr("%1 h %2 min").arg(whole / 3600).arg(whole % 3600 / 60);
}

} // namespace

RunProgress::RunProgress(StreamingWrite &write, const QString &path, QWidget *parent)
    : QProgressDialog(parent)
    , m_write(write)
    , m_path(path)
{
    setObjectName(QStringLiteral("RunProgress"));
    setWindowTitle(tr("Kelvaro"));
    setWindowModality(Qt::WindowModal);
    setRange(0, Steps);
    setMinimumDuration(0);
    setAutoClose(false);
    setAutoReset(false);
    // Cancel only asks; the dialog stays until the writer says it has stopped.
    disconnect(this, &QProgressDialog::canceled, nullptr, nullptr);
    connect(this, &QProgressDialog::canceled, this, [this] {
        m_write.cancel();
        if (m_write.isFinishing())
            showFinishing();
        else
            setLabelText(tr("Stopping…"));
    });
    // QProgressDialog's Escape closes it at once, leaving the window's thread
    // to wait for the writer; here it asks, as Cancel does.
    for (QShortcut *escape : findChildren<QShortcut *>()) {
        disconnect(escape, nullptr, this, nullptr);
        connect(escape, &QShortcut::activated, this, &QProgressDialog::canceled);
    }
    connect(&m_write, &StreamingWrite::finished, this, &QDialog::accept);
    m_clock.start();
    refresh();
}

void RunProgress::runUntilFinished()
{
    if (m_write.isFinished())
        return;
    m_poll.start(PollMs, this);
    exec();
    m_poll.stop();
}

void RunProgress::reject()
{
    emit canceled();
}

void RunProgress::showFinishing()
{
    setValue(Steps);
    setLabelText(tr("Finishing %1\nEvery line is written; the disk is confirming them, which "
                    "cannot be cut short. Kelvaro says how the save ended as soon as it has.")
                     .arg(QDir::toNativeSeparators(QFileInfo(m_path).fileName())));
}

void RunProgress::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_poll.timerId())
        refresh();
    else
        QProgressDialog::timerEvent(event);
}

void RunProgress::refresh()
{
    if (m_write.isFinishing()) {
        showFinishing();
        return;
    }
    if (wasCanceled())
        return;
    const QLocale locale;
    const auto done = static_cast<double>(m_write.bytesDone());
    const auto total = static_cast<double>(std::max<int64_t>(1, m_write.fileBytes()));
    setValue(static_cast<int>(done / total * Steps));
    const double seconds = static_cast<double>(m_clock.elapsed()) / 1000;
    const double rate = seconds > 0 ? done / seconds : 0;
    const QString left = rate > 0 ? duration((total - done) / rate) : tr("not known yet");
    setLabelText(
        tr("Writing %1\n%L2 of %L3 lines, %4 of %5\n%6/s, about %7 left")
            .arg(QDir::toNativeSeparators(QFileInfo(m_path).fileName()))
            .arg(m_write.linesDone())
            .arg(m_write.lineCount())
            .arg(locale.formattedDataSize(m_write.bytesDone(), 1, QLocale::DataSizeSIFormat),
                locale.formattedDataSize(m_write.fileBytes(), 1, QLocale::DataSizeSIFormat),
                locale.formattedDataSize(static_cast<qint64>(rate), 1, QLocale::DataSizeSIFormat),
                left));
}

WriteResult writeShowingProgress(
    const QString &path, RecordStream records, int64_t fileBytes, int delayMs, QWidget *parent)
{
    StreamingWrite write(path, std::move(records), fileBytes);
    // A short write ends before anyone could see a dialog.
    QEventLoop quickEnd;
    QObject::connect(&write, &StreamingWrite::finished, &quickEnd, &QEventLoop::quit);
    QTimer patience;
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, &quickEnd, &QEventLoop::quit);
    write.start();
    patience.start(delayMs);
    // The writer's end arrives through this thread's events, so the loop hears
    // it however soon the writer is done.
    quickEnd.exec(QEventLoop::ExcludeUserInputEvents);
    if (!write.isFinished()) {
        // The dialog's Cancel needs the usual pointer.
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        RunProgress progress(write, path, parent);
        progress.runUntilFinished();
        QGuiApplication::restoreOverrideCursor();
    }
    write.wait();
    return write.result();
}
