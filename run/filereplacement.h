// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file's contents so that it keeps its owner, mode, ACLs, attributes and other names.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <optional>

// Writes new contents of a known size to a path, chunk by chunk, and decides how:
//
// - Replace: the bytes go into a new file beside the old one, which takes the
//   old file's owner, group, whole mode and extended attributes (POSIX ACLs
//   among them) and is renamed over it at commit(). Until then the old file
//   is whole. A name with no file behind it is made the same way.
// - InPlace: where a new file could not keep all of that (the file has more
//   than one name, its owner or group or an attribute cannot be given to a new
//   file, or the folder takes no new file although the file itself is writable),
//   the bytes are written into the existing file, after the whole new size has
//   been reserved on the disk, so that a full disk is found before a byte of the
//   old contents changes.
//
// Anything but a regular file (a named pipe, a device, a socket) is refused and
// left alone. Symbolic links are followed to the final file; they stay links.
//
// An object is used by one thread at a time, not necessarily the one that made
// it; it uses no widget and changes nothing that the whole process shares. A
// run stopped from elsewhere calls cancel() on the writing thread, between two
// writes.
class FileReplacement
{
    Q_DECLARE_TR_FUNCTIONS(FileReplacement)

public:
    enum class Method { None, Replace, InPlace };

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

    // Makes the new contents the file's, once exactly the announced bytes were
    // written and they are on the disk. Returns the reason when it could not.
    std::optional<QString> commit();

    // Stops without committing. Replace leaves the old file whole and removes
    // the new one. InPlace leaves the file whole until the first write, but
    // cannot take back bytes written since: the file then holds them, followed
    // by whatever of the old contents lay beyond.
    void cancel();

    QString errorString() const { return m_error; }
    Method method() const { return m_method; }

    // What the path holds after a failure or cancel, to end a sentence:
    // "the file was left as it was", "no file was written", or what part of it
    // was overwritten.
    QString whatWasLeft() const;

    // The same for a path that nothing was written to.
    static QString untouched(const QString &path);

private:
    std::optional<QString> fail(const QString &reason);
    std::optional<QString> failWithErrno(int error);
    std::optional<QString> openInPlace();
    void finish();
    void startWriteBack();

    QByteArray m_target;
    QByteArray m_temporary;
    Method m_method = Method::None;
    int m_fd = -1;
    qint64 m_expected = 0;
    qint64 m_written = 0;
    // Bytes handed to the disk's write-back ahead of commit.
    qint64 m_writtenBack = 0;
    // The file that was there: which one it is, its size and mode.
    quint64 m_oldDevice = 0;
    quint64 m_oldInode = 0;
    qint64 m_oldSize = 0;
    quint32 m_oldMode = 0;
    quint32 m_oldOwner = 0;
    quint32 m_oldGroup = 0;
    // The new file took all of the old one's metadata, and must still have it at commit.
    bool m_keepsMetadata = false;
    bool m_existed = false;
    bool m_touched = false;
    bool m_truncated = false;
    QString m_error;
};
