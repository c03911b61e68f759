// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the records of a run through QSaveFile, in large chunks.
#include "recordfile.h"

#include "codepage.h"
#include "linebuffer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr size_t ChunkSize = size_t(1) << 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("RecordFile", text);
}

} // namespace

bool appendRecord(std::string &out, std::string_view line)
{
    const size_t before = out.size();
    out += '"';
    if (!appendAnsi(out, line)) {
        out.resize(before);
        return false;
    }
    out += "\"\r\n";
    return true;
}

std::optional<QString> writeRecordFile(const QString &path, const LineBuffer &lines)
{
    // Qt would cut the name at the NUL and write to another file, reporting success.
    if (path.contains(QChar(0)))
        return tr("The name holds a NUL character, which no file name may hold.");
    // Refused even where the system would let us (as root, say): whoever took the
    // write permission away did not mean the file to be replaced.
    const QFileInfo existing(path);
    if (existing.isFile() && !existing.permissions().testFlag(QFileDevice::WriteOwner))
        return tr("The file is read-only.");

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // A full disk takes part of a write and reports only the shorter count;
    // asked for the rest, the system says why. QSaveFile would otherwise commit
    // the truncated file over the old one.
    auto writeAll = [&file](const std::string &bytes) {
        const char *data = bytes.data();
        auto left = static_cast<qint64>(bytes.size());
        while (left > 0) {
            const qint64 written = file.write(data, left);
            if (written <= 0)
                return false;
            data += written;
            left -= written;
        }
        return true;
    };
    auto fail = [&file](const QString &reason) {
        file.cancelWriting();
        return std::optional<QString>(reason);
    };

    std::string chunk;
    chunk.reserve(ChunkSize + 4096);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!appendRecord(chunk, lines.line(i)))
            return fail(
                tr("Line %1 holds a character that Windows-1252 cannot represent.").arg(i + 1));
        if (chunk.size() >= ChunkSize) {
            if (!writeAll(chunk))
                return fail(file.errorString());
            chunk.clear();
        }
    }
    if (!writeAll(chunk))
        return fail(file.errorString());
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}
