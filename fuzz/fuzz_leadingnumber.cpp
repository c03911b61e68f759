// SPDX-License-Identifier: GPL-3.0-or-later
// Checks readLeadingNumber against a slow reading of the same rule in whole-number arithmetic.
#include "leadingnumber.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Decimal numbers of any size as digit strings, most significant digit first.
// Nothing here needs more than comparison, doubling and adding one.
std::string withoutLeadingZeros(const std::string &digits)
{
    const size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : digits.substr(first);
}

int compareDecimal(const std::string &a, const std::string &b)
{
    const std::string x = withoutLeadingZeros(a);
    const std::string y = withoutLeadingZeros(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y) < 0 ? -1 : (x.compare(y) > 0 ? 1 : 0);
}

std::string doubled(const std::string &digits)
{
    std::string result(digits.size() + 1, '0');
    int carry = 0;
    for (size_t i = digits.size(); i-- > 0;) {
        const int sum = 2 * (digits[i] - '0') + carry;
        result[i + 1] = static_cast<char>('0' + sum % 10);
        carry = sum / 10;
    }
    result[0] = static_cast<char>('0' + carry);
    return withoutLeadingZeros(result);
}

std::string plusOne(const std::string &digits)
{
    std::string result = digits;
    for (size_t i = result.size(); i-- > 0;) {
        if (result[i] != '9') {
            ++result[i];
            return result;
        }
        result[i] = '0';
    }
    return '1' + result;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isExponentLetter(char c)
{
    return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// The rule read the long way: drop every skipped character first, split the number
// into its parts, then divide by the power of ten exactly and round by comparing
// twice the remainder with the divisor.
std::optional<int32_t> referenceLeadingNumber(std::string_view text)
{
    std::string s;
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n')
            s += c;
    }

    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    std::string wholeDigits;
    while (i < s.size() && isDigit(s[i]))
        wholeDigits += s[i++];
    std::string fractionDigits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            fractionDigits += s[i++];
    }
    if (wholeDigits.empty() && fractionDigits.empty())
        return 0;

    bool negativeExponent = false;
    std::string exponentDigits;
    if (i < s.size() && isExponentLetter(s[i])) {
        size_t j = i + 1;
        bool minus = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            minus = s[j] == '-';
            ++j;
        }
        if (j < s.size() && isDigit(s[j])) {
            negativeExponent = minus;
            while (j < s.size() && isDigit(s[j]))
                exponentDigits += s[j++];
        }
    }

    const std::string mantissa = withoutLeadingZeros(wholeDigits + fractionDigits);
    if (mantissa == "0")
        return 0;

    // The value is mantissa times ten to the power of (exponent - fraction digits).
    // An exponent beyond ceiling gives the same answer as ceiling itself: above it
    // the value is at least 10^10, below minus it under 10^-10 (mantissa holds fewer
    // than ceiling digits). The clamp only keeps the digit strings short.
    const auto ceiling
        = static_cast<int64_t>(mantissa.size()) + static_cast<int64_t>(fractionDigits.size()) + 10;
    int64_t exponent = 0;
    const std::string exponentValue = withoutLeadingZeros(exponentDigits);
    if (exponentValue.size() > std::to_string(ceiling).size()) {
        exponent = ceiling;
    } else {
        exponent = std::min<int64_t>(std::stoll(exponentValue), ceiling);
    }
    if (negativeExponent)
        exponent = -exponent;
    const int64_t scale = exponent - static_cast<int64_t>(fractionDigits.size());

    std::string rounded;
    if (scale >= 0) {
        rounded = mantissa + std::string(static_cast<size_t>(scale), '0');
    } else {
        const auto places = static_cast<size_t>(-scale);
        std::string quotient = "0";
        std::string remainder = mantissa;
        if (mantissa.size() > places) {
            quotient = mantissa.substr(0, mantissa.size() - places);
            remainder = mantissa.substr(mantissa.size() - places);
        }
        const std::string divisor = '1' + std::string(places, '0');
        const int half = compareDecimal(doubled(remainder), divisor);
        const bool quotientOdd = (quotient.back() - '0') % 2 == 1;
        rounded = half > 0 || (half == 0 && quotientOdd) ? plusOne(quotient) : quotient;
    }
    rounded = withoutLeadingZeros(rounded);
    if (compareDecimal(rounded, negative ? "32768" : "32767") > 0)
        return std::nullopt;
    const int32_t magnitude = std::stoi(rounded);
    return negative ? -magnitude : magnitude;
}

std::string describe(const std::optional<int32_t> &value)
{
    return value ? std::to_string(*value) : std::string("out of range");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<int16_t> read = readLeadingNumber(text);
    const std::optional<int32_t> expected = referenceLeadingNumber(text);
    const std::optional<int32_t> actual
        = read ? std::optional<int32_t>(*read) : std::optional<int32_t>();
    if (actual != expected) {
        std::fprintf(stderr, "readLeadingNumber of %zu bytes gave %s, the rule gives %s\n", size,
            describe(actual).c_str(), describe(expected).c_str());
        std::abort();
    }
    return 0;
}
