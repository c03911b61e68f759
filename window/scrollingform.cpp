// SPDX-License-Identifier: GPL-3.0-or-later
// The window's fixed layout, scrolled where the window is smaller.
#include "scrollingform.h"

#include <QScrollArea>
#include <QVBoxLayout>

QWidget *addScrollingForm(QWidget *window, const QSize &designed)
{
    auto *area = new QScrollArea(window);
    area->setFrameShape(QFrame::NoFrame);
    // The controls take the focus; the area brings the one that has it into
    // view as Tab moves on.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    auto *form = new QWidget;
    form->setMinimumSize(designed);
    area->setWidget(form);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return form;
}
