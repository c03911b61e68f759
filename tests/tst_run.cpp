// SPDX-License-Identifier: GPL-3.0-or-later
// "Do IT" from end to end: the Container, the file, the Save dialog and every refusal.
#include "windowdriver.h"

#include "container.h"
#include "savedialog.h"
#include "streamingwrite.h"
#include "testseams.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "testfiles.h"

#include <unistd.h>

namespace {

using Steps = UserSteps;

QString containerTextOf(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += line + "\r\n";
    return text;
}

// The records of lines that are plain Latin-1 text.
QByteArray recordsOf(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += '"' + line.toLatin1() + "\"\r\n";
    return bytes;
}

const Steps twoAlphaCounters = {
    {"click", "Option3(1)", {}},
    {"click", "Option1(0)", {}},
    {"type", "Text2(0)", "A"},
    {"type", "Text3(0)", "B"},
    {"click", "Option1(1)", {}},
    {"type", "Text2(1)", "X"},
    {"type", "Text3(1)", "Y"},
    {"type", "Text5(0)", "R"},
    {"type", "Text5(1)", "-"},
    {"erase", "Text5(2)", {}},
};

} // namespace

class RunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lines_data();
    void lines();
    void sixteenByteFile();
    void printToFileUnticked();
    void saveDialogKeepsNoSettings();
    void everyRunWholeInTheContainer();
    void cancelWritesNoFile();
    void existingFileIsReplaced();
    void extensionIsJoinedOnce_data();
    void extensionIsJoinedOnce();
    void secondRunReplacesTheContainer();
    void runKeepsTheTabAndTheSettings();
    void waitCursorWhileTheRunWorks();
    void refusals_data();
    void refusals();
    void largeRunWithItsFile_data();
    void largeRunWithItsFile();

private:
    std::unique_ptr<WindowDriver> m_ui;
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_config;
};

void RunTest::initTestCase()
{
    // Where Qt keeps a user's settings, before anything reads them.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void RunTest::init()
{
    m_ui = std::make_unique<WindowDriver>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_ui->answerSaveDialog(m_dir->filePath("out"));
}

void RunTest::cleanup()
{
    StreamingWriteForTests::setWriterHook({});
    m_ui.reset();
    m_dir.reset();
}

void RunTest::lines_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("file");

    QStringList startUp;
    for (int value = 10; value <= 20; ++value)
        startUp << QStringLiteral("First Field  %1 Second Field ").arg(value);
    QTest::newRow("start-up settings give eleven lines") << Steps {} << startUp << QByteArray();
    QTest::newRow("two Alpha counters make every pair")
        << twoAlphaCounters << QStringList {"RA-X", "RA-Y", "RB-X", "RB-Y"} << QByteArray();
    QTest::newRow("three counters, the last fastest")
        << Steps {{"click", "Option3(2)", {}}, {"type", "Text2(0)", "1"}, {"type", "Text3(0)", "2"},
               {"type", "Text2(1)", "1"}, {"type", "Text3(1)", "2"}, {"type", "Text2(2)", "1"},
               {"type", "Text3(2)", "2"}, {"type", "Text5(0)", "<"}, {"type", "Text5(1)", "-"},
               {"type", "Text5(2)", ":"}, {"type", "Text5(3)", ">"}}
        << QStringList {"< 1- 1: 1>", "< 1- 1: 2>", "< 1- 2: 1>", "< 1- 2: 2>", "< 2- 1: 1>",
               "< 2- 1: 2>", "< 2- 2: 1>", "< 2- 2: 2>"}
        << QByteArray();
    QTest::newRow("a padded counter and a plain one")
        << Steps {{"click", "Option3(1)", {}}, {"click", "Check1(0)", {}},
               {"type", "Text2(0)", "5"}, {"type", "Text3(0)", "6"}, {"type", "Text2(1)", "5"},
               {"type", "Text3(1)", "6"}, {"erase", "Text5(0)", {}}, {"type", "Text5(1)", "/"},
               {"erase", "Text5(2)", {}}}
        << QStringList {"005/ 5", "005/ 6", "006/ 5", "006/ 6"} << QByteArray();
    QTest::newRow("down by 3, padded to width 4")
        << Steps {{"click", "Option5(0)", {}}, {"type", "Text4(0)", "3"},
               {"click", "Check1(0)", {}}, {"type", "Text1(0)", "4"}, {"type", "Text5(0)", "#"},
               {"erase", "Text5(1)", {}}}
        << QStringList {"#0020", "#0017", "#0014", "#0011"} << QByteArray();
    QTest::newRow("letters downwards by 5")
        << Steps {{"click", "Option1(0)", {}}, {"click", "Option5(0)", {}},
               {"type", "Text4(0)", "5"}, {"erase", "Text5(0)", {}}, {"erase", "Text5(1)", {}}}
        << QStringList {"Z", "U", "P", "K", "F", "A"} << QByteArray();
    QTest::newRow("lower-case letters by 2")
        << Steps {{"click", "Option1(0)", {}}, {"type", "Text2(0)", "a"}, {"type", "Text3(0)", "e"},
               {"type", "Text4(0)", "2"}, {"type", "Text5(0)", "["}, {"type", "Text5(1)", "]"}}
        << QStringList {"[a]", "[c]", "[e]"} << QByteArray();
    QTest::newRow("digits as an Alpha counter")
        << Steps {{"click", "Option1(0)", {}}, {"type", "Text2(0)", "0"}, {"type", "Text3(0)", "9"},
               {"type", "Text4(0)", "3"}, {"erase", "Text5(0)", {}}, {"erase", "Text5(1)", {}}}
        << QStringList {"0", "3", "6", "9"} << QByteArray();
    QTest::newRow("pasted characters of the upper code page")
        << Steps {{"click", "Option1(0)", {}}, {"paste", "Text2(0)", QStringLiteral("€")},
               {"paste", "Text3(0)", QStringLiteral("‚")},
               {"type", "Text5(0)", QStringLiteral("é")}, {"erase", "Text5(1)", {}}}
        << QStringList {QStringLiteral("é€"), QStringLiteral("é") + QChar(0x81),
               QStringLiteral("é‚")}
        << QByteArray("\"\xE9\x80\"\r\n\"\xE9\x81\"\r\n\"\xE9\x82\"\r\n");
    QTest::newRow("a quote in a field is written as it is")
        << Steps {{"type", "Text5(0)", "say \""}, {"type", "Text5(1)", "\""},
               {"type", "Text3(0)", "11"}}
        << QStringList {"say \" 10\"", "say \" 11\""} << QByteArray();
}

void RunTest::lines()
{
    QFETCH(Steps, steps);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, file);
    m_ui->perform(steps);
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages(), QStringList());
    QCOMPARE(m_ui->containerText(), containerTextOf(lines));
    QCOMPARE(m_ui->saveDialogsShown(), 1);
    QCOMPARE(contentsOf(m_dir->filePath("out.CTF")), file.isEmpty() ? recordsOf(lines) : file);
}

void RunTest::sixteenByteFile()
{
    m_ui->perform(twoAlphaCounters);
    m_ui->type("Text3(0)", "A");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->containerText(), QStringLiteral("RA-X\r\nRA-Y\r\n"));
    QCOMPARE(contentsOf(m_dir->filePath("out.CTF")),
        QByteArray::fromHex("2252412D58220D0A2252412D59220D0A"));
}

void RunTest::printToFileUnticked()
{
    m_ui->click("Check3");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->saveDialogsShown(), 0);
    QCOMPARE(m_ui->container()->model().rowCount(), size_t(12));
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void RunTest::saveDialogKeepsNoSettings()
{
    // Qt's own Save dialog, cancelled as soon as it shows.
    MainForTests::commonDialog(m_ui->window()).setPresenter([this](const CommonDialog &settings) {
        return showSaveDialog(&m_ui->window(), settings);
    });
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    canceller.start(10);
    m_ui->pressDoIt();
    QCOMPARE(m_ui->container()->model().rowCount(), size_t(12));
    QCOMPARE(
        QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void RunTest::everyRunWholeInTheContainer()
{
    // 65,536 values on each of three counters: 2^48 lines, shown at once.
    Steps steps {{"click", "Check3", {}}, {"click", "Option3(2)", {}}};
    for (int k = 0; k < 3; ++k)
        steps += {{"paste", element("Text2", k), "-32768"}, {"type", element("Text3", k), "32767"}};
    for (int j = 0; j < 4; ++j)
        steps += {"erase", element("Text5", j), {}};
    m_ui->perform(steps);
    m_ui->pressDoIt();
    QVERIFY(m_ui->messages().isEmpty());
    Container *box = m_ui->container();
    const ContainerModel &text = box->model();
    QCOMPARE(text.rowCount(), (size_t(1) << 48) + 1);
    QCOMPARE(text.rowText(0), std::string("-32768-32768-32768"));

    // To the end and back, by keys, with the view following the caret.
    m_ui->press("Text6", Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(box->caretOffset(), text.size());
    QCOMPARE(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
    QTest::keyClicks(box, "end");
    QCOMPARE(text.rowText(text.rowCount() - 1), std::string("end"));
    QCOMPARE(text.rowText(text.rowCount() - 2), std::string(" 32767 32767 32767"));
    QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(box->caretOffset(), size_t(0));
    QCOMPARE(box->verticalScrollBar()->value(), 0);
    QTest::keyClick(box, Qt::Key_PageDown);
    QVERIFY(text.rowOf(box->caretOffset()) > 0);

    QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(text.rowCount(), (size_t(1) << 48) + 1);
    QCOMPARE(text.rowText(text.rowCount() - 1), std::string());

    // All of it cannot go through the clipboard in one piece: the copy is
    // refused, saying why, and the clipboard keeps what it held.
    QGuiApplication::clipboard()->setText(QStringLiteral("held"));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(m_ui->messages().size(), 1);
    QVERIFY2(m_ui->messages().first().contains("4.75 PiB"), qPrintable(m_ui->messages().first()));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("held"));
}

void RunTest::cancelWritesNoFile()
{
    m_ui->pressDoIt();
    const QByteArray first = contentsOf(m_dir->filePath("out.CTF"));
    QCOMPARE(first.count('\n'), 11);

    // The dialog now holds the first run's name; Cancel must not write to it.
    m_ui->answerSaveDialog(std::nullopt);
    m_ui->type("Text3(0)", "12");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->saveDialogsShown(), 2);
    QCOMPARE(m_ui->container()->model().rowCount(), size_t(4));
    QCOMPARE(contentsOf(m_dir->filePath("out.CTF")), first);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {"out.CTF"});
    QVERIFY(m_ui->messages().isEmpty());
}

void RunTest::existingFileIsReplaced()
{
    QVERIFY(writeFile(m_dir->filePath("out.CTF"), QByteArray(5000, 'o')));
    m_ui->type("Text3(0)", "10");
    m_ui->pressDoIt();
    QVERIFY(m_ui->messages().isEmpty());
    QCOMPARE(contentsOf(m_dir->filePath("out.CTF")),
        QByteArray("\"First Field  10 Second Field \"\r\n"));
}

void RunTest::extensionIsJoinedOnce_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("the initial name") << "Test"
                                      << "Test.CTF";
    QTest::newRow("a name with its own extension") << "list.txt"
                                                   << "list.txt";
    QTest::newRow("a name typed with the extension") << "Test.CTF"
                                                     << "Test.CTF";
}

void RunTest::extensionIsJoinedOnce()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    m_ui->answerSaveDialog(m_dir->filePath(chosen));
    m_ui->pressDoIt();
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {written});
    QCOMPARE(m_ui->window().commonDialog().FileName, m_dir->filePath(written));
    // The next dialog opens on the file just written.
    QCOMPARE(m_ui->window().commonDialog().initialPath(), m_dir->filePath(written));
}

void RunTest::secondRunReplacesTheContainer()
{
    m_ui->pressDoIt();
    m_ui->type("Text2(0)", "19");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->containerText(),
        containerTextOf({"First Field  19 Second Field ", "First Field  20 Second Field "}));
    QCOMPARE(contentsOf(m_dir->filePath("out.CTF")).count('\n'), 2);
}

void RunTest::runKeepsTheTabAndTheSettings()
{
    m_ui->click("Text5(0)");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->currentTab(), 1);
    QCOMPARE(m_ui->control<QLineEdit>("Text5(0)")->text(), QStringLiteral("First Field "));
    QCOMPARE(m_ui->control<QLineEdit>("Text2(0)")->text(), QStringLiteral("10"));
}

void RunTest::waitCursorWhileTheRunWorks()
{
    std::optional<Qt::CursorShape> duringRun;
    MainForTests::commonDialog(m_ui->window()).setPresenter([&](const CommonDialog &) {
        if (const QCursor *cursor = QGuiApplication::overrideCursor())
            duringRun = cursor->shape();
        return std::optional<QString>();
    });
    m_ui->pressDoIt();
    QCOMPARE(duringRun, std::optional<Qt::CursorShape>(Qt::WaitCursor));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    // A refused run ends with the usual cursor as well.
    m_ui->type("Text3(0)", "99999");
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages().size(), 1);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void RunTest::refusals_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("message");
    // The control that has the focus once the message is closed.
    QTest::addColumn<QString>("focus");

    const QString outside = ", which is outside -32768 to 32767. Type a number in that range.";
    QTest::newRow("an empty Alpha Start Count")
        << Steps {{"click", "Option1(0)", {}}, {"erase", "Text2(0)", {}}}
        << "Counter 1 (the left panel) is an Alpha counter, but its Start Count box is empty. "
           "Type a letter or a digit into it."
        << "Text2(0)";
    QTest::newRow("an Alpha End Count without a code")
        << Steps {{"click", "Option3(1)", {}}, {"click", "Option1(1)", {}},
               {"paste", "Text3(1)", QStringLiteral("Жx")}}
        << "Counter 2 (the middle panel): the End Count box begins with “Ж” (U+0416), which has "
           "no code in the Windows-1252 code page. Type a letter or a digit instead."
        << "Text3(1)";
    QTest::newRow("an End Count above the range")
        << Steps {{"type", "Text3(0)", "40000"}}
        << "Counter 1 (the left panel): the End Count box reads “40000”" + outside << "Text3(0)";
    QTest::newRow("an End Count above the range, Do IT pressed on the Container's tab")
        << Steps {{"type", "Text3(0)", "40000"}, {"click", "Text6", {}}}
        << "Counter 1 (the left panel): the End Count box reads “40000”" + outside << "Text3(0)";
    QTest::newRow("a pasted Start Count below the range")
        << Steps {{"paste", "Text2(0)", "-32769"}}
        << "Counter 1 (the left panel): the Start Count box reads “-32769”" + outside << "Text2(0)";
    QTest::newRow("a Step of counter 3 above the range")
        << Steps {{"click", "Option3(2)", {}}, {"type", "Text4(2)", "99999"}}
        << "Counter 3 (the right panel): the Step box reads “99999”" + outside << "Text4(2)";
    QTest::newRow("a pad width above the range")
        << Steps {{"click", "Check1(0)", {}}, {"type", "Text1(0)", "70000"}}
        << "Counter 1 (the left panel): the pad width box reads “70000”" + outside << "Text1(0)";
    QTest::newRow("counting up from above the end")
        << Steps {{"click", "Option3(1)", {}}, {"type", "Text2(1)", "30"}}
        << "Counter 2 (the middle panel) counts up from 30, but its End Count 20 lies below that, "
           "so it makes no value. Choose “Down”, or make the End Count at least 30."
        << "Text3(1)";
    QTest::newRow("counting down from below the end")
        << Steps {{"click", "Option5(0)", {}}, {"type", "Text2(0)", "5"}}
        << "Counter 1 (the left panel) counts down from 5, but its End Count 10 lies above that, "
           "so it makes no value. Choose “UP”, or make the End Count at most 5."
        << "Text3(0)";
    QTest::newRow("letters counting up from Z")
        << Steps {{"click", "Option1(0)", {}}, {"type", "Text2(0)", "Z"}, {"type", "Text3(0)", "A"}}
        << "Counter 1 (the left panel) counts up from “Z”, but its End Count “A” lies below that, "
           "so it makes no value. Choose “Down”, or make the End Count at least “Z”."
        << "Text3(0)";
    QTest::newRow("a field character a file cannot hold")
        << Steps {{"paste", "Text5(1)", QStringLiteral(" Второе")}}
        << "Field 2 holds the character “В” (U+0412), which a Windows-1252 file cannot hold. "
           "Remove it, or untick “print to file” to fill only the Container."
        << "Text5(1)";
    QTest::newRow("a run larger than any file")
        << Steps {{"click", "Option3(2)", {}}, {"paste", "Text2(0)", "-32768"},
               {"paste", "Text3(0)", "32767"}, {"paste", "Text2(1)", "-32768"},
               {"paste", "Text3(1)", "32767"}, {"paste", "Text2(2)", "-32768"},
               {"paste", "Text3(2)", "32767"}, {"paste", "Text5(3)", QString(40'000, 'x')}}
        << "This run would make 11.3 EB of text, 2.1 EB more than the Container or any file "
           "can hold (9.2 EB). Use shorter fields, a smaller pad width or fewer lines."
        << "Command1";
}

void RunTest::refusals()
{
    QFETCH(Steps, steps);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    QVERIFY(writeFile(m_dir->filePath("out.CTF"), "earlier file"));
    m_ui->type("Text6", "keep me");
    m_ui->perform(steps);
    m_ui->pressDoIt();
    QCOMPARE(m_ui->messages(), QStringList {message});
    // The window active again, as the desktop makes it once the message is closed.
    m_ui->window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_ui->window()));
    QCOMPARE(m_ui->focusedControl(), focus);
    QCOMPARE(m_ui->containerText(), QStringLiteral("keep me"));
    QCOMPARE(m_ui->saveDialogsShown(), 0);
    QCOMPARE(contentsOf(m_dir->filePath("out.CTF")), QByteArray("earlier file"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {"out.CTF"});
}

void RunTest::largeRunWithItsFile_data()
{
    QTest::addColumn<QString>("lastEnd");
    QTest::addColumn<bool>("cancel");
    // The disk takes its time to confirm the last lines: Cancel and Escape come then.
    QTest::addColumn<bool>("slowFinish");
    // The file has a second name, so it is written in place.
    QTest::addColumn<bool>("secondName");
    QTest::addColumn<QString>("message");

    const QString oldFileKept
        = "The run was stopped before its file was written whole: the file was left as it was. "
          "The lines are in the Container.";
    QTest::newRow("the file and the Container take every line")
        << "99" << false << false << false << QString();
    QTest::newRow("Cancel in the progress dialog keeps the old file")
        << "999" << true << false << false << oldFileKept;
    QTest::newRow("Cancel while the file is finished waits, with the window alive")
        << "99" << true << true << false << oldFileKept;
    QTest::newRow("Cancel while a file written in place is finished comes too late")
        << "99" << true << true << true
        << "Cancel came after the last line was written into OUT, too late to keep its old "
           "contents: it holds the new lines, whole.";
}

void RunTest::largeRunWithItsFile()
{
    QFETCH(QString, lastEnd);
    QFETCH(bool, cancel);
    QFETCH(bool, slowFinish);
    QFETCH(bool, secondName);
    QFETCH(QString, message);
    message.replace("OUT", QDir::toNativeSeparators(m_dir->filePath("out.CTF")));

    // The progress dialog at once.
    MainForTests::setProgressDelay(m_ui->window(), 0);
    QVERIFY(writeFile(m_dir->filePath("out.CTF"), "earlier file"));
    if (secondName)
        QCOMPARE(
            ::link(qPrintable(m_dir->filePath("out.CTF")), qPrintable(m_dir->filePath("other"))),
            0);
    Steps steps {{"click", "Option3(2)", {}}};
    for (int k = 0; k < 3; ++k) {
        steps += {{"type", element("Text2", k), "0"},
            {"type", element("Text3", k), k == 2 ? lastEnd : "99"}};
    }
    for (int j = 0; j < 4; ++j)
        steps += {"erase", element("Text5", j), {}};
    m_ui->perform(steps);

    QSemaphore finishGate;
    if (slowFinish) {
        StreamingWriteForTests::setWriterHook([&finishGate](bool finishing) {
            if (finishing)
                finishGate.acquire();
        });
    }
    bool askedWhileFinishing = false;
    bool stayedWhileFinishing = false;
    bool progressShown = false;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        // Only the rows that hold the disk back answer the finishing dialog.
        const bool finishing
            = slowFinish && progress && progress->labelText().startsWith("Finishing out.CTF");
        if (finishing && !askedWhileFinishing) {
            askedWhileFinishing = true;
            QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
            QTest::keyClick(progress, Qt::Key_Escape);
        } else if (finishing) {
            // A turn of the event loop later: still there, still saying so, and the window paints.
            stayedWhileFinishing = progress->isVisible() && !m_ui->window().grab().isNull();
            finishGate.release();
        }
        if (!progress || progressShown || slowFinish)
            return;
        progressShown = true;
        if (cancel)
            QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
    });
    answer.start(0);
    m_ui->pressDoIt();

    QCOMPARE(m_ui->messages().join("|"), message);
    // The whole run is in the Container, even when its file was stopped.
    const ContainerModel &shown = m_ui->container()->model();
    QCOMPARE(shown.rowCount(), size_t(lastEnd == "99" ? 1'000'001 : 10'000'001));
    QCOMPARE(shown.text(0, 16), std::string(" 0 0 0\r\n 0 0 1\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
        secondName ? (QStringList {"other", "out.CTF"}) : (QStringList {"out.CTF"}));
    const QByteArray file = contentsOf(m_dir->filePath("out.CTF"));
    QCOMPARE(stayedWhileFinishing, slowFinish);
    if (cancel && !secondName) {
        QVERIFY(progressShown || slowFinish);
        QCOMPARE(file, QByteArray("earlier file"));
        return;
    }
    QCOMPARE(file.count("\r\n"), 1'000'000);
    QVERIFY(file.startsWith(recordsOf(
        QString::fromStdString(shown.text(0, shown.rowStart(1000))).split("\r\n").mid(0, 1000))));
    QVERIFY(file.endsWith("\" 99 99 99\"\r\n"));
}

QTEST_MAIN(RunTest)
#include "tst_run.moc"
