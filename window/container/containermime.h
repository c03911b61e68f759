// SPDX-License-Identifier: GPL-3.0-or-later
// The Container's text on the clipboard: produced when a program asks for it.
#pragma once

#include "containermodel.h"

#include <QMimeData>

// Holds the copied part of the text as pieces, which costs nothing however
// much was copied; the bytes are made only when somebody pastes. A copy of
// up to a megabyte holds its bytes instead, not the run they came from.
class ContainerMimeData : public QMimeData
{
    Q_OBJECT

public:
    explicit ContainerMimeData(TextFragment fragment);

    const TextFragment &fragment() const { return m_fragment; }
    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    TextFragment m_fragment;
};
