// SPDX-License-Identifier: GPL-3.0-or-later
// The locks that keep two saves of one file, or of one name, apart.
#pragma once

#include <QByteArray>

#include <optional>
#include <sys/types.h>

// Every lock here is an OFD lock (fcntl F_OFD_SETLK): it belongs to an open
// file, not to a process, so two saves in one process see each other, and it
// goes with the last descriptor of that file, a killed save's included. A file
// system that takes no such lock gives none, and the save goes ahead unlocked.

// What holds the lock that a save could not take.
struct LockHolder
{
    // The process holding a classic POSIX lock (any program's); 0 for an OFD
    // lock, which tells no process: another save, or a program that locks so.
    pid_t process = 0;
};

// Takes a write lock on the whole of the open file fd: the lock a save holds
// on the file it replaces and on the one it writes. Returns what holds a lock
// in its way instead; nothing when taken, or when the file takes no lock.
std::optional<LockHolder> takeWriteLock(int fd);

// Whether any open file but fd's own holds a lock on fd's file: the sweep's
// sign that the save which made it still runs.
bool isLocked(int fd);

// Takes the lock that a save holds on its final name from open to end,
// whether the name exists or not: a read lock on one byte of the folder (fd
// open for reading), at an offset made from the name. A folder cannot be
// opened for writing, so no write lock can be had on it; read locks let each
// other be, and a save looks for another's with F_OFD_GETLK before and after
// it takes its own. Of two saves of one name, the later is refused; two that
// start within the same instant may both be, and neither writes.
//
// A folder that cannot be read or locked gives no lock (Unavailable): two
// saves of a new name there are then told apart only at the end, where the
// later finds the name taken. Anyone who may read the folder could hold such
// a lock, and so keep a save of that name from starting; nothing is lost then
// but that save.
enum class NameLock { Taken, HeldByAnother, Unavailable };
NameLock takeNameLock(int folder, const QByteArray &name);
