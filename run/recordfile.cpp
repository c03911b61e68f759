// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the records of a run, in large chunks.
#include "recordfile.h"

#include "codepage.h"
#include "filereplacement.h"
#include "linebuffer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <variant>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RecordFile", text);
}

// The file's exact size, or the index of the first line without Windows-1252
// bytes: known before the old file is touched, which writing in place needs.
std::variant<qint64, size_t> recordFileSize(const LineBuffer &lines)
{
    // Two quotes, carriage return and line feed around every line.
    constexpr size_t Framing = 4;
    const std::string &text = lines.text();
    const size_t breaks = lines.size() * lines.newLine().size();
    if (isAscii(text))
        return static_cast<qint64>(text.size() - breaks + Framing * lines.size());
    qint64 size = 0;
    std::string record;
    for (size_t i = 0; i < lines.size(); ++i) {
        record.clear();
        if (!appendRecord(record, lines.line(i)))
            return i;
        size += static_cast<qint64>(record.size());
    }
    return size;
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

std::optional<WriteFailure> writeRecordFile(const QString &path, const LineBuffer &lines)
{
    const std::variant<qint64, size_t> size = recordFileSize(lines);
    if (const size_t *line = std::get_if<size_t>(&size)) {
        return WriteFailure {
            tr("Line %1 holds a character that Windows-1252 cannot represent.").arg(*line + 1),
            FileReplacement::untouched(path)};
    }
    FileReplacement file;
    if (const std::optional<QString> reason = file.open(path, std::get<qint64>(size)))
        return WriteFailure {*reason, file.whatWasLeft()};
    auto fail = [&file] {
        file.cancel();
        return std::make_optional(WriteFailure {file.errorString(), file.whatWasLeft()});
    };

    std::string chunk;
    chunk.reserve(RecordChunkSize + 4096);
    for (size_t i = 0; i < lines.size(); ++i) {
        // Every line has its bytes: recordFileSize read them all.
        appendRecord(chunk, lines.line(i));
        if (chunk.size() >= RecordChunkSize) {
            if (!file.write(chunk.data(), static_cast<qint64>(chunk.size())))
                return fail();
            chunk.clear();
        }
    }
    if (!file.write(chunk.data(), static_cast<qint64>(chunk.size())))
        return fail();
    if (const std::optional<QString> reason = file.commit())
        return WriteFailure {*reason, file.whatWasLeft()};
    return std::nullopt;
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
