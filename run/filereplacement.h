// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file's contents so that it keeps its owner, mode, ACLs, attributes and other names.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <optional>

// Writes new contents of a known size to a path, chunk by chunk, and decides how:
//
// - Replace: the bytes go into a new file in the old one's folder, which takes
//   the old file's owner, group, whole mode and extended attributes (POSIX
//   ACLs among them) and is renamed over it at commit(). Until then the old
//   file is whole, and the new one has no name where the file system allows
//   that (O_TMPFILE), so a killed save leaves nothing behind. Elsewhere it is
//   named ".kelvaro-save-" and the writer's process id, locked while it is
//   written; the next save into the folder removes such a file once no
//   process holds it. A name with no file behind it is made the same way.
// - InPlace: where a new file could not keep all of that (the file has more
//   than one name, its owner or group or an attribute cannot be given to a new
//   file, it is mounted over its name, or the folder takes no new file
//   although the file itself is writable), the bytes are written into the
//   existing file, after the space it grows by has been reserved on the disk,
//   so that a full disk is found before a byte of the old contents changes.
//   A write that ends early gives the reserved space back.
//
// Refused, and left alone: anything but a regular file (a named pipe, a
// device, a socket); a file this user may not write, or whose mode lets no one
// write it; a file another save is writing (each save holds an OFD lock on the
// file it replaces); a file larger than the free space of the disk that will
// hold it. Symbolic links are followed to the final file and stay links, except
// a link in a sticky folder that everyone may write to (as /tmp) whose owner is
// neither this user nor the folder's: the system's own rule for such links
// (fs.protected_symlinks), applied whatever its setting, as the links are
// followed here and not by the system.
//
// The folder of the final file is held open from open() to the end, and the
// new file is made and renamed relative to it. commit() replaces nothing when
// the path no longer leads to that folder and name, or the name no longer
// holds the file open() found there (or no longer holds nothing).
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
    // called. Returns the reason when it could not.
    std::optional<QString> commit();

    // Stops without committing. Replace leaves the old file whole and removes
    // the new one. InPlace leaves the file whole until the first write, but
    // cannot take back bytes written since: the file then holds them, followed
    // by whatever of the old contents lay beyond.
    void cancel();

    QString errorString() const { return m_error; }

    // What the path holds after a failure or cancel, to end a sentence:
    // "the file was left as it was", "no file was written", what part of it
    // was overwritten, or what another program left there meanwhile.
    QString whatWasLeft() const;

    // The same for a path that nothing was written to.
    static QString untouched(const QString &path);

private:
    enum class Method { Replace, InPlace };

    std::optional<QString> fail(const QString &reason);
    std::optional<QString> failWithErrno(int error);
    void reset(const QString &path, qint64 exactSize);
    std::optional<QString> holdFolder();
    std::optional<QString> checkTarget();
    std::optional<QString> lockTarget();
    std::optional<QString> chooseMethod();
    bool createNewFile(unsigned mode);
    std::optional<QString> useInPlace();
    std::optional<QString> checkSpace();
    std::optional<QString> reserveSpace();
    void removeLeftovers() const;
    std::optional<QString> checkUnchanged();
    std::optional<QString> takenMeanwhile();
    std::optional<QString> putInPlace();
    void finish();
    void startWriteBack();

    QString m_path;
    // The folder of the final file, held open, its path and its identity.
    int m_folder = -1;
    QByteArray m_folderPath;
    quint64 m_folderDevice = 0;
    quint64 m_folderInode = 0;
    // The final file's name in it, and the new file's while it has one.
    QByteArray m_name;
    QByteArray m_temporary;
    Method m_method = Method::Replace;
    int m_fd = -1;
    // The old file, locked against a second save; for InPlace it is m_fd.
    int m_lock = -1;
    qint64 m_expected = 0;
    qint64 m_written = 0;
    // Bytes handed to the disk's write-back ahead of commit.
    qint64 m_writtenBack = 0;
    // The file that was there: which one it is, its size, mode and names.
    quint64 m_oldDevice = 0;
    quint64 m_oldInode = 0;
    qint64 m_oldSize = 0;
    quint32 m_oldMode = 0;
    quint32 m_oldOwner = 0;
    quint32 m_oldGroup = 0;
    quint64 m_oldLinks = 0;
    bool m_oldIsMountPoint = false;
    // The new file took all of the old one's metadata, and must still have it at commit.
    bool m_keepsMetadata = false;
    // The final name was looked at: what it holds now can be compared with what it held.
    bool m_checked = false;
    bool m_existed = false;
    bool m_reserved = false;
    bool m_synced = false;
    bool m_touched = false;
    bool m_truncated = false;
    QString m_error;
};
