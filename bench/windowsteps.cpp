// SPDX-License-Identifier: GPL-3.0-or-later
// Setting up a run in the real window with QTest clicks, keys and pastes.
#include "windowsteps.h"

#include "mainform.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>

namespace bench {
namespace {

// Clicks into the box, which selects its text, and types or pastes the number
// over it. The boxes take typed digits only, so a user pastes a negative number.
void enterNumber(const Main &window, const QString &name, int value)
{
    auto *box = visibleControl<QLineEdit>(window, name);
    const QString text = QString::number(value);
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    if (value < 0) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
        QTest::keyClicks(box, text);
    }
    if (box->text() != text)
        throw Failure(QStringLiteral("%1 reads %2, not %3").arg(name, box->text(), text));
}

} // namespace

void clickIndicator(const Main &window, const QString &name)
{
    auto *button = visibleControl<QAbstractButton>(window, name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(7, button->height() / 2));
}

void setCounters(const Main &window, const std::vector<Counter> &counters)
{
    const int count = static_cast<int>(counters.size());
    if (count > 1)
        clickIndicator(window, QStringLiteral("Option3(%1)").arg(count - 1));
    for (int k = 0; k < count; ++k) {
        const Counter &counter = counters[static_cast<size_t>(k)];
        enterNumber(window, QStringLiteral("Text2(%1)").arg(k), counter.start);
        enterNumber(window, QStringLiteral("Text3(%1)").arg(k), counter.end);
        if (counter.width > 0) {
            clickIndicator(window, QStringLiteral("Check1(%1)").arg(k));
            enterNumber(window, QStringLiteral("Text1(%1)").arg(k), counter.width);
        }
    }
}

void showContainerTab(const Main &window)
{
    auto *tabs = window.findChild<QTabBar *>();
    if (!tabs)
        throw Failure(QStringLiteral("the window has no tabs"));
    for (int index = 0; index < tabs->count(); ++index) {
        if (tabs->tabText(index) == QLatin1String("Container"))
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
    }
}

} // namespace bench
