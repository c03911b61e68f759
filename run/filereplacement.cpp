// SPDX-License-Identifier: GPL-3.0-or-later
// How a file is replaced: a new file renamed over the old one, or the old one written in place.
#include "filereplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
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
constexpr int LinkHops = 40;
// A named new file starts so, then the writing process's id: the next save
// into the folder knows it for Kelvaro's, and whether its writer still runs.
constexpr char LeftoverPrefix[] = ".kelvaro-save-";

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

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool sameFile(const FileStatus &info, quint64 device, quint64 inode)
{
    return quint64(info.st_dev) == device && quint64(info.st_ino) == inode;
}

// A folder that may be searched but not read still serves every lookup and
// the new file; only its fsync needs it readable.
int openFolder(const QByteArray &path)
{
    int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#if defined(O_PATH)
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    return fd;
}

// The system's rule for links in shared folders (fs.protected_symlinks): a
// link in a sticky folder that everyone may write to is followed only by its
// owner, or when it belongs to the folder's owner.
bool mayFollow(const FileStatus &link, const FileStatus &folder)
{
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

// Where a chain of symbolic links ends: the folder of the final file, held
// open, and its name there, which need not exist yet. The links themselves
// stay as they are.
struct FinalFile
{
    int folder = -1;
    QByteArray folderPath;
    QByteArray name;
    int error = 0;
    // The link that the rule for shared folders does not let this user follow.
    QByteArray refusedLink;
};

FinalFile findFinalFile(QByteArray path)
{
    FinalFile found;
    for (int hops = 0; hops <= LinkHops; ++hops) {
        found.folderPath = folderOf(path);
        found.name = path.mid(path.lastIndexOf('/') + 1);
        if (found.name.isEmpty() || found.name == "." || found.name == "..") {
            found.error = EISDIR;
            return found;
        }
        found.folder = openFolder(found.folderPath);
        if (found.folder < 0) {
            found.error = errno;
            return found;
        }
        FileStatus info {};
        if (fstatat(found.folder, found.name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                found.error = errno;
                closeFd(found.folder);
            }
            return found;
        }
        if (!S_ISLNK(info.st_mode))
            return found;
        FileStatus folder {};
        if (fstat(found.folder, &folder) != 0 || !mayFollow(info, folder)) {
            found.error = errno;
            found.refusedLink = path;
            closeFd(found.folder);
            return found;
        }
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length
            = readlinkat(found.folder, found.name.constData(), target.data(), size_t(PATH_MAX));
        closeFd(found.folder);
        if (length < 0 || length >= PATH_MAX) {
            found.error = length < 0 ? errno : ENAMETOOLONG;
            return found;
        }
        target.truncate(length);
        path = target.startsWith('/') ? target : found.folderPath + '/' + target;
    }
    found.error = ELOOP;
    return found;
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

// Whether another open file holds a lock on this one; every save takes one
// (an OFD lock, so that two saves in one process see each other as well).
// A file system that takes no such lock leaves the file unlocked.
bool lockedByAnother(int fd)
{
#if defined(F_OFD_SETLK)
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES);
#else
    Q_UNUSED(fd);
    return false;
#endif
}

bool isLocked(int fd)
{
#if defined(F_OFD_GETLK)
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
#else
    Q_UNUSED(fd);
    return true;
#endif
}

QByteArray uniqueName()
{
    static constexpr char Letters[]
        = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name = LeftoverPrefix + QByteArray::number(qint64(getpid())) + '-';
    for (int i = 0; i < 8; ++i)
        name += Letters[QRandomGenerator::global()->bounded(int(sizeof(Letters) - 1))];
    return name;
}

// A new, empty file in folder, under a name no other file has.
int createNamed(int folder, mode_t mode, QByteArray &created)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = uniqueName();
        const int fd = openat(
            folder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            created = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

QByteArray procPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
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

bool isMountPoint(int folder, const QByteArray &name)
{
#if defined(STATX_ATTR_MOUNT_ROOT)
    struct statx info
    {
    };
    return statx(folder, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) == 0
        && (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0
        && (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#else
    Q_UNUSED(folder);
    Q_UNUSED(name);
    return false;
#endif
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
    if (std::optional<QString> refusal = checkTarget())
        return refusal;
    // A single write past the limit would end the whole program with SIGXFSZ.
    if (exceedsFileSizeLimit(exactSize))
        return failWithErrno(EFBIG);
    removeLeftovers();
    if (std::optional<QString> refusal = chooseMethod())
        return refusal;
    if (std::optional<QString> refusal = checkSpace())
        return refusal;
    return m_method == Method::InPlace ? reserveSpace() : std::nullopt;
}

void FileReplacement::reset(const QString &path, qint64 exactSize)
{
    cancel();
    m_path = path;
    m_name.clear();
    m_folderPath.clear();
    m_method = Method::Replace;
    m_expected = exactSize;
    m_written = 0;
    m_writtenBack = 0;
    m_oldSize = 0;
    m_oldLinks = 0;
    m_checked = m_existed = m_reserved = m_synced = m_touched = m_truncated = false;
    m_keepsMetadata = m_oldIsMountPoint = false;
    m_error.clear();
}

std::optional<QString> FileReplacement::holdFolder()
{
    FinalFile found = findFinalFile(QFile::encodeName(m_path));
    if (!found.refusedLink.isEmpty()) {
        return fail(tr("%1 is a symbolic link that another user made in a folder everyone may "
                       "write to. Kelvaro does not follow such a link, as the system would not: "
                       "it could lead anywhere that user chose.")
                        .arg(native(found.refusedLink)));
    }
    if (found.error != 0)
        return failWithErrno(found.error);
    m_folder = found.folder;
    m_folderPath = found.folderPath;
    m_name = found.name;
    FileStatus folder {};
    if (fstat(m_folder, &folder) != 0)
        return failWithErrno(errno);
    m_folderDevice = folder.st_dev;
    m_folderInode = folder.st_ino;
    return std::nullopt;
}

std::optional<QString> FileReplacement::checkTarget()
{
    FileStatus original {};
    if (fstatat(m_folder, m_name.constData(), &original, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failWithErrno(errno);
        m_checked = true;
        return std::nullopt;
    }
    m_checked = m_existed = true;
    m_oldDevice = original.st_dev;
    m_oldInode = original.st_ino;
    m_oldSize = original.st_size;
    m_oldMode = original.st_mode;
    m_oldOwner = original.st_uid;
    m_oldGroup = original.st_gid;
    m_oldLinks = original.st_nlink;
    if (S_ISDIR(original.st_mode))
        return failWithErrno(EISDIR);
    if (!S_ISREG(original.st_mode)) {
        return fail(tr("It is %1, not a regular file. Kelvaro writes its lines only into "
                       "regular files.")
                        .arg(kindOf(original.st_mode)));
    }
    // Refused even where the system would let us (as root, say): whoever took every
    // write permission away did not mean the file to be replaced.
    if ((original.st_mode & AnyWrite) == 0)
        return fail(tr("The file is read-only."));
    // With the effective ids, so that a group or an ACL entry that lets this user write counts.
    if (faccessat(m_folder, m_name.constData(), W_OK, AT_EACCESS) != 0)
        return errno == EACCES ? fail(tr("The file is read-only.")) : failWithErrno(errno);
    m_oldIsMountPoint = isMountPoint(m_folder, m_name);
    return lockTarget();
}

std::optional<QString> FileReplacement::lockTarget()
{
    m_lock = openat(
        m_folder, m_name.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (m_lock < 0)
        return failWithErrno(errno);
    FileStatus opened {};
    if (fstat(m_lock, &opened) != 0)
        return failWithErrno(errno);
    if (!sameFile(opened, m_oldDevice, m_oldInode))
        return fail(tr("The file was replaced by another while Kelvaro was saving."));
    if (lockedByAnother(m_lock)) {
        return fail(tr("%1 is being saved by another Kelvaro window right now; two saves at once "
                       "would mix their lines. Save again once that one has ended.")
                        .arg(QDir::toNativeSeparators(m_path)));
    }
    return std::nullopt;
}

std::optional<QString> FileReplacement::chooseMethod()
{
    if (!m_existed) {
        // Created as open() would create it, so the umask and the folder's
        // default ACL apply.
        return createNewFile(0666) ? std::nullopt : failWithErrno(errno);
    }
#if defined(KELVARO_HAS_RESERVE)
    // The other names would go on showing the old contents, and a file mounted
    // over its name cannot be renamed over.
    if (m_oldLinks > 1 || m_oldIsMountPoint)
        return useInPlace();
#endif
    if (!createNewFile(0600)) {
#if defined(KELVARO_HAS_RESERVE)
        if (writableInPlaceInstead(errno))
            return useInPlace();
#endif
        return failWithErrno(errno);
    }
    m_keepsMetadata = copyMetadata(m_lock, m_oldOwner, m_oldGroup, m_oldMode, m_fd);
#if defined(KELVARO_HAS_RESERVE)
    if (!m_keepsMetadata) {
        closeFd(m_fd);
        if (!m_temporary.isEmpty())
            unlinkat(m_folder, m_temporary.constData(), 0);
        m_temporary.clear();
        return useInPlace();
    }
#else
    // Without a safe way to write in place, a new file keeps what it can.
#endif
    return std::nullopt;
}

bool FileReplacement::createNewFile(unsigned mode)
{
#if defined(O_TMPFILE)
    m_fd = openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_t(mode));
    // It is given its name at commit through /proc; without /proc it gets one now.
    if (m_fd >= 0 && faccessat(AT_FDCWD, procPath(m_fd).constData(), F_OK, 0) == 0) {
        lockedByAnother(m_fd);
        return true;
    }
    closeFd(m_fd);
    // A file system without unnamed files says EOPNOTSUPP; a kernel older
    // than them, EISDIR.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        return false;
#endif
    m_fd = createNamed(m_folder, mode_t(mode), m_temporary);
    if (m_fd < 0)
        return false;
    lockedByAnother(m_fd);
    return true;
}

std::optional<QString> FileReplacement::useInPlace()
{
    m_method = Method::InPlace;
    m_fd = m_lock;
    m_lock = -1;
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
    const bool inPlace = m_method == Method::InPlace;
    const qint64 needed = inPlace ? std::max<qint64>(0, m_expected - m_oldSize) : m_expected;
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
    m_reserved = reserved == 0;
    if (m_reserved)
        return std::nullopt;
    // Bytes that overwrite old ones need no new space on most file systems.
    const bool unsupported = errno == EOPNOTSUPP || errno == ENOSYS;
    if (!unsupported || m_expected > m_oldSize) {
        return unsupported ? fail(tr("The file has to be written in place, and its file system "
                                     "cannot reserve the space for the new contents first."))
                           : failWithErrno(errno);
    }
#endif
    return std::nullopt;
}

void FileReplacement::removeLeftovers() const
{
    const int listed = openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return;
    DIR *folder = fdopendir(listed);
    if (!folder) {
        ::close(listed);
        return;
    }
    FileStatus folderInfo {};
    const bool shared = fstat(listed, &folderInfo) == 0 && (folderInfo.st_mode & S_ISVTX) != 0;
    const qsizetype prefix = qsizetype(sizeof(LeftoverPrefix) - 1);
    while (const dirent *entry = readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(LeftoverPrefix))
            continue;
        bool isNumber = false;
        const qint64 pid
            = name.mid(prefix, name.indexOf('-', prefix) - prefix).toLongLong(&isNumber);
        // A process by that id still runs: the file may be its save, not yet locked.
        if (!isNumber || pid <= 0 || pid > std::numeric_limits<pid_t>::max()
            || kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        int fd = openat(
            listed, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        FileStatus info {};
        FileStatus now {};
        // In a shared folder, only this user's own leftovers.
        if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
            && !(shared && info.st_uid != geteuid()) && !isLocked(fd)
            && fstatat(listed, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0
            && sameFile(now, info.st_dev, info.st_ino))
            unlinkat(listed, name.constData(), 0);
        closeFd(fd);
    }
    closedir(folder);
}

bool FileReplacement::write(const char *data, qint64 size)
{
    if (m_fd < 0) {
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
        if (m_method == Method::InPlace)
            m_touched = true;
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
    if (m_fd < 0)
        return m_error.isEmpty() ? tr("The file is not open for writing.") : m_error;
    if (m_synced)
        return std::nullopt;
    if (m_written != m_expected) {
        return fail(
            tr("Kelvaro wrote %L1 of the %L2 bytes it announced.").arg(m_written).arg(m_expected));
    }
    if (m_method == Method::InPlace) {
        if (ftruncate(m_fd, m_expected) != 0)
            return failWithErrno(errno);
        m_touched = m_truncated = true;
        m_reserved = false;
    }
    // Writing clears the set-ID bits of a file unless the writer may set them;
    // a new file gets them again, as the old one had them, and so does the
    // old file where the process may change its mode.
    if (m_keepsMetadata && !copyMetadata(m_lock, m_oldOwner, m_oldGroup, m_oldMode, m_fd))
        return fail(tr("The new file could not keep the old one's owner, mode or attributes."));
    FileStatus written {};
    if (m_method == Method::InPlace && fstat(m_fd, &written) == 0
        && (written.st_mode & ModeBits) != (m_oldMode & ModeBits))
        fchmod(m_fd, m_oldMode & ModeBits);
    if (fsync(m_fd) != 0)
        return failWithErrno(errno);
    m_synced = true;
    return std::nullopt;
}

bool FileReplacement::canStillCancel() const
{
    return m_method == Method::Replace || !m_touched;
}

std::optional<QString> FileReplacement::commit()
{
    if (std::optional<QString> reason = sync())
        return reason;
    if (m_method == Method::InPlace) {
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0)
            return failWithErrno(errno);
        finish();
        return std::nullopt;
    }
    if (std::optional<QString> reason = putInPlace())
        return reason;
    // The rename itself is on the disk only once the folder is.
    const int folder = openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        ::close(folder);
    }
    finish();
    return std::nullopt;
}

std::optional<QString> FileReplacement::putInPlace()
{
    if (m_temporary.isEmpty()) {
        // Where nothing was, the unnamed file takes the name itself, and
        // linkat refuses a name that another program took meanwhile.
        if (!m_existed) {
            if (std::optional<QString> changed = checkUnchanged())
                return changed;
            if (linkat(AT_FDCWD, procPath(m_fd).constData(), m_folder, m_name.constData(),
                    AT_SYMLINK_FOLLOW)
                == 0)
                return std::nullopt;
            return errno == EEXIST ? takenMeanwhile() : failWithErrno(errno);
        }
        // Linked under a name of its own first, so that it replaces the old
        // file in one rename.
        for (int attempt = 0; attempt < 100 && m_temporary.isEmpty(); ++attempt) {
            const QByteArray name = uniqueName();
            if (linkat(AT_FDCWD, procPath(m_fd).constData(), m_folder, name.constData(),
                    AT_SYMLINK_FOLLOW)
                == 0)
                m_temporary = name;
            else if (errno != EEXIST)
                return failWithErrno(errno);
        }
        if (m_temporary.isEmpty())
            return failWithErrno(EEXIST);
    }
    if (std::optional<QString> changed = checkUnchanged())
        return changed;
    int renamed = 0;
    if (m_existed) {
        renamed = renameat(m_folder, m_temporary.constData(), m_folder, m_name.constData());
    } else {
#if defined(RENAME_NOREPLACE)
        renamed = renameat2(
            m_folder, m_temporary.constData(), m_folder, m_name.constData(), RENAME_NOREPLACE);
        // Not every file system takes the flag; a hard link refuses a taken name as well.
        if (renamed != 0 && errno == EINVAL) {
#endif
            renamed = linkat(m_folder, m_temporary.constData(), m_folder, m_name.constData(), 0);
            if (renamed == 0)
                unlinkat(m_folder, m_temporary.constData(), 0);
#if defined(RENAME_NOREPLACE)
        }
#endif
        if (renamed != 0 && errno == EEXIST)
            return takenMeanwhile();
    }
    if (renamed != 0)
        return failWithErrno(errno);
    m_temporary.clear();
    return std::nullopt;
}

std::optional<QString> FileReplacement::checkUnchanged()
{
    const QString path = QDir::toNativeSeparators(m_path);
    FileStatus held {};
    if (fstatat(m_folder, m_name.constData(), &held, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failWithErrno(errno);
        if (m_existed) {
            return fail(tr("While Kelvaro was saving, %1 was deleted. Kelvaro put nothing in its "
                           "place.")
                            .arg(path));
        }
    } else if (!m_existed) {
        return fail(tr("While Kelvaro was saving, another program made %1. Kelvaro left that "
                       "file as it is.")
                        .arg(path));
    } else if (S_ISLNK(held.st_mode)) {
        return fail(tr("While Kelvaro was saving, %1 was replaced by a symbolic link. Kelvaro left "
                       "the link as it is.")
                        .arg(path));
    } else if (!S_ISREG(held.st_mode)) {
        return fail(tr("While Kelvaro was saving, %1 was replaced by %2. Kelvaro left it as it is.")
                        .arg(path, kindOf(held.st_mode)));
    } else if (!sameFile(held, m_oldDevice, m_oldInode)) {
        return fail(tr("While Kelvaro was saving, %1 was replaced by another file. Kelvaro left "
                       "that file as it is.")
                        .arg(path));
    }
    // The name in the held folder is as it was; the path must still lead to it.
    FinalFile now = findFinalFile(QFile::encodeName(m_path));
    FileStatus folder {};
    const bool samePlace = now.folder >= 0 && now.name == m_name && fstat(now.folder, &folder) == 0
        && sameFile(folder, m_folderDevice, m_folderInode);
    closeFd(now.folder);
    if (!samePlace) {
        return fail(tr("While Kelvaro was saving, the folder of %1 was moved or replaced, or a "
                       "link on the way to it was changed. Kelvaro put nothing in its place.")
                        .arg(path));
    }
    return std::nullopt;
}

std::optional<QString> FileReplacement::takenMeanwhile()
{
    const std::optional<QString> changed = checkUnchanged();
    return changed ? changed : failWithErrno(EEXIST);
}

void FileReplacement::cancel()
{
    finish();
}

void FileReplacement::finish()
{
    if (m_fd >= 0 && m_reserved)
        giveBackReserve(m_fd, m_expected);
    m_reserved = false;
    closeFd(m_fd);
    closeFd(m_lock);
    if (!m_temporary.isEmpty()) {
        unlinkat(m_folder, m_temporary.constData(), 0);
        m_temporary.clear();
    }
    closeFd(m_folder);
}

QString FileReplacement::whatWasLeft() const
{
    if (m_touched) {
        if (m_truncated)
            return tr("the file holds the new lines, but the system could not confirm that they "
                      "reached the disk");
        if (m_written >= m_oldSize)
            return tr("the file holds only the first %L1 of the %L2 bytes of the new lines")
                .arg(m_written)
                .arg(m_expected);
        return tr("the file was overwritten in part: its first %L1 bytes are new, the rest is "
                  "what was left of its old contents")
            .arg(m_written);
    }
    if (!m_checked)
        return untouched(m_path);
    // What the path holds now, which another program may have changed meanwhile.
    FileStatus now {};
    if (stat(QFile::encodeName(m_path).constData(), &now) != 0)
        return m_existed ? tr("no file is there now") : tr("no file was written");
    if (m_existed && sameFile(now, m_oldDevice, m_oldInode))
        return tr("the file was left as it was");
    return tr("Kelvaro wrote nothing there; it holds what another program put there");
}

QString FileReplacement::untouched(const QString &path)
{
    return QFileInfo::exists(path) ? tr("the file was left as it was") : tr("no file was written");
}

std::optional<QString> FileReplacement::fail(const QString &reason)
{
    m_error = reason;
    finish();
    return reason;
}

std::optional<QString> FileReplacement::failWithErrno(int error)
{
    return fail(errorText(error));
}
