// SPDX-License-Identifier: GPL-3.0-or-later
// Tab headers over full-size pages.
#include "tabcontrol.h"

#include <QAccessible>
#include <QApplication>
#include <QKeySequence>
#include <QPainter>
#include <QShortcut>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

#include <algorithm>

namespace {

// The pages put their first frames 24 pixels below the top edge; the headers
// must end above them.
constexpr int HeaderHeight = 22;

class HeaderBar : public QTabBar
{
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override
    {
        QSize size = QTabBar::tabSizeHint(index);
        size.setHeight(HeaderHeight);
        return size;
    }
};

} // namespace

TabControl::TabControl(QWidget *parent)
    : QWidget(parent)
    , m_tabBar(new HeaderBar(this))
{
    m_tabBar->setDrawBase(false);
    m_tabBar->setExpanding(false);
    connect(m_tabBar, &QTabBar::currentChanged, this, &TabControl::showPage);
    // Qt names a tab bar by its current tab's caption but does not tell a
    // screen reader when that changes, so a reader would keep the old name.
    connect(m_tabBar, &QTabBar::currentChanged, this, [this] {
        QAccessibleEvent event(m_tabBar, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    });

    // The keys of every Qt tab widget, from anywhere in the window rather than
    // only from inside the tab control. Shift+Tab arrives as Backtab.
    const struct
    {
        QKeyCombination key;
        int step;
    } switches[] = {{Qt::CTRL | Qt::Key_Tab, 1}, {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, -1}, {Qt::CTRL | Qt::Key_PageDown, 1},
        {Qt::CTRL | Qt::Key_PageUp, -1}};
    for (const auto &keys : switches) {
        auto *shortcut = new QShortcut(QKeySequence(keys.key), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int step = keys.step;
        connect(shortcut, &QShortcut::activated, this, [this, step] { switchPage(step); });
    }
}

QWidget *TabControl::addPage(const QString &caption)
{
    auto *page = new QWidget(this);
    page->setAccessibleName(tr("%1 tab").arg(caption));
    page->setGeometry(rect());
    m_pages.push_back(page);
    m_tabBar->addTab(caption);
    m_tabBar->raise();
    showPage(m_tabBar->currentIndex());
    return page;
}

void TabControl::showPageOf(const QWidget *control)
{
    for (size_t i = 0; i < m_pages.size(); ++i) {
        if (m_pages[i]->isAncestorOf(control))
            m_tabBar->setCurrentIndex(static_cast<int>(i));
    }
}

void TabControl::showPage(int index)
{
    // Hidden with the focus inside, a page would hand the focus on to the next
    // box in the Tab order, its text selected as if tabbed into, and the user's
    // click into that box would then only place the caret. The headers take it
    // instead, as a click on them does on other desktops; a key that switches
    // pages moves it on into the page in front.
    const QWidget *focus = QApplication::focusWidget();
    for (size_t i = 0; i < m_pages.size(); ++i) {
        if (static_cast<int>(i) != index && m_pages[i]->isAncestorOf(focus))
            m_tabBar->setFocus(Qt::OtherFocusReason);
    }
    for (size_t i = 0; i < m_pages.size(); ++i)
        m_pages[i]->setVisible(static_cast<int>(i) == index);
}

void TabControl::switchPage(int step)
{
    const QWidget *focus = QApplication::focusWidget();
    const bool focusOnPage = std::any_of(m_pages.begin(), m_pages.end(),
        [focus](const QWidget *page) { return page->isAncestorOf(focus); });
    const int count = m_tabBar->count();
    m_tabBar->setCurrentIndex((m_tabBar->currentIndex() + step + count) % count);
    if (!focusOnPage)
        return;
    // The keyboard user who left a page from one of its controls goes on in
    // the page now in front, at its first control, as in Qt's own tab widget.
    const QWidget *shown = m_pages.at(static_cast<size_t>(m_tabBar->currentIndex()));
    for (QWidget *next = m_tabBar->nextInFocusChain(); next != m_tabBar;
         next = next->nextInFocusChain()) {
        if (shown->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) && next->isVisible()
            && next->isEnabled()) {
            next->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void TabControl::paintEvent(QPaintEvent *)
{
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, HeaderHeight - 1, 0, 0);
    frame.tabBarSize = m_tabBar->size();
    frame.shape = QTabBar::RoundedNorth;
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

void TabControl::resizeEvent(QResizeEvent *)
{
    m_tabBar->setGeometry(0, 0, width(), HeaderHeight);
    for (QWidget *page : m_pages)
        page->setGeometry(rect());
}
