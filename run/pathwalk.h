// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the folder and the name a path leads to, one name at a time, as the kernel would.
#pragma once

#include <QByteArray>
#include <QString>

// A path is walked from the root (or the current folder) one name at a time,
// each opened without following it (O_PATH | O_NOFOLLOW) and looked at before
// the next is opened relative to it, so that what is checked is what is used.
// A symbolic link, in a folder's place or the file's, is followed as the
// kernel follows it for this user with fs.protected_symlinks=1, whatever the
// machine's setting: in a sticky folder that everyone may write to (as /tmp),
// only when the link belongs to this user or to the folder's owner. Its target
// goes on from the folder that holds it, ".." as the kernel takes it.
//
// Names reach the file system byte for byte. Qt shows a name whose bytes are
// not UTF-8 with U+FFFD in their place; a name of the path that holds U+FFFD
// stands for the one name of its folder that reads the same, if there is one.
//
// Limits, the kernel's: the path shorter than PATH_MAX bytes, each link's
// target too, at most 40 links in all (ELOOP). No limit on where the links
// lead, however deep.
struct PathEnd
{
    // The folder of the final name, open as O_PATH; the caller closes it.
    // -1 when the path leads nowhere.
    int folder = -1;
    // The folder as the walk reached it, links replaced by their targets: for
    // messages. Relative when the path was.
    QByteArray folderPath;
    // The final name, byte for byte, whether or not it exists.
    QByteArray name;
    // Why the path leads nowhere, as an errno; 0 otherwise.
    int error = 0;
    // The link that this user may not follow, as a path; empty otherwise.
    QByteArray refusedLink;
    // A name that several names of its folder read as; empty otherwise.
    QString ambiguousName;
};

PathEnd walkPath(const QString &path);

// The last name of a path as bytes; with folder, a path of its own.
QByteArray joinedPath(const QByteArray &folder, const QByteArray &name);
