// SPDX-License-Identifier: GPL-3.0-or-later
// Save dialog settings and the joining of the default extension.
#include "commondialog.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Without HOME, Qt takes the file-system root for the home folder; the user
// did not choose that, the folder the program was started in is closer.
QString desktopFolder()
{
    if (qEnvironmentVariableIsEmpty("HOME"))
        return QDir::currentPath();
    for (const QString &folder :
        {QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), QDir::homePath()}) {
        if (!folder.isEmpty() && QDir(folder).exists())
            return folder;
    }
    return QDir::currentPath();
}

} // namespace

bool CommonDialog::ShowSave()
{
    if (!m_presenter)
        return false;
    const std::optional<QString> chosen = m_presenter(*this);
    if (!chosen || chosen->isEmpty())
        return false;
    FileName = withDefaultExtension(*chosen, DefaultExt);
    return true;
}

QString CommonDialog::initialPath() const
{
    if (QFileInfo(FileName).isAbsolute())
        return FileName;
    QString folder = InitDir;
    if (folder == QLatin1String("%DESKTOP%"))
        folder = desktopFolder();
    return QDir(folder).filePath(FileName);
}

QString CommonDialog::withDefaultExtension(const QString &path, const QString &defaultExt)
{
    QString extension = defaultExt;
    while (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    const QFileInfo info(path);
    if (extension.isEmpty() || !info.suffix().isEmpty() || info.fileName().isEmpty())
        return path;
    // "Test." gets "CTF", not ".CTF": one period between name and extension.
    return path.endsWith(QLatin1Char('.')) ? path + extension : path + QLatin1Char('.') + extension;
}
