// SPDX-License-Identifier: GPL-3.0-or-later
// Checks counter pieces and combined lines for arbitrary counter settings and fields.
#include "codepage.h"
#include "counterlist.h"
#include "runlines.h"
#include "runmodule.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

// Each input must stay quick however wide its counters are: a piece list or a run
// beyond these sizes is not built.
constexpr int64_t PieceBytesBudget = int64_t(4) << 20;
constexpr int64_t RunLinesBudget = 100'000;
constexpr int64_t RunBytesBudget = int64_t(16) << 20;
// Runs up to this many lines are compared byte for byte; larger ones line by line
// at sampled indices.
constexpr int64_t WholeTextLines = 2'000;
constexpr int SampledLines = 40;
constexpr int64_t FullyComparedPieces = 4096;

[[noreturn]] void fault(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::abort();
}

// One counter's settings, as the run reads them from a panel.
using Counter = CounterSettings;

int16_t clampToInt16(int64_t value)
{
    return static_cast<int16_t>(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX));
}

// Maps a raw value onto first .. first + count - 1.
int16_t narrowed(int16_t raw, int32_t first, int32_t count)
{
    return static_cast<int16_t>(first + ((raw % count) + count) % count);
}

int64_t stride(int16_t step)
{
    return step == 0 ? 1 : std::abs(static_cast<int64_t>(step));
}

bool hasCharacter(int64_t code)
{
    return code >= 0 && code <= 255;
}

// The values counted the long way: from start, one stride at a time, while not past end.
bool pastEnd(int64_t value, const Counter &c)
{
    return c.up ? value > c.end : value < c.end;
}

int64_t valueAt(const Counter &c, int64_t index)
{
    return c.start + (c.up ? 1 : -1) * index * stride(c.step);
}

int64_t expectedCount(const Counter &c)
{
    if (c.alpha && !(hasCharacter(c.start) && hasCharacter(c.end)))
        return 0;
    if (pastEnd(c.start, c))
        return 0;
    return std::abs(static_cast<int64_t>(c.end) - c.start) / stride(c.step) + 1;
}

// Full 16-bit ranges mostly give the widest spans; the flags can narrow them so
// that edges like 0, 255 and the limits come up often.
Counter consumeCounter(FuzzedDataProvider &in)
{
    Counter c;
    const auto flags = in.ConsumeIntegral<uint8_t>();
    c.alpha = (flags & 0x01) != 0;
    c.up = (flags & 0x02) != 0;
    c.padded = (flags & 0x04) != 0;
    c.start = in.ConsumeIntegral<int16_t>();
    c.end = in.ConsumeIntegral<int16_t>();
    c.width = in.ConsumeIntegral<int16_t>();
    c.step = in.ConsumeIntegral<int16_t>();
    if (flags & 0x08)
        c.start = narrowed(c.start, -8, 272);
    if (flags & 0x10)
        c.end = clampToInt16(int64_t(c.start) + static_cast<int8_t>(c.end));
    else if (flags & 0x08)
        c.end = narrowed(c.end, -8, 272);
    if (flags & 0x20)
        c.width = narrowed(c.width, -2, 12);
    if (flags & 0x40)
        c.step = narrowed(c.step, -3, 7);
    return c;
}

// A field as the window would hand it over: valid UTF-8.
std::string consumeField(FuzzedDataProvider &in)
{
    return QString::fromStdString(in.ConsumeRandomLengthString(8)).toStdString();
}

// A number's counter text written out from the rule: digits after a blank (or
// with their "-"), or, padded to a width above 0, zeros in front up to the width.
std::string expectedNumberText(int64_t value, const Counter &c)
{
    const std::string digits = std::to_string(value);
    if (c.padded && c.width > 0) {
        const auto width = static_cast<size_t>(c.width);
        return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
    }
    return value < 0 ? digits : ' ' + digits;
}

// An Alpha text is right when it is one character whose Windows-1252 byte is the value.
bool isAlphaText(const std::string &text, int64_t value)
{
    std::string bytes;
    return appendAnsi(bytes, text) && bytes.size() == 1
        && static_cast<uint8_t>(bytes[0]) == static_cast<uint64_t>(value);
}

bool isCounterText(const std::string &text, int64_t value, const Counter &c)
{
    return c.alpha ? isAlphaText(text, value) : text == expectedNumberText(value, c);
}

void describe(const Counter &c, const char *what, int64_t index)
{
    std::fprintf(stderr,
        "counter start %d end %d width %d step %d alpha %d up %d padded %d: %s (index %lld)\n",
        c.start, c.end, c.width, c.step, c.alpha, c.up, c.padded, what,
        static_cast<long long>(index));
}

// A counter's pieces as built, with the way to its counter texts.
struct CounterPieces
{
    std::vector<std::string> pieces;
    size_t beforeSize = 0;
    size_t afterSize = 0;
    int64_t textBytes = 0;

    size_t size() const { return pieces.size(); }
    std::string_view text(size_t index) const
    {
        return std::string_view(pieces[index])
            .substr(beforeSize, pieces[index].size() - beforeSize - afterSize);
    }
};

// Every piece of a short list is compared with the rule. A long list costs too
// much for that on every input, so there the comparison takes its first and last
// pieces, an even spread, and the pieces around the values where a number's text
// changes its sign or its number of digits, or a character its UTF-8 length.
std::vector<size_t> indicesToCompare(const Counter &c, int64_t count)
{
    std::vector<size_t> indices;
    auto add = [&](int64_t index) {
        if (index >= 0 && index < count)
            indices.push_back(static_cast<size_t>(index));
    };
    if (count <= FullyComparedPieces) {
        for (int64_t i = 0; i < count; ++i)
            add(i);
        return indices;
    }
    for (int64_t i = 0; i < 256; ++i) {
        add(i);
        add(count - 1 - i);
    }
    for (int64_t t = 0; t < 1024; ++t)
        add(count * t / 1024);
    for (const int64_t turn :
        {0, 1, 9, 10, 99, 100, 127, 128, 159, 160, 255, 256, 999, 1000, 9999, 10000, 32767}) {
        for (const int64_t value : {turn, -turn, -turn - 1}) {
            const int64_t index = std::abs(value - c.start) / stride(c.step);
            for (int64_t near = index - 1; near <= index + 1; ++near)
                add(near);
        }
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

CounterPieces checkPieces(const Counter &c, const std::string &before, const std::string &after)
{
    const int64_t count = expectedCount(c);
    if (count > 0 && (pastEnd(valueAt(c, count - 1), c) || !pastEnd(valueAt(c, count), c))) {
        describe(c, "the piece count rule disagrees with counting a stride at a time", count);
        std::abort();
    }

    CounterPieces list;
    list.pieces
        = BuildCounterList(before, after, c.start, c.end, c.width, c.step, c.alpha, c.up, c.padded);
    list.beforeSize = before.size();
    list.afterSize = after.size();
    if (static_cast<int64_t>(list.size()) != count) {
        describe(c, "wrong number of pieces", static_cast<int64_t>(list.size()));
        fault("expected %lld pieces", static_cast<long long>(count));
    }
    if (!c.alpha && counterValueCount(c.start, c.end, c.step, c.up) != count) {
        describe(c, "counterValueCount", counterValueCount(c.start, c.end, c.step, c.up));
        fault("expected %lld values", static_cast<long long>(count));
    }

    for (size_t i = 0; i < list.size(); ++i) {
        const std::string &piece = list.pieces[i];
        if (piece.size() < before.size() + after.size() || piece.compare(0, before.size(), before)
            || piece.compare(piece.size() - after.size(), after.size(), after)) {
            describe(c, "piece not between the texts before and after", static_cast<int64_t>(i));
            fault("piece \"%s\"", piece.c_str());
        }
        const size_t textSize = piece.size() - before.size() - after.size();
        list.textBytes += static_cast<int64_t>(textSize);
    }
    for (const size_t i : indicesToCompare(c, count)) {
        const std::string text(list.text(i));
        const int64_t value = valueAt(c, static_cast<int64_t>(i));
        if (!isCounterText(text, value, c)) {
            describe(c, "piece out of order or misspelt", static_cast<int64_t>(i));
            fault("value %lld gave \"%s\"", static_cast<long long>(value), text.c_str());
        }
        if (counterText(static_cast<int32_t>(value), c.width, c.alpha, c.padded) != text) {
            describe(c, "counterText differs from the piece", static_cast<int64_t>(i));
            fault("value %lld gave \"%s\"", static_cast<long long>(value), text.c_str());
        }
    }
    return list;
}

struct Run
{
    int counterCount = 1;
    std::vector<Counter> counters;
    std::vector<CounterPieces> lists;
    std::array<std::string, 4> fields;
    int64_t lineCount = 1;
    int64_t textBytes = 0;
};

// Line index as one index per counter, the last counter varying fastest.
std::string expectedLine(const Run &run, int64_t index)
{
    std::vector<size_t> digit(static_cast<size_t>(run.counterCount));
    for (int k = run.counterCount - 1; k >= 0; --k) {
        const auto radix = static_cast<int64_t>(run.lists[static_cast<size_t>(k)].size());
        digit[static_cast<size_t>(k)] = static_cast<size_t>(index % radix);
        index /= radix;
    }
    std::string line = run.fields[0];
    for (size_t k = 0; k < digit.size(); ++k) {
        line += run.lists[k].text(digit[k]);
        line += run.fields[k + 1];
    }
    return line;
}

void checkLines(const Run &run)
{
    RunPlan plan;
    for (size_t k = 0; k < run.counters.size(); ++k) {
        const Counter &c = run.counters[k];
        plan.counters[k]
            = CounterSettings {c.start, c.end, c.width, c.step, c.alpha, c.up, c.padded};
    }
    plan.fields = run.fields;
    // Measured as a run is before its lines are made, and checked against
    // the sizes counted here.
    if (measureRun(plan, run.counterCount, 2).excess != RunMeasure::Excess::None)
        fault("%d counters: a run of %lld lines measured as too large", run.counterCount,
            static_cast<long long>(run.lineCount));
    if (plan.lineCount != run.lineCount || plan.textBytes != run.textBytes)
        fault("%d counters measured as %lld lines of %lld bytes, expected %lld of %lld",
            run.counterCount, static_cast<long long>(plan.lineCount),
            static_cast<long long>(plan.textBytes), static_cast<long long>(run.lineCount),
            static_cast<long long>(run.textBytes));

    RunModule module;
    module.CounterCount = static_cast<int16_t>(run.counterCount);
    module.NewLine = "\r\n";
    module.BuildLines(plan);
    const RunLines &lines = *module.LineList;

    if (lines.lineCount() != run.lineCount)
        fault("%d counters made %lld lines, expected %lld", run.counterCount,
            static_cast<long long>(lines.lineCount()), static_cast<long long>(run.lineCount));
    if (lines.size() != run.textBytes)
        fault("%d counters made %lld bytes of text, expected %lld", run.counterCount,
            static_cast<long long>(lines.size()), static_cast<long long>(run.textBytes));
    if (run.lineCount == 0)
        return;

    if (run.lineCount <= WholeTextLines) {
        std::string whole;
        for (int64_t i = 0; i < run.lineCount; ++i)
            whole += expectedLine(run, i) + "\r\n";
        std::string text(static_cast<size_t>(lines.size()), '?');
        lines.copy(0, lines.size(), text.data());
        if (text != whole)
            fault("%d counters: the text differs from the lines in order", run.counterCount);
    }
    // Evenly spaced lines, which include the first and the last, then scattered ones.
    for (int t = 0; t < 2 * SampledLines; ++t) {
        const int64_t index = t < SampledLines
            ? (run.lineCount - 1) * t / (SampledLines - 1)
            : static_cast<int64_t>((uint64_t(t) * 2654435761u) % uint64_t(run.lineCount));
        const std::string line = lines.lineText(index);
        if (line != expectedLine(run, index) + "\r\n")
            fault("%d counters: line %lld is \"%s\", expected \"%s\"", run.counterCount,
                static_cast<long long>(index), line.c_str(), expectedLine(run, index).c_str());
    }
}

// The text a counter box holds for a value that it reads back as that value.
QString boxText(int16_t value, bool alpha)
{
    if (!alpha)
        return QString::number(value);
    const char32_t character = ansiToUnicode(static_cast<uint8_t>(value));
    return QString::fromUcs4(&character, 1);
}

// planRun must accept every run that fits the limits and refuse every run that
// could exceed them, and the plan it returns must be the settings it was given.
void checkPlan(const Run &run, bool printToFile)
{
    RunSettings settings;
    settings.counterOptions[static_cast<size_t>(run.counterCount - 1)] = true;
    settings.printToFile = printToFile;
    for (size_t j = 0; j < run.fields.size(); ++j)
        settings.fields[j] = QString::fromStdString(run.fields[j]);
    for (size_t k = 0; k < run.counters.size(); ++k) {
        const Counter &c = run.counters[k];
        CounterPanel &panel = settings.panels[k];
        panel.alpha = c.alpha;
        panel.up = c.up;
        panel.padded = c.padded;
        panel.start = boxText(c.start, c.alpha);
        panel.end = boxText(c.end, c.alpha);
        panel.width = QString::number(c.width);
        panel.step = QString::number(c.step);
    }

    RunModule module;
    module.NewLine = "\r\n";
    module.ReadCounterCount(settings.counterOptions);
    if (module.CounterCount != run.counterCount)
        fault("the options chose %d counters, expected %d", module.CounterCount, run.counterCount);
    const std::variant<RunPlan, Refusal> result = module.planRun(settings);

    bool anyEmpty = false;
    int64_t widestLine = 2;
    for (size_t k = 0; k < run.counters.size(); ++k) {
        const Counter &c = run.counters[k];
        anyEmpty = anyEmpty || run.lists[k].size() == 0;
        // No counter text is longer than this: a Windows-1252 character takes at
        // most three UTF-8 bytes, a 16-bit number with its sign place six.
        widestLine += c.alpha ? 3 : std::max<int64_t>(6, c.padded ? c.width : 0);
    }
    bool fieldsWritable = true;
    for (int j = 0; j <= run.counterCount; ++j) {
        const std::string &field = run.fields[static_cast<size_t>(j)];
        widestLine += static_cast<int64_t>(field.size());
        std::string bytes;
        fieldsWritable = fieldsWritable && appendAnsi(bytes, field);
    }
    // The Container and the file take a run of any size that 64 bits can count.
    const bool fits = !anyEmpty && (!printToFile || fieldsWritable);
    const bool surelyFits
        = fits && static_cast<double>(widestLine) * static_cast<double>(run.lineCount) <= 0x1p62;

    if (const Refusal *refusal = std::get_if<Refusal>(&result)) {
        if (surelyFits)
            fault("planRun refused a run of %lld lines and %lld bytes: %s",
                static_cast<long long>(run.lineCount), static_cast<long long>(run.textBytes),
                refusal->message.toStdString().c_str());
        return;
    }
    if (!fits)
        fault("planRun accepted a run of %lld lines and %lld bytes that must be refused",
            static_cast<long long>(run.lineCount), static_cast<long long>(run.textBytes));
    const RunPlan &plan = std::get<RunPlan>(result);
    if (plan.lineCount != run.lineCount)
        fault("planRun counted %lld lines, expected %lld", static_cast<long long>(plan.lineCount),
            static_cast<long long>(run.lineCount));
    if (plan.textBytes != run.textBytes)
        fault("planRun measured %lld bytes of text, expected %lld",
            static_cast<long long>(plan.textBytes), static_cast<long long>(run.textBytes));
    if (plan.fields != run.fields)
        fault("planRun changed a field");
    for (size_t k = 0; k < run.counters.size(); ++k) {
        const Counter &c = run.counters[k];
        const CounterSettings &read = plan.counters[k];
        // The width box is read only for a padded number.
        const auto width = static_cast<int16_t>(c.padded && !c.alpha ? c.width : 0);
        if (read.start != c.start || read.end != c.end || read.step != c.step || read.width != width
            || read.alpha != c.alpha || read.up != c.up || read.padded != c.padded) {
            describe(c, "planRun read the panel differently", static_cast<int64_t>(k));
            fault("read start %d end %d width %d step %d", read.start, read.end, read.width,
                read.step);
        }
    }
}

} // namespace

// Inputs allocate tens of megabytes each; with AddressSanitizer's default quarantine
// of freed memory the resident size creeps towards libFuzzer's limit on a long run.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name AddressSanitizer asks for.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=32:allocator_release_to_os_interval_ms=500";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    Run run;
    const auto choice = in.ConsumeIntegral<uint8_t>();
    run.counterCount = 1 + choice % 3;
    const bool printToFile = (choice & 0x80) != 0;
    for (std::string &field : run.fields)
        field = consumeField(in);

    // Every line holds its fields and its line break; each counter's texts come up
    // once for every combination of the other counters' values. The run is built
    // a counter at a time, so every stage on the way must fit the budget as well.
    int64_t fieldBytes = 2 + static_cast<int64_t>(run.fields[0].size());
    bool withinBudget = true;
    for (int k = 0; k < run.counterCount; ++k) {
        Counter c = consumeCounter(in);
        const auto index = static_cast<size_t>(k);
        const int64_t span = std::abs(static_cast<int64_t>(c.end) - c.start) + 1;
        if (span * std::max<int64_t>(c.width, 0) > PieceBytesBudget)
            c.width = static_cast<int16_t>(c.width % 64);
        run.lists.push_back(checkPieces(c, run.fields[index], run.fields[index + 1]));
        run.counters.push_back(c);
        run.lineCount *= static_cast<int64_t>(run.lists.back().size());

        fieldBytes += static_cast<int64_t>(run.fields[index + 1].size());
        run.textBytes = run.lineCount * fieldBytes;
        for (const CounterPieces &list : run.lists) {
            const auto count = static_cast<int64_t>(list.size());
            if (count > 0)
                run.textBytes += list.textBytes * (run.lineCount / count);
        }
        withinBudget
            = withinBudget && run.lineCount <= RunLinesBudget && run.textBytes <= RunBytesBudget;
    }

    const bool boxesHoldTheValues
        = std::all_of(run.counters.begin(), run.counters.end(), [](const Counter &c) {
              return !c.alpha || (hasCharacter(c.start) && hasCharacter(c.end));
          });
    if (boxesHoldTheValues)
        checkPlan(run, printToFile);
    if (withinBudget)
        checkLines(run);
    return 0;
}
