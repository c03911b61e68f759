// SPDX-License-Identifier: GPL-3.0-or-later
// A tab control whose pages place their controls from its outer corner.
#pragma once

#include <QWidget>

#include <vector>

class QTabBar;

// Unlike QTabWidget, whose pages start below the headers at a height that
// depends on the style, every page here covers the whole control, headers
// included, so a control's position is the same on every desktop. The headers
// lie on top of the pages.
class TabControl : public QWidget
{
    Q_OBJECT

public:
    explicit TabControl(QWidget *parent = nullptr);

    // A new page, shown when its header is chosen.
    QWidget *addPage(const QString &caption);

    QTabBar *tabBar() const { return m_tabBar; }
    // Brings the page that holds the control to the front.
    void showPageOf(const QWidget *control);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showPage(int index);
    // Brings the next page (step 1) or the one before (step -1) to the front.
    void switchPage(int step);

    QTabBar *m_tabBar;
    std::vector<QWidget *> m_pages;
};
