// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog that shows a long run's file being written, with Cancel.
#pragma once

#include "recordfile.h"
#include "recordstream.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QProgressDialog>

#include <cstdint>

class StreamingWrite;

// Modal over the window while the file is written: lines and bytes done, the
// rate and the time left, read from the writer a few times a second. Cancel,
// Escape and the close button ask the writer to stop; the dialog closes only
// once the writer has finished, however it ended, so the window's thread never
// waits for the disk.
class RunProgress : public QProgressDialog
{
    Q_OBJECT

public:
    RunProgress(StreamingWrite &write, const QString &path, QWidget *parent);

    // Shows the dialog until the writer has finished.
    void runUntilFinished();

public slots:
    void reject() override;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void refresh();
    void showFinishing();

    StreamingWrite &m_write;
    QString m_path;
    QBasicTimer m_poll;
    QElapsedTimer m_clock;
};

// Writes the run's records, fileBytes in all, to path on a thread of their own,
// and says how that ended. The window takes no input meanwhile, as during the
// rest of a run, and keeps painting; a write that takes longer than delayMs
// shows the progress dialog.
WriteResult writeShowingProgress(
    const QString &path, RecordStream records, int64_t fileBytes, int delayMs, QWidget *parent);
