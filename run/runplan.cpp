// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring a run exactly, before any of it is made.
#include "runplan.h"

#include "codepage.h"
#include "countertexts.h"
#include "recordstream.h"

#include <limits>

namespace {

// Wide enough for any run: 65,536^3 lines of a field two billion characters long
// stay far below 2^128.
using Wide = unsigned __int128;
constexpr Wide LargestSize = Wide(std::numeric_limits<int64_t>::max());

} // namespace

RunMeasure measureRun(RunPlan &plan, int counterCount, size_t newLineBytes)
{
    const auto counters = static_cast<size_t>(counterCount);
    std::array<Wide, 3> utf8 {};
    std::array<Wide, 3> ansi {};
    std::array<Wide, 3> counts {};
    Wide lines = 1;
    for (size_t k = 0; k < counters; ++k) {
        const CounterTexts utf8Texts(plan.counters[k], TextEncoding::Utf8, 0);
        const CounterTexts ansiTexts(plan.counters[k], TextEncoding::Windows1252, 0);
        utf8[k] = static_cast<Wide>(utf8Texts.bytesBefore(utf8Texts.count()));
        ansi[k] = static_cast<Wide>(ansiTexts.bytesBefore(ansiTexts.count()));
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
        text += lines / counts[k] * utf8[k];
        file += lines / counts[k] * ansi[k];
    }
    if (text > LargestSize)
        return {RunMeasure::Excess::Text, static_cast<long double>(text)};
    plan.lineCount = static_cast<int64_t>(lines);
    plan.textBytes = static_cast<int64_t>(text);
    if (fileHasBytes && file > LargestSize) {
        plan.fileBytes = 0;
        return {RunMeasure::Excess::File, static_cast<long double>(file)};
    }
    plan.fileBytes = fileHasBytes ? static_cast<int64_t>(file) : 0;
    return {};
}
