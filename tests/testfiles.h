// SPDX-License-Identifier: GPL-3.0-or-later
// Small files for the tests: their exact bytes, and files that were there before.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
