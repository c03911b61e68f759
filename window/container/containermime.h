// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's text on the clipboard: produced when a program asks for it.
#pragma once

#include "containermodel.h"

#include <QMimeData>

// Holds the copied part of the text as pieces, which costs nothing however
// much was copied; the bytes are made only when somebody pastes. A copy of
// up to a megabyte holds its bytes instead, not the run they came from.
// Text that may not be copied out (a drag of more than can be copied)
// offers no format to anyone: only the Container takes it.
class ContainerMimeData : public QMimeData
{
    Q_OBJECT

public:
    enum class Offered { ToAll, ToContainerOnly };
    explicit ContainerMimeData(TextFragment fragment, Offered offered = Offered::ToAll);

    const TextFragment &fragment() const { return m_fragment; }
    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    TextFragment m_fragment;
    Offered m_offered;
};
