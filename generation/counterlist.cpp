// SPDX-License-Identifier: GPL-3.0-or-later
// Building a counter's pieces.
#include "counterlist.h"

#include <algorithm>

std::vector<std::string> BuildCounterList(const std::string &textBefore,
    const std::string &textAfter, int16_t start, int16_t end, int16_t width, int16_t step,
    bool alpha, bool up, bool padded)
{
    if (alpha && !(hasCharacter(start) && hasCharacter(end)))
        return {};
    const int32_t distance = stride(step);
    const int32_t signedStep = up ? distance : -distance;
    const int32_t span = std::max(start, end) - std::min(start, end);

    // Values land at positions 0, s, 2s, ... of a list with a slot for every
    // value of the span; the slots between stay empty until compaction.
    std::vector<std::string> counterList(static_cast<size_t>(span) + 1);
    int32_t position = 0;
    for (int32_t value = start; up ? value <= end : value >= end; value += signedStep) {
        std::string &piece = counterList[static_cast<size_t>(position)];
        piece = textBefore;
        piece += counterText(value, width, alpha, padded);
        piece += textAfter;
        position += distance;
    }
    CompactCounterList(counterList);
    return counterList;
}

void CompactCounterList(std::vector<std::string> &counterList)
{
    counterList.erase(std::remove_if(counterList.begin(), counterList.end(),
                          [](const std::string &piece) { return piece.empty(); }),
        counterList.end());
    counterList.shrink_to_fit();
}
