// SPDX-License-Identifier: GPL-3.0-or-later
// A run's records, made on the fly for files of any size.
#pragma once

#include "runlines.h"
#include "runplan.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

// What stands before and after a line's Windows-1252 bytes in its record.
constexpr std::string_view RecordOpen = "\"";
constexpr std::string_view RecordClose = "\"\r\n";

// The records of a run, in the run's order (the last counter fastest), made a
// chunk at a time in Windows-1252 by the same run lines the Container shows,
// framed as records. It keeps the counters' texts and one line, never the
// run: its memory does not grow with the number of lines.
class RecordStream
{
public:
    // Nothing when a field the run uses holds a character without a byte.
    static std::optional<RecordStream> create(const RunPlan &plan, int counterCount);

    int64_t lineCount() const { return m_records->lineCount(); }
    int64_t recordsDone() const { return m_writer.nextLine(); }
    bool atEnd() const { return m_writer.atEnd(); }
    // No record is longer than this; a chunk must hold at least this many bytes.
    size_t longestRecord() const { return m_records->longestLine(); }

    // Writes the next whole records into out, as many as capacity holds, and
    // returns their bytes: 0 once every record has been made.
    size_t fill(char *out, size_t capacity) { return m_writer.fill(out, capacity); }

private:
    explicit RecordStream(std::shared_ptr<const RunLines> records);

    // Shared so that the writer's reference stays true when the stream moves.
    std::shared_ptr<const RunLines> m_records;
    RunLines::Writer m_writer;
};
