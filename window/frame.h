// SPDX-License-Identifier: GPL-3.0-or-later
// A frame whose border runs through the middle of its caption.
#pragma once

#include <QGroupBox>

// The window places a frame's first control 16 pixels below its top edge,
// which clears a caption with the border through its middle. Styles that draw
// the border below the caption (Fusion among them) would run it through that
// control instead.
class Frame : public QGroupBox
{
    Q_OBJECT

public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;
};
