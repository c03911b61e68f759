// SPDX-License-Identifier: GPL-3.0-or-later
// The "Do IT" run: what it reads from the window, the lines it builds, the file it writes.
#pragma once

#include "commondialog.h"
#include "recordfile.h"
#include "recordstream.h"
#include "runlines.h"
#include "runplan.h"

#include <QCoreApplication>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

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

// Counter 1 to 3 as the messages name it: every panel's caption reads
// "Counter 1", so the name says where its panel stands: "Counter 2 (the
// middle panel)".
QString counterName(int counter);

// The box whose text a refused run's message is about, for the window to put
// the focus in; None when the message names no box.
struct SettingBox
{
    enum Kind { None, Field, PadWidth, StartCount, EndCount, Step };
    Kind kind = None;
    // The field, 0 to 3, or the counter panel, 0 to 2.
    int index = 0;

    bool operator==(const SettingBox &other) const
    {
        return kind == other.kind && index == other.index;
    }
};

// Why a run cannot be made, in a sentence or two, and the box to mend.
struct Refusal
{
    QString message;
    SettingBox box;
};

// The values that live as long as the program, and the steps of a run.
class RunModule
{
    Q_DECLARE_TR_FUNCTIONS(RunModule)

public:
    int16_t CounterCount = 1;
    std::string NewLine;
    // The latest run's lines, made on demand: the Container shows them as
    // they are, however many there are. None before the first run.
    std::shared_ptr<const RunLines> LineList = std::make_shared<const RunLines>();
    QString OutputFileName;

    void ReadCounterCount(const std::array<bool, 3> &counterOptions);

    // Reads every setting the run will use, for CounterCount counters, and
    // measures the run. Returns the refusal for the first one that cannot be
    // run; nothing has been changed then.
    std::variant<RunPlan, Refusal> planRun(const RunSettings &settings) const;

    // Sets LineList to the run's lines. It makes none of them: its memory is
    // the counters' texts, whatever the number of lines.
    void BuildLines(const RunPlan &plan);

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

    // Hands LineList to fillContainer, which shares it, once the Save dialog
    // (when printToFile) has been answered; then writes every line to the
    // chosen file. Returns what the user should know: why the file could not
    // be written and what it holds now.
    std::optional<Message> WriteLines(const RunPlan &plan, bool printToFile,
        CommonDialog &CommonDialog1, const FileWriter &fileWriter,
        const std::function<void(const std::shared_ptr<const RunLines> &)> &fillContainer);
};
