// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file's contents so that it keeps its owner, mode, ACLs, attributes and other names.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <optional>

// Writes new contents of a known size to a path, chunk by chunk, and decides how:
//
// - Replace: the bytes go into a new file in the final folder, which takes
//   the old file's owner, group, whole mode and extended attributes (POSIX
//   ACLs among them) and takes the old one's place at commit(). Until then the
//   old file is whole. The new file has no name while it is written where the
//   file system allows it (O_TMPFILE): a new name is then linked to it
//   directly (linkat, which refuses a name taken meanwhile). An existing file
//   has no call that replaces it by an unnamed one, so the new file takes a
//   name of the saver's own for that instant (savenames.h) and is exchanged
//   with the old one (renameat2 RENAME_EXCHANGE), which shows what the name
//   held at that instant: anything but the old file is put back. Where the
//   file system cannot exchange names, a rename replaces the old file, and a
//   file put in its place just before is found by the old file keeping its
//   name. Without unnamed files the new file has its own name from the start.
// - InPlace: where a new file could not keep all of that (the file has more
//   than one name, its owner or group or an attribute cannot be given to a new
//   file, it is mounted over its name, or the folder takes no new file
//   although the file itself is writable), the bytes are written into the
//   existing file, after the space it grows by has been reserved on the disk,
//   so that a full disk is found before a byte of the old contents changes.
//   A write that ends early gives the reserved space back. Writing clears a
//   set-ID bit that this user may not set again; notice() says so.
//
// Refused, and left alone: anything but a regular file (a named pipe, a
// device, a socket); a file this user may not write, whose mode lets no one
// write it, or that is marked immutable or append-only; a name that another
// save is saving, or a file that another save or program holds a lock on
// (savelocks.h); a file larger than the free space of the disk that will hold
// it; a path through a symbolic link this user may not follow (pathwalk.h).
//
// The final folder is held open from open() to the end, and the new file is
// made and renamed relative to it. commit() replaces nothing when the path no
// longer leads to that folder and name, or the name no longer holds the file
// open() found there (or no longer holds nothing). After it, in either mode,
// the path must lead to the file written; otherwise commit() fails, saying
// what the path holds and where the lines went.
//
// Not kept, as a user without administrator rights cannot see them: trusted.*
// attributes, when such a user's save goes through a new file.
//
// An object is used by one thread at a time, not necessarily the one that made
// it; it uses no widget and changes nothing that the whole process shares. A
// run stopped from elsewhere calls cancel() on the writing thread, between two
// writes.
class FileReplacement
{
    Q_DECLARE_TR_FUNCTIONS(FileReplacement)

public:
    FileReplacement() = default;
    // An unfinished replacement is cancelled.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // Gets ready to write exactly exactSize bytes to path. Returns the reason
    // when that cannot be done; nothing has changed then.
    std::optional<QString> open(const QString &path, qint64 exactSize);

    // Writes the next bytes. A write that cannot be completed (a full disk, more
    // bytes than announced) returns false and ends the replacement as cancel()
    // does; errorString() and whatWasLeft() then tell why and what is left.
    bool write(const char *data, qint64 size);

    // Puts exactly the announced bytes on the disk, the slow part of the end;
    // the path still shows the old contents unless they were written in place.
    // Returns the reason when it could not.
    std::optional<QString> sync();

    // Whether cancel() would still leave the old contents whole.
    bool canStillCancel() const;

    // Makes the new contents the file's, synced first where sync() was not
    // called, and checks that the path leads to them. Returns the reason when
    // it could not.
    std::optional<QString> commit();

    // Stops without committing. Replace leaves the old file whole and removes
    // the new one. InPlace leaves the file whole until the first write, but
    // cannot take back bytes written since: the file then holds them, followed
    // by whatever of the old contents lay beyond.
    void cancel();

    QString errorString() const { return m_error; }

    // What the path holds after a failure or cancel, to end a sentence:
    // "the file was left as it was", "no file was written", what part of it
    // was overwritten, or what another program left there meanwhile and where
    // the lines went.
    QString whatWasLeft() const;

    // What a committed save could not keep, as sentences; empty when it kept all.
    QString notice() const { return m_notice; }

    // Whether the path held no file when open() looked.
    bool isNewFile() const { return !m_old.has_value(); }

    // What a path that nothing was written to holds.
    static QString untouched(const QString &path);

private:
    enum class Mode { Replace, InPlace };

    // Where a replacement stands. It moves only forward, through moveTo():
    //   Closed -> Looked -> Opened -> Written -> Synced -> Committed,
    // any of them skipped where there is nothing to do, and from any state but
    // Committed to Cancelled, by cancel() or a failure; a new open() starts
    // again from Closed.
    // - Looked: the final name was looked at; m_old says what it held.
    // - Opened: ready to write, in m_mode; the old contents are whole.
    // - Written: bytes went in; in place, into the old file.
    // - Synced: every byte is on the disk; in place, the file has its new size.
    // - Cancelled: whatWasLeft() says what the path held at that moment.
    enum class State { Closed, Looked, Opened, Written, Synced, Committed, Cancelled };

    struct FileId
    {
        quint64 device = 0;
        quint64 inode = 0;
    };

    // The file that the final name held when open() looked.
    struct OldFile
    {
        FileId id;
        qint64 size = 0;
        quint32 mode = 0;
        quint32 owner = 0;
        quint32 group = 0;
        quint64 links = 0;
        bool mountPoint = false;
    };

    void moveTo(State next);
    std::optional<QString> fail(const QString &reason, const QString &left = {});
    std::optional<QString> failWithErrno(int error);
    void reset(const QString &path, qint64 exactSize);
    std::optional<QString> holdFolder();
    std::optional<QString> lockName();
    std::optional<QString> lookAtName();
    std::optional<QString> lockOldFile();
    std::optional<QString> chooseMode();
    bool createNewFile(unsigned mode);
    bool createNamed(unsigned mode);
    bool linkUnderTemporaryName();
    bool needsOwnFolder() const;
    bool makeTemporaryFolder();
    int temporaryFolder() const;
    QByteArray temporaryEntry() const;
    void dropTemporary();
    std::optional<QString> useInPlace();
    std::optional<QString> checkSpace();
    std::optional<QString> reserveSpace();
    void keepSetIdBits();
    std::optional<QString> putInPlace();
    std::optional<QString> exchangeWithOld();
    std::optional<QString> syncFolder();
    std::optional<QString> checkUnchanged();
    std::optional<QString> changeSince(const std::optional<FileId> &expected) const;
    std::optional<QString> checkPathLeadsToFile(const FileId &written);
    std::optional<QString> takenMeanwhile();
    QString describeLeft() const;
    QString whereTheLinesWent(const FileId &written) const;
    void finish();
    void startWriteBack();

    QString m_path;
    Mode m_mode = Mode::Replace;
    State m_state = State::Closed;
    // The folder of the final file, held open (O_PATH), its path for messages
    // and its identity.
    int m_folder = -1;
    QByteArray m_folderPath;
    FileId m_folderId;
    // The same folder open for reading, which holds the lock on the name and
    // is synced after a rename; -1 where it may not be read.
    int m_nameLock = -1;
    // The final file's name in the folder, byte for byte.
    QByteArray m_name;
    // Nothing for a new name.
    std::optional<OldFile> m_old;
    // The new file's name of its own while it has one (see savenames.h): in
    // the folder, or, with m_ownFolder open, the saver's folder that holds it.
    QByteArray m_temporary;
    int m_ownFolder = -1;
    // The file written; for InPlace the old one, locked.
    int m_fd = -1;
    // The old file, locked against a second save, while m_fd is a new file.
    int m_lock = -1;
    qint64 m_expected = 0;
    qint64 m_written = 0;
    // Bytes handed to the disk's write-back ahead of commit.
    qint64 m_writtenBack = 0;
    // In place: the end of the space reserved past the old contents, until the
    // file has its new size.
    qint64 m_reserved = 0;
    QString m_error;
    QString m_left;
    QString m_notice;
};
