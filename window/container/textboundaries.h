// SPDX-License-Identifier: GPL-3.0-or-later
// Which word a double click takes, and which way a row reads, as Qt's text boxes decide.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

// Both read UTF-8 text (a row, or a stretch of one) and count in bytes;
// offsets fall on whole characters. Neither needs a font or a display.

// The word that a double click at offset selects, from..to: as QTextCursor's
// WordUnderCursor does, a word runs up to a space (space, tab, no-break space,
// line separator) or to a run of the punctuation Qt counts as separators
// (.,?!@#$:;-<>[](){}=/+%&^*'"`~|\), so a click on a space takes the word
// before it, a click on punctuation takes the punctuation, and characters
// beyond U+FFFF and emoji sequences stay whole. Past the text's end after a
// space, or in empty text, nothing: from == to == offset.
std::pair<size_t, size_t> wordAt(std::string_view text, size_t offset);

// Whether the text reads right to left, decided as Qt decides a paragraph's
// direction: by its first strongly directional character (Hebrew, Arabic and
// the like against Latin and the like). nullopt when it has none.
std::optional<bool> readsRightToLeft(std::string_view text);
