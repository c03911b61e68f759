// SPDX-License-Identifier: GPL-3.0-or-later
// Real faults (files that cannot be written) and bad input, through the real window.
#include "testfiles.h"
#include "windowdriver.h"

#include "container.h"
#include "filereplacement.h"
#include "streamingwrite.h"
#include "testseams.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMap>
#include <QProcess>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Earlier = "earlier file";

using Input = std::function<void(WindowDriver &)>;
// What another program does to the folder while the run's file is written.
using Disturbance = std::function<void(const QDir &)>;
// Files whose contents a row changes, and what they hold after it.
using Contents = QMap<QString, QByteArray>;

// The records of the 5,000 lines that runInto asks for.
QByteArray runRecords()
{
    QByteArray records;
    for (int value = 1; value <= 5000; ++value)
        records += "\"First Field  " + QByteArray::number(value) + " Second Field \"\r\n";
    return records;
}

} // namespace

Q_DECLARE_METATYPE(Input)
Q_DECLARE_METATYPE(Disturbance)

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileFaults_data();
    void fileFaults();
    void writableFileInLockedFolder();
    void killedSaveLeavesTheOldFile();
    void badInput_data();
    void badInput();

private:
    // Asks for the file, presses "Do IT" on 5,000 lines (some 170 KB), and
    // checks the one message, whole, and that the lines reached the Container.
    void runInto(const QString &chosen, const QString &reason, const QString &left);
    // In a child process of killedSaveLeavesTheOldFile: a save of some 88 million
    // lines through the window, held after its first chunk until it is killed.
    void saveUntilKilled(const QString &folder);

    std::unique_ptr<WindowDriver> m_ui;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void FaultsTest::init()
{
    m_ui = std::make_unique<WindowDriver>();
    m_dir = std::make_unique<QTemporaryDir>();
}

void FaultsTest::cleanup()
{
    StreamingWriteForTests::setWriterHook({});
    m_ui.reset();
    m_dir.reset();
}

void FaultsTest::runInto(const QString &chosen, const QString &reason, const QString &left)
{
    const QString path = CommonDialog::withDefaultExtension(m_dir->filePath(chosen), ".CTF");
    m_ui->answerSaveDialog(m_dir->filePath(chosen));
    m_ui->type("Text2(0)", "1");
    m_ui->type("Text3(0)", "5000");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages(),
        QStringList {QStringLiteral("Kelvaro could not write the file %1:\n%2\n\nThe lines are in "
                                    "the Container; %3.")
                         .arg(QDir::toNativeSeparators(path), reason, left)});
    QCOMPARE(m_ui->container()->model().rowCount(), size_t(5001));
}

void FaultsTest::fileFaults_data()
{
    QTest::addColumn<QString>("chosen");
    // The whole reason and what the path holds; <dir> stands for the folder.
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("left");
    QTest::addColumn<Disturbance>("meanwhile");
    QTest::addColumn<Contents>("changed");
    const QString none = "no file was written";
    const QString kept = "the file was left as it was";
    const Disturbance nothing;
    const QString twice = "twice (other name).CTF";
    QTest::newRow("a folder that does not exist")
        << "missing/out"
        << "No such file or directory" << none << nothing << Contents();
    QTest::newRow("a folder chosen as the file")
        << "folder.CTF"
        << "Is a directory" << kept << nothing << Contents();
    QTest::newRow("a read-only file") << "readonly.CTF"
                                      << "The file is read-only." << kept << nothing << Contents();
    QTest::newRow("a named pipe")
        << "pipe.CTF"
        << "It is a named pipe (FIFO), not a regular file. Kelvaro writes its lines only into "
           "regular files."
        << kept << nothing << Contents();
    QTest::newRow("a file size limit") << "out"
                                       << "File too large" << kept << nothing << Contents();
    QTest::newRow("a file system without room for the file, found before writing")
        << "small/out"
        << "The file needs 173.9 kB; the disk that holds <dir>/small has 61.4 kB free. Nothing "
           "was written. Free some space, choose another folder, or make the run smaller."
        << kept << nothing << Contents();
    QTest::newRow("another user's link in a shared sticky folder")
        << "shared/report"
        << "<dir>/shared/report.CTF is a symbolic link that another user made in a folder "
           "everyone may write to. Kelvaro does not follow such a link, as the system would not: "
           "it could lead anywhere that user chose."
        << kept << nothing << Contents();
    QTest::newRow("another user's link to a folder, with the system's rule off")
        << "shared/reports/out"
        << "<dir>/shared/reports is a symbolic link that another user made in a folder everyone "
           "may write to. Kelvaro does not follow such a link, as the system would not: it could "
           "lead anywhere that user chose."
        << kept << nothing << Contents();
    QTest::newRow("a file another save is writing")
        << "busy"
        << "<dir>/busy.CTF is being saved by another Kelvaro window right now; two saves at once "
           "would mix their lines. Save again once that one has ended."
        << kept << nothing << Contents();
    QTest::newRow("a new name that another save is making")
        << "making"
        << "<dir>/making.CTF is being saved by another Kelvaro window right now; two saves at "
           "once would mix their lines. Save again once that one has ended."
        << none << nothing << Contents();
    QTest::newRow("a file written in place that another program replaces meanwhile")
        << "twice"
        << "While Kelvaro was saving, <dir>/twice.CTF was replaced by another file. Kelvaro left "
           "that file as it is."
        << "another program's file is there now, and Kelvaro wrote them into <dir>/" + twice
        << Disturbance([](const QDir &dir) {
               QFile::remove(dir.filePath("twice.CTF"));
               writeFile(dir.filePath("twice.CTF"), "another program's");
           })
        << Contents {{"twice.CTF", "another program's"}, {twice, runRecords()}};
    QTest::newRow("a file written in place that another program deletes meanwhile")
        << "twice"
        << "While Kelvaro was saving, <dir>/twice.CTF was deleted. Kelvaro put nothing in its "
           "place."
        << "no file is there now, and Kelvaro wrote them into <dir>/" + twice
        << Disturbance([](const QDir &dir) { QFile::remove(dir.filePath("twice.CTF")); })
        << Contents {{"twice.CTF", "<no file>"}, {twice, runRecords()}};
    QTest::newRow("a name too long for the file system")
        << QString(300, QLatin1Char('n')) << "File name too long" << none << nothing << Contents();
}

void FaultsTest::fileFaults()
{
    QFETCH(QString, chosen);
    QFETCH(QString, reason);
    QFETCH(QString, left);
    QFETCH(Disturbance, meanwhile);
    QFETCH(Contents, changed);
    const QDir dir(m_dir->path());
    // Only Kelvaro's own walk keeps the rule for links in shared folders.
    const LinksUnprotected linksUnprotected;
    QVERIFY(dir.mkdir("folder.CTF"));
    QCOMPARE(mkfifo(qPrintable(dir.filePath("pipe.CTF")), 0666), 0);
    Contents contents {{"out.CTF", Earlier}, {"readonly.CTF", Earlier}, {"busy.CTF", Earlier},
        {"twice.CTF", Earlier}};
    for (auto file = contents.cbegin(); file != contents.cend(); ++file)
        QVERIFY(writeFile(dir.filePath(file.key()), file.value()));
    // A file with two names is written in place.
    contents.insert("twice (other name).CTF", Earlier);
    QCOMPARE(::link(qPrintable(dir.filePath("twice.CTF")),
                 qPrintable(dir.filePath("twice (other name).CTF"))),
        0);
    QVERIFY(QFile::setPermissions(dir.filePath("readonly.CTF"), QFileDevice::ReadOwner));
    // A folder everyone may write to, where another user left a link to
    // out.CTF and one to this folder.
    QVERIFY(dir.mkdir("shared"));
    QCOMPARE(chmod(qPrintable(dir.filePath("shared")), 01777), 0);
    QCOMPARE(symlink("../out.CTF", qPrintable(dir.filePath("shared/report.CTF"))), 0);
    QCOMPARE(symlink("..", qPrintable(dir.filePath("shared/reports"))), 0);
    const bool planted = lchown(qPrintable(dir.filePath("shared/report.CTF")), 65534, 65534) == 0
        && lchown(qPrintable(dir.filePath("shared/reports")), 65534, 65534) == 0;
    if (chosen.startsWith("shared/") && !planted)
        QSKIP("a link of another user needs root to make");
    // Another save of busy.CTF, and one of the new name making.CTF, are under way all along.
    FileReplacement otherSave;
    QCOMPARE(otherSave.open(dir.filePath("busy.CTF"), 4), std::nullopt);
    FileReplacement otherNewSave;
    QCOMPARE(otherNewSave.open(dir.filePath("making.CTF"), 4), std::nullopt);
    SmallFileSystem small(dir.filePath("small"));
    const bool needsMount = chosen.startsWith("small/");
    if (needsMount && !small.mounted())
        QSKIP("mounting a small tmpfs needs root; the file size limit stands in for a full disk");
    if (needsMount)
        QVERIFY(writeFile(dir.filePath("small/out.CTF"), Earlier));
    bool disturbed = false;
    if (meanwhile) {
        StreamingWriteForTests::setWriterHook([&](bool finishing) {
            if (!finishing && !disturbed)
                meanwhile(dir);
            disturbed = true;
        });
    }

    {
        std::unique_ptr<FileSizeLimit> limit;
        if (reason == "File too large") {
            limit = std::make_unique<FileSizeLimit>(64 * 1024);
            QVERIFY(limit->applied());
        }
        const QString folder = QDir::toNativeSeparators(dir.path());
        runInto(chosen, QString(reason).replace("<dir>", folder),
            QString(left).replace("<dir>", folder));
    }
    QCOMPARE(disturbed, bool(meanwhile));
    // The saves that were under way end as if they had been alone.
    QVERIFY(otherSave.write("busy", 4));
    QCOMPARE(otherSave.commit(), std::nullopt);
    QVERIFY(otherNewSave.write("made", 4));
    QCOMPARE(otherNewSave.commit(), std::nullopt);
    contents.insert({{"busy.CTF", "busy"}, {"making.CTF", "made"}});
    contents.insert(changed);
    for (auto file = contents.cbegin(); file != contents.cend(); ++file)
        QCOMPARE(contentsOf(dir.filePath(file.key())), file.value());
    FileStatus pipe {};
    QVERIFY(lstat(qPrintable(dir.filePath("pipe.CTF")), &pipe) == 0 && S_ISFIFO(pipe.st_mode));
    QCOMPARE(QFile::symLinkTarget(dir.filePath("shared/report.CTF")), dir.filePath("out.CTF"));
    QCOMPARE(QDir(dir.filePath("shared"))
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList {"report.CTF", "reports"}));
    if (needsMount) {
        QCOMPARE(contentsOf(dir.filePath("small/out.CTF")), Earlier);
        QCOMPARE(QDir(dir.filePath("small")).entryList(QDir::Files | QDir::Hidden),
            QStringList {"out.CTF"});
    }
    QStringList entries {"folder.CTF", "pipe.CTF", "shared", "small"};
    for (auto file = contents.cbegin(); file != contents.cend(); ++file) {
        if (file.value() != "<no file>")
            entries << file.key();
    }
    entries.sort();
    QCOMPARE(dir.entryList(
                 QDir::Files | QDir::Dirs | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        entries);
    QVERIFY(QDir(dir.filePath("folder.CTF")).isEmpty());
}

void FaultsTest::writableFileInLockedFolder()
{
    if (geteuid() == 0) {
        const std::optional<QByteArray> failure
            = failureAsNobody(m_dir->path(), "writableFileInLockedFolder");
        QVERIFY2(!failure, failure ? failure->constData() : "");
        return;
    }
    // The folder takes no new file, but the file may be written: it is, in place.
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkdir("locked"));
    QVERIFY(writeFile(dir.filePath("locked/out.CTF"), Earlier));
    QVERIFY(QFile::setPermissions(
        dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    m_ui->answerSaveDialog(dir.filePath("locked/out"));
    m_ui->type("Text3(0)", "11");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages(), QStringList());
    QCOMPARE(contentsOf(dir.filePath("locked/out.CTF")),
        QByteArray("\"First Field  10 Second Field \"\r\n\"First Field  11 Second Field \"\r\n"));
    QCOMPARE(QDir(dir.filePath("locked")).entryList(QDir::Files | QDir::Hidden),
        QStringList {"out.CTF"});
    QVERIFY(QFile::setPermissions(dir.filePath("locked"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void FaultsTest::saveUntilKilled(const QString &folder)
{
    // Killed, this process would leave its own folder behind.
    m_dir.reset();
    StreamingWriteForTests::setWriterHook([](bool) {
        std::fputs("writing\n", stdout);
        std::fflush(stdout);
        for (;;)
            pause();
    });
    m_ui->answerSaveDialog(QDir(folder).filePath("out"));
    m_ui->click("Option3(2)");
    for (int k = 0; k < 3; ++k)
        m_ui->type(element("Text3", k), k == 2 ? "99" : "999");
    m_ui->pressDoIt();
    QFAIL("the save ended before it was killed");
}

void FaultsTest::killedSaveLeavesTheOldFile()
{
    const QString childFolder = qEnvironmentVariable("KELVARO_KILLED_SAVE_FOLDER");
    if (!childFolder.isEmpty()) {
        saveUntilKilled(childFolder);
        return;
    }

    const QDir dir(m_dir->path());
    QVERIFY(writeFile(dir.filePath("out.CTF"), Earlier));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KELVARO_KILLED_SAVE_FOLDER", dir.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {"killedSaveLeavesTheOldFile"});
    QByteArray output;
    while (!output.contains("writing\n") && child.waitForReadyRead(-1))
        output += child.readAllStandardOutput();
    QVERIFY2(output.contains("writing\n"), output.constData());
    QCOMPARE(::kill(pid_t(child.processId()), SIGKILL), 0);
    QVERIFY(child.waitForFinished(-1));

    const auto entries = [&dir] {
        return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    };
    QCOMPARE(entries(), QStringList {"out.CTF"});
    QCOMPARE(contentsOf(dir.filePath("out.CTF")), Earlier);
    // The next save goes through as if nothing had happened.
    m_ui->answerSaveDialog(dir.filePath("out"));
    m_ui->type("Text3(0)", "11");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages(), QStringList());
    QCOMPARE(entries(), QStringList {"out.CTF"});
    QCOMPARE(contentsOf(dir.filePath("out.CTF")),
        QByteArray("\"First Field  10 Second Field \"\r\n\"First Field  11 Second Field \"\r\n"));
}

void FaultsTest::badInput_data()
{
    QTest::addColumn<Input>("input");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("message");

    const QString digits(10'000, QLatin1Char('1'));
    QTest::newRow("10,000 digits in every number box")
        << Input([digits](WindowDriver &ui) {
               ui.click("Check1(0)");
               for (const char *box : {"Text1(0)", "Text2(0)", "Text3(0)", "Text4(0)"})
                   ui.paste(box, digits);
           })
        << 0
        << "Counter 1 (the left panel): the Start Count box reads "
           "“111111111111111111111111…11111111 (10,000 characters)”, which is outside -32768 to "
           "32767. Type a number in that range.";
    QTest::newRow("10,000 zeros before a number") << Input([](WindowDriver &ui) {
        ui.paste("Text2(0)", QString(10'000, QLatin1Char('0')) + "5");
    }) << 16 << QString();
    QTest::newRow("signs and exponents") << Input([](WindowDriver &ui) {
        ui.paste("Text2(0)", "-1e2");
        ui.paste("Text3(0)", "+1.5E2");
        ui.paste("Text4(0)", "2d1");
    }) << 13 << QString();
    QTest::newRow("tabs and line feeds") << Input([](WindowDriver &ui) {
        ui.paste("Text2(0)", "\t1\n5");
        ui.paste("Text3(0)", " 1 7 \n");
    }) << 3 << QString();
    QTest::newRow("empty boxes") << Input([](WindowDriver &ui) {
        ui.click("Check1(0)");
        for (const char *box : {"Text1(0)", "Text2(0)", "Text3(0)", "Text4(0)"})
            ui.erase(box);
    }) << 1 << QString();
    QTest::newRow("pasted words in Alpha boxes") << Input([](WindowDriver &ui) {
        ui.click("Option1(0)");
        ui.paste("Text2(0)", "Hello");
        ui.paste("Text3(0)", "World");
    }) << 16 << QString();
    QTest::newRow("every script in the fields, Container only") << Input([](WindowDriver &ui) {
        ui.click("Check3");
        ui.paste("Text5(0)", QStringLiteral("Ωμέγα 中文 "));
        ui.paste("Text5(1)", QStringLiteral(" العربية 😀 é"));
    }) << 11 << QString();
    QTest::newRow("every script in the fields, printing")
        << Input([](WindowDriver &ui) { ui.paste("Text5(0)", QStringLiteral("é Ωμέγα")); }) << 0
        << "Field 1 holds the character “Ω” (U+03A9), which a Windows-1252 file cannot hold. "
           "Remove it, or untick “print to file” to fill only the Container.";
    QTest::newRow("every box at once")
        << Input([digits](WindowDriver &ui) {
               ui.click("Option3(2)");
               ui.click("Option1(1)");
               for (int i = 0; i < 3; ++i) {
                   const QString panel = QString::number(i);
                   if (i != 1)
                       ui.click("Check1(" + panel + ")");
                   ui.paste("Text1(" + panel + ")", "9e9");
                   ui.paste("Text2(" + panel + ")", QStringLiteral("x—") + digits);
                   ui.paste("Text3(" + panel + ")", QStringLiteral("ЖЖ"));
                   ui.paste("Text4(" + panel + ")", "\t-" + digits);
               }
               for (int j = 0; j < 4; ++j)
                   ui.paste("Text5(" + QString::number(j) + ")",
                       QString(10'000, QChar(0x1F600 & 0xFFFF)));
           })
        << 0
        << "Counter 1 (the left panel): the pad width box reads “9e9”, which is outside -32768 to "
           "32767. Type a number in that range.";
}

void FaultsTest::badInput()
{
    QFETCH(Input, input);
    QFETCH(int, lines);
    QFETCH(QString, message);
    m_ui->answerSaveDialog(m_dir->filePath("out"));
    m_ui->type("Text6", "kept");
    input(*m_ui);
    m_ui->pressDoIt();
    if (message.isEmpty()) {
        QCOMPARE(m_ui->messages(), QStringList());
        QCOMPARE(m_ui->container()->model().rowCount(), size_t(lines + 1));
    } else {
        QCOMPARE(m_ui->messages(), QStringList {message});
        QCOMPARE(m_ui->containerText(), QStringLiteral("kept"));
    }

    // The window is as usable as before: back to one numeric counter, it runs.
    if (m_ui->control<QCheckBox>("Check3")->isChecked())
        m_ui->click("Check3");
    m_ui->click("Option3(1)");
    m_ui->click("Option3(0)");
    m_ui->click("Option4(0)");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages().size(), message.isEmpty() ? 0 : 1);
    QCOMPARE(m_ui->container()->model().rowCount(), size_t(12));
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
