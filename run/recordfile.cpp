// SPDX-License-Identifier: GPL-3.0-or-later
// Streaming a run's records into its file.
#include "recordfile.h"

#include "filereplacement.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <algorithm>
#include <vector>

void WriteProgress::advance(int64_t lines, int64_t bytes)
{
    m_lines.store(lines, std::memory_order_relaxed);
    m_bytes.store(bytes, std::memory_order_relaxed);
}

void WriteProgress::startFinishing()
{
    m_finishing.store(true, std::memory_order_release);
}

WriteOutcome streamRecords(RecordStream &records,
    const std::function<bool(const char *, size_t)> &write, const std::atomic<bool> &cancel,
    WriteProgress &progress)
{
    std::vector<char> chunk(std::max(RecordChunkSize, records.longestRecord()));
    int64_t bytes = 0;
    while (!records.atEnd()) {
        if (cancel.load(std::memory_order_relaxed))
            return WriteOutcome::Cancelled;
        const size_t size = records.fill(chunk.data(), chunk.size());
        if (size == 0 || !write(chunk.data(), size))
            return WriteOutcome::Failed;
        bytes += static_cast<int64_t>(size);
        progress.advance(records.recordsDone(), bytes);
    }
    return WriteOutcome::Written;
}

WriteResult streamRecordFile(const QString &path, RecordStream &records, int64_t fileBytes,
    const std::atomic<bool> &cancel, WriteProgress &progress)
{
    if (cancel.load())
        return {WriteOutcome::Cancelled, {}, FileReplacement::untouched(path)};
    FileReplacement file;
    if (const std::optional<QString> reason = file.open(path, fileBytes))
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    const WriteOutcome outcome = streamRecords(
        records,
        [&file](
            const char *data, size_t size) { return file.write(data, static_cast<qint64>(size)); },
        cancel, progress);
    if (outcome != WriteOutcome::Written) {
        const QString reason = outcome == WriteOutcome::Failed ? file.errorString() : QString();
        file.cancel();
        return {outcome, reason, file.whatWasLeft()};
    }
    progress.startFinishing();
    if (const std::optional<QString> reason = file.sync())
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    if (cancel.load() && file.canStillCancel()) {
        file.cancel();
        return {WriteOutcome::Cancelled, {}, file.whatWasLeft()};
    }
    if (const std::optional<QString> reason = file.commit())
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    // A cancel that came while the file was committed could not stop it either.
    QStringList notice;
    if (cancel.load()) {
        const QString shown = QDir::toNativeSeparators(path);
        notice << (file.isNewFile()
                ? QCoreApplication::translate("RunModule",
                    "Cancel came after the last line was written into %1, too late to stop "
                    "the save: it holds the new lines, whole.")
                      .arg(shown)
                : QCoreApplication::translate("RunModule",
                    "Cancel came after the last line was written into %1, too late to keep its "
                    "old contents: it holds the new lines, whole.")
                      .arg(shown));
    }
    if (!file.notice().isEmpty())
        notice << file.notice();
    return {WriteOutcome::Written, {}, {}, notice.join(QLatin1Char(' '))};
}
