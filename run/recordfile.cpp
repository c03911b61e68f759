// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the records of a run through QSaveFile, in large chunks.
#include "recordfile.h"

#include "codepage.h"
#include "linebuffer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStorageInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RecordFile", text);
}

} // namespace

bool appendRecord(std::string &out, std::string_view line)
{
    const size_t before = out.size();
    out += RecordOpen;
    if (!appendAnsi(out, line)) {
        out.resize(before);
        return false;
    }
    out += RecordClose;
    return true;
}

RecordFile::RecordFile() = default;

RecordFile::~RecordFile()
{
    cancel();
}

std::optional<QString> RecordFile::open(const QString &path, qint64 exactSize)
{
    // Qt would cut the name at the NUL and write to another file, reporting success.
    if (path.contains(QChar(0)))
        return tr("The name holds a NUL character, which no file name may hold.");
    // Refused even where the system would let us (as root, say): whoever took the
    // write permission away did not mean the file to be replaced.
    const QFileInfo existing(path);
    if (existing.isFile() && !existing.permissions().testFlag(QFileDevice::WriteOwner))
        return tr("The file is read-only.");

    m_file = std::make_unique<QSaveFile>(path);
    m_expected = exactSize;
    m_written = 0;
    if (!m_file->open(QIODevice::WriteOnly)) {
        const QString reason = m_file->errorString();
        m_file.reset();
        return reason;
    }
    return std::nullopt;
}

bool RecordFile::write(const char *data, qint64 size)
{
    // A full disk takes part of a write and reports only the shorter count;
    // asked for the rest, the system says why. QSaveFile would otherwise commit
    // the truncated file over the old one.
    while (size > 0) {
        const qint64 written = m_file->write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
        m_written += written;
    }
    return true;
}

std::optional<QString> RecordFile::commit()
{
    // A file of another size than the run's is not the run's file; the old one stays.
    if (m_expected >= 0 && m_written != m_expected) {
        cancel();
        return tr("Kelvaro made %L1 bytes where the run has %L2; the file was not replaced.")
            .arg(m_written)
            .arg(m_expected);
    }
    const bool committed = m_file->commit();
    const QString reason = m_file->errorString();
    m_file.reset();
    if (!committed)
        return reason;
    return std::nullopt;
}

void RecordFile::cancel()
{
    if (!m_file)
        return;
    // The save file, once gone uncommitted, takes what it had written with it.
    m_file->cancelWriting();
    m_file.reset();
}

QString RecordFile::errorString() const
{
    return m_file ? m_file->errorString() : QString();
}

std::optional<QString> writeRecordFile(const QString &path, const LineBuffer &lines)
{
    RecordFile file;
    // The size of lines with characters beyond ASCII is known only once converted.
    if (std::optional<QString> reason = file.open(path, -1))
        return reason;
    auto fail = [&file](const QString &reason) {
        file.cancel();
        return std::optional<QString>(reason);
    };

    std::string chunk;
    chunk.reserve(RecordChunkSize + 4096);
    auto writeChunk = [&file, &chunk] {
        const bool written = file.write(chunk.data(), static_cast<qint64>(chunk.size()));
        chunk.clear();
        return written;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!appendRecord(chunk, lines.line(i)))
            return fail(
                tr("Line %1 holds a character that Windows-1252 cannot represent.").arg(i + 1));
        if (chunk.size() >= RecordChunkSize && !writeChunk())
            return fail(file.errorString());
    }
    if (!writeChunk())
        return fail(file.errorString());
    return file.commit();
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
