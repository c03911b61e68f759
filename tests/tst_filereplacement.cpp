// SPDX-License-Identifier: GPL-3.0-or-later
// Saving onto files that already exist: what they keep, what is refused, what a cancel leaves.
#include "filereplacement.h"
#include "testfiles.h"

#include <QDirIterator>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
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

// What a save that ended leaves of itself: nothing.
const QString LeftoverPrefix = ".kelvaro-save-";

QStringList withoutLeftovers(QStringList entries)
{
    entries.removeIf([](const QString &entry) {
        return entry.startsWith(LeftoverPrefix) || entry.contains("/" + LeftoverPrefix);
    });
    return entries;
}

QByteArray recordsOf(int lineCount)
{
    QByteArray records;
    for (int i = 0; i < lineCount; ++i)
        records += "\"RA-" + QByteArray::number(i) + "\"\r\n";
    return records;
}

// Starts a save of name in a child process and kills it mid-write, as a crash
// or a power cut would end it.
QString killSaveMidWrite(const QDir &dir, const QString &name)
{
    int ready[2] = {-1, -1};
    if (pipe(ready) != 0)
        return QStringLiteral("pipe refused");
    const pid_t child = fork();
    if (child == 0) {
        FileReplacement save;
        const QByteArray chunk(1 << 16, 'x');
        const bool writing = !save.open(dir.filePath(name), qint64(1) << 30)
            && save.write(chunk.constData(), chunk.size());
        if (::write(ready[1], writing ? "w" : "f", 1) != 1 || !writing)
            _exit(1);
        for (;;)
            pause();
    }
    ::close(ready[1]);
    char state = 0;
    const bool writing = child > 0 && ::read(ready[0], &state, 1) == 1 && state == 'w';
    ::close(ready[0]);
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return writing ? QString() : QStringLiteral("the save in the child process did not start");
}

// What a save killed on a file system without unnamed files leaves: a named
// file of a process that is gone.
QString plantDeadLeftover(const QDir &dir)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    if (child < 0 || waitpid(child, nullptr, 0) != child)
        return QStringLiteral("fork refused");
    return writeFile(dir.filePath(LeftoverPrefix + QString::number(child) + "-AbCd1234"), "half")
        ? QString()
        : QStringLiteral("could not plant a leftover");
}

// Saves with another user's effective ids, as that user's Kelvaro would.
class EffectiveIds
{
public:
    explicit EffectiveIds(int id)
        : m_switched(id >= 0 && setegid(gid_t(id)) == 0 && seteuid(uid_t(id)) == 0)
    { }
    ~EffectiveIds()
    {
        if (m_switched && (seteuid(0) != 0 || setegid(0) != 0))
            qFatal("could not switch back to root");
    }
    EffectiveIds(const EffectiveIds &) = delete;
    EffectiveIds &operator=(const EffectiveIds &) = delete;

private:
    bool m_switched;
};

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
    // Done by another program between the save's first write and its commit.
    QTest::addColumn<Setup>("meanwhile");
    // The user whose effective ids save; -1 for this process's own.
    QTest::addColumn<int>("savedBy");
    // What the message says the path holds after a refusal.
    QTest::addColumn<QString>("left");
    // The whole row, the files made for it too, is run by a user without
    // privileges (nobody, where the suite runs as root).
    QTest::addColumn<bool>("asUser");
    // Someone waits to read the path, a named pipe, while it is saved onto.
    QTest::addColumn<bool>("pipeReader");

    const Setup nothing;
    const int self = -1;
    const QString kept = "the file was left as it was";

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
    QTest::newRow("an ordinary file keeps mode 0644")
        << file(0644) << "out.CTF" << 2 << QString() << nothing << self << QString() << false
        << false;
    QTest::newRow("setgid mode 2664 is kept") << file(02664) << "out.CTF" << 2 << QString()
                                              << nothing << self << QString() << false << false;
    QTest::newRow("setgid and sticky mode 3660 are kept")
        << file(03660) << "out.CTF" << 2 << QString() << nothing << self << QString() << false
        << false;
    QTest::newRow("a private file stays 0600") << file(0600) << "out.CTF" << 2 << QString()
                                               << nothing << self << QString() << false << false;
    QTest::newRow("another user's file keeps its owner and group")
        << Setup(asOther(02664)) << "out.CTF" << 2 << QString() << nothing << self << QString()
        << false << false;
    QTest::newRow("an ACL entry is kept")
        << withAttribute("system.posix_acl_access", aclGivingNobodyRead()) << "out.CTF" << 2
        << QString() << nothing << self << QString() << false << false;
    QTest::newRow("a user attribute is kept")
        << withAttribute("user.kelvaro.note", "kept") << "out.CTF" << 2 << QString() << nothing
        << self << QString() << false << false;
    QTest::newRow("a second name shows the new lines")
        << withSecondName(file(02664)) << "out.CTF" << 2 << QString() << nothing << self
        << QString() << false << false;
    QTest::newRow("another user's file with a second name")
        << withSecondName(asOther(0664)) << "out.CTF" << 2 << QString() << nothing << self
        << QString() << false << false;
    QTest::newRow("a link to a file with a second name stays a link") << Setup([](const QDir &dir) {
        const QString problem = withSecondName(file(0640))(dir);
        return problem.isEmpty() && symlink("out.CTF", qPrintable(dir.filePath("link"))) != 0
            ? QStringLiteral("symlink refused")
            : problem;
    }) << "link" << 2 << QString() << nothing << self << QString() << false
                                                                      << false;
    QTest::newRow("a named pipe without a reader is refused")
        << Setup(fifo) << "pipe.CTF" << 2 << "It is a named pipe (FIFO), not a regular file."
        << nothing << self << kept << false << false;
    QTest::newRow("a named pipe with a reader is refused")
        << Setup(fifo) << "pipe.CTF" << 2 << "It is a named pipe (FIFO), not a regular file."
        << nothing << self << kept << false << true;
    QTest::newRow("a character device is refused") << Setup([](const QDir &dir) {
        return mknod(qPrintable(dir.filePath("device")), S_IFCHR | 0666, makedev(1, 3)) == 0
            ? QString()
            : QStringLiteral("making a device node needs root");
    }) << "device" << 2 << "It is a character device, not a regular file."
                                                   << nothing << self << kept << false << false;
    // Writing clears the set-ID bits unless the writer is privileged.
    QTest::newRow("as a user, setuid and setgid mode 6775 are kept")
        << file(06775) << "out.CTF" << 2 << QString() << nothing << self << QString() << true
        << false;
    QTest::newRow("as a user, a writable file in a folder that takes no new file")
        << Setup([](const QDir &dir) {
               if (!dir.mkdir("locked"))
                   return QStringLiteral("could not make a folder");
               QString problem = makeFile(dir, "locked/out.CTF", 0644);
               chmod(qPrintable(dir.filePath("locked")), 0500);
               return problem;
           })
        << "locked/out.CTF" << 2 << QString() << nothing << self << QString() << true << false;
    // 20,000 records are some 300 KB.
    QTest::newRow("a full disk is found before writing in place") << Setup([](const QDir &dir) {
        return withSecondName(file(0644))(QDir(dir.filePath("small")));
    }) << "small/out.CTF" << 20'000 << "the disk that holds" << nothing
                                                                  << self << kept << false << false;
    auto replacedBy = [](const std::function<int(const QByteArray &)> &make) {
        return Setup([make](const QDir &dir) {
            const QByteArray path = QFile::encodeName(dir.filePath("out.CTF"));
            return unlink(path.constData()) == 0 && make(path) == 0 ? QString()
                                                                    : QStringLiteral("refused");
        });
    };
    auto secondSave = [](const QString &name) {
        return Setup([name](const QDir &dir) {
            FileReplacement second;
            const std::optional<QString> refusal = second.open(dir.filePath(name), 4);
            if (!refusal || !refusal->contains(dir.filePath(name) + " is being saved by another"))
                return "a second save was let in: " + refusal.value_or("no refusal");
            return second.whatWasLeft() == "the file was left as it was"
                ? QString()
                : "the second save says " + second.whatWasLeft();
        });
    };
    QTest::newRow("a save killed mid-write leaves nothing; a dead save's file is removed")
        << Setup([](const QDir &dir) {
               const QString problem = makeFile(dir, "out.CTF", 0644);
               return problem.isEmpty() ? plantDeadLeftover(dir) : problem;
           })
        << "out.CTF" << 2 << QString()
        << Setup([](const QDir &dir) { return killSaveMidWrite(dir, "other.CTF"); }) << self
        << QString() << false << false;
    QTest::newRow("another user's link in a shared sticky folder is not followed")
        << Setup([](const QDir &dir) {
               if (geteuid() != 0)
                   return QStringLiteral("planting another user's link needs root");
               const QByteArray link = QFile::encodeName(dir.filePath("shared/report.CTF"));
               return makeFile(dir, "important.txt", 0644).isEmpty() && dir.mkdir("shared")
                       && chmod(qPrintable(dir.filePath("shared")), 01777) == 0
                       && symlink("../important.txt", link.constData()) == 0
                       && lchown(link.constData(), 65534, 65534) == 0
                   ? QString()
                   : QStringLiteral("could not plant the link");
           })
        << "shared/report.CTF" << 2 << "is a symbolic link that another user made" << nothing
        << self << kept << false << false;
    QTest::newRow("a file replaced by a named pipe meanwhile is left alone")
        << file(0644) << "out.CTF" << 2 << "was replaced by a named pipe (FIFO)"
        << replacedBy([](const QByteArray &path) { return mkfifo(path.constData(), 0644); }) << self
        << "Kelvaro wrote nothing there; it holds what another program put there" << false << false;
    QTest::newRow("a file replaced by a link meanwhile is left alone")
        << file(0644) << "out.CTF" << 2 << "was replaced by a symbolic link"
        << replacedBy([](const QByteArray &path) { return symlink("/dev/null", path.constData()); })
        << self << "Kelvaro wrote nothing there; it holds what another program put there" << false
        << false;
    QTest::newRow("a file deleted meanwhile is not made again")
        << file(0644) << "out.CTF" << 2 << "was deleted"
        << replacedBy([](const QByteArray &) { return 0; }) << self << "no file is there now"
        << false << false;
    QTest::newRow("a folder renamed meanwhile gets nothing") << Setup([](const QDir &dir) {
        return dir.mkdir("folder") ? makeFile(dir, "folder/out.CTF", 0644)
                                   : QStringLiteral("could not make a folder");
    }) << "folder/out.CTF" << 2 << "the folder of" << Setup([](const QDir &dir) {
        return QDir(dir).rename("folder", "moved") ? QString() : QStringLiteral("refused");
    }) << self << "no file is there now" << false << false;
    QTest::newRow("a second save of the same file is refused while the first runs")
        << file(0644) << "out.CTF" << 2 << QString() << secondSave("out.CTF") << self << QString()
        << false << false;
    QTest::newRow("a second save through another name is refused while one writes in place")
        << withSecondName(file(0644)) << "out.CTF" << 2 << QString() << secondSave("other name.CTF")
        << self << QString() << false << false;
    QTest::newRow("a link from a small disk to a large one is measured on the large")
        << Setup([](const QDir &dir) {
               const QString problem = makeFile(dir, "large.CTF", 0644);
               return problem.isEmpty()
                       && symlink("../large.CTF", qPrintable(dir.filePath("small/link.CTF"))) != 0
                   ? QStringLiteral("symlink refused")
                   : problem;
           })
        << "small/link.CTF" << 20'000 << QString() << nothing << self << QString() << false
        << false;
    QTest::newRow("a link from a large disk to a small one is measured on the small")
        << Setup([](const QDir &dir) {
               const QString problem = makeFile(QDir(dir.filePath("small")), "out.CTF", 0644);
               return problem.isEmpty()
                       && symlink("small/out.CTF", qPrintable(dir.filePath("link to small"))) != 0
                   ? QStringLiteral("symlink refused")
                   : problem;
           })
        << "link to small" << 20'000 << "the disk that holds" << nothing << self << kept << false
        << false;
    QTest::newRow("a file its group may write, saved by a user of the group")
        << Setup([](const QDir &dir) {
               if (geteuid() != 0)
                   return QStringLiteral("saving as another user needs root");
               const QString problem = makeFile(dir, "out.CTF", 0464);
               return problem.isEmpty() && chown(qPrintable(dir.filePath("out.CTF")), 0, 65534) == 0
                       && chmod(qPrintable(dir.path()), 0755) == 0
                   ? QString()
                   : QStringLiteral("chown refused");
           })
        << "out.CTF" << 2 << QString() << nothing << 65534 << QString() << false << false;
    QTest::newRow("a folder with no free inode is written in place") << Setup([](const QDir &dir) {
        const QString small = dir.filePath("small");
        struct statvfs disk
        {
        };
        if (!makeFile(QDir(small), "out.CTF", 0644).isEmpty()
            || statvfs(qPrintable(small), &disk) != 0)
            return QStringLiteral("could not make the file");
        // Exactly the inodes in use: a new file finds none.
        const QByteArray options
            = "nr_inodes=" + QByteArray::number(qulonglong(disk.f_files - disk.f_ffree));
        return mount(nullptr, qPrintable(small), nullptr, MS_REMOUNT, options.constData()) == 0
            ? QString()
            : QStringLiteral("the small file system keeps its inodes");
    }) << "small/out.CTF" << 2 << QString() << nothing << self << QString()
                                                                     << false << false;
    QTest::newRow("a path near the longest the system takes") << Setup([](const QDir &dir) {
        // The link leads to a file whose path is a few bytes short of PATH_MAX.
        QString deep = dir.path();
        while (PATH_MAX - 10 - deep.size() > 250)
            deep += "/" + QString(249, QLatin1Char('d'));
        deep += "/" + QString(PATH_MAX - 11 - deep.size(), QLatin1Char('e'));
        if (!QDir().mkpath(deep) || !writeFile(deep + "/out.CTF", Earlier))
            return QStringLiteral("could not make the folders");
        return symlink(qPrintable(deep + "/out.CTF"), qPrintable(dir.filePath("deep"))) == 0
            ? QString()
            : QStringLiteral("symlink refused");
    }) << "deep" << 2 << QString() << nothing << self << QString()
                                                              << false << false;
    QTest::newRow("a file size limit is found before writing in place")
        << withSecondName(file(0644)) << "out.CTF" << 20'000 << "File too large" << nothing << self
        << kept << false << false;
}

void FileReplacementTest::savingOntoAFile()
{
    QFETCH(Setup, setup);
    QFETCH(QString, saveAs);
    QFETCH(int, lineCount);
    QFETCH(QString, refusal);
    QFETCH(Setup, meanwhile);
    QFETCH(int, savedBy);
    QFETCH(QString, left);
    QFETCH(bool, asUser);
    QFETCH(bool, pipeReader);
    QTemporaryDir temporary;
    if (asUser && geteuid() == 0) {
        const std::optional<QByteArray> failure = failureAsNobody(
            temporary.path(), QStringLiteral("savingOntoAFile:") + QTest::currentDataTag());
        QVERIFY2(!failure, failure ? failure->constData() : "");
        return;
    }
    const QDir dir(temporary.path());
    std::unique_ptr<SmallFileSystem> small;
    if (saveAs.contains("small")) {
        small = std::make_unique<SmallFileSystem>(dir.filePath("small"));
        if (!small->mounted())
            QSKIP("mounting a small tmpfs needs root; the file size limit stands in for it");
    }
    const QString problem = setup(dir);
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    // Someone waiting to read the pipe gets nothing from a refused save.
    const int reader
        = pipeReader ? ::open(qPrintable(dir.filePath(saveAs)), O_RDONLY | O_NONBLOCK) : -1;

    const QByteArray newBytes = recordsOf(lineCount);
    const QStringList before = snapshot(dir.path());
    const QStringList written = snapshot(dir.path(), inodeOf(dir.filePath(saveAs)), newBytes);

    std::optional<QString> failure;
    QString fileLeft;
    QStringList atCommit = before;
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (refusal == "File too large")
            limit = std::make_unique<FileSizeLimit>(64 * 1024);
        const EffectiveIds ids(savedBy);
        FileReplacement save;
        failure = save.open(dir.filePath(saveAs), newBytes.size());
        if (!failure && !save.write(newBytes.constData(), newBytes.size()))
            failure = save.errorString();
        if (!failure) {
            const QString disturbance = meanwhile ? meanwhile(dir) : QString();
            QVERIFY2(disturbance.isEmpty(), qPrintable(disturbance));
            if (meanwhile)
                atCommit = snapshot(dir.path());
            failure = save.commit();
        }
        fileLeft = save.whatWasLeft();
    }
    if (refusal.isEmpty()) {
        QVERIFY2(!failure, failure ? qPrintable(*failure) : "");
    } else {
        QVERIFY(failure);
        QVERIFY2(failure->contains(refusal), qPrintable(*failure));
        QCOMPARE(fileLeft, left);
    }
    if (reader >= 0) {
        char byte = 0;
        QVERIFY(::read(reader, &byte, 1) <= 0);
        ::close(reader);
    }
    // A refused save changes nothing; one that succeeds, only the file's bytes.
    QCOMPARE(snapshot(dir.path()), withoutLeftovers(refusal.isEmpty() ? written : atCommit));
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
    QTest::newRow("a cancel in place gives back the space it reserved")
        << true << true << (qint64(4) << 20) << false << "new12345" + Earlier.mid(8)
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
    // Space reserved for the new contents goes back with them.
    FileStatus remaining {};
    QVERIFY(
        stat(qPrintable(dir.filePath("out.CTF")), &remaining) != 0 || remaining.st_blocks < 2048);
    // Nothing else is left behind, not even a hidden file.
    QCOMPARE(
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
        (existing ? 1 : 0) + (secondName ? 1 : 0));
}

QTEST_GUILESS_MAIN(FileReplacementTest)
#include "tst_filereplacement.moc"
