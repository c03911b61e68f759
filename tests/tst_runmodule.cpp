// SPDX-License-Identifier: GPL-3.0-or-later
// The run without its window: settings checks, line order, records and the Save dialog model.
#include "codepage.h"
#include "recordfile.h"
#include "recordstream.h"
#include "referencelines.h"
#include "runmodule.h"
#include "streamingwrite.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace {

// The window's settings right after start-up, as far as a run reads them.
RunSettings startUpSettings()
{
    RunSettings settings;
    settings.counterOptions = {true, false, false};
    settings.fields = {"First Field ", " Second Field ", " Third Field ", " Fourth Field"};
    settings.panels.fill({false, true, false, "3", "10", "20", "1"});
    settings.printToFile = true;
    return settings;
}

RunModule moduleFor(const RunSettings &settings)
{
    RunModule module;
    module.NewLine = "\r\n";
    module.ReadCounterCount(settings.counterOptions);
    return module;
}

const QByteArray Earlier = "earlier file";

// Asks for the next write to stop once the writer has written a number of
// chunks, or all of them.
class CancelAfter : public WriteProgress
{
public:
    static constexpr int AllChunks = -1;

    CancelAfter(std::atomic<bool> &cancel, int chunks, int64_t lineCount)
        : m_cancel(cancel)
        , m_chunks(chunks)
        , m_lineCount(lineCount)
    { }
    void advance(int64_t lines, int64_t bytes) override
    {
        WriteProgress::advance(lines, bytes);
        ++m_written;
        if (m_written == m_chunks || (m_chunks == AllChunks && lines == m_lineCount))
            m_cancel = true;
    }

private:
    std::atomic<bool> &m_cancel;
    int m_chunks;
    int64_t m_lineCount;
    int m_written = 0;
};

// A folder of its own, in which out.CTF holds an earlier file.
class FolderWithEarlierFile
{
public:
    FolderWithEarlierFile() { writeFile(path(), Earlier); }
    QString folder() const { return m_dir.path(); }
    QString path() const { return m_dir.filePath("out.CTF"); }

private:
    QTemporaryDir m_dir;
};

// Every name in the folder, hidden ones too: a temporary file would show here.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

std::string textOf(const RunLines &lines)
{
    std::string text(size_t(lines.size()), '?');
    lines.copy(0, lines.size(), text.data());
    return text;
}

QStringList linesOf(const RunLines &lines)
{
    QStringList list;
    for (int64_t i = 0; i < lines.lineCount(); ++i)
        list << QString::fromStdString(lines.lineText(i)).chopped(2);
    return list;
}

} // namespace

using Change = std::function<void(RunSettings &)>;
Q_DECLARE_METATYPE(Change)

namespace {

struct Planned
{
    RunModule module;
    RunPlan plan;
    std::optional<RecordStream> records;
};

// A run of the start-up settings changed as the row says, planned to print to
// a file, and its records.
Planned planned(const Change &change)
{
    RunSettings settings = startUpSettings();
    change(settings);
    RunModule module = moduleFor(settings);
    const RunPlan plan = std::get<RunPlan>(module.planRun(settings));
    std::optional<RecordStream> records = RecordStream::create(plan, module.CounterCount);
    return {std::move(module), plan, std::move(records)};
}

// The lines RA-X and RA-Y written to path as the window writes them.
WriteResult writeTwoLines(const QString &path)
{
    Planned run = planned([](RunSettings &s) {
        s.counterOptions = {false, true, false};
        s.fields = {"R", "-", "", ""};
        s.panels[0] = {true, true, false, "1", "A", "A", "1"};
        s.panels[1] = {true, true, false, "1", "X", "Y", "1"};
    });
    return RunModule::writeFile(path, std::move(*run.records), run.plan.fileBytes);
}

// Two counters of 300 and 1,000 values: fourteen chunks of records.
void manyChunks(RunSettings &s)
{
    s.counterOptions = {false, true, false};
    s.panels[0].start = "1";
    s.panels[0].end = "300";
    s.panels[1].start = "1";
    s.panels[1].end = "1000";
}

// What another program or the disk does to the calls that end a save. This
// program's own renameat2, renameat and fsync come before the C library's, so
// a row can get in their way while every other call goes to the system.
struct Interference
{
    // Done to the folder once, just before the save's next rename or exchange.
    std::function<void(const QDir &)> beforeRename;
    // The file system cannot exchange two names (EINVAL).
    bool noExchange = false;
    // Syncing a folder fails (EIO).
    bool folderSyncFails = false;
    // Cancel is pressed while a folder is synced.
    bool cancelInFolderSync = false;
};

Interference g_interference;
// Files by name, and what each holds.
using Contents = QMap<QString, QByteArray>;
QDir g_folder;
std::atomic<bool> *g_cancel = nullptr;

} // namespace

Q_DECLARE_METATYPE(Interference)

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the C library's names.
extern "C" int renameat2(
    int fromFolder, const char *from, int toFolder, const char *to, unsigned int flags) noexcept
{
    if (g_interference.noExchange && (flags & RENAME_EXCHANGE) != 0) {
        errno = EINVAL;
        return -1;
    }
    if (const auto disturb = std::exchange(g_interference.beforeRename, {}))
        disturb(g_folder);
    return int(syscall(SYS_renameat2, fromFolder, from, toFolder, to, flags));
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the C library's names.
extern "C" int renameat(int fromFolder, const char *from, int toFolder, const char *to) noexcept
{
    return renameat2(fromFolder, from, toFolder, to, 0);
}

extern "C" int fsync(int fd)
{
    struct stat info
    {
    };
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        if (g_interference.cancelInFolderSync && g_cancel)
            *g_cancel = true;
        if (g_interference.folderSyncFails) {
            errno = EIO;
            return -1;
        }
    }
    return int(syscall(SYS_fsync, fd));
}

class RunModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void exactSizes_data();
    void exactSizes();
    void streamedFileEqualsTheBuiltOne_data();
    void streamedFileEqualsTheBuiltOne();
    void stoppedWriteKeepsTheOldFile_data();
    void stoppedWriteKeepsTheOldFile();
    void fileThatDoesNotFitIsRefused_data();
    void fileThatDoesNotFitIsRefused();
    void writeOnItsOwnThread_data();
    void writeOnItsOwnThread();
    void counterCountFollowsTheOptions();
    void linesVaryLastCounterFastest();
    void secondRunLeavesNoneOfTheFirst();
    void recordFileReplacesOldContents();
    void recordFileFailuresKeepTheOldFile_data();
    void recordFileFailuresKeepTheOldFile();
    void endOfTheSave_data();
    void endOfTheSave();
    void defaultExtension_data();
    void defaultExtension();
    void cancelledDialogKeepsItsName();
    void dialogOpensOnTheDesktopOrHome_data();
    void dialogOpensOnTheDesktopOrHome();
};

void RunModuleTest::plan_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<qint64>("lineCount");
    QTest::addColumn<QString>("problem");

    // A counter makes up to 65,536 values, from -32768 to 32767.
    auto twoCounters = [](const char *end1, const char *end2) {
        return [=](RunSettings &s) {
            s.counterOptions = {false, true, false};
            s.panels[0].start = "1";
            s.panels[0].end = end1;
            s.panels[1].start = "-32768";
            s.panels[1].end = end2;
        };
    };
    QTest::newRow("start-up settings") << Change([](RunSettings &) {}) << qint64(11) << QString();
    QTest::newRow("eight million lines")
        << Change(twoCounters("125", "31231")) << qint64(8'000'000) << QString();
    auto containerOnly = [](const Change &change) {
        return Change([change](RunSettings &s) {
            change(s);
            s.printToFile = false;
        });
    };
    const Change threeCounters = [](RunSettings &s) {
        s.counterOptions = {false, false, true};
        for (CounterPanel &panel : s.panels) {
            panel.start = "1";
            panel.end = "300";
        }
    };
    const Change longField = [](RunSettings &s) {
        s.fields[0] = QString(10'000, QLatin1Char('x'));
        s.panels[0].start = "-30000";
        s.panels[0].end = "29999";
    };
    // The Container takes every run whole, without a file too.
    QTest::newRow("three counters of 300 values, Container only")
        << containerOnly(threeCounters) << qint64(27'000'000) << QString();
    QTest::newRow("60,000 lines of a long field, Container only")
        << containerOnly(longField) << qint64(60'000) << QString();
    QTest::newRow("three counters of 300 values, printing")
        << threeCounters << qint64(27'000'000) << QString();
    const Change widest = [](RunSettings &s) {
        s.counterOptions = {false, false, true};
        s.fields = {"", "", "", ""};
        for (CounterPanel &panel : s.panels) {
            panel.start = "-32768";
            panel.end = "32767";
        }
    };
    QTest::newRow("65,536^3 lines, printing") << widest << qint64(281'474'976'710'656) << QString();
    QTest::newRow("65,536^3 lines, Container only")
        << containerOnly(widest) << qint64(281'474'976'710'656) << QString();
    QTest::newRow("65,536^3 lines of a long field")
        << Change([widest](RunSettings &s) {
               widest(s);
               s.fields[3] = QString(40'000, QLatin1Char('x'));
           })
        << qint64(0)
        << "This run would make 11.3 EB of text, 2.0 EB more than the Container or any file can "
           "hold (9.2 EB). Use shorter fields, a smaller pad width or fewer lines.";
    // 2^63 - 4.8 TB of text, whose records would pass 2^63 bytes by 558 TB.
    const Change justBelowTheLargest = [widest](RunSettings &s) {
        widest(s);
        s.fields[0] = QString(32'749, QLatin1Char('x'));
    };
    QTest::newRow("a text just below the largest size, Container only")
        << containerOnly(justBelowTheLargest) << qint64(281'474'976'710'656) << QString();
    QTest::newRow("a text just below the largest size, printing")
        << justBelowTheLargest << qint64(0)
        << "This run's file would hold 9.2 EB, 558.2 TB more than any file can hold (9.2 EB). "
           "Untick “print to file” to fill only the Container, or use shorter fields, a smaller "
           "pad width or fewer lines.";
    QTest::newRow("an unpadded number's width is not read")
        << Change([](RunSettings &s) { s.panels[0].width = "99999"; }) << qint64(11) << QString();
    QTest::newRow("a padded number's width is read")
        << Change([](RunSettings &s) {
               s.panels[0].padded = true;
               s.panels[0].width = "99999";
           })
        << qint64(0)
        << "Counter 1 (the left panel): the pad width box reads “99999”, which is outside -32768 "
           "to 32767. Type a number in that range.";
    QTest::newRow("an Alpha counter's width is not read") << Change([](RunSettings &s) {
        s.panels[0] = {true, true, true, "99999", "A", "E", "1"};
    }) << qint64(5) << QString();
    QTest::newRow("a long text is quoted by its ends")
        << Change([](RunSettings &s) { s.panels[0].step = QString(10'000, QLatin1Char('7')); })
        << qint64(0)
        << "Counter 1 (the left panel): the Step box reads “777777777777777777777777…77777777 "
           "(10,000 characters)”, which is outside -32768 to 32767. Type a number in that "
           "range.";
    QTest::newRow("counter 2's panel is not read with one counter") << Change([](RunSettings &s) {
        s.panels[1] = {true, true, false, "", "", "", ""};
    }) << qint64(11) << QString();
    QTest::newRow("a field the run does not use may hold anything")
        << Change([](RunSettings &s) { s.fields[2] = QStringLiteral("Ж"); }) << qint64(11)
        << QString();
    QTest::newRow("a used field without a byte, not printing") << Change([](RunSettings &s) {
        s.fields[1] = QStringLiteral("Ж");
        s.printToFile = false;
    }) << qint64(11) << QString();
    QTest::newRow("a used field without a byte, printing")
        << Change([](RunSettings &s) { s.fields[1] = QStringLiteral("aЖ"); }) << qint64(0)
        << "Field 2 holds the character “Ж” (U+0416), which a Windows-1252 file cannot hold. "
           "Remove it, or untick “print to file” to fill only the Container.";
    QTest::newRow("a character outside the basic plane")
        << Change([](RunSettings &s) { s.fields[0] = QStringLiteral("😀"); }) << qint64(0)
        << "Field 1 holds the character “😀” (U+1F600), which a Windows-1252 file cannot hold. "
           "Remove it, or untick “print to file” to fill only the Container.";
}

void RunModuleTest::plan()
{
    QFETCH(Change, change);
    QFETCH(qint64, lineCount);
    QFETCH(QString, problem);
    RunSettings settings = startUpSettings();
    change(settings);
    const std::variant<RunPlan, Refusal> plan = moduleFor(settings).planRun(settings);
    const Refusal *refusal = std::get_if<Refusal>(&plan);
    QCOMPARE(refusal ? refusal->message : QString(), problem);
    if (!refusal)
        QCOMPARE(std::get<RunPlan>(plan).lineCount, lineCount);
}

void RunModuleTest::exactSizes_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<qint64>("lineCount");
    QTest::addColumn<qint64>("textBytes");
    QTest::addColumn<qint64>("fileBytes");

    // 11 lines of "First Field ", " 10" and " Second Field ".
    QTest::newRow("start-up settings")
        << Change([](RunSettings &) {}) << qint64(11) << qint64(11 * 31) << qint64(11 * 33);
    QTest::newRow("letters beyond ASCII take two bytes in the Container, one in the file")
        << Change([](RunSettings &s) {
               s.fields = {"x", "y", "", ""};
               s.panels[0]
                   = {true, true, false, "1", QStringLiteral("À"), QStringLiteral("Ä"), "1"};
           })
        << qint64(5) << qint64(5 * 6) << qint64(5 * 7);
    // Every counter's texts, from "-32768" to " 32767", take 371,000 bytes, and
    // each comes once for every combination of the other two counters' values.
    QTest::newRow("65,536^3 lines, exactly") << Change([](RunSettings &s) {
        s.counterOptions = {false, false, true};
        s.fields = {"", "", "", ""};
        for (CounterPanel &panel : s.panels) {
            panel.start = "-32768";
            panel.end = "32767";
        }
    }) << (qint64(1) << 48) << (qint64(2) << 48) + 3 * (qint64(371'000) << 32)
                                             << (qint64(4) << 48) + 3 * (qint64(371'000) << 32);
}

void RunModuleTest::exactSizes()
{
    QFETCH(Change, change);
    QFETCH(qint64, lineCount);
    QFETCH(qint64, textBytes);
    QFETCH(qint64, fileBytes);
    const RunPlan runPlan = planned(change).plan;
    QCOMPARE(runPlan.lineCount, lineCount);
    QCOMPARE(runPlan.textBytes, textBytes);
    QCOMPARE(runPlan.fileBytes, fileBytes);
}

void RunModuleTest::streamedFileEqualsTheBuiltOne_data()
{
    QTest::addColumn<Change>("change");

    QTest::newRow("start-up settings") << Change([](RunSettings &) {});
    QTest::newRow("one padded counter counting down by 3") << Change([](RunSettings &s) {
        s.panels[0] = {false, false, true, "4", "20", "-7", "-3"};
    });
    QTest::newRow("two counters, letters and numbers down by 2") << Change([](RunSettings &s) {
        s.counterOptions = {false, true, false};
        s.panels[0] = {true, true, false, "1", "A", "E", "1"};
        s.panels[1] = {false, false, false, "1", "5", "-5", "2"};
    });
    QTest::newRow("three counters of every kind, Windows-1252 fields")
        << Change([](RunSettings &s) {
               s.counterOptions = {false, false, true};
               s.fields = {QStringLiteral("é\""), QStringLiteral("€-"), "", QStringLiteral("”")};
               s.panels[0] = {true, false, false, "1", "Z", "X", "0"};
               s.panels[1] = {false, true, true, "3", "-5", "5", "4"};
               s.panels[2] = {false, true, false, "1", "1", "3", "0"};
           });
    QTest::newRow("three counters, the last with one value") << Change([](RunSettings &s) {
        s.counterOptions = {false, false, true};
        s.panels[2].end = s.panels[2].start;
    });
    QTest::newRow("lines over many chunks") << Change(manyChunks);
    // Its texts together pass 64 MB, so each is made when it is written.
    QTest::newRow("a pad width too wide to keep every text") << Change([](RunSettings &s) {
        s.panels[0] = {false, true, true, "1025", "-32768", "32767", "1"};
    });
}

void RunModuleTest::streamedFileEqualsTheBuiltOne()
{
    QFETCH(Change, change);
    Planned run = planned(change);
    RunModule &module = run.module;
    const RunPlan &runPlan = run.plan;
    std::optional<RecordStream> &stream = run.records;
    module.BuildLines(runPlan);
    QTemporaryDir dir;
    const QString streamed = dir.filePath("streamed.CTF");

    QVERIFY(stream);
    const std::atomic<bool> cancel {false};
    WriteProgress progress;
    const WriteResult result
        = streamRecordFile(streamed, *stream, runPlan.fileBytes, cancel, progress);
    QVERIFY2(result.outcome == WriteOutcome::Written, qPrintable(result.reason));
    // Each line made one by one as a record (in quotes, in Windows-1252,
    // ending in CR LF), and as the Container's row.
    std::vector<std::string> fields;
    for (int j = 0; j <= module.CounterCount; ++j)
        fields.push_back(runPlan.fields[size_t(j)]);
    const std::vector<std::string> lines = referenceLines(fields,
        std::vector<CounterSettings>(
            runPlan.counters.begin(), runPlan.counters.begin() + module.CounterCount));
    std::string records;
    std::string text;
    for (const std::string &line : lines) {
        records += '"';
        QVERIFY(appendAnsi(records, line));
        records += "\"\r\n";
        text += line + "\r\n";
    }
    const QByteArray expected = QByteArray::fromStdString(records);
    QVERIFY(contentsOf(streamed) == expected);
    QVERIFY(textOf(*module.LineList) == text);
    QCOMPARE(runPlan.lineCount, qint64(lines.size()));
    QCOMPARE(runPlan.textBytes, qint64(text.size()));
    QCOMPARE(runPlan.fileBytes, qint64(expected.size()));
    QCOMPARE(progress.lines(), runPlan.lineCount);
    QCOMPARE(progress.bytes(), runPlan.fileBytes);
}

void RunModuleTest::stoppedWriteKeepsTheOldFile_data()
{
    QTest::addColumn<int>("cancelAfterChunks");
    QTest::addColumn<qint64>("fileSizeLimit");
    QTest::addColumn<QString>("reason");
    QTest::newRow("cancelled before the first chunk") << 0 << qint64(0) << QString();
    QTest::newRow("cancelled in the middle") << 5 << qint64(0) << QString();
    QTest::newRow("cancelled after the last chunk")
        << int(CancelAfter::AllChunks) << qint64(0) << QString();
    QTest::newRow("a write that fails in the middle")
        << 1000 << qint64(3 << 20) << QStringLiteral("File too large");
}

void RunModuleTest::stoppedWriteKeepsTheOldFile()
{
    QFETCH(int, cancelAfterChunks);
    QFETCH(qint64, fileSizeLimit);
    QFETCH(QString, reason);
    const FolderWithEarlierFile folder;
    const QString path = folder.path();
    auto [module, runPlan, stream] = planned(manyChunks);
    QVERIFY(stream);

    std::atomic<bool> cancel {cancelAfterChunks == 0};
    CancelAfter progress(cancel, cancelAfterChunks, runPlan.lineCount);
    WriteResult result;
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (fileSizeLimit > 0) {
            limit = std::make_unique<FileSizeLimit>(static_cast<rlim_t>(fileSizeLimit));
            QVERIFY(limit->applied());
        }
        result = streamRecordFile(path, *stream, runPlan.fileBytes, cancel, progress);
    }
    QVERIFY(result.outcome == (reason.isEmpty() ? WriteOutcome::Cancelled : WriteOutcome::Failed));
    QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
    QCOMPARE(contentsOf(path), Earlier);
    QCOMPARE(entriesOf(folder.folder()), QStringList {"out.CTF"});
}

void RunModuleTest::fileThatDoesNotFitIsRefused_data()
{
    QTest::addColumn<QString>("endCount");
    QTest::addColumn<QString>("reason");
    // The file system holds 64 KB; each line is a record of 35 bytes.
    QTest::newRow("a file larger than the free space")
        << "5000"
        << "The file needs 175.0 kB; the disk that holds";
    QTest::newRow("a file that fits") << "1000" << QString();
}

void RunModuleTest::fileThatDoesNotFitIsRefused()
{
    QFETCH(QString, endCount);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    SmallFileSystem small(dir.filePath("small"));
    if (!small.mounted())
        QSKIP("mounting a small tmpfs needs root");
    const QString path = dir.filePath("small/out.CTF");
    QVERIFY(writeFile(path, Earlier));
    auto [module, runPlan, stream] = planned([&](RunSettings &s) {
        s.panels[0].start = "1001";
        s.panels[0].end = QString::number(1000 + endCount.toInt());
    });
    QVERIFY(stream);
    const std::atomic<bool> cancel {false};
    WriteProgress progress;
    const WriteResult result = streamRecordFile(path, *stream, runPlan.fileBytes, cancel, progress);
    QVERIFY2(result.reason.startsWith(reason), qPrintable(result.reason));
    if (reason.isEmpty()) {
        QVERIFY(result.outcome == WriteOutcome::Written);
        QCOMPARE(QFileInfo(path).size(), runPlan.fileBytes);
    } else {
        QVERIFY(result.outcome == WriteOutcome::Failed);
        QVERIFY2(
            result.reason.contains("kB free. Nothing was written."), qPrintable(result.reason));
        QCOMPARE(progress.bytes(), qint64(0));
        QCOMPARE(contentsOf(path), Earlier);
    }
    QCOMPARE(entriesOf(dir.filePath("small")), QStringList {"out.CTF"});
}

void RunModuleTest::writeOnItsOwnThread_data()
{
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("written whole") << false;
    QTest::newRow("cancelled before it starts") << true;
}

void RunModuleTest::writeOnItsOwnThread()
{
    QFETCH(bool, cancelled);
    const FolderWithEarlierFile folder;
    const QString path = folder.path();
    auto [module, runPlan, stream] = planned(manyChunks);
    QVERIFY(stream);
    StreamingWrite write(path, std::move(*stream), runPlan.fileBytes);
    QSignalSpy finished(&write, &StreamingWrite::finished);
    if (cancelled)
        write.cancel();
    write.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60'000);
    QVERIFY(write.isFinished());
    if (cancelled) {
        QVERIFY(write.result().outcome == WriteOutcome::Cancelled);
        QCOMPARE(contentsOf(path), Earlier);
    } else {
        QVERIFY2(
            write.result().outcome == WriteOutcome::Written, qPrintable(write.result().reason));
        QCOMPARE(write.linesDone(), runPlan.lineCount);
        QCOMPARE(write.bytesDone(), runPlan.fileBytes);
        QCOMPARE(QFileInfo(path).size(), runPlan.fileBytes);
    }
    QCOMPARE(entriesOf(folder.folder()), QStringList {"out.CTF"});
}

void RunModuleTest::counterCountFollowsTheOptions()
{
    RunModule module;
    module.ReadCounterCount({false, true, false});
    QCOMPARE(module.CounterCount, int16_t(2));
    // With no option selected the count stays as it was.
    module.ReadCounterCount({false, false, false});
    QCOMPARE(module.CounterCount, int16_t(2));
}

void RunModuleTest::linesVaryLastCounterFastest()
{
    RunSettings settings = startUpSettings();
    settings.counterOptions = {false, false, true};
    settings.fields = {"<", "-", ":", ">"};
    settings.panels[0] = {true, true, false, "1", "A", "B", "1"};
    settings.panels[1] = {false, false, false, "3", "2", "1", "1"};
    settings.panels[2] = {false, true, true, "2", "8", "9", "1"};
    RunModule module = moduleFor(settings);
    module.BuildLines(std::get<RunPlan>(module.planRun(settings)));
    QCOMPARE(linesOf(*module.LineList),
        (QStringList {"<A- 2:08>", "<A- 2:09>", "<A- 1:08>", "<A- 1:09>", "<B- 2:08>", "<B- 2:09>",
            "<B- 1:08>", "<B- 1:09>"}));
    QCOMPARE(QString::fromStdString(textOf(*module.LineList)).count("\r\n"), 8);
}

void RunModuleTest::secondRunLeavesNoneOfTheFirst()
{
    RunSettings settings = startUpSettings();
    RunModule module = moduleFor(settings);
    module.BuildLines(std::get<RunPlan>(module.planRun(settings)));
    QCOMPARE(module.LineList->lineCount(), 11);
    settings.panels[0].end = "11";
    module.BuildLines(std::get<RunPlan>(module.planRun(settings)));
    QCOMPARE(QString::fromStdString(textOf(*module.LineList)),
        QStringLiteral("First Field  10 Second Field \r\nFirst Field  11 Second Field \r\n"));
}

void RunModuleTest::recordFileReplacesOldContents()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.CTF");
    QVERIFY(writeFile(path, QByteArray(1000, 'o')));
    QCOMPARE(writeTwoLines(path).outcome, WriteOutcome::Written);
    QCOMPARE(contentsOf(path), QByteArray::fromHex("2252412D58220D0A2252412D59220D0A"));
    // A new file gets the permissions any program's new file gets here.
    QVERIFY(writeFile(dir.filePath("by Qt"), "x"));
    QCOMPARE(writeTwoLines(dir.filePath("new.CTF")).outcome, WriteOutcome::Written);
    QCOMPARE(contentsOf(dir.filePath("new.CTF")), contentsOf(path));
    QCOMPARE(
        QFile::permissions(dir.filePath("new.CTF")), QFile::permissions(dir.filePath("by Qt")));
}

void RunModuleTest::recordFileFailuresKeepTheOldFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("left");
    const QString none = "no file was written";
    const QString kept = "the file was left as it was";
    QTest::newRow("missing folder") << "no such folder/out.CTF"
                                    << "No such file or directory" << none;
    QTest::newRow("a folder as the file") << "folder"
                                          << "directory" << kept;
    QTest::newRow("read-only file") << "readonly.CTF"
                                    << "The file is read-only." << kept;
    // Qt itself would write to "out" and report success.
    QTest::newRow("a name with a NUL character")
        << QStringLiteral("out") + QChar(0) + QStringLiteral("name.CTF") << "NUL character" << none;
}

void RunModuleTest::recordFileFailuresKeepTheOldFile()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QFETCH(QString, left);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    const QString readOnly = dir.filePath("readonly.CTF");
    QVERIFY(writeFile(readOnly, "old"));
    QVERIFY(QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadGroup));

    const WriteResult failure = writeTwoLines(dir.filePath(name));
    QCOMPARE(failure.outcome, WriteOutcome::Failed);
    QVERIFY2(failure.reason.contains(reason), qPrintable(failure.reason));
    QCOMPARE(failure.fileLeft, left);
    QCOMPARE(contentsOf(readOnly), QByteArray("old"));
    QVERIFY(QDir(dir.filePath("folder")).isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"readonly.CTF"});
}

void RunModuleTest::endOfTheSave_data()
{
    QTest::addColumn<Interference>("interference");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<WriteOutcome>("outcome");
    // The whole reason or notice, and what the path holds; <path> stands for it.
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("left");
    // What the folder holds after the save, name by name.
    QTest::addColumn<Contents>("after");

    const QByteArray written = QByteArray::fromHex("2252412D58220D0A2252412D59220D0A");
    const auto swapped = [](const QDir &dir) {
        QFile::remove(dir.filePath("out.CTF"));
        writeFile(dir.filePath("out.CTF"), "another program's");
    };
    const auto moved = [](const QDir &dir) {
        QDir(dir).rename("out.CTF", "old.CTF");
        writeFile(dir.filePath("out.CTF"), "another program's");
    };
    QTest::newRow("a file put in the old one's place just before the exchange gets it back")
        << Interference {swapped} << true << WriteOutcome::Failed
        << "While Kelvaro was saving, <path> was replaced by another file. Kelvaro left that file "
           "as it is."
        << "Kelvaro wrote nothing there; it holds what another program put there"
        << Contents {{"out.CTF", "another program's"}};
    QTest::newRow("where names cannot be exchanged, a rename replaces the file")
        << Interference {{}, true} << true << WriteOutcome::Written << QString() << QString()
        << Contents {{"out.CTF", written}};
    QTest::newRow("where names cannot be exchanged, a file put in place just before is told")
        << Interference {moved, true} << true << WriteOutcome::Failed
        << "While Kelvaro was saving, another program put a file in place of <path>. Kelvaro's "
           "new file replaced that one before it could be seen, and the file that was there "
           "before is no longer at this path."
        << "it holds the new lines" << Contents {{"old.CTF", Earlier}, {"out.CTF", written}};
    QTest::newRow("a folder that cannot be synced after the rename is told")
        << Interference {{}, false, true} << true << WriteOutcome::Failed
        << "The new lines are in place, but the system could not confirm that their name "
           "reached the disk: Input/output error."
        << "it holds the new lines, but after a power cut it may hold the old ones again"
        << Contents {{"out.CTF", written}};
    QTest::newRow("Cancel while a new file's name is synced comes too late, and says so")
        << Interference {{}, false, false, true} << false << WriteOutcome::Written
        << "Cancel came after the last line was written into <path>, too late to stop the save: "
           "it holds the new lines, whole."
        << QString() << Contents {{"out.CTF", written}};
    QTest::newRow("Cancel while a replaced file's name is synced comes too late, and says so")
        << Interference {{}, false, false, true} << true << WriteOutcome::Written
        << "Cancel came after the last line was written into <path>, too late to keep its old "
           "contents: it holds the new lines, whole."
        << QString() << Contents {{"out.CTF", written}};
}

void RunModuleTest::endOfTheSave()
{
    QFETCH(Interference, interference);
    QFETCH(bool, existing);
    QFETCH(WriteOutcome, outcome);
    QFETCH(QString, message);
    QFETCH(QString, left);
    QFETCH(Contents, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.CTF");
    if (existing)
        QVERIFY(writeFile(path, Earlier));
    Planned run = planned([](RunSettings &s) {
        s.counterOptions = {false, true, false};
        s.fields = {"R", "-", "", ""};
        s.panels[0] = {true, true, false, "1", "A", "A", "1"};
        s.panels[1] = {true, true, false, "1", "X", "Y", "1"};
    });
    std::atomic<bool> cancel {false};
    WriteProgress progress;
    g_folder = QDir(dir.path());
    g_cancel = &cancel;
    g_interference = interference;
    const WriteResult result
        = streamRecordFile(path, *run.records, run.plan.fileBytes, cancel, progress);
    g_interference = {};
    g_cancel = nullptr;
    message.replace("<path>", QDir::toNativeSeparators(path));
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(outcome == WriteOutcome::Written ? result.notice : result.reason, message);
    QCOMPARE(result.fileLeft, left);
    QCOMPARE(entriesOf(dir.path()), after.keys());
    for (auto file = after.cbegin(); file != after.cend(); ++file)
        QCOMPARE(contentsOf(dir.filePath(file.key())), file.value());
}

void RunModuleTest::defaultExtension_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("defaultExt");
    QTest::addColumn<QString>("saved");
    QTest::newRow("name without extension") << "/tmp/Test"
                                            << ".CTF"
                                            << "/tmp/Test.CTF";
    QTest::newRow("extension without its period") << "/tmp/Test"
                                                  << "CTF"
                                                  << "/tmp/Test.CTF";
    QTest::newRow("name with an extension keeps it") << "/tmp/list.txt"
                                                     << ".CTF"
                                                     << "/tmp/list.txt";
    QTest::newRow("name ending in a period") << "/tmp/Test."
                                             << ".CTF"
                                             << "/tmp/Test.CTF";
    QTest::newRow("period in the folder only") << "/tmp/a.b/Test"
                                               << ".CTF"
                                               << "/tmp/a.b/Test.CTF";
    QTest::newRow("no default extension") << "/tmp/Test"
                                          << ""
                                          << "/tmp/Test";
}

void RunModuleTest::defaultExtension()
{
    QFETCH(QString, chosen);
    QFETCH(QString, defaultExt);
    QFETCH(QString, saved);
    CommonDialog dialog;
    dialog.DefaultExt = defaultExt;
    dialog.setPresenter([&](const CommonDialog &) { return std::optional<QString>(chosen); });
    QVERIFY(dialog.ShowSave());
    QCOMPARE(dialog.FileName, saved);
}

void RunModuleTest::cancelledDialogKeepsItsName()
{
    CommonDialog dialog;
    dialog.Flags = CommonDialog::OverwritePrompt;
    int shown = 0;
    std::optional<QString> answer = QStringLiteral("/tmp/first");
    dialog.setPresenter([&](const CommonDialog &) {
        ++shown;
        return answer;
    });
    RunModule module;
    QCOMPARE(module.AskOutputFileName(dialog), std::optional<QString>("/tmp/first.CTF"));
    QCOMPARE(dialog.Flags, int(CommonDialog::HideReadOnly));
    answer.reset();
    QCOMPARE(module.AskOutputFileName(dialog), std::nullopt);
    QCOMPARE(dialog.FileName, QStringLiteral("/tmp/first.CTF"));
    QCOMPARE(shown, 2);
}

void RunModuleTest::dialogOpensOnTheDesktopOrHome_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("opensIn");
    QTest::newRow("the desktop folder") << QStringList {"home/Desktop"} << "home"
                                        << "home/Desktop";
    QTest::newRow("the home folder without a desktop") << QStringList {"home"} << "home"
                                                       << "home";
    QTest::newRow("the current folder without a home folder") << QStringList {} << "home"
                                                              << "current";
    QTest::newRow("the current folder without HOME, not the root")
        << QStringList {"home/Desktop"} << QString() << "current";
}

void RunModuleTest::dialogOpensOnTheDesktopOrHome()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, home);
    QFETCH(QString, opensIn);
    QTemporaryDir dir;
    const QDir root(dir.path());
    for (const QString &folder : folders + QStringList {"current", "config"})
        QVERIFY(root.mkpath(folder));
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QString savedCurrent = QDir::currentPath();
    // No user-dirs.dirs: the desktop is HOME/Desktop.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("config")));
    if (home.isEmpty())
        qunsetenv("HOME");
    else
        qputenv("HOME", QFile::encodeName(root.filePath(home)));
    QVERIFY(QDir::setCurrent(root.filePath("current")));

    CommonDialog dialog;
    const QString opened = dialog.initialPath();
    QDir::setCurrent(savedCurrent);
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", savedConfig);
    QCOMPARE(opened, root.filePath(opensIn + "/Test"));
    QCOMPARE(dialog.DialogTitle, QStringLiteral("save data as"));
    QCOMPARE(dialog.DefaultExt, QStringLiteral("CTF"));
    QCOMPARE(dialog.InitDir, QStringLiteral("%DESKTOP%"));
    dialog.FileName = QStringLiteral("/data/labels.CTF");
    QCOMPARE(dialog.initialPath(), QStringLiteral("/data/labels.CTF"));
}

QTEST_GUILESS_MAIN(RunModuleTest)
#include "tst_runmodule.moc"
