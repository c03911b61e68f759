// SPDX-License-Identifier: GPL-3.0-or-later
// A run's exact size, and its records made on the fly for files of any size.
#pragma once

#include "runmodule.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The value a counter gives at a place in its counting order: the first is its start.
int32_t counterValue(const CounterSettings &counter, int32_t position);

// How many values the counter gives; none for an Alpha counter whose start or end
// has no character, as BuildCounterList gives no piece for it.
int32_t valueCount(const CounterSettings &counter);

// Sets the plan's lineCount, textBytes and fileBytes for its first counterCount
// counters, exactly and without building a line. Returns false, leaving them
// unset, when the text or the file would pass the largest 64-bit size.
bool measureRun(RunPlan &plan, int counterCount, size_t newLineBytes);

// The records of a run, in the run's order (the last counter fastest), made a
// chunk at a time from the fields and each counter's texts in Windows-1252.
// It keeps the counters' texts and one line, never the run: its memory does not
// grow with the number of lines.
class RecordStream
{
public:
    // Nothing when a field the run uses holds a character without a byte.
    static std::optional<RecordStream> create(const RunPlan &plan, int counterCount);

    int64_t lineCount() const { return m_lineCount; }
    int64_t recordsDone() const { return m_done; }
    bool atEnd() const { return m_done == m_lineCount; }
    // No record is longer than this; a chunk must hold at least this many bytes.
    size_t longestRecord() const { return m_longest; }

    // Writes the next whole records into out, as many as capacity holds, and
    // returns their bytes: 0 once every record has been made.
    size_t fill(char *out, size_t capacity);

private:
    // One counter's texts in Windows-1252: kept end to end when they are small,
    // made value by value when a huge pad width would make them gigabytes.
    struct Counter
    {
        int32_t count = 0;
        int32_t position = 0;
        std::string texts;
        std::vector<size_t> starts;
        std::string current;
        CounterSettings settings;

        std::string_view textAt(int32_t place);
    };

    // Short records, nearly every run's, are copied in blocks of a fixed size:
    // the head, then the last counter's text joined to the tail. Each block may
    // carry bytes past its end, which the next copy overwrites.
    static constexpr size_t Block = 32;

    RecordStream() = default;
    void nextPrefix();
    void buildHead();
    void joinLastTexts();
    char *fillShort(char *out, const char *limit);
    char *fillExact(char *out, const char *limit);

    std::vector<std::string> m_fields;
    std::vector<Counter> m_counters;
    // Everything before the last counter's text, quote included, and everything after it.
    std::string m_head;
    std::string m_tail;
    // The last counter's texts, each joined to the tail and padded to a block;
    // empty when one of them would not fit a block.
    std::vector<char> m_joined;
    std::vector<uint8_t> m_joinedSizes;
    std::array<char, Block> m_headBlock {};
    int64_t m_lineCount = 0;
    int64_t m_done = 0;
    size_t m_longest = 0;
};

// Lines and bytes written so far, read from any thread while another writes.
class WriteProgress
{
public:
    virtual ~WriteProgress() = default;
    int64_t lines() const { return m_lines.load(std::memory_order_relaxed); }
    int64_t bytes() const { return m_bytes.load(std::memory_order_relaxed); }
    // Called on the writing thread after each chunk, with the totals so far.
    virtual void advance(int64_t lines, int64_t bytes);
    // Every byte is written and the file is being finished: the disk is
    // confirming them, which a cancel cannot cut short.
    bool finishing() const { return m_finishing.load(std::memory_order_acquire); }
    // Called on the writing thread once, when that starts.
    virtual void startFinishing();

private:
    std::atomic<int64_t> m_lines {0};
    std::atomic<int64_t> m_bytes {0};
    std::atomic<bool> m_finishing {false};
};

enum class WriteOutcome { Written, Cancelled, Failed };

struct WriteResult
{
    WriteOutcome outcome = WriteOutcome::Failed;
    // The system's reason for a failure; empty otherwise.
    QString reason;
    // What the path holds after a failure or cancel, to end a sentence: "the
    // file was left as it was", "no file was written", ...
    QString fileLeft;
    // Written, although cancel was asked for: it came once the file written
    // in place was whole, too late to keep the old contents.
    bool cancelCameTooLate = false;
};

// Hands every record to write in chunks of a megabyte or more, and reports
// progress after each. cancel is read between chunks, so a run stops within
// the time of one chunk. write returns false when it could not take a chunk.
WriteOutcome streamRecords(RecordStream &records,
    const std::function<bool(const char *, size_t)> &write, const std::atomic<bool> &cancel,
    WriteProgress &progress);

// Replaces the file at path with every record, fileBytes in all, the way
// FileReplacement decides. A run that is cancelled, fails or would not fit the
// disk leaves no other file behind, and the old file whole unless it had to be
// written in place (fileLeft then says what it holds). A cancel while the
// written file is synced still keeps the old file where it can; one written
// in place is finished and says so.
WriteResult streamRecordFile(const QString &path, RecordStream &records, int64_t fileBytes,
    const std::atomic<bool> &cancel, WriteProgress &progress);
