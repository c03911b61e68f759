// SPDX-License-Identifier: GPL-3.0-or-later
// The run without its window: settings checks, line order, records and the Save dialog model.
#include "linebuffer.h"
#include "recordfile.h"
#include "runmodule.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"

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

QStringList linesOf(const LineBuffer &lines)
{
    QStringList list;
    for (size_t i = 0; i < lines.size(); ++i)
        list << QString::fromStdString(std::string(lines.line(i)));
    return list;
}

} // namespace

using Change = std::function<void(RunSettings &)>;
Q_DECLARE_METATYPE(Change)

class RunModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void counterCountFollowsTheOptions();
    void linesVaryLastCounterFastest();
    void secondRunLeavesNoneOfTheFirst();
    void records_data();
    void records();
    void recordFileReplacesOldContents();
    void recordFileFailuresKeepTheOldFile_data();
    void recordFileFailuresKeepTheOldFile();
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
    QTest::newRow("a run at the line limit")
        << Change(twoCounters("125", "31231")) << qint64(8'000'000) << QString();
    QTest::newRow("one line beyond the limit")
        << Change(twoCounters("201", "7032")) << qint64(0)
        << "This run would make 8,000,001 lines, more than the limit of 8,000,000.";
    QTest::newRow("three counters of 300 values") << Change([](RunSettings &s) {
        s.counterOptions = {false, false, true};
        for (CounterPanel &panel : s.panels) {
            panel.start = "1";
            panel.end = "300";
        }
    }) << qint64(0) << "This run would make 27,000,000 lines";
    QTest::newRow("text beyond its limit") << Change([](RunSettings &s) {
        s.fields[0] = QString(10'000, QLatin1Char('x'));
        s.panels[0].start = "-30000";
        s.panels[0].end = "29999";
    }) << qint64(0) << "This run would make up to 573 MB of text, more than the limit of 512 MB.";
    QTest::newRow("an unpadded number's width is not read")
        << Change([](RunSettings &s) { s.panels[0].width = "99999"; }) << qint64(11) << QString();
    QTest::newRow("a padded number's width is read")
        << Change([](RunSettings &s) {
               s.panels[0].padded = true;
               s.panels[0].width = "99999";
           })
        << qint64(0)
        << "Counter 1 (the left panel): the pad width box reads “99999”, which is outside -32768 "
           "to 32767.";
    QTest::newRow("an Alpha counter's width is not read") << Change([](RunSettings &s) {
        s.panels[0] = {true, true, true, "99999", "A", "E", "1"};
    }) << qint64(5) << QString();
    QTest::newRow("a long text is quoted by its ends") << Change([](RunSettings &s) {
        s.panels[0].step = QString(10'000, QLatin1Char('7'));
    }) << qint64(0) << "the Step box reads “777777777777777777777777…77777777 (10,000 characters)”";
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
        << "Field 2 holds the character “Ж” (U+0416)";
    QTest::newRow("a character outside the basic plane")
        << Change([](RunSettings &s) { s.fields[0] = QStringLiteral("😀"); }) << qint64(0)
        << "Field 1 holds the character “😀” (U+1F600)";
}

void RunModuleTest::plan()
{
    QFETCH(Change, change);
    QFETCH(qint64, lineCount);
    QFETCH(QString, problem);
    RunSettings settings = startUpSettings();
    change(settings);
    const std::variant<RunPlan, QString> plan = moduleFor(settings).planRun(settings);
    const QString *refusal = std::get_if<QString>(&plan);
    if (problem.isEmpty()) {
        QVERIFY2(!refusal, refusal ? qPrintable(*refusal) : "");
        QCOMPARE(std::get<RunPlan>(plan).lineCount, lineCount);
    } else {
        QVERIFY(refusal);
        QVERIFY2(refusal->contains(problem), qPrintable(*refusal));
    }
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
    QCOMPARE(linesOf(module.LineList),
        (QStringList {"<A- 2:08>", "<A- 2:09>", "<A- 1:08>", "<A- 1:09>", "<B- 2:08>", "<B- 2:09>",
            "<B- 1:08>", "<B- 1:09>"}));
    QCOMPARE(QString::fromStdString(module.LineList.text()).count("\r\n"), 8);
}

void RunModuleTest::secondRunLeavesNoneOfTheFirst()
{
    RunSettings settings = startUpSettings();
    RunModule module = moduleFor(settings);
    module.BuildLines(std::get<RunPlan>(module.planRun(settings)));
    QCOMPARE(module.LineList.size(), size_t(11));
    settings.panels[0].end = "11";
    module.BuildLines(std::get<RunPlan>(module.planRun(settings)));
    QCOMPARE(QString::fromStdString(module.LineList.text()),
        QStringLiteral("First Field  10 Second Field \r\nFirst Field  11 Second Field \r\n"));
}

void RunModuleTest::records_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("plain") << "RA-X" << true << QByteArray("\"RA-X\"\r\n");
    QTest::newRow("empty line") << "" << true << QByteArray("\"\"\r\n");
    QTest::newRow("quote inside is not doubled")
        << "say \"hi\"" << true << QByteArray("\"say \"hi\"\"\r\n");
    QTest::newRow("Windows-1252 bytes")
        << QStringLiteral("é€") << true << QByteArray("\"\xE9\x80\"\r\n");
    QTest::newRow("NUL kept") << QString(QChar(0)) << true << QByteArray("\"\0\"\r\n", 5);
    QTest::newRow("no byte, no record") << QStringLiteral("Ж") << false << QByteArray();
}

void RunModuleTest::records()
{
    QFETCH(QString, line);
    QFETCH(bool, written);
    QFETCH(QByteArray, record);
    std::string out = "before|";
    QCOMPARE(appendRecord(out, line.toStdString()), written);
    QCOMPARE(QByteArray::fromStdString(out), "before|" + record);
}

void RunModuleTest::recordFileReplacesOldContents()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.CTF");
    QVERIFY(writeFile(path, QByteArray(1000, 'o')));
    const LineBuffer lines = LineBuffer::product(LineBuffer("\r\n", 1), {"RA-X", "RA-Y"});
    QCOMPARE(writeRecordFile(path, lines), std::nullopt);
    QCOMPARE(contentsOf(path), QByteArray::fromHex("2252412D58220D0A2252412D59220D0A"));
    // A new file gets the permissions any program's new file gets here.
    QVERIFY(writeFile(dir.filePath("by Qt"), "x"));
    QCOMPARE(writeRecordFile(dir.filePath("new.CTF"), lines), std::nullopt);
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

    const LineBuffer lines = LineBuffer::product(LineBuffer("\r\n", 1), {"new"});
    const std::optional<WriteFailure> failure = writeRecordFile(dir.filePath(name), lines);
    QVERIFY(failure);
    QVERIFY2(failure->reason.contains(reason), qPrintable(failure->reason));
    QCOMPARE(failure->fileLeft, left);
    QCOMPARE(contentsOf(readOnly), QByteArray("old"));
    QVERIFY(QDir(dir.filePath("folder")).isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"readonly.CTF"});
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
    dialog.CancelError = true;
    dialog.Flags = 99;
    int shown = 0;
    std::optional<QString> answer = QStringLiteral("/tmp/first");
    dialog.setPresenter([&](const CommonDialog &) {
        ++shown;
        return answer;
    });
    RunModule module;
    QCOMPARE(module.AskOutputFileName(dialog), std::optional<QString>("/tmp/first.CTF"));
    QCOMPARE(dialog.CancelError, false);
    QCOMPARE(dialog.Flags, 4);
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
