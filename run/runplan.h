// SPDX-License-Identifier: GPL-3.0-or-later
// A run once its settings have passed every check, and how writing its file ended.
#pragma once

#include "counter.h"

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// What stands before and after a line's Windows-1252 bytes in its record.
constexpr std::string_view RecordOpen = "\"";
constexpr std::string_view RecordClose = "\"\r\n";

// A run that passed every check: its settings, read, and its exact size.
struct RunPlan
{
    std::array<std::string, 4> fields;
    std::array<CounterSettings, 3> counters;
    int64_t lineCount = 0;
    // The Container's text: the lines in UTF-8, each followed by the line break.
    int64_t textBytes = 0;
    // The file's records; 0 when a field the run uses has no Windows-1252 byte.
    int64_t fileBytes = 0;
};

// Sets the plan's lineCount, textBytes and fileBytes for its first counterCount
// counters, exactly and without building a line. Returns false, leaving them
// unset, when the text or the file would pass the largest 64-bit size.
bool measureRun(RunPlan &plan, int counterCount, size_t newLineBytes);

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
