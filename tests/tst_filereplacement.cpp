// SPDX-License-Identifier: GPL-3.0-or-later
// Saving onto files that already exist: what they keep, what is refused, what a cancel leaves.
#include "filereplacement.h"
#include "testfiles.h"

#include <QDirIterator>
#include <QList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstddef>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <linux/filter.h>
#include <linux/fs.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

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

// A name as the snapshot shows it: bytes that are not UTF-8, and control
// characters, as \xNN.
QString shownName(const QByteArray &name)
{
    const auto unusual = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    };
    if (QString::fromUtf8(name).toUtf8() == name && std::none_of(name.begin(), name.end(), unusual))
        return QString::fromUtf8(name);
    QString shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        shown += unusual(c) || byte >= 0x80
            ? QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'))
            : QString(QLatin1Char(c));
    }
    return shown;
}

QByteArray readAll(int fd)
{
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    return bytes;
}

QString attributesOf(int fd)
{
    QString shown;
    QByteArray names(4096, '\0');
    const ssize_t size = flistxattr(fd, names.data(), size_t(names.size()));
    for (const QByteArray &attribute : names.left(std::max<ssize_t>(size, 0)).split('\0')) {
        QByteArray value(4096, '\0');
        const ssize_t length
            = fgetxattr(fd, attribute.constData(), value.data(), size_t(value.size()));
        if (!attribute.isEmpty())
            shown += " " + attribute + "=" + asHex(value.left(length));
    }
    return shown;
}

void addEntries(int folder, const QString &prefix, ino_t replaced, const QByteArray &newBytes,
    QStringList &entries)
{
    const int listedFd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listed = listedFd >= 0 ? fdopendir(listedFd) : nullptr;
    while (const dirent *found = listed ? readdir(listed) : nullptr) {
        const QByteArray name(found->d_name);
        if (name == "." || name == "..")
            continue;
        FileStatus info {};
        fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW);
        const QString path = prefix + shownName(name);
        QString entry = QStringLiteral("%1 %2 %3:%4")
                            .arg(path)
                            .arg(info.st_mode, 0, 8)
                            .arg(info.st_uid)
                            .arg(info.st_gid);
        // Only files and folders are opened: opening a named pipe would answer
        // a writer waiting on it.
        const bool isFolder = S_ISDIR(info.st_mode);
        const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (isFolder ? O_DIRECTORY : 0);
        const int fd
            = S_ISREG(info.st_mode) || isFolder ? openat(folder, name.constData(), flags) : -1;
        if (fd >= 0)
            entry += attributesOf(fd);
        if (S_ISLNK(info.st_mode)) {
            QByteArray target(PATH_MAX, '\0');
            const ssize_t length
                = readlinkat(folder, name.constData(), target.data(), size_t(PATH_MAX));
            entry += " -> " + QFile::decodeName(target.left(std::max<ssize_t>(length, 0)));
        } else if (S_ISREG(info.st_mode)) {
            entry += " " + asHex(info.st_ino == replaced ? newBytes : readAll(fd));
        }
        entries << entry;
        if (isFolder && fd >= 0)
            addEntries(fd, path + "/", replaced, newBytes, entries);
        if (fd >= 0)
            ::close(fd);
    }
    if (listed)
        closedir(listed);
    else if (listedFd >= 0)
        ::close(listedFd);
}

// Everything under root that a save may change, one line a name: its kind,
// mode, owner, attributes, link target and bytes, the name byte for byte. The
// bytes of the file with the inode replaced are shown as the new ones, so that
// a snapshot before a save says what must be there after it.
QStringList snapshot(const QString &root, ino_t replaced = 0, const QByteArray &newBytes = {})
{
    QStringList entries;
    const int folder = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY);
    addEntries(folder, QString(), replaced, newBytes, entries);
    ::close(folder);
    entries.sort();
    return entries;
}

// The name in folder that a listing shows as name, byte for byte: where Qt
// shows bytes that are not UTF-8 as U+FFFD, the one name that reads so.
QByteArray listedName(const QDir &folder, const QString &name)
{
    const QByteArray path = QFile::encodeName(folder.path());
    DIR *listed = opendir(path.constData());
    QByteArray found = QFile::encodeName(name);
    while (const dirent *entry = listed ? readdir(listed) : nullptr) {
        if (QFile::decodeName(entry->d_name) == name)
            found = entry->d_name;
    }
    if (listed)
        closedir(listed);
    return path + "/" + found;
}

ino_t inodeOf(const QDir &dir, const QString &name)
{
    const QFileInfo path(dir.filePath(name));
    FileStatus info {};
    return stat(listedName(path.dir(), path.fileName()).constData(), &info) == 0 ? info.st_ino : 0;
}

// A save's own leftovers start so.
const QString LeftoverPrefix = ".kelvaro-save-";

QByteArray recordsOf(int lineCount)
{
    QByteArray records;
    for (int i = 0; i < lineCount; ++i)
        records += "\"RA-" + QByteArray::number(i) + "\"\r\n";
    return records;
}

// What a killed save of 3 lines was writing.
const QByteArray KilledSaveBytes = recordsOf(3);

// Another process, which does what ready says and then waits to be killed;
// 0 when it could not.
pid_t waitingProcess(const std::function<bool()> &ready)
{
    int told[2] = {-1, -1};
    if (pipe(told) != 0)
        return 0;
    const pid_t child = fork();
    if (child == 0) {
        const bool done = ready();
        if (::write(told[1], done ? "y" : "n", 1) != 1 || !done)
            _exit(1);
        for (;;)
            pause();
    }
    ::close(told[1]);
    char answer = 0;
    const bool done = child > 0 && ::read(told[0], &answer, 1) == 1 && answer == 'y';
    ::close(told[0]);
    if (child > 0 && !done) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return done ? child : 0;
}

// Starts a save of name in a child process and kills it mid-write, as a crash
// or a power cut would end it.
QString killSaveMidWrite(const QDir &dir, const QString &name)
{
    const pid_t child = waitingProcess([&dir, &name] {
        static FileReplacement save;
        const QByteArray chunk(1 << 16, 'x');
        return !save.open(dir.filePath(name), qint64(1) << 30)
            && save.write(chunk.constData(), chunk.size());
    });
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return child > 0 ? QString() : QStringLiteral("the save in the child process did not start");
}

// Saves KilledSaveBytes to name in a child process, which the system kills
// the moment it first renames anything: a crash or a power cut between the
// new file taking a name and taking the old one's place.
QString killSaveAtRename(const QDir &dir, const QString &name)
{
    const pid_t child = fork();
    if (child == 0) {
        FileReplacement save;
        if (save.open(dir.filePath(name), KilledSaveBytes.size())
            || !save.write(KilledSaveBytes.constData(), KilledSaveBytes.size()) || save.sync())
            _exit(1);
        std::vector<sock_filter> filter {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        for (const long call : {long(SYS_renameat2), long(SYS_renameat), long(SYS_rename)}) {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __u32(call), 0, 1));
            filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        }
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        const sock_fprog program {static_cast<unsigned short>(filter.size()), filter.data()};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
            || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            _exit(2);
        save.commit();
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return QStringLiteral("fork refused");
    // How it ended is seen in what it left; only a missing filter stops the row.
    return WIFEXITED(status) && WEXITSTATUS(status) == 2
        ? QStringLiteral("this system takes no seccomp filter")
        : QString();
}

// A process id that no process has: one that has just ended.
pid_t deadProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    return child > 0 && waitpid(child, nullptr, 0) == child ? child : 0;
}

// What a save killed on a file system without unnamed files leaves: a named
// file of a process that is gone.
QString plantDeadLeftover(const QDir &dir)
{
    const pid_t dead = deadProcess();
    return dead > 0
            && writeFile(dir.filePath(LeftoverPrefix + QString::number(dead) + "-AbCd1234"), "half")
        ? QString()
        : QStringLiteral("could not plant a leftover");
}

// Saves with another user's effective ids and no supplementary group, as
// that user's Kelvaro would.
class EffectiveIds
{
public:
    explicit EffectiveIds(int id)
        : m_switched(id >= 0 && setgroups(0, nullptr) == 0 && setegid(gid_t(id)) == 0
            && seteuid(uid_t(id)) == 0)
    { }
    ~EffectiveIds()
    {
        const gid_t root = 0;
        if (m_switched && (seteuid(0) != 0 || setegid(0) != 0 || setgroups(1, &root) != 0))
            qFatal("could not switch back to root");
    }
    EffectiveIds(const EffectiveIds &) = delete;
    EffectiveIds &operator=(const EffectiveIds &) = delete;

private:
    bool m_switched;
};

// What a row changed for the whole system, put back after it.
std::optional<LinksUnprotected> g_linksUnprotected;
pid_t g_otherProgram = 0;

// The row runs with the system's own rule for links in shared folders off:
// only Kelvaro's own walk keeps it.
Setup linksUnprotected(const Setup &setup)
{
    return [setup](const QDir &dir) {
        if (!g_linksUnprotected.emplace().applied())
            return QStringLiteral(
                "setting fs.protected_symlinks needs root and a writable /proc/sys");
        return setup(dir);
    };
}

// Another user's link to a folder of root's own, planted in a folder
// everyone may write to: at, a path of folders made for it.
Setup folderLinkIn(const QString &at, const char *target)
{
    return [at, target](const QDir &dir) {
        if (geteuid() != 0)
            return QStringLiteral("planting another user's link needs root");
        const QByteArray link = QFile::encodeName(dir.filePath(at + "/reports"));
        return dir.mkdir("private") && chmod(qPrintable(dir.filePath("private")), 0700) == 0
                && makeFile(dir, "private/important.CTF", 0600).isEmpty() && dir.mkpath(at)
                && chmod(qPrintable(dir.filePath(at)), 01777) == 0
                && symlink(target, link.constData()) == 0
                && lchown(link.constData(), 65534, 65534) == 0
            ? QString()
            : QStringLiteral("could not plant the link");
    };
}

// An inode flag (chattr) on the file, where this user and file system take it.
Setup marked(int flag)
{
    return [flag](const QDir &dir) {
        QString problem = makeFile(dir, "out.CTF", 0644);
        const int fd = ::open(qPrintable(dir.filePath("out.CTF")), O_RDONLY | O_NONBLOCK);
        int flags = 0;
        if (problem.isEmpty()
            && (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0
                || (flags |= flag, ioctl(fd, FS_IOC_SETFLAGS, &flags)) != 0))
            problem = "this user or file system may not mark a file so (chattr): "
                + QString::fromLocal8Bit(strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return problem;
    };
}

// Empties a folder that Qt cannot: names that are not UTF-8, paths past PATH_MAX.
void removeEntries(int folder)
{
    const int listedFd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listed = listedFd >= 0 ? fdopendir(listedFd) : nullptr;
    while (const dirent *entry = listed ? readdir(listed) : nullptr) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == ".." || unlinkat(folder, entry->d_name, 0) == 0)
            continue;
        const int inner
            = openat(folder, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner >= 0) {
            removeEntries(inner);
            ::close(inner);
        }
        unlinkat(folder, entry->d_name, AT_REMOVEDIR);
    }
    if (listed)
        closedir(listed);
    else if (listedFd >= 0)
        ::close(listedFd);
}

// Takes the marks off again, so that the folder can go.
void unmark(const QDir &dir)
{
    const int fd = ::open(qPrintable(dir.filePath("out.CTF")), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0
        && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
        flags &= ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        ::close(fd);
}

// Another program writes to a named pipe with a leftover's name, waiting for
// its reader: the sweep must not be taken for that reader.
QString pipeWithLeftoversName(const QDir &dir)
{
    const QByteArray name = QFile::encodeName(
        dir.filePath(LeftoverPrefix + QString::number(deadProcess()) + "-AbCd1234"));
    if (!makeFile(dir, "out.CTF", 0644).isEmpty() || mkfifo(name.constData(), 0600) != 0)
        return QStringLiteral("mkfifo refused");
    g_otherProgram = fork();
    if (g_otherProgram == 0) {
        alarm(20);
        const int fd = ::open(name.constData(), O_WRONLY);
        _exit(fd >= 0 && ::write(fd, "for its reader", 14) == 14 ? 0 : 1);
    }
    if (g_otherProgram < 0)
        return QStringLiteral("fork refused");
    // Not before the writer waits in open() for its reader.
    QFile call(QStringLiteral("/proc/%1/syscall").arg(g_otherProgram));
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (call.open(QIODevice::ReadOnly)
            && call.readAll().split(' ').value(0) == QByteArray::number(SYS_openat))
            return {};
        call.close();
        QThread::msleep(10);
    }
    return QStringLiteral("the writer did not come to wait on the pipe");
}

// The writer of pipeWithLeftoversName still waits, and its reader gets every byte.
QString readerGetsThePipe(const QDir &dir)
{
    const QStringList pipes = dir.entryList({LeftoverPrefix + "*"}, QDir::System | QDir::Hidden);
    const int fd = pipes.size() == 1
        ? ::open(qPrintable(dir.filePath(pipes.first())), O_RDONLY | O_NONBLOCK)
        : -1;
    pollfd ready {fd, POLLIN, 0};
    char got[32] = {};
    const ssize_t size = fd >= 0 && poll(&ready, 1, 10'000) == 1 ? ::read(fd, got, sizeof got) : -1;
    if (fd >= 0)
        ::close(fd);
    return QByteArray(got, int(std::max<ssize_t>(size, 0))) == "for its reader"
        ? QString()
        : QStringLiteral("the writer's bytes did not reach the pipe's reader");
}

// Another program holds a classic POSIX lock on out.CTF all along.
QString lockedByAnotherProgram(const QDir &dir)
{
    if (!makeFile(dir, "out.CTF", 0644).isEmpty())
        return QStringLiteral("could not make the file");
    g_otherProgram = waitingProcess([&dir] {
        const int fd = ::open(qPrintable(dir.filePath("out.CTF")), O_RDWR);
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        return fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
    });
    return g_otherProgram > 0 ? QString()
                              : QStringLiteral("the other program could not lock the file");
}

// A path twelve folders down with a link "far" there to a file eight folders
// further: that file lies past PATH_MAX from the root, though neither the
// path nor the link's target is as long.
const QString TwelveFolders = QString(249, QLatin1Char('p')).append('/').repeated(12);

QString pastPathMax(const QDir &dir)
{
    const QByteArray part(249, 'p');
    const auto down = [&part](int folder, int depth) {
        for (int i = 0; i < depth && folder >= 0; ++i) {
            const int next = mkdirat(folder, part.constData(), 0755) == 0
                ? openat(folder, part.constData(), O_RDONLY | O_DIRECTORY)
                : -1;
            ::close(folder);
            folder = next;
        }
        return folder;
    };
    const int near
        = down(::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY), 12);
    const int far = near >= 0 ? down(dup(near), 8) : -1;
    const int written = far >= 0 ? openat(far, "out.CTF", O_WRONLY | O_CREAT | O_EXCL, 0644) : -1;
    const bool made = written >= 0
        && ::write(written, Earlier.constData(), size_t(Earlier.size())) == Earlier.size()
        && symlinkat((QByteArray(part + "/").repeated(8) + "out.CTF").constData(), near, "far")
            == 0;
    for (const int fd : {written, far, near}) {
        if (fd >= 0)
            ::close(fd);
    }
    return made ? QString() : QStringLiteral("could not make the folders");
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class FileReplacementTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void savingOntoAFile_data();
    void savingOntoAFile();
    void setIdBitsClearedInPlaceAreTold();
    void cancelAndShortRuns_data();
    void cancelAndShortRuns();
};

void FileReplacementTest::cleanup()
{
    g_linksUnprotected.reset();
    if (g_otherProgram > 0) {
        kill(g_otherProgram, SIGKILL);
        waitpid(g_otherProgram, nullptr, 0);
        g_otherProgram = 0;
    }
}

void FileReplacementTest::savingOntoAFile_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<int>("lineCount");
    // The whole message of a refusal; <dir> stands for the folder, <pid> for
    // another program's process.
    QTest::addColumn<QString>("refusal");
    // Done by another program once the save has written and synced, before its commit.
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
    // Entries of the snapshot that are there before the save and gone after
    // it, as a pattern; <uid> and <gid> stand for this process's ids.
    QTest::addColumn<QString>("swept");

    const Setup nothing;
    const int self = -1;
    const QString kept = "the file was left as it was";
    const QString none;

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
        << false << none;
    QTest::newRow("setgid mode 2664 is kept")
        << file(02664) << "out.CTF" << 2 << QString() << nothing << self << QString() << false
        << false << none;
    QTest::newRow("setgid and sticky mode 3660 are kept")
        << file(03660) << "out.CTF" << 2 << QString() << nothing << self << QString() << false
        << false << none;
    QTest::newRow("a private file stays 0600")
        << file(0600) << "out.CTF" << 2 << QString() << nothing << self << QString() << false
        << false << none;
    QTest::newRow("another user's file keeps its owner and group")
        << Setup(asOther(02664)) << "out.CTF" << 2 << QString() << nothing << self << QString()
        << false << false << none;
    QTest::newRow("an ACL entry is kept")
        << withAttribute("system.posix_acl_access", aclGivingNobodyRead()) << "out.CTF" << 2
        << QString() << nothing << self << QString() << false << false << none;
    QTest::newRow("a user attribute is kept")
        << withAttribute("user.kelvaro.note", "kept") << "out.CTF" << 2 << QString() << nothing
        << self << QString() << false << false << none;
    QTest::newRow("a second name shows the new lines")
        << withSecondName(file(02664)) << "out.CTF" << 2 << QString() << nothing << self
        << QString() << false << false << none;
    QTest::newRow("another user's file with a second name")
        << withSecondName(asOther(0664)) << "out.CTF" << 2 << QString() << nothing << self
        << QString() << false << false << none;
    QTest::newRow("a link to a file with a second name stays a link") << Setup([](const QDir &dir) {
        const QString problem = withSecondName(file(0640))(dir);
        return problem.isEmpty() && symlink("out.CTF", qPrintable(dir.filePath("link"))) != 0
            ? QStringLiteral("symlink refused")
            : problem;
    }) << "link" << 2 << QString() << nothing << self << QString() << false
                                                                      << false << none;
    QTest::newRow("a named pipe without a reader is refused")
        << Setup(fifo) << "pipe.CTF" << 2
        << "It is a named pipe (FIFO), not a regular file. Kelvaro writes its lines only into "
           "regular files."
        << nothing << self << kept << false << false << none;
    QTest::newRow("a named pipe with a reader is refused")
        << Setup(fifo) << "pipe.CTF" << 2
        << "It is a named pipe (FIFO), not a regular file. Kelvaro writes its lines only into "
           "regular files."
        << nothing << self << kept << false << true << none;
    QTest::newRow("a character device is refused")
        << Setup([](const QDir &dir) {
               return mknod(qPrintable(dir.filePath("device")), S_IFCHR | 0666, makedev(1, 3)) == 0
                   ? QString()
                   : QStringLiteral("making a device node needs root");
           })
        << "device" << 2
        << "It is a character device, not a regular file. Kelvaro writes its lines only into "
           "regular files."
        << nothing << self << kept << false << false << none;
    QTest::newRow("an immutable file is refused, saying so")
        << marked(FS_IMMUTABLE_FL) << "out.CTF" << 2
        << "The file is marked immutable (chattr +i): no one may change, replace or remove it, "
           "not even its owner or root, until that mark is taken off."
        << nothing << self << kept << false << false << none;
    QTest::newRow("an append-only file is refused, saying so")
        << marked(FS_APPEND_FL) << "out.CTF" << 2
        << "The file is marked append-only (chattr +a): it may only grow, so no one may write new "
           "contents into it or replace it until that mark is taken off."
        << nothing << self << kept << false << false << none;
    // Writing clears the set-ID bits unless the writer is privileged.
    QTest::newRow("as a user, setuid and setgid mode 6775 are kept")
        << file(06775) << "out.CTF" << 2 << QString() << nothing << self << QString() << true
        << false << none;
    QTest::newRow("as a user, a writable file in a folder that takes no new file")
        << Setup([](const QDir &dir) {
               if (!dir.mkdir("locked"))
                   return QStringLiteral("could not make a folder");
               QString problem = makeFile(dir, "locked/out.CTF", 0644);
               chmod(qPrintable(dir.filePath("locked")), 0500);
               return problem;
           })
        << "locked/out.CTF" << 2 << QString() << nothing << self << QString() << true << false
        << none;
    // 20,000 records are some 300 KB.
    QTest::newRow("a full disk is found before writing in place")
        << Setup([](const QDir &dir) {
               return withSecondName(file(0644))(QDir(dir.filePath("small")));
           })
        << "small/out.CTF" << 20'000
        << "The file grows by 228.8 kB; the disk that holds <dir>/small has 61.4 kB free. Nothing "
           "was written. Free some space, choose another folder, or make the run smaller."
        << nothing << self << kept << false << false << none;
    auto replacedBy = [](const std::function<int(const QByteArray &)> &make) {
        return Setup([make](const QDir &dir) {
            const QByteArray path = QFile::encodeName(dir.filePath("out.CTF"));
            return unlink(path.constData()) == 0 && make(path) == 0 ? QString()
                                                                    : QStringLiteral("refused");
        });
    };
    auto secondSave = [](const QString &name, const QString &secondLeft) {
        return Setup([name, secondLeft](const QDir &dir) {
            FileReplacement second;
            const std::optional<QString> refusal = second.open(dir.filePath(name), 4);
            const QString expected = QDir::toNativeSeparators(dir.filePath(name))
                + " is being saved by another Kelvaro window right now; two saves at once "
                  "would mix their lines. Save again once that one has ended.";
            if (refusal != expected)
                return "a second save was let in: " + refusal.value_or("no refusal");
            return second.whatWasLeft() == secondLeft
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
        << QString() << false << false
        << R"(^\.kelvaro-save-\d+-AbCd1234 100644 <uid>:<gid> 68616c66$)";
    const QString killedBytes = asHex(KilledSaveBytes);
    QTest::newRow(
        "a kill between link and rename leaves the saver's copy, which the next save removes")
        << Setup([](const QDir &dir) {
               const QString problem = makeFile(dir, "out.CTF", 0644);
               return problem.isEmpty() ? killSaveAtRename(dir, "out.CTF") : problem;
           })
        << "out.CTF" << 2 << QString() << nothing << self << QString() << false << false
        << R"(^\.kelvaro-save-\d+-[A-Za-z0-9]{8} 100644 <uid>:<gid> )" + killedBytes + "$";
    QTest::newRow("root saving a user's file in a sticky folder, killed between link and rename, "
                  "leaves a folder of root's own")
        << Setup([](const QDir &dir) {
               if (geteuid() != 0)
                   return QStringLiteral("saving another user's file needs root");
               if (!dir.mkdir("shared") || chmod(qPrintable(dir.filePath("shared")), 01777) != 0
                   || !makeFile(dir, "shared/out.CTF", 0644).isEmpty()
                   || chown(qPrintable(dir.filePath("shared/out.CTF")), 65534, 65534) != 0)
                   return QStringLiteral("could not make the shared folder");
               return killSaveAtRename(dir, "shared/out.CTF");
           })
        << "shared/out.CTF" << 2 << QString() << nothing << self << QString() << false << false
        << R"(^shared/\.kelvaro-save-\d+-[A-Za-z0-9]{8}( 40700 0:0|/new 100644 65534:65534 )"
            + killedBytes + ")$";
    QTest::newRow("the sweep leaves another user's leftover in a folder that is not sticky")
        << Setup([](const QDir &dir) {
               if (geteuid() != 0)
                   return QStringLiteral("planting another user's file needs root");
               const QString problem = makeFile(dir, "out.CTF", 0644);
               if (!problem.isEmpty() || !plantDeadLeftover(dir).isEmpty())
                   return QStringLiteral("could not plant the leftover");
               const QString leftover
                   = dir.entryList({LeftoverPrefix + "*"}, QDir::Files | QDir::Hidden).value(0);
               return chown(qPrintable(dir.filePath(leftover)), 65534, 65534) == 0
                   ? QString()
                   : QStringLiteral("chown refused");
           })
        << "out.CTF" << 2 << QString() << nothing << self << QString() << false << false << none;
    QTest::newRow("the sweep does not open a named pipe with a leftover's name")
        << Setup(pipeWithLeftoversName) << "out.CTF" << 2 << QString() << Setup(readerGetsThePipe)
        << self << QString() << false << false << none;
    QTest::newRow("the sweep leaves names that Kelvaro never makes") << Setup([](const QDir &dir) {
        const QString dead = QString::number(deadProcess());
        QString problem = makeFile(dir, "out.CTF", 0644);
        for (const QString &name : {"+" + dead, dead + "\n", dead, "0" + dead + "-AbCd1234",
                 dead + "-AbCd123", dead + "-AbCd1234.CTF", "-" + dead + "-AbCd1234"}) {
            if (!writeFile(dir.filePath(LeftoverPrefix + name), "not a save's"))
                return QStringLiteral("could not plant %1").arg(name);
        }
        return problem;
    }) << "out.CTF" << 2 << QString() << nothing << self << QString() << false
                                                                     << false << none;
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
        << "shared/report.CTF" << 2
        << "<dir>/shared/report.CTF is a symbolic link that another user made in a folder "
           "everyone may write to. Kelvaro does not follow such a link, as the system would not: "
           "it could lead anywhere that user chose."
        << nothing << self << kept << false << false << none;
    QTest::newRow("another user's link to a folder, in a shared sticky folder, is not followed "
                  "with the system's rule off")
        << linksUnprotected(folderLinkIn("shared", "../private")) << "shared/reports/important.CTF"
        << 2
        << "<dir>/shared/reports is a symbolic link that another user made in a folder everyone "
           "may write to. Kelvaro does not follow such a link, as the system would not: it could "
           "lead anywhere that user chose."
        << nothing << self << kept << false << false << none;
    QTest::newRow("such a link two folders down makes no new file")
        << linksUnprotected(folderLinkIn("a/b", "../../private")) << "a/b/reports/new.CTF" << 2
        << "<dir>/a/b/reports is a symbolic link that another user made in a folder everyone may "
           "write to. Kelvaro does not follow such a link, as the system would not: it could lead "
           "anywhere that user chose."
        << nothing << self << "no file was written" << false << false << none;
    QTest::newRow("a file replaced by a named pipe meanwhile is left alone")
        << file(0644) << "out.CTF" << 2
        << "While Kelvaro was saving, <dir>/out.CTF was replaced by a named pipe (FIFO). Kelvaro "
           "left it as it is."
        << replacedBy([](const QByteArray &path) { return mkfifo(path.constData(), 0644); }) << self
        << "Kelvaro wrote nothing there; it holds what another program put there" << false << false
        << none;
    QTest::newRow("a file replaced by a link meanwhile is left alone")
        << file(0644) << "out.CTF" << 2
        << "While Kelvaro was saving, <dir>/out.CTF was replaced by a symbolic link. Kelvaro left "
           "the link as it is."
        << replacedBy([](const QByteArray &path) { return symlink("/dev/null", path.constData()); })
        << self << "Kelvaro wrote nothing there; it holds what another program put there" << false
        << false << none;
    QTest::newRow("a file deleted meanwhile is not made again")
        << file(0644) << "out.CTF" << 2
        << "While Kelvaro was saving, <dir>/out.CTF was deleted. Kelvaro put nothing in its place."
        << replacedBy([](const QByteArray &) { return 0; }) << self << "no file is there now"
        << false << false << none;
    QTest::newRow("a folder renamed meanwhile gets nothing")
        << Setup([](const QDir &dir) {
               return dir.mkdir("folder") ? makeFile(dir, "folder/out.CTF", 0644)
                                          : QStringLiteral("could not make a folder");
           })
        << "folder/out.CTF" << 2
        << "While Kelvaro was saving, the folder of <dir>/folder/out.CTF was moved or replaced, or "
           "a link on the way to it was changed. Kelvaro put nothing in its place."
        << Setup([](const QDir &dir) {
               return QDir(dir).rename("folder", "moved") ? QString() : QStringLiteral("refused");
           })
        << self << "no file is there now" << false << false << none;
    QTest::newRow("written in place, a file replaced meanwhile: its other name has the lines")
        << withSecondName(file(0644)) << "out.CTF" << 2
        << "While Kelvaro was saving, <dir>/out.CTF was replaced by another file. Kelvaro left "
           "that file as it is."
        << replacedBy([](const QByteArray &path) {
               return writeFile(QFile::decodeName(path), "another program's") ? 0 : -1;
           })
        << self
        << "another program's file is there now, and Kelvaro wrote them into <dir>/other "
           "name.CTF"
        << false << false << none;
    QTest::newRow("written in place, a file deleted meanwhile: its other name has the lines")
        << withSecondName(file(0644)) << "out.CTF" << 2
        << "While Kelvaro was saving, <dir>/out.CTF was deleted. Kelvaro put nothing in its place."
        << replacedBy([](const QByteArray &) { return 0; }) << self
        << "no file is there now, and Kelvaro wrote them into <dir>/other name.CTF" << false
        << false << none;
    QTest::newRow("written in place, its folder moved meanwhile")
        << Setup([](const QDir &dir) {
               return dir.mkdir("folder") ? withSecondName(file(0644))(QDir(dir.filePath("folder")))
                                          : QStringLiteral("could not make a folder");
           })
        << "folder/out.CTF" << 2
        << "While Kelvaro was saving, the folder of <dir>/folder/out.CTF was moved or replaced, or "
           "a link on the way to it was changed. Kelvaro put nothing in its place."
        << Setup([](const QDir &dir) {
               return QDir(dir).rename("folder", "moved") ? QString() : QStringLiteral("refused");
           })
        << self << "no file is there now, and Kelvaro wrote them into <dir>/moved/out.CTF" << false
        << false << none;
    QTest::newRow("a second save of the same file is refused while the first runs")
        << file(0644) << "out.CTF" << 2 << QString() << secondSave("out.CTF", kept) << self
        << QString() << false << false << none;
    QTest::newRow("two saves of one new name: the second is refused while the first runs")
        << Setup([](const QDir &) { return QString(); }) << "new.CTF" << 2 << QString()
        << secondSave("new.CTF", "no file was written") << self << QString() << false << false
        << none;
    QTest::newRow("a file another program holds a lock on is refused, naming that program")
        << Setup(lockedByAnotherProgram) << "out.CTF" << 2
        << "<dir>/out.CTF is locked by another program (tst_filereplace, process <pid>) right now; "
           "two programs writing at once would mix their lines. Save again once it has let go of "
           "the file."
        << nothing << self << kept << false << false << none;
    QTest::newRow("a link from a small disk to a large one is measured on the large")
        << Setup([](const QDir &dir) {
               const QString problem = makeFile(dir, "large.CTF", 0644);
               return problem.isEmpty()
                       && symlink("../large.CTF", qPrintable(dir.filePath("small/link.CTF"))) != 0
                   ? QStringLiteral("symlink refused")
                   : problem;
           })
        << "small/link.CTF" << 20'000 << QString() << nothing << self << QString() << false << false
        << none;
    QTest::newRow("a link from a large disk to a small one is measured on the small")
        << Setup([](const QDir &dir) {
               const QString problem = makeFile(QDir(dir.filePath("small")), "out.CTF", 0644);
               return problem.isEmpty()
                       && symlink("small/out.CTF", qPrintable(dir.filePath("link to small"))) != 0
                   ? QStringLiteral("symlink refused")
                   : problem;
           })
        << "link to small" << 20'000
        << "The file needs 228.9 kB; the disk that holds <dir>/small has 61.4 kB free. Nothing was "
           "written. Free some space, choose another folder, or make the run smaller."
        << nothing << self << kept << false << false << none;
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
        << "out.CTF" << 2 << QString() << nothing << 65534 << QString() << false << false << none;
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
                                                                     << false << false << none;
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
                                                              << false << false << none;
    QTest::newRow("a file past PATH_MAX from the root, reached through links")
        << Setup(pastPathMax) << TwelveFolders + "far" << 2 << QString() << nothing << self
        << QString() << false << false << none;
    QTest::newRow("a name that is not UTF-8 reaches the file system byte for byte")
        << Setup([](const QDir &dir) {
               const int fd = ::open((QFile::encodeName(dir.path()) + "/caf\xe9.CTF").constData(),
                   O_WRONLY | O_CREAT | O_EXCL, 0644);
               const bool made = fd >= 0
                   && ::write(fd, Earlier.constData(), size_t(Earlier.size())) == Earlier.size();
               if (fd >= 0)
                   ::close(fd);
               return made ? QString() : QStringLiteral("could not make the file");
           })
        << QFile::decodeName("caf\xe9.CTF") << 2 << QString() << nothing << self << QString()
        << false << false << none;
    QTest::newRow("a file size limit is found before writing in place")
        << withSecondName(file(0644)) << "out.CTF" << 20'000 << "File too large" << nothing << self
        << kept << false << false << none;
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
    QFETCH(QString, swept);
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
    const std::unique_ptr<const QDir, void (*)(const QDir *)> marks(&dir, [](const QDir *marked) {
        unmark(*marked);
        chmod(qPrintable(marked->filePath("locked")), 0700);
        const int folder
            = ::open(QFile::encodeName(marked->path()).constData(), O_RDONLY | O_DIRECTORY);
        if (folder >= 0) {
            removeEntries(folder);
            ::close(folder);
        }
    });
    const QString problem = setup(dir);
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    const auto expanded = [&dir](QString text) {
        return text.replace("<dir>", QDir::toNativeSeparators(dir.path()))
            .replace("<pid>", QString::number(g_otherProgram))
            .replace("<uid>", QString::number(geteuid()))
            .replace("<gid>", QString::number(getegid()));
    };
    const QRegularExpression sweptAway(expanded(swept));
    // Someone waiting to read the pipe gets nothing from a refused save.
    const int reader
        = pipeReader ? ::open(qPrintable(dir.filePath(saveAs)), O_RDONLY | O_NONBLOCK) : -1;

    const QByteArray newBytes = recordsOf(lineCount);
    const QStringList before = snapshot(dir.path());
    const ino_t target = inodeOf(dir, saveAs);
    QStringList written = snapshot(dir.path(), target, newBytes);
    if (!swept.isEmpty()) {
        const qsizetype leftovers = written.size();
        written.removeIf([&](const QString &entry) { return sweptAway.match(entry).hasMatch(); });
        QVERIFY2(written.size() < leftovers, qPrintable(before.join('\n')));
    }

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
        // Synced, a file written in place holds what it will hold if the commit is refused.
        if (!failure)
            failure = save.sync();
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
        QCOMPARE(failure.value_or("<saved>"), expanded(refusal));
        QCOMPARE(fileLeft, expanded(left));
    }
    if (reader >= 0) {
        char byte = 0;
        QVERIFY(::read(reader, &byte, 1) <= 0);
        ::close(reader);
    }
    // A refused save changes nothing; one that succeeds, only the file's bytes,
    // or a new file where there was none.
    QStringList after = snapshot(dir.path());
    if (refusal.isEmpty() && target == 0) {
        const QString made = after
                                 .filter(QRegularExpression("^" + QRegularExpression::escape(saveAs)
                                     + " 100644 " + expanded("<uid>:<gid> ")))
                                 .value(0);
        QCOMPARE(made.section(' ', -1), asHex(newBytes));
        after.removeOne(made);
    }
    QCOMPARE(after, refusal.isEmpty() ? written : atCommit);
}

void FileReplacementTest::setIdBitsClearedInPlaceAreTold()
{
    if (geteuid() != 0)
        QSKIP("a file of root's group, written by another user, needs root");
    QTemporaryDir temporary;
    const QDir dir(temporary.path());
    QCOMPARE(withSecondName(file(02676))(dir), QString());
    QCOMPARE(chmod(qPrintable(dir.path()), 0755), 0);
    std::optional<QString> failure;
    QString notice;
    {
        // Nobody may write the file, being of no group of its, but not set the bit again.
        const EffectiveIds ids(65534);
        FileReplacement save;
        failure = save.open(dir.filePath("out.CTF"), 4);
        if (!failure && save.write("new\n", 4))
            failure = save.commit();
        notice = save.notice();
    }
    QCOMPARE(failure, std::nullopt);
    QCOMPARE(notice,
        QDir::toNativeSeparators(dir.filePath("out.CTF"))
            + " holds the new lines, but writing them cleared its set-group-ID bit, which this "
              "user may not set again. The file's owner or root can, with chmod g+s.");
    FileStatus info {};
    QCOMPARE(stat(qPrintable(dir.filePath("other name.CTF")), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0676));
    QCOMPARE(contentsOf(dir.filePath("other name.CTF")), QByteArray("new\n"));
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
