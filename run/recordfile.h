// SPDX-License-Identifier: GPL-3.0-or-later
// The output file: a run's records streamed into it, a chunk at a time.
#pragma once

#include "recordstream.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

enum class WriteOutcome { Written, Cancelled, Failed };

// How writing a run's file ended.
struct WriteResult
{
    WriteOutcome outcome = WriteOutcome::Failed;
    // The system's reason for a failure; empty otherwise.
    QString reason;
    // What the path holds after a failure or cancel, to end a sentence: "the
    // file was left as it was", "no file was written", ...
    QString fileLeft;
    // Written, but with something the user should know, as sentences: a
    // cancel that came too late to keep the old contents, a set-ID bit the
    // file lost. Empty otherwise.
    QString notice = {};
};

// Files are written a megabyte or more at a time: no system call per line.
constexpr size_t RecordChunkSize = size_t(1) << 20;

// Lines and bytes written so far, read from any thread while another writes.
class WriteProgress
{
public:
    virtual ~WriteProgress() = default;
    int64_t lines() const { return m_lines.load(std::memory_order_relaxed); }
    int64_t bytes() const { return m_bytes.load(std::memory_order_relaxed); }
    // Called on the writing thread after each chunk, with the totals so far.
    virtual void advance(int64_t lines, int64_t bytes);
    // Every byte is written and the file is being finished: the disk is
    // confirming them, which a cancel cannot cut short.
    bool finishing() const { return m_finishing.load(std::memory_order_acquire); }
    // Called on the writing thread once, when that starts.
    virtual void startFinishing();

private:
    std::atomic<int64_t> m_lines {0};
    std::atomic<int64_t> m_bytes {0};
    std::atomic<bool> m_finishing {false};
};

// Hands every record to write in chunks of a megabyte or more, and reports
// progress after each. cancel is read between chunks, so a run stops within
// the time of one chunk. write returns false when it could not take a chunk.
WriteOutcome streamRecords(RecordStream &records,
    const std::function<bool(const char *, size_t)> &write, const std::atomic<bool> &cancel,
    WriteProgress &progress);

// Replaces the file at path with every record, fileBytes in all, the way
// FileReplacement decides. A run that is cancelled, fails or would not fit the
// disk leaves no other file behind, and the old file whole unless it had to be
// written in place (fileLeft then says what it holds). A cancel while the
// written file is synced still keeps the old file where it can; one written
// in place is finished and says so.
WriteResult streamRecordFile(const QString &path, RecordStream &records, int64_t fileBytes,
    const std::atomic<bool> &cancel, WriteProgress &progress);
