// SPDX-License-Identifier: GPL-3.0-or-later
// A counter's values and their texts.
#include "counter.h"

#include "codepage.h"
#include "zerofill.h"

#include <cstdlib>

bool hasCharacter(int32_t code)
{
    return code >= 0 && code <= 255;
}

int32_t stride(int16_t step)
{
    const int32_t magnitude = std::abs(static_cast<int32_t>(step));
    return magnitude == 0 ? 1 : magnitude;
}

int32_t counterValueCount(int16_t start, int16_t end, int16_t step, bool up)
{
    if (up ? start > end : start < end)
        return 0;
    return std::abs(static_cast<int32_t>(end) - start) / stride(step) + 1;
}

int32_t valueCount(const CounterSettings &counter)
{
    if (counter.alpha && !(hasCharacter(counter.start) && hasCharacter(counter.end)))
        return 0;
    return counterValueCount(counter.start, counter.end, counter.step, counter.up);
}

int32_t counterValue(const CounterSettings &counter, int32_t position)
{
    const int32_t distance = stride(counter.step);
    return counter.start + (counter.up ? distance : -distance) * position;
}

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

std::string ansiCounterText(const CounterSettings &counter, int32_t value)
{
    std::string bytes;
    // Digits, or a character made from a byte: it always has its bytes.
    appendAnsi(bytes, counterText(value, counter.width, counter.alpha, counter.padded));
    return bytes;
}
