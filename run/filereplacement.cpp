// SPDX-License-Identifier: GPL-3.0-or-later
// How a file is replaced: a new file renamed over the old one, or the old one written in place.
#include "filereplacement.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// The file a chain of symbolic links ends at, which need not exist yet; the
// links themselves stay as they are.
std::optional<QByteArray> finalTarget(QByteArray path, int &error)
{
    for (int hops = 0; hops < 40; ++hops) {
        FileStatus info {};
        if (lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = readlink(path.constData(), target.data(), size_t(target.size()));
        if (length < 0 || length >= target.size()) {
            error = length < 0 ? errno : ENAMETOOLONG;
            return std::nullopt;
        }
        target.truncate(length);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    error = ELOOP;
    return std::nullopt;
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

// A new, empty file beside target, under a name no other file has.
int createBeside(const QByteArray &target, mode_t mode, QByteArray &created)
{
    const QByteArray folder = folderOf(target);
    // Short enough that the new name fits wherever the old one did.
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(NAME_MAX - 16);
    static constexpr char Letters[]
        = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = folder + "/." + base + '.';
        for (int i = 0; i < 8; ++i)
            name += Letters[QRandomGenerator::global()->bounded(int(sizeof(Letters) - 1))];
        const int fd
            = open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            created = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

#if defined(KELVARO_HAS_XATTR)
QList<QByteArray> splitNames(const QByteArray &list)
{
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

// The names of a file's extended attributes; nothing where the file system has none.
template<typename List>
std::optional<QList<QByteArray>> attributeNames(List list)
{
    for (;;) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::make_optional(QList<QByteArray>()) : std::nullopt;
        QByteArray names(size, Qt::Uninitialized);
        const ssize_t got = list(names.data(), size_t(size));
        if (got >= 0)
            return splitNames(names.left(got));
        if (errno != ERANGE)
            return std::nullopt;
    }
}

std::optional<QByteArray> attributeValue(const QByteArray &path, const QByteArray &name)
{
    for (;;) {
        const ssize_t size = getxattr(path.constData(), name.constData(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t got
            = getxattr(path.constData(), name.constData(), value.data(), size_t(size));
        if (got >= 0)
            return value.left(got);
        if (errno != ERANGE)
            return std::nullopt;
    }
}

// Gives fd exactly the extended attributes of the file at path, ACLs included.
bool copyAttributes(const QByteArray &path, int fd)
{
    const std::optional<QList<QByteArray>> wanted = attributeNames(
        [&path](char *list, size_t size) { return listxattr(path.constData(), list, size); });
    // The folder's default ACL may have given the new file one the old did not have.
    const std::optional<QList<QByteArray>> present
        = attributeNames([fd](char *list, size_t size) { return flistxattr(fd, list, size); });
    if (!wanted || !present)
        return false;
    for (const QByteArray &name : *present) {
        if (!wanted->contains(name) && fremovexattr(fd, name.constData()) != 0)
            return false;
    }
    for (const QByteArray &name : *wanted) {
        const std::optional<QByteArray> value = attributeValue(path, name);
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
bool copyMetadata(const QByteArray &path, uid_t owner, gid_t group, mode_t mode, int fd)
{
    if (fchown(fd, owner, group) != 0)
        return false;
    if (fchmod(fd, mode & ModeBits) != 0)
        return false;
#if defined(KELVARO_HAS_XATTR)
    if (!copyAttributes(path, fd))
        return false;
#else
    Q_UNUSED(path);
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

} // namespace

FileReplacement::~FileReplacement()
{
    cancel();
}

std::optional<QString> FileReplacement::open(const QString &path, qint64 exactSize)
{
    cancel();
    m_target.clear();
    m_method = Method::None;
    m_expected = exactSize;
    m_written = 0;
    m_writtenBack = 0;
    m_oldSize = 0;
    m_existed = m_touched = m_truncated = m_keepsMetadata = false;
    m_error.clear();
    // Qt would cut the name at the NUL and write to another file, reporting success.
    if (path.contains(QChar(0)))
        return fail(tr("The name holds a NUL character, which no file name may hold."));
    if (path.isEmpty())
        return failWithErrno(ENOENT);
    if (exactSize < 0)
        return fail(tr("The size of the new contents is unknown."));
    int error = 0;
    const std::optional<QByteArray> target = finalTarget(QFile::encodeName(path), error);
    if (!target)
        return failWithErrno(error);
    m_target = *target;

    FileStatus original {};
    if (stat(m_target.constData(), &original) != 0) {
        if (errno != ENOENT)
            return failWithErrno(errno);
    } else {
        m_existed = true;
        m_oldDevice = original.st_dev;
        m_oldInode = original.st_ino;
        m_oldSize = original.st_size;
        m_oldMode = original.st_mode;
        m_oldOwner = original.st_uid;
        m_oldGroup = original.st_gid;
        if (S_ISDIR(original.st_mode))
            return failWithErrno(EISDIR);
        if (!S_ISREG(original.st_mode)) {
            return fail(tr("It is %1, not a regular file. Kelvaro writes its lines only into "
                           "regular files.")
                            .arg(kindOf(original.st_mode)));
        }
        // Refused even where the system would let us (as root, say): whoever took the
        // write permission away did not mean the file to be replaced.
        if ((original.st_mode & S_IWUSR) == 0)
            return fail(tr("The file is read-only."));
        if (faccessat(AT_FDCWD, m_target.constData(), W_OK, AT_EACCESS) != 0)
            return failWithErrno(errno);
    }
    // A single write past the limit would end the whole program with SIGXFSZ.
    if (exceedsFileSizeLimit(exactSize))
        return failWithErrno(EFBIG);

    if (!m_existed) {
        // Created as open() would create it, so the umask and the folder's
        // default ACL apply.
        m_fd = createBeside(m_target, 0666, m_temporary);
        if (m_fd < 0)
            return failWithErrno(errno);
        m_method = Method::Replace;
        return std::nullopt;
    }
#if defined(KELVARO_HAS_RESERVE)
    if (original.st_nlink > 1)
        return openInPlace();
#endif
    m_fd = createBeside(m_target, 0600, m_temporary);
    if (m_fd < 0) {
#if defined(KELVARO_HAS_RESERVE)
        if (errno == EACCES || errno == EPERM)
            return openInPlace();
#endif
        return failWithErrno(errno);
    }
    m_keepsMetadata = copyMetadata(m_target, m_oldOwner, m_oldGroup, m_oldMode, m_fd);
#if defined(KELVARO_HAS_RESERVE)
    if (!m_keepsMetadata) {
        finish();
        return openInPlace();
    }
#else
    // Without a safe way to write in place, a new file keeps what it can.
#endif
    m_method = Method::Replace;
    return std::nullopt;
}

std::optional<QString> FileReplacement::openInPlace()
{
    m_fd = ::open(m_target.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return failWithErrno(errno);
    m_method = Method::InPlace;
    FileStatus opened {};
    if (fstat(m_fd, &opened) != 0)
        return failWithErrno(errno);
    if (opened.st_dev != m_oldDevice || opened.st_ino != m_oldInode)
        return fail(tr("The file was replaced by another while Kelvaro was saving."));
#if defined(KELVARO_HAS_RESERVE)
    if (m_expected == 0)
        return std::nullopt;
    int reserved = 0;
    do
        reserved = fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, m_expected);
    while (reserved != 0 && errno == EINTR);
    if (reserved == 0)
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

std::optional<QString> FileReplacement::commit()
{
    if (m_fd < 0)
        return m_error.isEmpty() ? tr("The file is not open for writing.") : m_error;
    if (m_written != m_expected) {
        return fail(
            tr("Kelvaro wrote %L1 of the %L2 bytes it announced.").arg(m_written).arg(m_expected));
    }
    if (m_method == Method::InPlace) {
        if (ftruncate(m_fd, m_expected) != 0)
            return failWithErrno(errno);
        m_touched = m_truncated = true;
    }
    // Writing clears the set-ID bits of a file unless the writer may set them;
    // a new file gets them again, as the old one had them, and so does the
    // old file where the process may change its mode.
    if (m_keepsMetadata && !copyMetadata(m_target, m_oldOwner, m_oldGroup, m_oldMode, m_fd))
        return fail(tr("The new file could not keep the old one's owner, mode or attributes."));
    FileStatus written {};
    if (m_method == Method::InPlace && fstat(m_fd, &written) == 0
        && (written.st_mode & ModeBits) != (m_oldMode & ModeBits))
        fchmod(m_fd, m_oldMode & ModeBits);
    if (fsync(m_fd) != 0)
        return failWithErrno(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return failWithErrno(errno);
    if (m_method == Method::Replace) {
        if (rename(m_temporary.constData(), m_target.constData()) != 0)
            return failWithErrno(errno);
        m_temporary.clear();
        // The rename itself is on the disk only once the folder is.
        const int folder
            = ::open(folderOf(m_target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            fsync(folder);
            ::close(folder);
        }
    }
    return std::nullopt;
}

void FileReplacement::cancel()
{
    finish();
}

void FileReplacement::finish()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        unlink(m_temporary.constData());
        m_temporary.clear();
    }
}

QString FileReplacement::whatWasLeft() const
{
    if (!m_touched)
        return m_existed ? tr("the file was left as it was") : tr("no file was written");
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
