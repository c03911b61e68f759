// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's file dialog, set up as the run's Save dialog.
#include "savedialog.h"

#include "commondialog.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QSettings>

std::optional<QString> showSaveDialog(QWidget *parent, const CommonDialog &settings)
{
    // Qt's dialog keeps its history and its views in ~/.config/QtProject.conf;
    // Kelvaro keeps no settings, so the user scope points where no file can be.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    QFileDialog dialog(parent, settings.DialogTitle);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(
        QFileDialog::DontConfirmOverwrite, (settings.Flags & CommonDialog::OverwritePrompt) == 0);
    dialog.selectFile(settings.initialPath());

    // A run shows the wait cursor; the file is chosen with the usual one.
    const bool busy = QGuiApplication::overrideCursor() != nullptr;
    if (busy)
        QGuiApplication::restoreOverrideCursor();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);

    if (!accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
