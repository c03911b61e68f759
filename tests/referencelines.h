// SPDX-License-Identifier: GPL-3.0-or-later
// A run's lines made one by one, as the run once made them: the tests' yardstick
// for the lines that are computed from their number.
#pragma once

#include "counterlist.h"

#include <string>
#include <vector>

// Each counter's list built around every line so far, fields[k + 1] after
// counter k: the first counter's values slowest, the last's fastest.
inline std::vector<std::string> referenceLines(
    const std::vector<std::string> &fields, const std::vector<CounterSettings> &counters)
{
    std::vector<std::string> lines {fields.front()};
    for (size_t k = 0; k < counters.size(); ++k) {
        const CounterSettings &c = counters[k];
        std::vector<std::string> next;
        for (const std::string &prefix : lines) {
            for (std::string &line : BuildCounterList(prefix, fields[k + 1], c.start, c.end,
                     c.width, c.step, c.alpha, c.up, c.padded))
                next.push_back(std::move(line));
        }
        lines = std::move(next);
    }
    return lines;
}
