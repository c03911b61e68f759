// SPDX-License-Identifier: GPL-3.0-or-later
// The names a save gives its files for a moment, and the sweep of those a killed save left.
#pragma once

#include <QByteArray>

// A save's new file has no name while it is written where the file system
// allows it. Where it needs one for a moment (to take an existing file's
// place in one rename, or on a file system without unnamed files), the name
// is ".kelvaro-save-", the saver's process id, "-" and eight letters or
// digits, and it belongs to the saver: a file of the saver's own, or, when
// the file must belong to another user (root saving someone's file), a
// folder of the saver's own (mode 0700) that holds it as "new". Nobody else
// may rename or remove either, in a sticky folder as elsewhere.
//
// A save that is killed may leave such a name. The next save into the folder
// removes it once the process that made it is gone and no open file holds a
// lock on it: only names made exactly so, only a regular file or such a
// folder holding nothing but regular files, only the saver's own (root's
// own, for root), each looked at before it is opened.

// A name no file in the folder has yet, of this process.
QByteArray temporaryName();

// The file's name inside a temporary folder.
inline constexpr char TemporaryFolderEntry[] = "new";

void removeLeftovers(int folder);
