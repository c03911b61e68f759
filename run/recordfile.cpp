// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the records of a run, in large chunks.
#include "recordfile.h"

#include "codepage.h"
#include "filereplacement.h"
#include "linebuffer.h"

#include <QCoreApplication>

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
