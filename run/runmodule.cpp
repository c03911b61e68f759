// SPDX-License-Identifier: GPL-3.0-or-later
// Checking a run's settings, building its lines and writing them out.
#include "runmodule.h"

#include "codepage.h"
#include "filereplacement.h"
#include "leadingnumber.h"
#include "recordfile.h"

#include <QDir>
#include <QLocale>

namespace {

// A box's text as a message quotes it: whole when short, its ends when long.
QString quoted(const QString &text)
{
    constexpr int Longest = 40;
    QString shown = text;
    if (text.size() > Longest) {
        shown = RunModule::tr("%1…%2 (%L3 characters)")
                    .arg(text.left(24), text.right(8))
                    .arg(text.size());
    }
    return RunModule::tr("“%1”").arg(shown);
}

QString describeCharacter(char32_t character)
{
    return RunModule::tr("“%1” (U+%2)")
        .arg(QString::fromUcs4(&character, 1),
            QString::number(static_cast<uint>(character), 16)
                .toUpper()
                .rightJustified(4, QLatin1Char('0')));
}

std::optional<char32_t> firstCharacter(const QString &text)
{
    const QList<uint> characters = text.left(2).toUcs4();
    if (characters.isEmpty())
        return std::nullopt;
    return static_cast<char32_t>(characters.front());
}

std::optional<char32_t> firstWithoutCode(const QString &text)
{
    const QList<uint> characters = text.toUcs4();
    const auto found = std::find_if(
        characters.begin(), characters.end(), [](uint character) { return !ansiCode(character); });
    if (found == characters.end())
        return std::nullopt;
    return static_cast<char32_t>(*found);
}

// What the messages call each box of a panel.
QString boxName(SettingBox::Kind kind)
{
    switch (kind) {
    case SettingBox::PadWidth:
        return RunModule::tr("pad width");
    case SettingBox::StartCount:
        return RunModule::tr("Start Count");
    case SettingBox::EndCount:
        return RunModule::tr("End Count");
    case SettingBox::Step:
        return RunModule::tr("Step");
    case SettingBox::None:
    case SettingBox::Field:
        break;
    }
    return {};
}

// Reads one counter panel's boxes, keeping the first problem it meets.
class PanelReader
{
public:
    explicit PanelReader(int panel)
        : m_panel(panel)
        , m_counter(counterName(panel + 1))
    { }

    int16_t number(const QString &text, SettingBox::Kind box)
    {
        if (failed())
            return 0;
        const std::optional<int16_t> value = readLeadingNumber(text.toStdString());
        if (!value) {
            fail(box,
                RunModule::tr("%1: the %2 box reads %3, which is outside -32768 to 32767. Type a "
                              "number in that range.")
                    .arg(m_counter, boxName(box), quoted(text)));
        }
        return value.value_or(0);
    }

    int16_t characterCode(const QString &text, SettingBox::Kind box)
    {
        if (failed())
            return 0;
        const std::optional<char32_t> character = firstCharacter(text);
        if (!character) {
            fail(box,
                RunModule::tr("%1 is an Alpha counter, but its %2 box is empty. Type a letter or a "
                              "digit into it.")
                    .arg(m_counter, boxName(box)));
            return 0;
        }
        const std::optional<uint8_t> code = ansiCode(*character);
        if (!code) {
            fail(box,
                RunModule::tr("%1: the %2 box begins with %3, which has no code in the "
                              "Windows-1252 code page. Type a letter or a digit instead.")
                    .arg(m_counter, boxName(box), describeCharacter(*character)));
            return 0;
        }
        return *code;
    }

    void fail(SettingBox::Kind box, const QString &problem)
    {
        if (!failed())
            m_refusal = {problem, {box, m_panel}};
    }
    bool failed() const { return !m_refusal.message.isEmpty(); }
    const Refusal &refusal() const { return m_refusal; }

private:
    int m_panel;
    QString m_counter;
    Refusal m_refusal;
};

QString valueText(int16_t value, bool alpha)
{
    if (!alpha)
        return QString::number(value);
    const char32_t character = ansiToUnicode(static_cast<uint8_t>(value));
    return RunModule::tr("“%1”").arg(QString::fromUcs4(&character, 1));
}

std::variant<CounterSettings, Refusal> readCounter(const CounterPanel &panel, int index)
{
    CounterSettings settings;
    settings.alpha = panel.alpha;
    settings.up = panel.up;
    settings.padded = panel.padded;
    PanelReader read(index);
    if (panel.alpha) {
        settings.start = read.characterCode(panel.start, SettingBox::StartCount);
        settings.end = read.characterCode(panel.end, SettingBox::EndCount);
    } else {
        settings.start = read.number(panel.start, SettingBox::StartCount);
        settings.end = read.number(panel.end, SettingBox::EndCount);
        // The width box counts only for a padded number; elsewhere it is not
        // used, and it may well be hidden.
        if (panel.padded)
            settings.width = read.number(panel.width, SettingBox::PadWidth);
    }
    settings.step = read.number(panel.step, SettingBox::Step);
    if (read.failed())
        return read.refusal();

    if (counterValueCount(settings.start, settings.end, settings.step, settings.up) == 0) {
        const QString from = valueText(settings.start, settings.alpha);
        const QString to = valueText(settings.end, settings.alpha);
        const SettingBox endCount {SettingBox::EndCount, index};
        if (settings.up) {
            return Refusal {RunModule::tr("%1 counts up from %2, but its End Count %3 lies below "
                                          "that, so it makes no value. Choose “Down”, or make "
                                          "the End Count at least %2.")
                                .arg(counterName(index + 1), from, to),
                endCount};
        }
        return Refusal {RunModule::tr("%1 counts down from %2, but its End Count %3 lies above "
                                      "that, so it makes no value. Choose “UP”, or make the End "
                                      "Count at most %2.")
                            .arg(counterName(index + 1), from, to),
            endCount};
    }
    return settings;
}

} // namespace

QString counterName(int counter)
{
    const char *const places[] = {QT_TRANSLATE_NOOP("RunModule", "the left panel"),
        QT_TRANSLATE_NOOP("RunModule", "the middle panel"),
        QT_TRANSLATE_NOOP("RunModule", "the right panel")};
    Q_ASSERT(counter >= 1 && counter <= 3);
    return RunModule::tr("Counter %1 (%2)").arg(counter).arg(RunModule::tr(places[counter - 1]));
}

void RunModule::ReadCounterCount(const std::array<bool, 3> &counterOptions)
{
    for (int k = 0; k < 3; ++k) {
        if (counterOptions[static_cast<size_t>(k)])
            CounterCount = static_cast<int16_t>(k + 1);
    }
}

std::variant<RunPlan, Refusal> RunModule::planRun(const RunSettings &settings) const
{
    RunPlan plan;
    for (int k = 0; k < CounterCount; ++k) {
        const auto index = static_cast<size_t>(k);
        const std::variant<CounterSettings, Refusal> counter
            = readCounter(settings.panels[index], k);
        if (const Refusal *refusal = std::get_if<Refusal>(&counter))
            return *refusal;
        plan.counters[index] = std::get<CounterSettings>(counter);
    }
    for (size_t j = 0; j < plan.fields.size(); ++j)
        plan.fields[j] = settings.fields[j].toStdString();
    // The Container holds any text that a 64-bit size counts, and a run that
    // fills only the Container is measured by its text alone. The figures say
    // by how much a size passes the largest, which both round to.
    const RunMeasure measure = measureRun(plan, CounterCount, NewLine.size());
    constexpr auto Largest = static_cast<long double>(std::numeric_limits<int64_t>::max());
    const auto sizeText = [](long double bytes) {
        if (bytes <= Largest) {
            return QLocale().formattedDataSize(
                static_cast<int64_t>(bytes), 1, QLocale::DataSizeSIFormat);
        }
        return tr("%1 EB").arg(QLocale().toString(static_cast<double>(bytes / 1e18L), 'f', 1));
    };
    if (measure.excess == RunMeasure::Excess::Text) {
        return Refusal {
            tr("This run would make %1 of text, %2 more than the Container or any file can "
               "hold (%3). Use shorter fields, a smaller pad width or fewer lines.")
                .arg(sizeText(measure.bytes), sizeText(measure.bytes - Largest), sizeText(Largest)),
            SettingBox {}};
    }

    if (!settings.printToFile)
        return plan;
    if (measure.excess == RunMeasure::Excess::File) {
        return Refusal {
            tr("This run's file would hold %1, %2 more than any file can hold (%3). Untick "
               "“print to file” to fill only the Container, or use shorter fields, a smaller "
               "pad width or fewer lines.")
                .arg(sizeText(measure.bytes), sizeText(measure.bytes - Largest), sizeText(Largest)),
            SettingBox {}};
    }
    for (int j = 0; j <= CounterCount; ++j) {
        if (const std::optional<char32_t> character
            = firstWithoutCode(settings.fields[static_cast<size_t>(j)])) {
            return Refusal {tr("Field %1 holds the character %2, which a Windows-1252 file "
                               "cannot hold. Remove it, or untick “print to file” to fill only "
                               "the Container.")
                                .arg(j + 1)
                                .arg(describeCharacter(*character)),
                {SettingBox::Field, j}};
        }
    }
    return plan;
}

void RunModule::BuildLines(const RunPlan &plan)
{
    // The Container keeps its counters' texts up to this size in all, the
    // last counter's first, and makes the others' as they are shown: a run
    // of the widest fields holds a few megabytes, like any other.
    constexpr int64_t KeptTextBudget = int64_t(512) << 10;
    LineList = std::make_shared<const RunLines>(
        std::vector<std::string>(plan.fields.begin(), plan.fields.begin() + CounterCount + 1),
        std::vector<CounterSettings>(plan.counters.begin(), plan.counters.begin() + CounterCount),
        TextEncoding::Utf8, std::string_view(), NewLine, KeptTextBudget);
    Q_ASSERT(LineList->lineCount() == plan.lineCount && LineList->size() == plan.textBytes);
}

std::optional<QString> RunModule::AskOutputFileName(CommonDialog &CommonDialog1)
{
    // No read-only box, and no question before a file is replaced.
    CommonDialog1.Flags = CommonDialog::HideReadOnly;
    if (!CommonDialog1.ShowSave())
        return std::nullopt;
    return CommonDialog1.FileName;
}

WriteResult RunModule::writeFile(const QString &path, RecordStream records, int64_t fileBytes)
{
    const std::atomic<bool> cancel {false};
    WriteProgress progress;
    return streamRecordFile(path, records, fileBytes, cancel, progress);
}

std::optional<RunModule::Message> RunModule::WriteLines(const RunPlan &plan, bool printToFile,
    CommonDialog &CommonDialog1, const FileWriter &fileWriter,
    const std::function<void(const std::shared_ptr<const RunLines> &)> &fillContainer)
{
    // Cancel writes no file in this run: the name held from an earlier
    // dialog is not one the user chose now.
    std::optional<QString> name;
    if (printToFile) {
        CommonDialog1.DefaultExt = QStringLiteral(".CTF");
        name = AskOutputFileName(CommonDialog1);
    }
    // The Container shows the run at once, whatever its size; the file is
    // written after, in its own time.
    fillContainer(LineList);
    if (!name)
        return std::nullopt;

    OutputFileName = *name;
    // Every field was checked for its bytes when the run was planned.
    std::optional<RecordStream> records = RecordStream::create(plan, CounterCount);
    const WriteResult result = records
        ? fileWriter(OutputFileName, std::move(*records), plan.fileBytes)
        : WriteResult {WriteOutcome::Failed,
            tr("A field holds a character without a "
               "Windows-1252 byte."),
            FileReplacement::untouched(OutputFileName)};
    const QString inContainer = tr("The lines are in the Container");
    switch (result.outcome) {
    case WriteOutcome::Written:
        if (result.notice.isEmpty())
            return std::nullopt;
        return Message {result.notice};
    case WriteOutcome::Cancelled:
        return Message {tr("The run was stopped before its file was written whole: %1. %2.")
                            .arg(result.fileLeft, inContainer)};
    case WriteOutcome::Failed:
        break;
    }
    return Message {tr("Kelvaro could not write the file %1:\n%2\n\n%3; %4.")
                        .arg(QDir::toNativeSeparators(OutputFileName), result.reason, inContainer,
                            result.fileLeft),
        true};
}
