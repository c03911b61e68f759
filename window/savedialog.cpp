// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's file dialog, set up as the run's Save dialog.
#include "savedialog.h"

#include "commondialog.h"

#include <QFileDialog>
#include <QGuiApplication>

std::optional<QString> showSaveDialog(QWidget *parent, const CommonDialog &settings)
{
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
