// SPDX-License-Identifier: GPL-3.0-or-later
// Building a counter's pieces.
#include "counterlist.h"

#include "codepage.h"
#include "zerofill.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool hasCharacter(int32_t code)
{
    return code >= 0 && code <= 255;
}

// The step as the loop uses it. Kept in 32 bits: the magnitude of -32768 does not
// fit 16 bits, nor does the value after the last piece near either limit.
int32_t stride(int16_t step)
{
    const int32_t magnitude = std::abs(static_cast<int32_t>(step));
    return magnitude == 0 ? 1 : magnitude;
}

bool leadsToEnd(int16_t start, int16_t end, bool up)
{
    return up ? start <= end : start >= end;
}

} // namespace

std::string counterText(int32_t value, int16_t width, bool alpha, bool padded)
{
    if (alpha) {
        std::string character;
        appendUtf8(character, ansiToUnicode(static_cast<uint8_t>(value)));
        return character;
    }
    const std::string digits = std::to_string(value);
    if (width > 0 && padded)
        return PadWithZeros(digits, true, width);
    return value < 0 ? digits : ' ' + digits;
}

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

int32_t counterValueCount(int16_t start, int16_t end, int16_t step, bool up)
{
    if (!leadsToEnd(start, end, up))
        return 0;
    return std::abs(static_cast<int32_t>(end) - start) / stride(step) + 1;
}

size_t counterTextMaxSize(int16_t start, int16_t end, int16_t width, bool alpha, bool padded)
{
    if (alpha) {
        size_t widest = 0;
        for (int32_t code = std::max<int32_t>(std::min(start, end), 0);
             code <= std::min<int32_t>(std::max(start, end), 255); ++code) {
            widest = std::max(widest, counterText(code, width, true, false).size());
        }
        return widest;
    }
    // Every value lies between start and end, and a number's text grows with its magnitude.
    return std::max(counterText(start, width, false, padded).size(),
        counterText(end, width, false, padded).size());
}
