// SPDX-License-Identifier: GPL-3.0-or-later
// Saving onto files that already exist: what they keep, what is refused, what a cancel leaves.
#include "filereplacement.h"
#include "linebuffer.h"
#include "recordfile.h"
#include "testfiles.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const QByteArray Earlier = "earlier contents, longer than the new ones";

// Makes what a row saves onto; returns why the row cannot run here, or nothing.
using Setup = std::function<QString(const QDir &)>;

QString makeFile(const QDir &dir, const QString &name, mode_t mode)
{
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    if (!writeFile(dir.filePath(name), Earlier) || chmod(path.constData(), mode) != 0)
        return "could not make " + name;
    FileStatus made {};
    if (stat(path.constData(), &made) != 0 || (made.st_mode & 07777) != mode)
        return "this file system does not keep mode " + QString::number(mode, 8);
    return {};
}

Setup file(mode_t mode)
{
    return [mode](const QDir &dir) { return makeFile(dir, "out.CTF", mode); };
}

Setup withSecondName(const Setup &setup)
{
    return [setup](const QDir &dir) {
        const QString problem = setup(dir);
        if (!problem.isEmpty()
            || link(qPrintable(dir.filePath("out.CTF")), qPrintable(dir.filePath("other name.CTF")))
                != 0)
            return problem.isEmpty() ? QStringLiteral("could not make a hard link") : problem;
        return QString();
    };
}

Setup withAttribute(const char *name, const QByteArray &value)
{
    return [=](const QDir &dir) {
        QString problem = makeFile(dir, "out.CTF", 0644);
        if (problem.isEmpty()
            && setxattr(qPrintable(dir.filePath("out.CTF")), name, value.constData(),
                   size_t(value.size()), 0)
                != 0)
            return QStringLiteral("the file system refuses the attribute %1: %2")
                .arg(QLatin1String(name), QString::fromLocal8Bit(strerror(errno)));
        return problem;
    };
}

// A POSIX ACL as the system stores it: user::rw- user:nobody:r-- group::r-- mask::r-- other::---
QByteArray aclGivingNobodyRead()
{
    QByteArray acl;
    auto add = [&acl](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            acl += char((value >> (8 * i)) & 0xFF);
    };
    add(2, 4);
    for (const auto &[tag, permissions, id] : std::initializer_list<std::array<quint32, 3>> {
             {0x01, 6, ~0U}, {0x02, 4, 65534}, {0x04, 4, ~0U}, {0x10, 4, ~0U}, {0x20, 0, ~0U}}) {
        add(tag, 2);
        add(permissions, 2);
        add(id, 4);
    }
    return acl;
}

QString asHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// Everything under root that a save may change, one line a name: its kind,
// mode, owner, attributes, link target and bytes. The bytes of the file with
// the inode replaced are shown as the new ones, so that a snapshot before a
// save says what must be there after it.
QStringList snapshot(const QString &root, ino_t replaced = 0, const QByteArray &newBytes = {})
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray name = QFile::encodeName(path);
        FileStatus info {};
        lstat(name.constData(), &info);
        QString entry = QStringLiteral("%1 %2 %3:%4")
                            .arg(QDir(root).relativeFilePath(path))
                            .arg(info.st_mode, 0, 8)
                            .arg(info.st_uid)
                            .arg(info.st_gid);
        QByteArray names(4096, '\0');
        const ssize_t size = llistxattr(name.constData(), names.data(), size_t(names.size()));
        for (const QByteArray &attribute : names.left(std::max<ssize_t>(size, 0)).split('\0')) {
            QByteArray value(4096, '\0');
            const ssize_t length = lgetxattr(
                name.constData(), attribute.constData(), value.data(), size_t(value.size()));
            if (!attribute.isEmpty())
                entry += " " + attribute + "=" + asHex(value.left(length));
        }
        if (S_ISLNK(info.st_mode))
            entry += " -> " + QFile::symLinkTarget(path);
        else if (S_ISREG(info.st_mode))
            entry += " " + asHex(info.st_ino == replaced ? newBytes : contentsOf(path));
        entries << entry;
    }
    entries.sort();
    return entries;
}

ino_t inodeOf(const QString &path)
{
    FileStatus info {};
    return stat(qPrintable(path), &info) == 0 ? info.st_ino : 0;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class FileReplacementTest : public QObject
{
    Q_OBJECT

private slots:
    void savingOntoAFile_data();
    void savingOntoAFile();
    void cancelAndShortRuns_data();
    void cancelAndShortRuns();
};

void FileReplacementTest::savingOntoAFile_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<QString>("refusal");

    auto asOther = [](mode_t mode) {
        return [mode](const QDir &dir) {
            const QString problem = makeFile(dir, "out.CTF", mode);
            if (!problem.isEmpty() || geteuid() != 0)
                return problem.isEmpty() ? QStringLiteral("giving a file away needs root")
                                         : problem;
            return chown(qPrintable(dir.filePath("out.CTF")), 65534, 65534) == 0
                ? QString()
                : QStringLiteral("chown refused");
        };
    };
    auto fifo = [](const QDir &dir) {
        return mkfifo(qPrintable(dir.filePath("pipe.CTF")), 0664) == 0 ? QString()
                                                                       : "mkfifo refused";
    };
    QTest::newRow("an ordinary file keeps mode 0644") << file(0644) << "out.CTF" << 2 << QString();
    QTest::newRow("setgid mode 2664 is kept") << file(02664) << "out.CTF" << 2 << QString();
    QTest::newRow("setgid and sticky mode 3660 are kept")
        << file(03660) << "out.CTF" << 2 << QString();
    QTest::newRow("a private file stays 0600") << file(0600) << "out.CTF" << 2 << QString();
    QTest::newRow("another user's file keeps its owner and group")
        << Setup(asOther(02664)) << "out.CTF" << 2 << QString();
    QTest::newRow("an ACL entry is kept")
        << withAttribute("system.posix_acl_access", aclGivingNobodyRead()) << "out.CTF" << 2
        << QString();
    QTest::newRow("a user attribute is kept")
        << withAttribute("user.kelvaro.note", "kept") << "out.CTF" << 2 << QString();
    QTest::newRow("a second name shows the new lines")
        << withSecondName(file(02664)) << "out.CTF" << 2 << QString();
    QTest::newRow("another user's file with a second name")
        << withSecondName(asOther(0664)) << "out.CTF" << 2 << QString();
    QTest::newRow("a link to a file with a second name stays a link") << Setup([](const QDir &dir) {
        const QString problem = withSecondName(file(0640))(dir);
        return problem.isEmpty() && symlink("out.CTF", qPrintable(dir.filePath("link"))) != 0
            ? QStringLiteral("symlink refused")
            : problem;
    }) << "link" << 2 << QString();
    QTest::newRow("a named pipe without a reader is refused")
        << Setup(fifo) << "pipe.CTF" << 2 << "It is a named pipe (FIFO), not a regular file.";
    QTest::newRow("a named pipe with a reader is refused")
        << Setup(fifo) << "pipe.CTF" << 2 << "It is a named pipe (FIFO), not a regular file.";
    QTest::newRow("a character device is refused") << Setup([](const QDir &dir) {
        return mknod(qPrintable(dir.filePath("device")), S_IFCHR | 0666, makedev(1, 3)) == 0
            ? QString()
            : QStringLiteral("making a device node needs root");
    }) << "device" << 2 << "It is a character device, not a regular file.";
    // Writing clears the set-ID bits unless the writer is privileged.
    QTest::newRow("as a user, setuid and setgid mode 6775 are kept")
        << file(06775) << "out.CTF" << 2 << QString();
    QTest::newRow("as a user, a writable file in a folder that takes no new file") << Setup(
        [](const QDir &dir) {
            if (!dir.mkdir("locked"))
                return QStringLiteral("could not make a folder");
            QString problem = makeFile(dir, "locked/out.CTF", 0644);
            chmod(qPrintable(dir.filePath("locked")), 0500);
            return problem;
        }) << "locked/out.CTF" << 2 << QString();
    // 20,000 records are some 300 KB.
    QTest::newRow("a full disk is found before writing in place") << Setup([](const QDir &dir) {
        return withSecondName(file(0644))(QDir(dir.filePath("small")));
    }) << "small/out.CTF" << 20'000 << "the disk that holds";
    QTest::newRow("a file size limit is found before writing in place")
        << withSecondName(file(0644)) << "out.CTF" << 20'000 << "File too large";
}

void FileReplacementTest::savingOntoAFile()
{
    QFETCH(Setup, setup);
    QFETCH(QString, saveAs);
    QFETCH(int, lineCount);
    QFETCH(QString, refusal);
    const bool unprivileged = QByteArray(QTest::currentDataTag()).startsWith("as a user");
    QTemporaryDir temporary;
    if (unprivileged && geteuid() == 0) {
        const std::optional<QByteArray> failure = failureAsNobody(
            temporary.path(), QStringLiteral("savingOntoAFile:") + QTest::currentDataTag());
        QVERIFY2(!failure, failure ? failure->constData() : "");
        return;
    }
    const QDir dir(temporary.path());
    std::unique_ptr<SmallFileSystem> small;
    if (saveAs.startsWith("small/")) {
        small = std::make_unique<SmallFileSystem>(dir.filePath("small"));
        if (!small->mounted())
            QSKIP("mounting a small tmpfs needs root; the file size limit stands in for it");
    }
    const QString problem = setup(dir);
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    // Someone waiting to read the pipe gets nothing from a refused save.
    const int reader = QByteArray(QTest::currentDataTag()).contains("with a reader")
        ? ::open(qPrintable(dir.filePath(saveAs)), O_RDONLY | O_NONBLOCK)
        : -1;

    std::vector<std::string> pieces;
    pieces.reserve(size_t(lineCount));
    for (int i = 0; i < lineCount; ++i)
        pieces.push_back("RA-" + std::to_string(i));
    const LineBuffer lines = LineBuffer::product(LineBuffer("\r\n", 1), pieces);
    const QByteArray newBytes = lineCount == 2 ? QByteArray::fromHex("22 52 41 2D 30 22 0D 0A "
                                                                     "22 52 41 2D 31 22 0D 0A")
                                               : QByteArray();
    const QStringList expected = refusal.isEmpty()
        ? snapshot(dir.path(), inodeOf(dir.filePath(saveAs)), newBytes)
        : snapshot(dir.path());

    std::optional<WriteFailure> failure;
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (refusal == "File too large")
            limit = std::make_unique<FileSizeLimit>(64 * 1024);
        failure = writeRecordFile(dir.filePath(saveAs), lines);
    }
    if (refusal.isEmpty()) {
        QVERIFY2(!failure, failure ? qPrintable(failure->reason) : "");
    } else {
        QVERIFY(failure);
        QVERIFY2(failure->reason.contains(refusal), qPrintable(failure->reason));
        QCOMPARE(failure->fileLeft, QStringLiteral("the file was left as it was"));
    }
    if (reader >= 0) {
        char byte = 0;
        QVERIFY(::read(reader, &byte, 1) <= 0);
        ::close(reader);
    }
    QCOMPARE(snapshot(dir.path()), expected);
    chmod(qPrintable(dir.filePath("locked")), 0700);
}

void FileReplacementTest::cancelAndShortRuns_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("secondName");
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<bool>("commit");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("left");

    const QString kept = "the file was left as it was";
    // Each row writes "new12345", in two writes of four bytes.
    QTest::newRow("a cancelled save leaves the file whole")
        << true << false << qint64(8) << false << Earlier << kept;
    QTest::newRow("fewer bytes than announced are not saved")
        << true << false << qint64(9) << true << Earlier << kept;
    QTest::newRow("more bytes than announced are not saved")
        << true << false << qint64(6) << true << Earlier << kept;
    QTest::newRow("a cancelled new file is not there")
        << false << false << qint64(8) << false << QByteArray("<no file>") << "no file was written";
    QTest::newRow("a cancel in place keeps what was written")
        << true << true << qint64(8) << false << "new12345" + Earlier.mid(8)
        << "the file was overwritten in part: its first 8 bytes are new, the rest is what was "
           "left of its old contents";
    QTest::newRow("fewer bytes in place than announced")
        << true << true << qint64(40) << true << "new12345" + Earlier.mid(8)
        << "the file was overwritten in part: its first 8 bytes are new, the rest is what was "
           "left of its old contents";
    QTest::newRow("more bytes in place than announced")
        << true << true << qint64(6) << true << "new1" + Earlier.mid(4)
        << "the file was overwritten in part: its first 4 bytes are new, the rest is what was "
           "left of its old contents";
}

void FileReplacementTest::cancelAndShortRuns()
{
    QFETCH(bool, existing);
    QFETCH(bool, secondName);
    QFETCH(qint64, announced);
    QFETCH(bool, commit);
    QFETCH(QByteArray, after);
    QFETCH(QString, left);
    QTemporaryDir temporary;
    const QDir dir(temporary.path());
    if (existing)
        QCOMPARE(makeFile(dir, "out.CTF", 0644), QString());
    if (secondName)
        QCOMPARE(link(qPrintable(dir.filePath("out.CTF")), qPrintable(dir.filePath("other"))), 0);

    FileReplacement file;
    QCOMPARE(file.open(dir.filePath("out.CTF"), announced), std::nullopt);
    const bool written = file.write("new1", 4) && file.write("2345", 4);
    QCOMPARE(written, announced >= 8);
    if (commit && written)
        QVERIFY(file.commit());
    else
        file.cancel();
    QCOMPARE(file.whatWasLeft(), left);
    QCOMPARE(contentsOf(dir.filePath("out.CTF")), after);
    if (secondName)
        QCOMPARE(contentsOf(dir.filePath("other")), after);
    // Nothing else is left behind, not even a hidden file.
    QCOMPARE(
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
        (existing ? 1 : 0) + (secondName ? 1 : 0));
}

QTEST_GUILESS_MAIN(FileReplacementTest)
#include "tst_filereplacement.moc"
