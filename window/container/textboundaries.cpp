// SPDX-License-Identifier: GPL-3.0-or-later
// Which word a double click takes, and which way a row reads, as Qt's text boxes decide.
#include "textboundaries.h"

#include "utf8.h"

#include <QChar>

#include <algorithm>

namespace {

// Qt's text boxes stop a word at these; a character of several bytes is
// looked at by its first.
bool isSpaceAt(std::string_view text, size_t at)
{
    const char32_t code = decodeUtf8(text, at).code;
    return code == U' ' || code == U'\t' || code == 0xA0 || code == 0x2028;
}

bool isSeparatorAt(std::string_view text, size_t at)
{
    constexpr std::string_view Separators = ".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\";
    return at < text.size() && Separators.find(text[at]) != std::string_view::npos;
}

// QTextLayout's previous word position: back over spaces, then over a run of
// separators or a run of anything else.
size_t previousWordStart(std::string_view text, size_t at)
{
    auto before = [text](size_t offset) { return utf8CharacterBefore(text, offset); };
    while (at > 0 && isSpaceAt(text, before(at)))
        at = before(at);
    if (at > 0 && isSeparatorAt(text, before(at))) {
        while (at > 0 && isSeparatorAt(text, before(at)))
            at = before(at);
        return at;
    }
    while (at > 0 && !isSpaceAt(text, before(at)) && !isSeparatorAt(text, before(at)))
        at = before(at);
    return at;
}

} // namespace

std::pair<size_t, size_t> wordAt(std::string_view text, size_t offset)
{
    offset = std::min(offset, text.size());
    // The start: from just after the character under the click, back to
    // where its word begins; at the very end, after a space or a separator,
    // there is no word to go back to.
    size_t from = offset;
    if (offset > 0) {
        const size_t last = utf8CharacterBefore(text, offset);
        if (offset < text.size())
            from = previousWordStart(text, offset + decodeUtf8(text, offset).length);
        else if (!isSpaceAt(text, last) && !isSeparatorAt(text, last))
            from = previousWordStart(text, offset);
    }
    // The end: a run of separators, or everything up to a space or a separator.
    size_t to = from;
    if (to < text.size() && isSeparatorAt(text, to)) {
        while (to < text.size() && isSeparatorAt(text, to))
            ++to;
    } else {
        while (to < text.size() && !isSpaceAt(text, to) && !isSeparatorAt(text, to))
            to += decodeUtf8(text, to).length;
    }
    return {from, to};
}

std::optional<bool> readsRightToLeft(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const Utf8Character character = decodeUtf8(text, at);
        switch (QChar::direction(character.code)) {
        case QChar::DirL:
            return false;
        case QChar::DirR:
        case QChar::DirAL:
            return true;
        default:
            break;
        }
        at += character.length;
    }
    return std::nullopt;
}
