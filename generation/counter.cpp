// SPDX-License-Identifier: GPL-3.0-or-later
// A counter's values and their texts.
#include "counter.h"

#include "codepage.h"
#include "zerofill.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

int digitCount(int32_t value)
{
    int digits = 1;
    for (int32_t rest = std::abs(value) / 10; rest > 0; rest /= 10)
        ++digits;
    return digits;
}

} // namespace

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

CounterTextBytes counterTextBytes(const CounterSettings &counter)
{
    CounterTextBytes bytes;
    // A number's text is as long for every value with its sign and its number of
    // digits, so each length is made once; an Alpha counter has at most 256 values.
    std::array<std::array<int64_t, 6>, 2> numberBytes {};
    const int32_t count = valueCount(counter);
    for (int32_t place = 0; place < count; ++place) {
        const int32_t value = counterValue(counter, place);
        int64_t utf8 = 0;
        int64_t ansi = 0;
        if (counter.alpha) {
            utf8 = static_cast<int64_t>(
                counterText(value, counter.width, true, counter.padded).size());
            ansi = static_cast<int64_t>(ansiCounterText(counter, value).size());
        } else {
            int64_t &known = numberBytes[value < 0 ? 1 : 0][static_cast<size_t>(digitCount(value))];
            if (known == 0)
                known = static_cast<int64_t>(ansiCounterText(counter, value).size());
            utf8 = known;
            ansi = known;
        }
        bytes.utf8 += utf8;
        bytes.ansi += ansi;
        bytes.longestAnsi = std::max(bytes.longestAnsi, static_cast<size_t>(ansi));
    }
    return bytes;
}
