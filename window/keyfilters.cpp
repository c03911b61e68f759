// SPDX-License-Identifier: GPL-3.0-or-later
// Key presses as character codes, and the two filters on them.
#include "keyfilters.h"

#include "codepage.h"

#include <QKeyEvent>

namespace {

bool within(int16_t code, int16_t low, int16_t high)
{
    return code >= low && code <= high;
}

} // namespace

std::optional<int16_t> typedCharacterCode(const QKeyEvent &event)
{
    switch (event.key()) {
    case Qt::Key_Backspace:
        return int16_t(8);
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return int16_t(13);
    case Qt::Key_Escape:
        return int16_t(27);
    default:
        break;
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool control
        = modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier);
    const bool alt
        = modifiers.testFlag(Qt::AltModifier) && !modifiers.testFlag(Qt::ControlModifier);
    if (control && event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z)
        return static_cast<int16_t>(event.key() - Qt::Key_A + 1);
    if (control || alt)
        return std::nullopt;

    const QList<uint> text = event.text().toUcs4();
    if (text.isEmpty() || text.front() < 0x20 || text.front() == 0x7F)
        return std::nullopt;
    const std::optional<uint8_t> code = ansiCode(text.front());
    return static_cast<int16_t>(code.value_or(0));
}

void digitsFilter(int16_t &keyAscii)
{
    if (within(keyAscii, 32, 47) || within(keyAscii, 58, 255))
        keyAscii = 0;
}

void lettersFilter(int16_t &keyAscii)
{
    if (within(keyAscii, 32, 47) || within(keyAscii, 58, 64) || within(keyAscii, 91, 96)
        || within(keyAscii, 123, 255))
        keyAscii = 0;
}
