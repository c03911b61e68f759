// SPDX-License-Identifier: GPL-3.0-or-later
// The output file: one double-quoted Windows-1252 record per line.
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class LineBuffer;
class QSaveFile;

// What stands before and after a line's bytes in its record.
constexpr std::string_view RecordOpen = "\"";
constexpr std::string_view RecordClose = "\"\r\n";

// Files are written a megabyte or more at a time: no system call per line.
constexpr size_t RecordChunkSize = size_t(1) << 20;

// Appends the record of one UTF-8 line: a double quote, the line's Windows-1252
// bytes as they are, a double quote, carriage return and line feed. Returns
// false, appending nothing, when the line holds a character without a byte.
bool appendRecord(std::string &out, std::string_view line);

// The file a run replaces. It is written beside its final place and renamed
// over it only at commit, once every byte is on disk; until then, and after
// cancel, the old file is whole and nothing else is left in its folder.
class RecordFile
{
public:
    RecordFile();
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // The reason when the file cannot be written; nothing has changed then.
    // exactSize is what commit expects to have been written.
    std::optional<QString> open(const QString &path, qint64 exactSize);
    // Writes every byte, or returns false; errorString() then says why.
    bool write(const char *data, qint64 size);
    std::optional<QString> commit();
    void cancel();
    QString errorString() const;

private:
    std::unique_ptr<QSaveFile> m_file;
    qint64 m_expected = 0;
    qint64 m_written = 0;
};

// Replaces the file at path with the records of every line, or leaves it whole
// and returns the reason why not.
std::optional<QString> writeRecordFile(const QString &path, const LineBuffer &lines);

// The bytes free to this user on the file system that holds path's folder;
// nothing when that folder does not exist.
std::optional<qint64> freeBytesFor(const QString &path);

// The message when a file of fileBytes would not fit beside the file at path,
// with both sizes; nothing when it fits or the folder cannot be looked at (the
// write then gives the system's reason). A file that is replaced keeps its
// space until the new one is whole, so the free space counts as it is now.
std::optional<QString> spaceRefusal(const QString &path, qint64 fileBytes);
