// SPDX-License-Identifier: GPL-3.0-or-later
// The output file: one double-quoted Windows-1252 record per line.
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <string>
#include <string_view>

class LineBuffer;

// What stands before and after a line's bytes in its record.
constexpr std::string_view RecordOpen = "\"";
constexpr std::string_view RecordClose = "\"\r\n";

// Files are written a megabyte or more at a time: no system call per line.
constexpr size_t RecordChunkSize = size_t(1) << 20;

// Appends the record of one UTF-8 line: a double quote, the line's Windows-1252
// bytes as they are, a double quote, carriage return and line feed. Returns
// false, appending nothing, when the line holds a character without a byte.
bool appendRecord(std::string &out, std::string_view line);

// Why a file could not be written, and what the path holds now: the end of a
// sentence such as "the file was left as it was" or "no file was written".
struct WriteFailure
{
    QString reason;
    QString fileLeft;
};

// Replaces the file at path with the records of every line, keeping what the
// file system knows about it (see FileReplacement), or says why not and what
// was left.
std::optional<WriteFailure> writeRecordFile(const QString &path, const LineBuffer &lines);
