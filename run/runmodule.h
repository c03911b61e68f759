// SPDX-License-Identifier: GPL-3.0-or-later
// The "Do IT" run: what it reads from the window, the lines it builds, the file it writes.
#pragma once

#include "commondialog.h"
#include "linebuffer.h"
#include "recordstream.h"
#include "runplan.h"

#include <QCoreApplication>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// What one counter panel's controls hold when "Do IT" is pressed.
struct CounterPanel
{
    bool alpha = false;
    bool up = true;
    bool padded = false;
    QString width;
    QString start;
    QString end;
    QString step;
};

// What a run reads from the window: the "number of counters" options, the four
// fields, the three panels and "print to file".
struct RunSettings
{
    std::array<bool, 3> counterOptions {};
    std::array<QString, 4> fields;
    std::array<CounterPanel, 3> panels;
    bool printToFile = false;
};

// The values that live as long as the program, and the steps of a run.
class RunModule
{
    Q_DECLARE_TR_FUNCTIONS(RunModule)

public:
    // The Container's capacity, chosen from measurement on a 2-core machine: a
    // run of eight million lines reaches the Container within about a second and
    // half a gigabyte, the run's text being shared with it. The text limit bounds
    // memory whatever the fields hold. A run printed to a file streams every line
    // into it and gives the Container the first lines that fit.
    static constexpr int64_t MaxLines = 8'000'000;
    static constexpr int64_t MaxTextBytes = int64_t(512) << 20;

    int16_t CounterCount = 1;
    std::string NewLine;
    std::vector<std::string> CounterList;
    LineBuffer PrefixList;
    LineBuffer LineList;
    QString OutputFileName;
    // The capacity in force; tests lower it to reach its edge with small runs.
    int64_t containerLines = MaxLines;
    int64_t containerBytes = MaxTextBytes;

    void ReadCounterCount(const std::array<bool, 3> &counterOptions);

    // Reads every setting the run will use, for CounterCount counters, and
    // measures the run. Returns the message for the first one that cannot be
    // run; nothing has been changed then. Only a run that is not printed to a
    // file must fit in memory.
    std::variant<RunPlan, QString> planRun(const RunSettings &settings) const;

    // The message when the run's whole text would not fit in the Container;
    // nothing when it fits.
    std::optional<QString> inMemoryRefusal(const RunPlan &plan) const;
    // How many of the run's first lines the Container takes: all that fit.
    int64_t containerLineLimit(const RunPlan &plan) const;

    void BuildFromPanel(const RunPlan &plan, int k, const std::string &textBefore);
    // Builds the run's first lineLimit lines, or all of them when there are
    // fewer, and nothing of the lines after them.
    void BuildLines(const RunPlan &plan, int64_t lineLimit = std::numeric_limits<int64_t>::max());

    // Asks for a file name; nothing when the dialog was cancelled.
    std::optional<QString> AskOutputFileName(CommonDialog &CommonDialog1);

    // Writes the run's records, fileBytes in all, to the file at path and says
    // how that ended. The window does it on a thread of its own; writeFile()
    // does it here and now.
    using FileWriter
        = std::function<WriteResult(const QString &path, RecordStream records, int64_t fileBytes)>;
    static WriteResult writeFile(const QString &path, RecordStream records, int64_t fileBytes);

    // What a run has to tell the user at its end: a problem, or a note.
    struct Message
    {
        QString text;
        bool problem = false;
    };

    // Writes every line of the run to the file chosen in the Save dialog (when
    // printToFile), then hands LineList, the lines the Container takes, to
    // fillContainer, which shares them. Returns what the user should know: why
    // the file could not be written and what it holds now, or that the Container
    // shows only the run's first lines.
    std::optional<Message> WriteLines(const RunPlan &plan, bool printToFile,
        CommonDialog &CommonDialog1, const FileWriter &writeFile,
        const std::function<void(const LineBuffer &)> &fillContainer);

private:
    void extend(const RunPlan &plan, int k, size_t lineLimit);
};
