// SPDX-License-Identifier: GPL-3.0-or-later
// The output file: one double-quoted Windows-1252 record per line.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

class LineBuffer;

// Appends the record of one UTF-8 line: a double quote, the line's Windows-1252
// bytes as they are, a double quote, carriage return and line feed. Returns
// false, appending nothing, when the line holds a character without a byte.
bool appendRecord(std::string &out, std::string_view line);

// Replaces the file at path with the records of every line, or leaves it whole
// and returns the reason why not. The file is written beside its final place and
// renamed over it only once every byte is on disk.
std::optional<QString> writeRecordFile(const QString &path, const LineBuffer &lines);
