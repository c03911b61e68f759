// SPDX-License-Identifier: GPL-3.0-or-later
// A run once its settings have passed every check, measured.
#pragma once

#include "counter.h"

#include <QString>

#include <array>
#include <cstdint>
#include <string>

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

// What measuring a run found: whether its text and its file fit the largest
// 64-bit size and, if one does not, its size in bytes (which may pass 2^64).
struct RunMeasure
{
    enum class Excess { None, Text, File };
    Excess excess = Excess::None;
    long double bytes = 0;
};

// Sets the plan's lineCount, textBytes and fileBytes for its first counterCount
// counters, exactly and without building a line. A text too large leaves them
// unset; a file too large, for a text that fits, leaves fileBytes 0: such a
// run can fill the Container, but not a file.
RunMeasure measureRun(RunPlan &plan, int counterCount, size_t newLineBytes);
