// SPDX-License-Identifier: GPL-3.0-or-later
// The output file: a run's records streamed into it, a chunk at a time.
#pragma once

#include "recordstream.h"
#include "runplan.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

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

private:
    std::atomic<int64_t> m_lines {0};
    std::atomic<int64_t> m_bytes {0};
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
// written in place (fileLeft then says what it holds).
WriteResult streamRecordFile(const QString &path, RecordStream &records, int64_t fileBytes,
    const std::atomic<bool> &cancel, WriteProgress &progress);

// The bytes free to this user on the file system that holds path's folder;
// nothing when that folder does not exist.
std::optional<qint64> freeBytesFor(const QString &path);

// The message when a file of fileBytes would not fit beside the file at path,
// with both sizes; nothing when it fits or the folder cannot be looked at (the
// write then gives the system's reason). A file that is replaced keeps its
// space until the new one is whole, so the free space counts as it is now.
std::optional<QString> spaceRefusal(const QString &path, qint64 fileBytes);
