// SPDX-License-Identifier: GPL-3.0-or-later
// The worker thread of a streamed run.
#include "streamingwrite.h"

#include <utility>

StreamingWrite::WriterHook &StreamingWrite::writerHook()
{
    static WriterHook hook;
    return hook;
}

void StreamingWrite::Progress::advance(int64_t lines, int64_t bytes)
{
    WriteProgress::advance(lines, bytes);
    if (writerHook())
        writerHook()(false);
}

void StreamingWrite::Progress::startFinishing()
{
    WriteProgress::startFinishing();
    if (writerHook())
        writerHook()(true);
}

StreamingWrite::StreamingWrite(
    QString path, RecordStream records, int64_t fileBytes, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_records(std::move(records))
    , m_lineCount(m_records.lineCount())
    , m_fileBytes(fileBytes)
{ }

StreamingWrite::~StreamingWrite()
{
    cancel();
    wait();
}

void StreamingWrite::start()
{
    if (m_thread.joinable() || isFinished())
        return;
    m_thread = std::thread([this] {
        m_result = streamRecordFile(m_path, m_records, m_fileBytes, m_cancel, m_progress);
        m_finished.store(true, std::memory_order_release);
        // Told through the event loop of the object's own thread; a queued call
        // to an object that is gone is dropped with it.
        QMetaObject::invokeMethod(this, &StreamingWrite::finishInOwnThread, Qt::QueuedConnection);
    });
}

void StreamingWrite::finishInOwnThread()
{
    wait();
    emit finished();
}

void StreamingWrite::cancel()
{
    m_cancel.store(true);
}

void StreamingWrite::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
