// SPDX-License-Identifier: GPL-3.0-or-later
// Clicks, keys and answers for the widget tests.
#include "windowdriver.h"

#include "container.h"
#include "testseams.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>

namespace {

// The control a focused widget belongs to: itself, or the nearest ancestor with
// a design name (the tab control, for its headers).
QString designName(const QWidget *widget)
{
    for (; widget; widget = widget->parentWidget()) {
        if (!widget->objectName().isEmpty())
            return widget->objectName();
    }
    return QStringLiteral("<none>");
}

} // namespace

WindowDriver::WindowDriver()
    : m_window(std::make_unique<Main>())
{
    MainForTests::commonDialog(*m_window).setPresenter([this](const CommonDialog &) {
        ++m_dialogsShown;
        return m_answer;
    });
    // A message box runs its own event loop; this closes it from inside that loop.
    QObject::connect(&m_messageCloser, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            m_messages << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    m_messageCloser.start(0);
    m_tabBar = m_window->findChild<QTabBar *>();
    m_window->show();
    // An X server without a window manager activates only windows that ask.
    m_window->activateWindow();
    if (!QTest::qWaitForWindowActive(m_window.get()))
        qFatal("the Kelvaro window did not become active");
}

WindowDriver::~WindowDriver() = default;

QWidget *WindowDriver::control(const QString &name) const
{
    auto *found
        = name == QLatin1String("Main") ? m_window.get() : m_window->findChild<QWidget *>(name);
    if (!found)
        qFatal("no control named %s", qPrintable(name));
    return found;
}

QString WindowDriver::focusedControl() const
{
    return designName(QApplication::focusWidget());
}

void WindowDriver::typeKeys(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        // QTest types ASCII by itself; other characters arrive with their text.
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, static_cast<char>(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, static_cast<Qt::Key>(c.toUpper().unicode()),
                QString(c), Qt::NoModifier);
    }
}

void WindowDriver::showTab(int index)
{
    QTest::mouseClick(m_tabBar, Qt::LeftButton, {}, m_tabBar->tabRect(index).center());
}

int WindowDriver::currentTab() const
{
    return m_tabBar->currentIndex();
}

void WindowDriver::showTabOf(QWidget *control)
{
    QWidget *tabControl = this->control(QStringLiteral("SSTab1"));
    const QList<QWidget *> pages
        = tabControl->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    int index = 0;
    for (QWidget *page : pages) {
        if (qobject_cast<QTabBar *>(page))
            continue;
        if (page->isAncestorOf(control)) {
            if (currentTab() != index)
                showTab(index);
            return;
        }
        ++index;
    }
}

void WindowDriver::click(const QString &name)
{
    QWidget *target = control(name);
    showTabOf(target);
    // Option buttons and check boxes take a click on their indicator.
    const bool indicator = qobject_cast<QAbstractButton *>(target)
        && qobject_cast<QAbstractButton *>(target)->isCheckable();
    const QPoint where = indicator ? QPoint(7, target->height() / 2) : target->rect().center();
    QTest::mouseClick(target, Qt::LeftButton, {}, where);
}

void WindowDriver::clickInto(QWidget *box)
{
    // A window manager gives the activation back to the window when a dialog
    // it opened closes (the progress of a slow write); the offscreen platform
    // does not. A click into an inactive window would focus the box without
    // the focus event that selects its text, as no user's click can.
    if (!m_window->isActiveWindow()) {
        m_window->activateWindow();
        if (!QTest::qWaitForWindowActive(m_window.get()))
            qFatal("the Kelvaro window did not become active again");
    }
    showTabOf(box);
    QWidget *surface = box == container() ? container()->viewport() : box;
    QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
}

void WindowDriver::type(const QString &name, const QString &text)
{
    QWidget *box = control(name);
    clickInto(box);
    typeKeys(box, text);
}

void WindowDriver::erase(const QString &name)
{
    QWidget *box = control(name);
    clickInto(box);
    QTest::keyClick(box, Qt::Key_Delete);
}

void WindowDriver::paste(const QString &name, const QString &text)
{
    QWidget *box = control(name);
    clickInto(box);
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
}

void WindowDriver::press(const QString &name, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget *target = control(name);
    showTabOf(target);
    if (!target->hasFocus())
        target->setFocus(Qt::TabFocusReason);
    QTest::keyClick(target, key, modifiers);
}

void WindowDriver::pressDoIt()
{
    QTest::mouseClick(control(QStringLiteral("Command1")), Qt::LeftButton);
}

void WindowDriver::perform(const UserSteps &steps)
{
    static const QHash<QString, Qt::Key> keys = {{"Up", Qt::Key_Up}, {"Down", Qt::Key_Down},
        {"Right", Qt::Key_Right}, {"Space", Qt::Key_Space}};
    for (const UserStep &step : steps) {
        if (step.verb == "click")
            click(step.control);
        else if (step.verb == "type")
            type(step.control, step.text);
        else if (step.verb == "erase")
            erase(step.control);
        else if (step.verb == "paste")
            paste(step.control, step.text);
        else if (step.verb == "key" && keys.contains(step.text))
            press(step.control, keys.value(step.text));
        else
            qFatal("unknown step %s %s", qPrintable(step.verb), qPrintable(step.text));
    }
}

Container *WindowDriver::container() const
{
    return control<Container>(QStringLiteral("Text6"));
}

QString WindowDriver::containerText() const
{
    return container()->toPlainText();
}
