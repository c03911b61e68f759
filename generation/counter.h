// SPDX-License-Identifier: GPL-3.0-or-later
// One counter: its settings, the values it gives and the text of each value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A counter's settings once its boxes have been read.
struct CounterSettings
{
    int16_t start = 0;
    int16_t end = 0;
    int16_t width = 0;
    int16_t step = 1;
    bool alpha = false;
    bool up = true;
    bool padded = false;
};

// An Alpha counter's code has a character only from 0 to 255.
bool hasCharacter(int32_t code);

// The distance between two values: the step's magnitude, and 1 for a step of 0.
// Kept in 32 bits: the magnitude of -32768 does not fit 16 bits, nor does the
// value after the last one near either limit.
int32_t stride(int16_t step);

// How many values the counter makes: the span divided by the step, plus one;
// 0 when the direction leads away from end.
int32_t counterValueCount(int16_t start, int16_t end, int16_t step, bool up);

// The same, and none for an Alpha counter whose start or end has no character.
int32_t valueCount(const CounterSettings &counter);

// The value a counter gives at a place in its counting order: the first is its start.
int32_t counterValue(const CounterSettings &counter, int32_t position);

// The counter text of one value: a character for Alpha, zero-filled digits when
// padded to a width above 0, otherwise the digits after a sign place (a blank,
// or "-" for a negative value). In UTF-8.
std::string counterText(int32_t value, int16_t width, bool alpha, bool padded);

// The same text in Windows-1252, which every counter text has.
std::string ansiCounterText(const CounterSettings &counter, int32_t value);
