// SPDX-License-Identifier: GPL-3.0-or-later
// Streaming a run's records into its file.
#include "recordfile.h"

#include "filereplacement.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <algorithm>
#include <vector>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RecordFile", text);
}

} // namespace

void WriteProgress::advance(int64_t lines, int64_t bytes)
{
    m_lines.store(lines, std::memory_order_relaxed);
    m_bytes.store(bytes, std::memory_order_relaxed);
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
    return cancel.load(std::memory_order_relaxed) ? WriteOutcome::Cancelled : WriteOutcome::Written;
}

WriteResult streamRecordFile(const QString &path, RecordStream &records, int64_t fileBytes,
    const std::atomic<bool> &cancel, WriteProgress &progress)
{
    if (cancel.load())
        return {WriteOutcome::Cancelled, {}, FileReplacement::untouched(path)};
    if (const std::optional<QString> refusal = spaceRefusal(path, fileBytes))
        return {WriteOutcome::Failed, *refusal, FileReplacement::untouched(path)};
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
    if (const std::optional<QString> reason = file.commit())
        return {WriteOutcome::Failed, *reason, file.whatWasLeft()};
    return {WriteOutcome::Written, {}, {}};
}

std::optional<qint64> freeBytesFor(const QString &path)
{
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    const QStorageInfo storage(folder);
    if (!storage.isValid())
        return std::nullopt;
    return storage.bytesAvailable();
}

std::optional<QString> spaceRefusal(const QString &path, qint64 fileBytes)
{
    const std::optional<qint64> free = freeBytesFor(path);
    if (!free || fileBytes <= *free)
        return std::nullopt;
    // In decimal units, as disks are sold and as file managers show free space;
    // with more digits where one would make both sizes read the same.
    const QLocale locale;
    QString needed;
    QString available;
    for (int precision = 1; precision <= 3 && needed == available; ++precision) {
        needed = locale.formattedDataSize(fileBytes, precision, QLocale::DataSizeSIFormat);
        available = locale.formattedDataSize(*free, precision, QLocale::DataSizeSIFormat);
    }
    return tr("The file needs %1; the disk that holds %2 has %3 free. Nothing was written. Free "
              "some space, choose another folder, or make the run smaller.")
        .arg(needed, QDir::toNativeSeparators(QFileInfo(path).absolutePath()), available);
}
