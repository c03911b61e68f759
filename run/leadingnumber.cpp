// SPDX-License-Identifier: GPL-3.0-or-later
// The leading-number rule, in exact decimal arithmetic.
#include "leadingnumber.h"

#include <algorithm>
#include <string>

namespace {

// Far beyond any exponent that could matter, yet far from overflowing 64 bits.
constexpr int64_t ExponentCeiling = int64_t(1) << 40;

class Scanner
{
public:
    explicit Scanner(std::string_view text)
        : m_text(text)
    { }

    // The next character that is not skipped, or '\0' at the end.
    char peek()
    {
        while (m_pos < m_text.size()
            && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n'))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }
    void take() { ++m_pos; }
    size_t position() const { return m_pos; }
    void rewind(size_t pos) { m_pos = pos; }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<int16_t> readLeadingNumber(std::string_view text)
{
    Scanner scan(text);
    bool negative = false;
    if (scan.peek() == '+' || scan.peek() == '-') {
        negative = scan.peek() == '-';
        scan.take();
    }

    // The value is 0.<significant> times ten to the power of pointPosition.
    std::string significant;
    int64_t pointPosition = 0;
    bool anyDigit = false;
    bool seenPoint = false;
    for (char c = scan.peek();; c = scan.peek()) {
        if (isDigit(c)) {
            anyDigit = true;
            if (significant.empty() && c == '0') {
                if (seenPoint)
                    --pointPosition;
            } else {
                significant += c;
                if (!seenPoint)
                    ++pointPosition;
            }
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
        scan.take();
    }
    if (!anyDigit)
        return 0;

    // An exponent counts only when digits follow its letter and sign.
    const size_t beforeExponent = scan.position();
    const char letter = scan.peek();
    if (letter == 'E' || letter == 'e' || letter == 'D' || letter == 'd') {
        scan.take();
        bool negativeExponent = false;
        if (scan.peek() == '+' || scan.peek() == '-') {
            negativeExponent = scan.peek() == '-';
            scan.take();
        }
        if (isDigit(scan.peek())) {
            int64_t exponent = 0;
            for (char c = scan.peek(); isDigit(c); c = scan.peek()) {
                exponent = std::min(exponent * 10 + (c - '0'), ExponentCeiling);
                scan.take();
            }
            pointPosition += negativeExponent ? -exponent : exponent;
        } else {
            scan.rewind(beforeExponent);
        }
    }

    if (significant.empty())
        return 0;
    // 0.d... times 10^6 is at least 100000.
    if (pointPosition > 5)
        return std::nullopt;

    int32_t whole = 0;
    for (int64_t i = 0; i < pointPosition; ++i) {
        const auto index = static_cast<size_t>(i);
        whole = whole * 10 + (index < significant.size() ? significant[index] - '0' : 0);
    }
    // With pointPosition below 0 the fraction is under 0.1 and rounds down.
    if (pointPosition >= 0 && static_cast<size_t>(pointPosition) < significant.size()) {
        const auto first = static_cast<size_t>(pointPosition);
        const char firstFractionDigit = significant[first];
        const bool moreAfterHalf
            = significant.find_first_not_of('0', first + 1) != std::string::npos;
        if (firstFractionDigit > '5'
            || (firstFractionDigit == '5' && (moreAfterHalf || whole % 2 == 1)))
            ++whole;
    }
    const int32_t value = negative ? -whole : whole;
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return static_cast<int16_t>(value);
}
