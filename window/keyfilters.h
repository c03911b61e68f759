// SPDX-License-Identifier: GPL-3.0-or-later
// What the counter boxes let the user type.
#pragma once

#include <cstdint>
#include <optional>

class QKeyEvent;

// The character code that a key press types: a printable character's
// Windows-1252 byte (0, refused, for a character the code page lacks),
// Backspace 8, Enter 13, Escape 27, Ctrl with a letter 1 to 26. Nothing for a
// key that types no character (Delete, the arrows, Tab, the function keys,
// shortcuts): such keys reach no filter.
std::optional<int16_t> typedCharacterCode(const QKeyEvent &event);

// Refuses (sets to 0) every printable character but the digits. Control codes
// pass, so Backspace and the editing shortcuts keep working.
void digitsFilter(int16_t &keyAscii);

// Refuses every printable character but digits and the letters A to Z in
// either case.
void lettersFilter(int16_t &keyAscii);
