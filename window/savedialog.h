// SPDX-License-Identifier: GPL-3.0-or-later
// The real Save dialog behind CommonDialog::ShowSave.
#pragma once

#include <QString>

#include <optional>

class CommonDialog;
class QWidget;

// Shows a modal Save File dialog for the settings; the chosen path, or nothing
// on Cancel. An existing file is replaced without a question.
std::optional<QString> showSaveDialog(QWidget *parent, const CommonDialog &settings);
