// SPDX-License-Identifier: GPL-3.0-or-later
// Tab headers over full-size pages.
#include "tabcontrol.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

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

int TabControl::currentIndex() const
{
    return m_tabBar->currentIndex();
}

void TabControl::showPage(int index)
{
    for (size_t i = 0; i < m_pages.size(); ++i)
        m_pages[i]->setVisible(static_cast<int>(i) == index);
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
