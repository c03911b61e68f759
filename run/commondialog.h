// SPDX-License-Identifier: GPL-3.0-or-later
// The Save dialog as the run sees it: settings going in, a file name coming out.
#pragma once

#include <QString>

#include <functional>
#include <optional>

// Holds the dialog's settings and its last confirmed file name. What ShowSave
// actually shows is up to the presenter: the window gives it a real file
// dialog, tests give it a function that answers at once.
class CommonDialog
{
public:
    // Shows the dialog for these settings; the chosen path, or nothing on Cancel.
    using Presenter = std::function<std::optional<QString>(const CommonDialog &)>;

    // The flags the dialog honours: with OverwritePrompt it asks before an
    // existing file is replaced. HideReadOnly is what it always does, having
    // no read-only box. A Cancel is always told by ShowSave's result.
    enum Flag { OverwritePrompt = 0x2, HideReadOnly = 0x4 };
    int Flags = 0;
    QString DefaultExt = QStringLiteral("CTF");
    QString DialogTitle = QStringLiteral("save data as");
    QString FileName = QStringLiteral("Test");
    QString InitDir = QStringLiteral("%DESKTOP%");

    void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }

    // Returns false when the dialog was cancelled; FileName then keeps the name it
    // had. A chosen name without an extension gets DefaultExt.
    bool ShowSave();

    // Where the dialog opens: FileName inside InitDir, or FileName itself once it
    // holds a whole path. "%DESKTOP%" is the user's desktop folder, else the home
    // folder, else (neither there, or HOME unset) the current folder.
    QString initialPath() const;

    static QString withDefaultExtension(const QString &path, const QString &defaultExt);

private:
    Presenter m_presenter;
};
