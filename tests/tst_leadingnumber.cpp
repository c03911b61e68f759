// SPDX-License-Identifier: GPL-3.0-or-later
// How the number in a counter box is read.
#include "leadingnumber.h"

#include <QTest>

class LeadingNumberTest : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
};

void LeadingNumberTest::reading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<int>("value");
    auto reads = [](const char *row, const QString &text, int value) {
        QTest::newRow(row) << text << true << value;
    };
    auto outOfRange
        = [](const char *row, const QString &text) { QTest::newRow(row) << text << false << 0; };

    reads("empty text", "", 0);
    reads("no number", "abc", 0);
    reads("digits then letters", "12ab", 12);
    reads("leading zeros", "0012", 12);
    reads("blanks anywhere", " 1 2 ", 12);
    reads("tab and line feed between sign and digits", "\t-\n5", -5);
    reads("carriage return ends the number", "5\r7", 5);
    reads("lone minus", "-", 0);
    reads("lone plus", "+", 0);
    reads("plus sign", "+7", 7);
    reads("two signs", "--5", 0);
    reads("two periods", "1.2.3", 1);
    reads("period first", ".51", 1);
    reads("comma ends the number", "1,5", 1);
    reads("half rounds to even below", "2.5", 2);
    reads("half rounds to even above", "3.5", 4);
    reads("negative half to even", "-2.5", -2);
    reads("negative half to even away", "-3.5", -4);
    reads("half of zero", "0.5", 0);
    reads("just above half", "0.5000001", 1);
    reads("just below half", "1.4999999", 1);
    reads("trailing zeros after the half", "2.5000", 2);
    reads("exponent E", "1E3", 1000);
    reads("exponent e", "1e3", 1000);
    reads("exponent D", "1D3", 1000);
    reads("exponent d with sign", "1d+2", 100);
    reads("negative exponent to a half", "25E-1", 2);
    reads("negative exponent above a half", "35e-1", 4);
    reads("exponent letter without digits", "1e", 1);
    reads("exponent sign without digits", "7e+", 7);
    reads("blanks inside the exponent", "1 e - 1", 0);
    reads("minus zero", "-0", 0);
    reads("radix prefix is not a number", "&H10", 0);
    reads("unicode minus is not a sign", QStringLiteral("−5"), 0);
    reads("full-width digits are not digits", QStringLiteral("５"), 0);
    reads("largest", "32767", 32767);
    reads("smallest", "-32768", -32768);
    reads("rounds down to the largest", "32767.4", 32767);
    reads("half rounds to even at the bottom", "-32768.5", -32768);
    reads("10,000 zeros then 5", QString(10000, QLatin1Char('0')) + "5", 5);
    reads("tiny fraction", "0." + QString(10000, QLatin1Char('0')) + "1", 0);
    reads("long number scaled back", "5" + QString(10000, QLatin1Char('0')) + "e-10000", 5);
    reads("huge negative exponent", "1e-99999999999999999999", 0);
    outOfRange("one above the largest", "32768");
    outOfRange("one below the smallest", "-32769");
    outOfRange("half above the largest rounds up", "32767.5");
    outOfRange("just below the smallest", "-32768.51");
    outOfRange("exponent beyond the range", "1e5");
    outOfRange("huge exponent", "1e99999999999999999999");
    outOfRange("10,000 nines", QString(10000, QLatin1Char('9')));
    outOfRange("10,000 digits, negative", "-" + QString(10000, QLatin1Char('1')));
}

void LeadingNumberTest::reading()
{
    QFETCH(QString, text);
    QFETCH(bool, inRange);
    QFETCH(int, value);
    const std::optional<int16_t> read = readLeadingNumber(text.toStdString());
    QCOMPARE(read.has_value(), inRange);
    if (inRange)
        QCOMPARE(static_cast<int>(*read), value);
}

QTEST_GUILESS_MAIN(LeadingNumberTest)
#include "tst_leadingnumber.moc"
