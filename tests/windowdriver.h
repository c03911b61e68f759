// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real Kelvaro window as a user would, for the widget tests.
#pragma once

#include "mainform.h"

#include <QMetaType>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

class Container;
class QTabBar;

// One thing a user does to a control: "click" it, "type", "paste" or "erase" its
// text, or press a "key" on it (text names the key: Up, Down, Right, Space).
struct UserStep
{
    QString verb;
    QString control;
    QString text;
};
using UserSteps = QList<UserStep>;
Q_DECLARE_METATYPE(UserSteps)

// The design name of element k of a control array, as in Text2(1).
inline QString element(const char *array, int k)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(k);
}

class WindowDriver
{
public:
    // A fresh window, shown and active, with the focus where Qt puts it.
    WindowDriver();
    ~WindowDriver();

    Main &window() const { return *m_window; }
    QWidget *control(const QString &name) const;
    template<typename T>
    T *control(const QString &name) const
    {
        return qobject_cast<T *>(control(name));
    }

    // Types the text key by key into the widget, any character included.
    static void typeKeys(QWidget *widget, const QString &text);

    // The design name of the control that has the focus (the tab control for its headers).
    QString focusedControl() const;

    void showTab(int index);
    int currentTab() const;
    // Shows the tab that holds the control, then clicks it.
    void click(const QString &name);
    // Clicks into the box, which selects its text, and types over it.
    void type(const QString &name, const QString &text);
    // Clicks into the box and presses Delete, which removes the selected text.
    void erase(const QString &name);
    // Clicks into the box and pastes the text with Ctrl+V.
    void paste(const QString &name, const QString &text);
    // Gives the control the focus as the Tab key would, then presses the key.
    void press(const QString &name, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void pressDoIt();
    void perform(const UserSteps &steps);

    QString containerText() const;
    Container *container() const;

    // What the Save dialog answers from now on: a path, or Cancel when empty.
    void answerSaveDialog(std::optional<QString> path) { m_answer = std::move(path); }
    int saveDialogsShown() const { return m_dialogsShown; }

    // The texts of the message boxes shown so far; each was closed at once.
    const QStringList &messages() const { return m_messages; }

private:
    void showTabOf(QWidget *control);
    void clickInto(QWidget *box);

    std::unique_ptr<Main> m_window;
    QTabBar *m_tabBar = nullptr;
    std::optional<QString> m_answer;
    int m_dialogsShown = 0;
    QStringList m_messages;
    QTimer m_messageCloser;
};
