// SPDX-License-Identifier: GPL-3.0-or-later
// OFD locks on a save's files and on its name.
#include "savelocks.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>

namespace {

struct flock wholeFile(short type)
{
    struct flock lock
    {
    };
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

// One byte for each name, far past anything a folder's size could reach:
// 64-bit FNV-1a of the name's bytes, kept to 62 bits so that the byte and its
// end stay within a positive 64-bit offset.
struct flock nameByte(short type, const QByteArray &name)
{
    uint64_t hash = 14695981039346656037ULL;
    for (const char byte : name) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    struct flock lock = wholeFile(type);
    lock.l_start = static_cast<off_t>(hash >> 2);
    lock.l_len = 1;
    return lock;
}

// Whether another open file holds a lock where probe would go.
bool heldElsewhere(int fd, struct flock probe)
{
    return fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

} // namespace

std::optional<LockHolder> takeWriteLock(int fd)
{
    struct flock lock = wholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0 || (errno != EAGAIN && errno != EACCES))
        return std::nullopt;
    struct flock holder = wholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_GETLK, &holder) != 0 || holder.l_type == F_UNLCK)
        return LockHolder {};
    return LockHolder {holder.l_pid > 0 ? holder.l_pid : 0};
}

bool isLocked(int fd)
{
    struct flock probe = wholeFile(F_WRLCK);
    return fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
}

NameLock takeNameLock(int folder, const QByteArray &name)
{
    if (heldElsewhere(folder, nameByte(F_WRLCK, name)))
        return NameLock::HeldByAnother;
    struct flock lock = nameByte(F_RDLCK, name);
    if (fcntl(folder, F_OFD_SETLK, &lock) != 0)
        return NameLock::Unavailable;
    // Another save that looked in the same instant holds its byte as well by
    // now; each sees the other, and both let go.
    if (heldElsewhere(folder, nameByte(F_WRLCK, name))) {
        struct flock release = nameByte(F_UNLCK, name);
        fcntl(folder, F_OFD_SETLK, &release);
        return NameLock::HeldByAnother;
    }
    return NameLock::Taken;
}
