// SPDX-License-Identifier: GPL-3.0-or-later
// Making a save's temporary names, and removing those a killed save left.
#include "savenames.h"

#include "savelocks.h"

#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using FileStatus = struct stat;

constexpr char Prefix[] = ".kelvaro-save-";
constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr qsizetype LetterCount = 8;

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The process that made name, when temporaryName() could have made it.
std::optional<pid_t> maker(const QByteArray &name)
{
    const qsizetype start = qsizetype(sizeof(Prefix) - 1);
    if (!name.startsWith(Prefix) || name.size() < start + 2 + LetterCount)
        return std::nullopt;
    const qsizetype dash = name.size() - LetterCount - 1;
    if (name[dash] != '-' || name[start] == '0')
        return std::nullopt;
    qint64 pid = 0;
    for (qsizetype i = start; i < dash; ++i) {
        const char c = name[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        pid = pid * 10 + (c - '0');
        if (pid > std::numeric_limits<pid_t>::max())
            return std::nullopt;
    }
    for (qsizetype i = dash + 1; i < name.size(); ++i) {
        if (!isLetter(name[i]))
            return std::nullopt;
    }
    return pid > 0 ? std::make_optional(pid_t(pid)) : std::nullopt;
}

bool sameFile(const FileStatus &a, const FileStatus &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens what name in folder is, once it has been seen to be of kind (a
// regular file or a folder) and still is; -1 otherwise. Never a pipe or a
// device: opening one could take what a waiting writer meant for its reader.
int openSeen(int folder, const char *name, mode_t kind, FileStatus &seen)
{
    if (fstatat(folder, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || (seen.st_mode & S_IFMT) != kind)
        return -1;
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW
        | (kind == S_IFDIR ? O_DIRECTORY : 0);
    const int fd = openat(folder, name, flags);
    FileStatus opened {};
    if (fd >= 0 && (fstat(fd, &opened) != 0 || !sameFile(opened, seen))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes a regular file that no save holds any more; with ownOnly, only
// one of this user's own.
bool removeUnlockedFile(int folder, const char *name, bool ownOnly)
{
    FileStatus seen {};
    const int fd = openSeen(folder, name, S_IFREG, seen);
    if (fd < 0)
        return false;
    const bool removed
        = (!ownOnly || seen.st_uid == geteuid()) && !isLocked(fd) && unlinkat(folder, name, 0) == 0;
    ::close(fd);
    return removed;
}

// A temporary folder holds one regular file; anything else there was not
// put there by a save, and the folder stays.
void removeTemporaryFolder(int folder, const char *name)
{
    FileStatus seen {};
    const int fd = openSeen(folder, name, S_IFDIR, seen);
    if (fd < 0)
        return;
    bool empty = true;
    // The file in it may be another user's, when root saved that user's file.
    if (seen.st_uid == geteuid()) {
        const int listedFd = dup(fd);
        DIR *listed = listedFd >= 0 ? fdopendir(listedFd) : nullptr;
        while (const dirent *entry = listed ? readdir(listed) : nullptr) {
            const QByteArray inner(entry->d_name);
            if (inner != "." && inner != "..")
                empty = removeUnlockedFile(fd, entry->d_name, false) && empty;
        }
        if (listed)
            closedir(listed);
        else if (listedFd >= 0)
            ::close(listedFd);
    }
    if (empty && seen.st_uid == geteuid())
        unlinkat(folder, name, AT_REMOVEDIR);
    ::close(fd);
}

} // namespace

QByteArray temporaryName()
{
    QByteArray name = Prefix + QByteArray::number(qint64(getpid())) + '-';
    for (qsizetype i = 0; i < LetterCount; ++i)
        name += Letters[QRandomGenerator::global()->bounded(int(sizeof(Letters) - 1))];
    return name;
}

void removeLeftovers(int folder)
{
    const int listedFd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listed = listedFd >= 0 ? fdopendir(listedFd) : nullptr;
    if (!listed) {
        if (listedFd >= 0)
            ::close(listedFd);
        return;
    }
    while (const dirent *entry = readdir(listed)) {
        const std::optional<pid_t> pid = maker(QByteArray(entry->d_name));
        // A process by that id still runs: the name may be its save's, not yet locked.
        if (!pid || kill(*pid, 0) == 0 || errno != ESRCH)
            continue;
        FileStatus seen {};
        if (fstatat(listedFd, entry->d_name, &seen, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(seen.st_mode))
            removeUnlockedFile(listedFd, entry->d_name, true);
        else if (S_ISDIR(seen.st_mode))
            removeTemporaryFolder(listedFd, entry->d_name);
    }
    closedir(listed);
}
