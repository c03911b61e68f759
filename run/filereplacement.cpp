// SPDX-License-Identifier: GPL-3.0-or-later
// How a file is replaced: a new file put in the old one's place, or the old one written in place.
#include "filereplacement.h"

#include "pathwalk.h"
#include "savelocks.h"
#include "savenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#define KELVARO_HAS_XATTR 1
// Reserving space is what makes writing in place safe; without it every
// replacement goes through a new file, names and owners notwithstanding.
#define KELVARO_HAS_RESERVE 1
#endif

namespace {

using FileStatus = struct stat;

constexpr mode_t ModeBits = 07777;
constexpr mode_t AnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t SetIdBits = S_ISUID | S_ISGID;

// strerror_r comes in two kinds, by the C library; unlike strerror, both may be
// called from any thread.
[[maybe_unused]] QString fromStrerror(int result, const char *buffer)
{
    return result == 0 ? QString::fromLocal8Bit(buffer) : QString();
}

[[maybe_unused]] QString fromStrerror(const char *result, const char *)
{
    return QString::fromLocal8Bit(result);
}

QString errorText(int error)
{
    char buffer[256] = {};
    return fromStrerror(strerror_r(error, buffer, sizeof buffer), buffer);
}

QString native(const QByteArray &path)
{
    return QDir::toNativeSeparators(QFile::decodeName(path));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

QByteArray procPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return FileReplacement::tr("a named pipe (FIFO)");
    if (S_ISCHR(mode))
        return FileReplacement::tr("a character device");
    if (S_ISBLK(mode))
        return FileReplacement::tr("a block device");
    if (S_ISSOCK(mode))
        return FileReplacement::tr("a socket");
    return FileReplacement::tr("an unusual kind of file");
}

// The program behind a process id, for a message: its name where the system tells it.
QString processText(pid_t process)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(process));
    const QString name = comm.open(QIODevice::ReadOnly)
        ? QString::fromLocal8Bit(comm.readAll()).trimmed()
        : QString();
    return name.isEmpty() ? FileReplacement::tr("process %1").arg(process)
                          : FileReplacement::tr("%1, process %2").arg(name).arg(process);
}

// What the final name of a path holds now, as a walk finds it.
struct NameNow
{
    bool reached = false;
    bool present = false;
    FileStatus info {};
    FileStatus folder {};
    QByteArray name;
};

NameNow lookAgain(const QString &path)
{
    NameNow now;
    PathEnd end = walkPath(path);
    if (end.folder < 0)
        return now;
    now.reached = fstat(end.folder, &now.folder) == 0;
    now.present = fstatat(end.folder, end.name.constData(), &now.info, AT_SYMLINK_NOFOLLOW) == 0;
    now.name = end.name;
    ::close(end.folder);
    return now;
}

#if defined(KELVARO_HAS_XATTR)
QList<QByteArray> splitNames(const QByteArray &list)
{
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

// The names of a file's extended attributes; nothing where the file system has none.
std::optional<QList<QByteArray>> attributeNames(int fd)
{
    for (;;) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::make_optional(QList<QByteArray>()) : std::nullopt;
        QByteArray names(size, Qt::Uninitialized);
        const ssize_t got = flistxattr(fd, names.data(), size_t(size));
        if (got >= 0)
            return splitNames(names.left(got));
        if (errno != ERANGE)
            return std::nullopt;
    }
}

std::optional<QByteArray> attributeValue(int fd, const QByteArray &name)
{
    for (;;) {
        const ssize_t size = fgetxattr(fd, name.constData(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t got = fgetxattr(fd, name.constData(), value.data(), size_t(size));
        if (got >= 0)
            return value.left(got);
        if (errno != ERANGE)
            return std::nullopt;
    }
}

// Gives fd exactly the extended attributes of the file open as from, ACLs included.
bool copyAttributes(int from, int fd)
{
    const std::optional<QList<QByteArray>> wanted = attributeNames(from);
    // The folder's default ACL may have given the new file one the old did not have.
    const std::optional<QList<QByteArray>> present = attributeNames(fd);
    if (!wanted || !present)
        return false;
    for (const QByteArray &name : *present) {
        if (!wanted->contains(name) && fremovexattr(fd, name.constData()) != 0)
            return false;
    }
    for (const QByteArray &name : *wanted) {
        const std::optional<QByteArray> value = attributeValue(from, name);
        if (!value
            || fsetxattr(fd, name.constData(), value->constData(), size_t(value->size()), 0) != 0)
            return false;
    }
    return true;
}
#endif

// Gives the new file the old one's owner, group, mode and attributes, in an
// order that keeps each: a change of owner clears the set-ID bits, and setting
// an ACL rewrites the group bits of the mode. False when any of it did not hold.
bool copyMetadata(int from, uid_t owner, gid_t group, mode_t mode, int fd)
{
    if (fchown(fd, owner, group) != 0)
        return false;
    if (fchmod(fd, mode & ModeBits) != 0)
        return false;
#if defined(KELVARO_HAS_XATTR)
    if (!copyAttributes(from, fd))
        return false;
#else
    Q_UNUSED(from);
#endif
    // The system may drop a set-group-ID bit silently rather than refuse it.
    FileStatus made {};
    return fstat(fd, &made) == 0 && made.st_uid == owner && made.st_gid == group
        && (made.st_mode & ModeBits) == (mode & ModeBits);
}

bool exceedsFileSizeLimit(qint64 size)
{
    rlimit limit {};
    return getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(size) > limit.rlim_cur;
}

// What the system marks on a file beyond its mode (chattr, mounts).
struct InodeMarks
{
    bool immutable = false;
    bool appendOnly = false;
    bool mountPoint = false;
};

InodeMarks inodeMarks(int folder, const QByteArray &name)
{
    InodeMarks marks;
#if defined(STATX_ATTR_MOUNT_ROOT)
    struct statx info
    {
    };
    if (statx(folder, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) != 0)
        return marks;
    const auto marked = [&info](quint64 attribute) {
        return (info.stx_attributes_mask & attribute) != 0
            && (info.stx_attributes & attribute) != 0;
    };
    marks.immutable = marked(STATX_ATTR_IMMUTABLE);
    marks.appendOnly = marked(STATX_ATTR_APPEND);
    marks.mountPoint = marked(STATX_ATTR_MOUNT_ROOT);
    // A file system that does not report its marks through statx may still
    // have them, as inode flags.
    const quint64 both = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    if ((info.stx_attributes_mask & both) == both)
        return marks;
    const int fd = openat(
        folder, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        marks.immutable = (flags & FS_IMMUTABLE_FL) != 0;
        marks.appendOnly = (flags & FS_APPEND_FL) != 0;
    }
    if (fd >= 0)
        ::close(fd);
#else
    Q_UNUSED(folder);
    Q_UNUSED(name);
#endif
    return marks;
}

// Where a new file cannot be made but the file itself may still be written:
// no right to the folder, no inode left, a name the folder cannot take.
bool writableInPlaceInstead(int error)
{
    return error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT
        || error == ENAMETOOLONG || error == EMLINK;
}

// Space reserved past the end stays with the file until it is punched out
// (tmpfs ignores a truncation to the size a file has) or truncated (ext4 and
// xfs ignore a hole punched past the end).
void giveBackReserve(int fd, qint64 reservedEnd)
{
#if defined(KELVARO_HAS_RESERVE)
    FileStatus info {};
    if (fstat(fd, &info) != 0 || info.st_size >= reservedEnd)
        return;
    fallocate(
        fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, info.st_size, reservedEnd - info.st_size);
    if (ftruncate(fd, info.st_size) != 0)
        return;
#else
    Q_UNUSED(fd);
    Q_UNUSED(reservedEnd);
#endif
}

} // namespace

FileReplacement::~FileReplacement()
{
    cancel();
}

void FileReplacement::moveTo(State next)
{
    switch (next) {
    case State::Closed:
        Q_ASSERT(
            m_state == State::Closed || m_state == State::Committed || m_state == State::Cancelled);
        break;
    case State::Cancelled:
        Q_ASSERT(m_state != State::Committed && m_state != State::Cancelled);
        // Said now, while the replacement still knows how far it got.
        m_left = describeLeft();
        break;
    default:
        Q_ASSERT(next > m_state && m_state != State::Cancelled);
        break;
    }
    m_state = next;
}

std::optional<QString> FileReplacement::open(const QString &path, qint64 exactSize)
{
    reset(path, exactSize);
    // Qt would cut the name at the NUL and write to another file, reporting success.
    if (path.contains(QChar(0)))
        return fail(tr("The name holds a NUL character, which no file name may hold."));
    if (path.isEmpty())
        return failWithErrno(ENOENT);
    if (exactSize < 0)
        return fail(tr("The size of the new contents is unknown."));
    if (std::optional<QString> refusal = holdFolder())
        return refusal;
    if (std::optional<QString> refusal = lockName())
        return refusal;
    if (std::optional<QString> refusal = lookAtName())
        return refusal;
    // A single write past the limit would end the whole program with SIGXFSZ.
    if (exceedsFileSizeLimit(exactSize))
        return failWithErrno(EFBIG);
    removeLeftovers(m_folder);
    if (std::optional<QString> refusal = chooseMode())
        return refusal;
    if (std::optional<QString> refusal = checkSpace())
        return refusal;
    if (m_mode == Mode::InPlace) {
        if (std::optional<QString> refusal = reserveSpace())
            return refusal;
    }
    moveTo(State::Opened);
    return std::nullopt;
}

void FileReplacement::reset(const QString &path, qint64 exactSize)
{
    cancel();
    moveTo(State::Closed);
    m_path = path;
    m_mode = Mode::Replace;
    m_folderPath.clear();
    m_folderId = {};
    m_name.clear();
    m_old.reset();
    m_expected = exactSize;
    m_written = 0;
    m_writtenBack = 0;
    m_reserved = 0;
    m_error.clear();
    m_left.clear();
    m_notice.clear();
}

std::optional<QString> FileReplacement::holdFolder()
{
    PathEnd end = walkPath(m_path);
    if (!end.refusedLink.isEmpty()) {
        return fail(tr("%1 is a symbolic link that another user made in a folder everyone may "
                       "write to. Kelvaro does not follow such a link, as the system would not: "
                       "it could lead anywhere that user chose.")
                        .arg(native(end.refusedLink)));
    }
    if (!end.ambiguousName.isEmpty()) {
        return fail(tr("Several names in the folder read as “%1”; they differ in bytes that are "
                       "not UTF-8, and Kelvaro cannot tell which one was chosen. Rename the file "
                       "to a name in UTF-8 and save again.")
                        .arg(end.ambiguousName));
    }
    if (end.error != 0)
        return failWithErrno(end.error);
    m_folder = end.folder;
    m_folderPath = end.folderPath;
    m_name = end.name;
    FileStatus folder {};
    if (fstat(m_folder, &folder) != 0)
        return failWithErrno(errno);
    m_folderId = {quint64(folder.st_dev), quint64(folder.st_ino)};
    return std::nullopt;
}

std::optional<QString> FileReplacement::lockName()
{
    m_nameLock = openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_nameLock < 0 || takeNameLock(m_nameLock, m_name) != NameLock::HeldByAnother)
        return std::nullopt;
    return fail(tr("%1 is being saved by another Kelvaro window right now; two saves at once "
                   "would mix their lines. Save again once that one has ended.")
                    .arg(QDir::toNativeSeparators(m_path)));
}

std::optional<QString> FileReplacement::lookAtName()
{
    FileStatus original {};
    if (fstatat(m_folder, m_name.constData(), &original, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failWithErrno(errno);
        moveTo(State::Looked);
        return std::nullopt;
    }
    m_old = OldFile {{quint64(original.st_dev), quint64(original.st_ino)}, original.st_size,
        original.st_mode, original.st_uid, original.st_gid, quint64(original.st_nlink), false};
    moveTo(State::Looked);
    if (S_ISDIR(original.st_mode))
        return failWithErrno(EISDIR);
    if (!S_ISREG(original.st_mode)) {
        return fail(tr("It is %1, not a regular file. Kelvaro writes its lines only into "
                       "regular files.")
                        .arg(kindOf(original.st_mode)));
    }
    const InodeMarks marks = inodeMarks(m_folder, m_name);
    m_old->mountPoint = marks.mountPoint;
    if (marks.immutable) {
        return fail(tr("The file is marked immutable (chattr +i): no one may change, replace or "
                       "remove it, not even its owner or root, until that mark is taken off."));
    }
    if (marks.appendOnly) {
        return fail(tr("The file is marked append-only (chattr +a): it may only grow, so no one "
                       "may write new contents into it or replace it until that mark is taken "
                       "off."));
    }
    // Refused even where the system would let us (as root, say): whoever took every
    // write permission away did not mean the file to be replaced.
    if ((original.st_mode & AnyWrite) == 0)
        return fail(tr("The file is read-only."));
    // With the effective ids, so that a group or an ACL entry that lets this user write counts.
    if (faccessat(m_folder, m_name.constData(), W_OK, AT_EACCESS) != 0)
        return errno == EACCES ? fail(tr("The file is read-only.")) : failWithErrno(errno);
    return lockOldFile();
}

std::optional<QString> FileReplacement::lockOldFile()
{
    m_lock = openat(
        m_folder, m_name.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (m_lock < 0)
        return failWithErrno(errno);
    FileStatus opened {};
    if (fstat(m_lock, &opened) != 0)
        return failWithErrno(errno);
    if (quint64(opened.st_dev) != m_old->id.device || quint64(opened.st_ino) != m_old->id.inode)
        return fail(tr("The file was replaced by another while Kelvaro was saving."));
    const std::optional<LockHolder> holder = takeWriteLock(m_lock);
    if (!holder)
        return std::nullopt;
    const QString path = QDir::toNativeSeparators(m_path);
    if (holder->process > 0) {
        return fail(tr("%1 is locked by another program (%2) right now; two programs writing at "
                       "once would mix their lines. Save again once it has let go of the file.")
                        .arg(path, processText(holder->process)));
    }
    return fail(tr("%1 is being saved by another Kelvaro window, or held by a program that locks "
                   "it, right now; two saves at once would mix their lines. Save again once that "
                   "one has ended.")
                    .arg(path));
}

std::optional<QString> FileReplacement::chooseMode()
{
    if (!m_old) {
        // Created as open() would create it, so the umask and the folder's
        // default ACL apply.
        return createNewFile(0666) ? std::nullopt : failWithErrno(errno);
    }
#if defined(KELVARO_HAS_RESERVE)
    // The other names would go on showing the old contents, and a file mounted
    // over its name cannot be renamed over.
    if (m_old->links > 1 || m_old->mountPoint)
        return useInPlace();
#endif
    if (!createNewFile(0600)) {
#if defined(KELVARO_HAS_RESERVE)
        if (writableInPlaceInstead(errno))
            return useInPlace();
#endif
        return failWithErrno(errno);
    }
#if defined(KELVARO_HAS_RESERVE)
    if (!copyMetadata(m_lock, m_old->owner, m_old->group, m_old->mode, m_fd)) {
        closeFd(m_fd);
        dropTemporary();
        return useInPlace();
    }
#else
    // Without a safe way to write in place, a new file keeps what it can.
    copyMetadata(m_lock, m_old->owner, m_old->group, m_old->mode, m_fd);
#endif
    return std::nullopt;
}

bool FileReplacement::createNewFile(unsigned mode)
{
#if defined(O_TMPFILE)
    m_fd = openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_t(mode));
    // It is given its name at commit through /proc; without /proc it gets one now.
    if (m_fd >= 0 && faccessat(AT_FDCWD, procPath(m_fd).constData(), F_OK, 0) == 0) {
        takeWriteLock(m_fd);
        return true;
    }
    const int error = errno;
    closeFd(m_fd);
    // A file system without unnamed files says EOPNOTSUPP; a kernel older
    // than them, EISDIR.
    errno = error;
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL && error != ENOENT)
        return false;
#endif
    if (!createNamed(mode))
        return false;
    takeWriteLock(m_fd);
    return true;
}

bool FileReplacement::needsOwnFolder() const
{
    // Under a name in the folder, another user's file could be renamed by that
    // user in a sticky folder, and would not be the saver's to remove.
    return m_old && m_old->owner != geteuid();
}

bool FileReplacement::makeTemporaryFolder()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName();
        if (mkdirat(m_folder, name.constData(), 0700) == 0) {
            m_temporary = name;
            m_ownFolder
                = openat(m_folder, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            return m_ownFolder >= 0;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

int FileReplacement::temporaryFolder() const
{
    return m_ownFolder >= 0 ? m_ownFolder : m_folder;
}

QByteArray FileReplacement::temporaryEntry() const
{
    return m_ownFolder >= 0 ? QByteArray(TemporaryFolderEntry) : m_temporary;
}

bool FileReplacement::createNamed(unsigned mode)
{
    if (needsOwnFolder()) {
        if (!makeTemporaryFolder())
            return false;
        m_fd = openat(m_ownFolder, TemporaryFolderEntry,
            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode_t(mode));
        return m_fd >= 0;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName();
        m_fd = openat(m_folder, name.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode_t(mode));
        if (m_fd >= 0) {
            m_temporary = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool FileReplacement::linkUnderTemporaryName()
{
    const QByteArray unnamed = procPath(m_fd);
    if (needsOwnFolder()) {
        return makeTemporaryFolder()
            && linkat(AT_FDCWD, unnamed.constData(), m_ownFolder, TemporaryFolderEntry,
                   AT_SYMLINK_FOLLOW)
            == 0;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName();
        if (linkat(AT_FDCWD, unnamed.constData(), m_folder, name.constData(), AT_SYMLINK_FOLLOW)
            == 0) {
            m_temporary = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

void FileReplacement::dropTemporary()
{
    if (m_temporary.isEmpty())
        return;
    if (m_ownFolder >= 0) {
        unlinkat(m_ownFolder, TemporaryFolderEntry, 0);
        closeFd(m_ownFolder);
        unlinkat(m_folder, m_temporary.constData(), AT_REMOVEDIR);
    } else {
        unlinkat(m_folder, m_temporary.constData(), 0);
    }
    m_temporary.clear();
}

std::optional<QString> FileReplacement::useInPlace()
{
    m_mode = Mode::InPlace;
    m_fd = std::exchange(m_lock, -1);
    return std::nullopt;
}

std::optional<QString> FileReplacement::checkSpace()
{
    struct statvfs disk
    {
    };
    if (fstatvfs(m_folder, &disk) != 0)
        return std::nullopt;
    const qint64 free = qint64(
        std::min<unsigned long long>(static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize,
            static_cast<unsigned long long>(std::numeric_limits<qint64>::max())));
    // Written in place, the old contents' blocks are written over; only the growth is new.
    const bool inPlace = m_mode == Mode::InPlace;
    const qint64 needed = inPlace ? std::max<qint64>(0, m_expected - m_old->size) : m_expected;
    if (needed <= free)
        return std::nullopt;
    // In decimal units, as disks are sold and as file managers show free space;
    // with more digits where one would make both sizes read the same.
    const QLocale locale;
    QString neededText;
    QString freeText;
    for (int precision = 1; precision <= 3 && neededText == freeText; ++precision) {
        neededText = locale.formattedDataSize(needed, precision, QLocale::DataSizeSIFormat);
        freeText = locale.formattedDataSize(free, precision, QLocale::DataSizeSIFormat);
    }
    const QString folder
        = QDir::toNativeSeparators(QFileInfo(QFile::decodeName(m_folderPath)).absoluteFilePath());
    return fail((inPlace ? tr("The file grows by %1; the disk that holds %2 has %3 free. Nothing "
                              "was written. Free some space, choose another folder, or make the "
                              "run smaller.")
                         : tr("The file needs %1; the disk that holds %2 has %3 free. Nothing "
                              "was written. Free some space, choose another folder, or make the "
                              "run smaller."))
                    .arg(neededText, folder, freeText));
}

std::optional<QString> FileReplacement::reserveSpace()
{
#if defined(KELVARO_HAS_RESERVE)
    if (m_expected == 0)
        return std::nullopt;
    int reserved = 0;
    do
        reserved = fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, m_expected);
    while (reserved != 0 && errno == EINTR);
    if (reserved == 0) {
        m_reserved = m_expected;
        return std::nullopt;
    }
    // Bytes that overwrite old ones need no new space on most file systems.
    const bool unsupported = errno == EOPNOTSUPP || errno == ENOSYS;
    if (!unsupported || m_expected > m_old->size) {
        return unsupported ? fail(tr("The file has to be written in place, and its file system "
                                     "cannot reserve the space for the new contents first."))
                           : failWithErrno(errno);
    }
#endif
    return std::nullopt;
}

bool FileReplacement::write(const char *data, qint64 size)
{
    if (m_state != State::Opened && m_state != State::Written) {
        if (m_error.isEmpty())
            m_error = tr("The file is not open for writing.");
        return false;
    }
    if (size > m_expected - m_written) {
        fail(tr("Kelvaro had more to write than the %L1 bytes it announced.").arg(m_expected));
        return false;
    }
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        // A full disk takes part of a write and reports only the shorter count;
        // asked for the rest, the system says why.
        if (written <= 0) {
            failWithErrno(written == 0 ? ENOSPC : errno);
            return false;
        }
        if (m_state == State::Opened)
            moveTo(State::Written);
        data += written;
        size -= written;
        m_written += written;
    }
    startWriteBack();
    return true;
}

void FileReplacement::startWriteBack()
{
#if defined(SYNC_FILE_RANGE_WRITE)
    // The disk starts on each stretch as soon as it is written, while the next
    // one is made, and the one before is waited for and dropped from the cache.
    // So a large file is on disk about when its last byte is written, the page
    // cache does not fill up with it, and a cancelled run has at most two
    // stretches in flight to wait for before its file can go.
    constexpr qint64 Stretch = qint64(16) << 20;
    if (m_written - m_writtenBack < Stretch)
        return;
    sync_file_range(m_fd, m_writtenBack, m_written - m_writtenBack, SYNC_FILE_RANGE_WRITE);
    if (m_writtenBack > 0) {
        const qint64 previous = std::max<qint64>(0, m_writtenBack - Stretch);
        sync_file_range(m_fd, previous, m_writtenBack - previous,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        posix_fadvise(m_fd, previous, m_writtenBack - previous, POSIX_FADV_DONTNEED);
    }
    m_writtenBack = m_written;
#endif
}

std::optional<QString> FileReplacement::sync()
{
    if (m_state == State::Synced)
        return std::nullopt;
    if (m_state != State::Opened && m_state != State::Written)
        return m_error.isEmpty() ? tr("The file is not open for writing.") : m_error;
    if (m_written != m_expected) {
        return fail(
            tr("Kelvaro wrote %L1 of the %L2 bytes it announced.").arg(m_written).arg(m_expected));
    }
    const QString unconfirmed = tr("the file holds the new lines, but the system could not "
                                   "confirm that they reached the disk");
    if (m_mode == Mode::InPlace) {
        if (ftruncate(m_fd, m_expected) != 0)
            return failWithErrno(errno);
        m_reserved = 0;
        keepSetIdBits();
    } else if (m_old && !copyMetadata(m_lock, m_old->owner, m_old->group, m_old->mode, m_fd)) {
        // Writing clears the set-ID bits of a file unless the writer may set
        // them; the new file gets them again, as the old one had them.
        return fail(tr("The new file could not keep the old one's owner, mode or attributes."));
    }
    if (fsync(m_fd) != 0) {
        const int error = errno;
        return fail(errorText(error), m_mode == Mode::InPlace ? unconfirmed : QString());
    }
    moveTo(State::Synced);
    return std::nullopt;
}

void FileReplacement::keepSetIdBits()
{
    // Writing cleared the set-ID bits unless this user may set them; where
    // the user may change the mode, they are set again.
    FileStatus written {};
    if (fstat(m_fd, &written) == 0 && (written.st_mode & ModeBits) != (m_old->mode & ModeBits))
        fchmod(m_fd, m_old->mode & ModeBits);
    if (fstat(m_fd, &written) != 0)
        return;
    const mode_t lost = m_old->mode & SetIdBits & ~written.st_mode;
    if (lost == 0)
        return;
    const QString bits = lost == SetIdBits ? tr("its set-user-ID and set-group-ID bits")
        : lost == S_ISUID                  ? tr("its set-user-ID bit")
                                           : tr("its set-group-ID bit");
    const QString chmod = lost == SetIdBits ? QStringLiteral("ug+s")
        : lost == S_ISUID                   ? QStringLiteral("u+s")
                                            : QStringLiteral("g+s");
    m_notice = tr("%1 holds the new lines, but writing them cleared %2, which this user may not "
                  "set again. The file's owner or root can, with chmod %3.")
                   .arg(QDir::toNativeSeparators(m_path), bits, chmod);
}

bool FileReplacement::canStillCancel() const
{
    if (m_mode == Mode::Replace)
        return m_state != State::Committed;
    return m_state == State::Looked || m_state == State::Opened;
}

std::optional<QString> FileReplacement::commit()
{
    if (std::optional<QString> reason = sync())
        return reason;
    FileStatus written {};
    if (fstat(m_fd, &written) != 0)
        return failWithErrno(errno);
    if (m_mode == Mode::Replace) {
        if (std::optional<QString> reason = putInPlace())
            return reason;
        if (std::optional<QString> reason = syncFolder())
            return reason;
    }
    if (std::optional<QString> reason
        = checkPathLeadsToFile({quint64(written.st_dev), quint64(written.st_ino)}))
        return reason;
    // A write-back error may show only now (on NFS, say).
    if (::close(std::exchange(m_fd, -1)) != 0) {
        const int error = errno;
        return fail(errorText(error),
            tr("the file holds the new lines, but the system could not confirm that they "
               "reached the disk"));
    }
    moveTo(State::Committed);
    finish();
    return std::nullopt;
}

std::optional<QString> FileReplacement::putInPlace()
{
    if (!m_old && m_temporary.isEmpty()) {
        // The unnamed file takes the new name itself, and linkat refuses a name
        // that another program took meanwhile.
        if (std::optional<QString> changed = checkUnchanged())
            return changed;
        if (linkat(AT_FDCWD, procPath(m_fd).constData(), m_folder, m_name.constData(),
                AT_SYMLINK_FOLLOW)
            == 0)
            return std::nullopt;
        return errno == EEXIST ? takenMeanwhile() : failWithErrno(errno);
    }
    if (!m_old) {
        // Named from the start, on a file system without unnamed files.
        if (std::optional<QString> changed = checkUnchanged())
            return changed;
        int renamed = renameat2(
            m_folder, m_temporary.constData(), m_folder, m_name.constData(), RENAME_NOREPLACE);
        // Not every file system takes the flag; a hard link refuses a taken name as well.
        if (renamed != 0 && errno == EINVAL) {
            renamed = linkat(m_folder, m_temporary.constData(), m_folder, m_name.constData(), 0);
            if (renamed == 0)
                unlinkat(m_folder, m_temporary.constData(), 0);
        }
        if (renamed != 0)
            return errno == EEXIST ? takenMeanwhile() : failWithErrno(errno);
        m_temporary.clear();
        return std::nullopt;
    }
    // An existing file is replaced in one call, from a name of the saver's own.
    if (m_temporary.isEmpty() && !linkUnderTemporaryName()) {
        const int error = errno;
        dropTemporary();
        return failWithErrno(error);
    }
    if (std::optional<QString> changed = checkUnchanged())
        return changed;
    return exchangeWithOld();
}

std::optional<QString> FileReplacement::exchangeWithOld()
{
    const int from = temporaryFolder();
    const QByteArray entry = temporaryEntry();
    if (renameat2(from, entry.constData(), m_folder, m_name.constData(), RENAME_EXCHANGE) == 0) {
        // The temporary name holds what the final one held an instant ago.
        FileStatus was {};
        if (fstatat(from, entry.constData(), &was, AT_SYMLINK_NOFOLLOW) == 0
            && quint64(was.st_dev) == m_old->id.device && quint64(was.st_ino) == m_old->id.inode) {
            dropTemporary();
            return std::nullopt;
        }
        // Another program put something in the old file's place meanwhile: it
        // goes back, and the new file goes with the temporary name.
        if (renameat2(from, entry.constData(), m_folder, m_name.constData(), RENAME_EXCHANGE) == 0)
            return takenMeanwhile();
        const int error = errno;
        // What the other program put there keeps the temporary name, which
        // the message gives.
        const QByteArray kept = m_ownFolder >= 0
            ? joinedPath(joinedPath(m_folderPath, m_temporary), TemporaryFolderEntry)
            : joinedPath(m_folderPath, m_temporary);
        m_temporary.clear();
        closeFd(m_ownFolder);
        return fail(tr("While Kelvaro was saving, another program put a file in place of %1, "
                       "and Kelvaro could not give it back its name (%2): that file is now "
                       "%3.")
                        .arg(QDir::toNativeSeparators(m_path), errorText(error), native(kept)),
            tr("it holds the new lines"));
    }
    // The name was removed meanwhile: there is nothing to exchange with.
    if (errno == ENOENT)
        return takenMeanwhile();
    // Exchanging names is Linux's, and not every file system's (EINVAL): a
    // rename instead, after which the old file has lost its name only if it
    // was the one replaced.
    if (errno != EINVAL)
        return failWithErrno(errno);
    FileStatus before {};
    FileStatus after {};
    if (fstat(m_lock, &before) != 0
        || renameat(from, entry.constData(), m_folder, m_name.constData()) != 0)
        return failWithErrno(errno);
    if (m_ownFolder < 0)
        m_temporary.clear();
    dropTemporary();
    if (fstat(m_lock, &after) == 0 && after.st_nlink + 1 != before.st_nlink) {
        return fail(tr("While Kelvaro was saving, another program put a file in place of %1. "
                       "Kelvaro's new file replaced that one before it could be seen, and the "
                       "file that was there before is no longer at this path.")
                        .arg(QDir::toNativeSeparators(m_path)),
            tr("it holds the new lines"));
    }
    return std::nullopt;
}

std::optional<QString> FileReplacement::syncFolder()
{
    // The new name is on the disk only once the folder is. A folder this user
    // may not read cannot be synced by the user; some file systems sync no
    // folder on its own (EINVAL, EROFS).
    if (m_nameLock < 0 || fsync(m_nameLock) == 0 || errno == EINVAL || errno == EROFS)
        return std::nullopt;
    const int error = errno;
    return fail(tr("The new lines are in place, but the system could not confirm that their "
                   "name reached the disk: %1.")
                    .arg(errorText(error)),
        tr("it holds the new lines, but after a power cut it may hold the old ones again"));
}

std::optional<QString> FileReplacement::checkUnchanged()
{
    FileStatus held {};
    if (fstatat(m_folder, m_name.constData(), &held, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
        return failWithErrno(errno);
    const std::optional<QString> change
        = changeSince(m_old ? std::make_optional(m_old->id) : std::nullopt);
    return change ? fail(*change) : std::nullopt;
}

std::optional<QString> FileReplacement::changeSince(const std::optional<FileId> &expected) const
{
    const QString path = QDir::toNativeSeparators(m_path);
    FileStatus held {};
    if (fstatat(m_folder, m_name.constData(), &held, AT_SYMLINK_NOFOLLOW) != 0) {
        if (expected) {
            return tr("While Kelvaro was saving, %1 was deleted. Kelvaro put nothing in its "
                      "place.")
                .arg(path);
        }
    } else if (!expected) {
        return tr("While Kelvaro was saving, another program made %1. Kelvaro left that file "
                  "as it is.")
            .arg(path);
    } else if (S_ISLNK(held.st_mode)) {
        return tr("While Kelvaro was saving, %1 was replaced by a symbolic link. Kelvaro left "
                  "the link as it is.")
            .arg(path);
    } else if (!S_ISREG(held.st_mode)) {
        return tr("While Kelvaro was saving, %1 was replaced by %2. Kelvaro left it as it is.")
            .arg(path, kindOf(held.st_mode));
    } else if (quint64(held.st_dev) != expected->device
        || quint64(held.st_ino) != expected->inode) {
        return tr("While Kelvaro was saving, %1 was replaced by another file. Kelvaro left that "
                  "file as it is.")
            .arg(path);
    }
    // The name in the held folder is as it was; the path must still lead to it.
    const NameNow now = lookAgain(m_path);
    if (!now.reached || now.name != m_name || quint64(now.folder.st_dev) != m_folderId.device
        || quint64(now.folder.st_ino) != m_folderId.inode) {
        return tr("While Kelvaro was saving, the folder of %1 was moved or replaced, or a link "
                  "on the way to it was changed. Kelvaro put nothing in its place.")
            .arg(path);
    }
    return std::nullopt;
}

std::optional<QString> FileReplacement::takenMeanwhile()
{
    const std::optional<QString> changed = checkUnchanged();
    return changed ? changed : failWithErrno(EEXIST);
}

std::optional<QString> FileReplacement::checkPathLeadsToFile(const FileId &written)
{
    // After the commit the name holds the file written, whatever it held before.
    const std::optional<QString> change = changeSince(written);
    if (!change)
        return std::nullopt;
    const NameNow now = lookAgain(m_path);
    QString there = tr("no file is there now");
    if (now.present && S_ISLNK(now.info.st_mode))
        there = tr("a symbolic link is there now");
    else if (now.present && !S_ISREG(now.info.st_mode))
        there = tr("%1 is there now").arg(kindOf(now.info.st_mode));
    else if (now.present)
        there = tr("another program's file is there now");
    return fail(*change, tr("%1, and %2").arg(there, whereTheLinesWent(written)));
}

QString FileReplacement::whereTheLinesWent(const FileId &written) const
{
    FileStatus file {};
    FileStatus folder {};
    if (m_fd < 0 || fstat(m_fd, &file) != 0 || file.st_nlink == 0)
        return tr("the file Kelvaro wrote them into has no name left");
    // Still in the folder the save held, under another name or moved with it.
    QByteArray folderPath;
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t length
        = readlink(procPath(m_folder).constData(), target.data(), size_t(PATH_MAX) - 1);
    if (length > 0 && fstat(m_folder, &folder) == 0 && folder.st_nlink > 0)
        folderPath = target.left(length);
    const auto isWritten = [&written](const FileStatus &info) {
        return quint64(info.st_dev) == written.device && quint64(info.st_ino) == written.inode;
    };
    FileStatus named {};
    QByteArray found;
    if (fstatat(m_folder, m_name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && isWritten(named))
        found = m_name;
    const int listedFd
        = found.isEmpty() ? openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR *listed = listedFd >= 0 ? fdopendir(listedFd) : nullptr;
    while (const dirent *entry = listed ? readdir(listed) : nullptr) {
        FileStatus info {};
        if (fstatat(listedFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && isWritten(info)) {
            found = entry->d_name;
            break;
        }
    }
    if (listed)
        closedir(listed);
    else if (listedFd >= 0)
        ::close(listedFd);
    if (!folderPath.isEmpty() && !found.isEmpty())
        return tr("Kelvaro wrote them into %1").arg(native(joinedPath(folderPath, found)));
    return tr("Kelvaro wrote them into a file whose names are elsewhere");
}

void FileReplacement::cancel()
{
    if (m_state != State::Closed && m_state != State::Committed && m_state != State::Cancelled)
        moveTo(State::Cancelled);
    finish();
}

void FileReplacement::finish()
{
    if (m_fd >= 0 && m_reserved > 0)
        giveBackReserve(m_fd, m_reserved);
    m_reserved = 0;
    closeFd(m_fd);
    closeFd(m_lock);
    dropTemporary();
    // The name is free once nothing of this save is left in the folder.
    closeFd(m_nameLock);
    closeFd(m_folder);
}

QString FileReplacement::whatWasLeft() const
{
    return m_state == State::Cancelled ? m_left : describeLeft();
}

QString FileReplacement::describeLeft() const
{
    if (m_mode == Mode::InPlace && m_state >= State::Written) {
        if (m_state == State::Synced)
            return tr("the file holds the new lines, but the system could not confirm that they "
                      "reached the disk");
        if (m_written >= m_old->size)
            return tr("the file holds only the first %L1 of the %L2 bytes of the new lines")
                .arg(m_written)
                .arg(m_expected);
        return tr("the file was overwritten in part: its first %L1 bytes are new, the rest is "
                  "what was left of its old contents")
            .arg(m_written);
    }
    if (m_folder < 0 && m_state == State::Closed)
        return untouched(m_path);
    // What the path holds now, which another program may have changed meanwhile.
    const NameNow now = lookAgain(m_path);
    QString kept = tr("the file was left as it was");
    if (m_state == State::Closed)
        return now.present ? kept : tr("no file was written");
    if (!now.present)
        return m_old ? tr("no file is there now") : tr("no file was written");
    if (m_old && quint64(now.info.st_dev) == m_old->id.device
        && quint64(now.info.st_ino) == m_old->id.inode)
        return kept;
    return tr("Kelvaro wrote nothing there; it holds what another program put there");
}

QString FileReplacement::untouched(const QString &path)
{
    return QFileInfo::exists(path) ? tr("the file was left as it was") : tr("no file was written");
}

std::optional<QString> FileReplacement::fail(const QString &reason, const QString &left)
{
    m_error = reason;
    if (m_state != State::Cancelled)
        moveTo(State::Cancelled);
    if (!left.isEmpty())
        m_left = left;
    finish();
    return reason;
}

std::optional<QString> FileReplacement::failWithErrno(int error)
{
    return fail(errorText(error));
}
