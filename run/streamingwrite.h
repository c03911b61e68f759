// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a run's file on a thread of its own, so that the window stays alive.
#pragma once

#include "recordfile.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

// One run's file, written by a worker thread from start() on. The thread that
// made the object (the window's) polls linesDone() and bytesDone() as often as
// it likes, may call cancel() at any time, and hears finished() through its
// event loop, after which result() holds the ending. Without an event loop,
// wait() returns once the file is written, cancelled or failed.
//
// Whatever the ending other than Written, the old file is whole and no
// temporary file is left. Destroying the object cancels and waits.
class StreamingWrite : public QObject
{
    Q_OBJECT

public:
    StreamingWrite(
        QString path, RecordStream records, int64_t fileBytes, QObject *parent = nullptr);
    ~StreamingWrite() override;
    StreamingWrite(const StreamingWrite &) = delete;
    StreamingWrite &operator=(const StreamingWrite &) = delete;

    void start();
    // Safe from any thread; the writer stops before its next chunk, a
    // megabyte at most later.
    void cancel();
    void wait();
    bool isFinished() const { return m_finished.load(std::memory_order_acquire); }
    // Every line is written and the disk is confirming them; a cancel now
    // ends only once it has.
    bool isFinishing() const { return m_progress.finishing(); }

    int64_t lineCount() const { return m_lineCount; }
    int64_t fileBytes() const { return m_fileBytes; }
    int64_t linesDone() const { return m_progress.lines(); }
    int64_t bytesDone() const { return m_progress.bytes(); }
    // The ending; only once isFinished().
    const WriteResult &result() const { return m_result; }

signals:
    void finished();

private:
    // Called on every writing thread after each chunk (false) and once the
    // file is being finished (true): where a test stands in for a slow disk,
    // a crash or another program. Set before a write starts.
    friend class StreamingWriteForTests;
    using WriterHook = std::function<void(bool finishing)>;
    static WriterHook &writerHook();

    void finishInOwnThread();

    QString m_path;
    RecordStream m_records;
    int64_t m_lineCount;
    int64_t m_fileBytes;
    std::atomic<bool> m_cancel {false};
    std::atomic<bool> m_finished {false};
    class Progress : public WriteProgress
    {
    public:
        void advance(int64_t lines, int64_t bytes) override;
        void startFinishing() override;
    };

    Progress m_progress;
    WriteResult m_result;
    std::thread m_thread;
};
