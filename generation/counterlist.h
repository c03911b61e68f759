// SPDX-License-Identifier: GPL-3.0-or-later
// The reference counter list builder: one string per piece, step by step.
//
// The program never calls it. A run's lines come from RunLines, which makes
// any line from its number and the counters' texts; the tests and the fuzzer
// check RunLines against lines joined from these lists, which follow the
// counting loop exactly as written, one value at a time.
#pragma once

#include "counter.h"

#include <cstdint>
#include <string>
#include <vector>

// One piece per counter value, in counting order: textBefore, the counter text,
// textAfter. Only the magnitude of step counts (0 counts as 1); up decides the
// direction. A counter whose direction leads away from end gives no piece, and
// so does an Alpha counter whose start or end has no character (outside 0 to 255).
// Texts are UTF-8; an Alpha value is the Windows-1252 character of that code.
std::vector<std::string> BuildCounterList(const std::string &textBefore,
    const std::string &textAfter, int16_t start, int16_t end, int16_t width, int16_t step,
    bool alpha, bool up, bool padded);

// Drops the slots that counting by a step above 1 left empty, keeping the order.
void CompactCounterList(std::vector<std::string> &counterList);
