// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring a run exactly, before any of it is made.
#include "runplan.h"

#include "codepage.h"

#include <QCoreApplication>

#include <limits>

namespace {

// Wide enough for any run: 65,536^3 lines of a field two billion characters long
// stay far below 2^128.
using Wide = unsigned __int128;
constexpr Wide LargestSize = Wide(std::numeric_limits<int64_t>::max());

} // namespace

bool measureRun(RunPlan &plan, int counterCount, size_t newLineBytes)
{
    const auto counters = static_cast<size_t>(counterCount);
    std::array<CounterTextBytes, 3> texts {};
    std::array<Wide, 3> counts {};
    Wide lines = 1;
    for (size_t k = 0; k < counters; ++k) {
        texts[k] = counterTextBytes(plan.counters[k]);
        counts[k] = static_cast<Wide>(valueCount(plan.counters[k]));
        lines *= counts[k];
    }
    // Every line holds the fields and its line break or its record's quotes;
    // each counter's texts come once for every combination of the others' values.
    Wide text = lines * newLineBytes;
    Wide file = lines * (RecordOpen.size() + RecordClose.size());
    bool fileHasBytes = true;
    for (size_t j = 0; j <= counters; ++j) {
        std::string bytes;
        fileHasBytes = fileHasBytes && appendAnsi(bytes, plan.fields[j]);
        text += lines * plan.fields[j].size();
        file += lines * bytes.size();
    }
    for (size_t k = 0; k < counters && lines > 0; ++k) {
        text += lines / counts[k] * static_cast<Wide>(texts[k].utf8);
        file += lines / counts[k] * static_cast<Wide>(texts[k].ansi);
    }
    if (text > LargestSize || (fileHasBytes && file > LargestSize))
        return false;
    plan.lineCount = static_cast<int64_t>(lines);
    plan.textBytes = static_cast<int64_t>(text);
    plan.fileBytes = fileHasBytes ? static_cast<int64_t>(file) : 0;
    return true;
}

QString counterName(int counter)
{
    const char *const places[] = {QT_TRANSLATE_NOOP("RunModule", "the left panel"),
        QT_TRANSLATE_NOOP("RunModule", "the middle panel"),
        QT_TRANSLATE_NOOP("RunModule", "the right panel")};
    Q_ASSERT(counter >= 1 && counter <= 3);
    return QCoreApplication::translate("RunModule", "Counter %1 (%2)")
        .arg(counter)
        .arg(QCoreApplication::translate("RunModule", places[counter - 1]));
}
