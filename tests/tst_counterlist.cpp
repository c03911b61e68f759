// SPDX-License-Identifier: GPL-3.0-or-later
// A counter's pieces and the zero fill of its numbers.
#include "counterlist.h"
#include "zerofill.h"

#include <QTest>

#include <random>

namespace {

QStringList toStringList(const std::vector<std::string> &pieces)
{
    QStringList list;
    for (const std::string &piece : pieces)
        list << QString::fromStdString(piece);
    return list;
}

} // namespace

class CounterListTest : public QObject
{
    Q_OBJECT

private slots:
    void zeroFill_data();
    void zeroFill();
    void counterPieces_data();
    void counterPieces();
    void lettersAtoZ();
    void pieceCountIsSpanOverStepPlusOne();
    void wholeSixteenBitSpan();
    void compactionKeepsOrder();
};

void CounterListTest::zeroFill_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("filled");
    QTest::newRow("one digit to three") << "7" << true << 3 << "007";
    QTest::newRow("two digits to three") << "10" << true << 3 << "010";
    QTest::newRow("exactly the width") << "123" << true << 3 << "123";
    QTest::newRow("longer than the width is kept") << "1000" << true << 3 << "1000";
    QTest::newRow("zero") << "0" << true << 3 << "000";
    QTest::newRow("width one") << "7" << true << 1 << "7";
    QTest::newRow("blanks are trimmed first") << " 7 " << true << 3 << "007";
    QTest::newRow("minus counts as a character") << "-5" << true << 3 << "0-5";
    QTest::newRow("empty text") << "" << true << 3 << "000";
    QTest::newRow("not enabled trims only") << " 42 " << false << 6 << "42";
    QTest::newRow("width 0") << "7" << true << 0 << "7";
    QTest::newRow("negative width") << "7" << true << -4 << "7";
    QTest::newRow("widest width") << "1" << true << 32767 << QString(32766, QLatin1Char('0')) + "1";
}

void CounterListTest::zeroFill()
{
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(int, width);
    QFETCH(QString, filled);
    QCOMPARE(QString::fromStdString(
                 PadWithZeros(text.toStdString(), enabled, static_cast<int16_t>(width))),
        filled);
}

void CounterListTest::counterPieces_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<bool>("up");
    QTest::addColumn<bool>("padded");
    QTest::addColumn<QStringList>("expected");

    QStringList tenToTwenty;
    for (int value = 10; value <= 20; ++value)
        tenToTwenty << QStringLiteral("A %1Z").arg(value);
    QTest::newRow("ten to twenty between A and Z")
        << "A"
        << "Z" << 10 << 20 << 0 << 1 << false << true << false << tenToTwenty;
    QTest::newRow("step 3 stops short of the end")
        << ""
        << "" << 10 << 20 << 0 << 3 << false << true << false
        << QStringList {" 10", " 13", " 16", " 19"};
    QTest::newRow("step 3 downwards") << ""
                                      << "" << 20 << 10 << 0 << 3 << false << false << false
                                      << QStringList {" 20", " 17", " 14", " 11"};
    QTest::newRow("start equal to end, up")
        << ""
        << "" << 10 << 10 << 0 << 1 << false << true << false << QStringList {" 10"};
    QTest::newRow("start equal to end, down")
        << ""
        << "" << 10 << 10 << 0 << 1 << false << false << false << QStringList {" 10"};
    QTest::newRow("step larger than the span")
        << ""
        << "" << 10 << 20 << 0 << 50 << false << true << false << QStringList {" 10"};
    QTest::newRow("step 0 counts by one")
        << ""
        << "" << 1 << 3 << 0 << 0 << false << true << false << QStringList {" 1", " 2", " 3"};
    QTest::newRow("negative step going up counts up")
        << ""
        << "" << 1 << 5 << 0 << -2 << false << true << false << QStringList {" 1", " 3", " 5"};
    QTest::newRow("up from above the end makes nothing")
        << ""
        << "" << 20 << 10 << 0 << 1 << false << true << false << QStringList {};
    QTest::newRow("down from below the end makes nothing")
        << ""
        << "" << 10 << 20 << 0 << 1 << false << false << false << QStringList {};
    QTest::newRow("plain negatives have no blank") << ""
                                                   << "" << -2 << 1 << 0 << 1 << false << true
                                                   << false << QStringList {"-2", "-1", " 0", " 1"};
    QTest::newRow("padded to width 3")
        << ""
        << "" << 7 << 10 << 3 << 3 << false << true << true << QStringList {"007", "010"};
    QTest::newRow("padding never shortens")
        << ""
        << "" << 999 << 1000 << 3 << 1 << false << true << true << QStringList {"999", "1000"};
    QTest::newRow("padded negatives")
        << ""
        << "" << -5 << -4 << 3 << 1 << false << true << true << QStringList {"0-5", "0-4"};
    QTest::newRow("padded with width 0 stays plain")
        << ""
        << "" << 5 << 6 << 0 << 1 << false << true << true << QStringList {" 5", " 6"};
    QTest::newRow("width without Padded stays plain")
        << ""
        << "" << 5 << 6 << 3 << 1 << false << true << false << QStringList {" 5", " 6"};
    QTest::newRow("Alpha ignores padding")
        << "x"
        << "y" << 65 << 67 << 3 << 1 << true << true << true << QStringList {"xAy", "xBy", "xCy"};
    QTest::newRow("Alpha downwards by 5") << ""
                                          << "" << 90 << 65 << 1 << 5 << true << false << false
                                          << QStringList {"Z", "U", "P", "K", "F", "A"};
    QTest::newRow("Alpha in the upper half of the code page")
        << ""
        << "" << 0x80 << 0x82 << 1 << 1 << true << true << false
        << QStringList {QStringLiteral("€"), QString(QChar(0x81)), QStringLiteral("‚")};
    QTest::newRow("Alpha code 0 is a piece of its own")
        << "<"
        << ">" << 0 << 0 << 1 << 1 << true << true << false
        << QStringList {QStringLiteral("<") + QChar(0) + QStringLiteral(">")};
    QTest::newRow("Alpha without a character makes nothing")
        << ""
        << "" << 250 << 300 << 1 << 1 << true << true << false << QStringList {};
    QTest::newRow("end 32767 going up") << ""
                                        << "" << 32765 << 32767 << 0 << 1 << false << true << false
                                        << QStringList {" 32765", " 32766", " 32767"};
    QTest::newRow("start -32768 going down") << ""
                                             << "" << -32766 << -32768 << 0 << 1 << false << false
                                             << false << QStringList {"-32766", "-32767", "-32768"};
    QTest::newRow("step -32768 going up takes strides of 32768")
        << ""
        << "" << -32768 << 32767 << 0 << -32768 << false << true << false
        << QStringList {"-32768", " 0"};
    QTest::newRow("step -32768 going down") << ""
                                            << "" << 32767 << -32768 << 0 << -32768 << false
                                            << false << false << QStringList {" 32767", "-1"};
    QTest::newRow("step 32767 across the whole range")
        << ""
        << "" << -32768 << 32767 << 0 << 32767 << false << true << false
        << QStringList {"-32768", "-1", " 32766"};
}

void CounterListTest::counterPieces()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(int, width);
    QFETCH(int, step);
    QFETCH(bool, alpha);
    QFETCH(bool, up);
    QFETCH(bool, padded);
    QFETCH(QStringList, expected);
    const std::vector<std::string> pieces = BuildCounterList(before.toStdString(),
        after.toStdString(), static_cast<int16_t>(start), static_cast<int16_t>(end),
        static_cast<int16_t>(width), static_cast<int16_t>(step), alpha, up, padded);
    QCOMPARE(toStringList(pieces), expected);
}

void CounterListTest::lettersAtoZ()
{
    QStringList letters;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        letters << QString(QLatin1Char(letter));
    QCOMPARE(toStringList(BuildCounterList("", "", 65, 90, 0, 1, true, true, false)), letters);
    std::reverse(letters.begin(), letters.end());
    QCOMPARE(toStringList(BuildCounterList("", "", 90, 65, 0, 1, true, false, false)), letters);
}

void CounterListTest::pieceCountIsSpanOverStepPlusOne()
{
    // Limits, their neighbours and ordinary values, plus random ones.
    std::vector<int16_t> values = {-32768, -32767, -1000, -1, 0, 1, 7, 999, 32766, 32767};
    std::vector<int16_t> steps = {-32768, -32767, -3, -1, 0, 1, 2, 3, 97, 32767};
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int i = 0; i < 6; ++i) {
        values.push_back(static_cast<int16_t>(any(random)));
        steps.push_back(static_cast<int16_t>(any(random)));
    }
    int checked = 0;
    int sampled = 0;
    for (const int16_t start : values) {
        for (const int16_t end : values) {
            for (const int16_t step : steps) {
                for (const bool up : {true, false}) {
                    const int32_t distance = std::max(1, std::abs(static_cast<int32_t>(step)));
                    const bool leads = up ? start <= end : start >= end;
                    const int32_t q = std::abs(end - start) / distance;
                    const size_t expected = leads ? static_cast<size_t>(q) + 1 : 0u;
                    const QString where = QStringLiteral("start %1 end %2 step %3 %4")
                                              .arg(start)
                                              .arg(end)
                                              .arg(step)
                                              .arg(up ? "up" : "down");
                    QVERIFY2(size_t(counterValueCount(start, end, step, up)) == expected,
                        qPrintable(where));
                    // Lists of thousands of pieces are built for one case in
                    // eight, and always from limit to limit: the count above
                    // covers every case, and the sanitized build stays quick.
                    const bool limits = std::abs(end - start) == 65535;
                    if (expected > 1000 && !limits && ++sampled % 8 != 0)
                        continue;
                    const auto pieces
                        = BuildCounterList("", "", start, end, 0, step, false, up, false);
                    QVERIFY2(pieces.size() == expected, qPrintable(where));
                    if (pieces.empty())
                        continue;
                    const int32_t last = up ? start + q * distance : start - q * distance;
                    QCOMPARE(pieces.front(), counterText(start, 0, false, false));
                    QCOMPARE(pieces.back(), counterText(last, 0, false, false));
                    ++checked;
                }
            }
        }
    }
    QVERIFY(checked > 1000);
}

void CounterListTest::wholeSixteenBitSpan()
{
    const auto pieces = BuildCounterList("<", ">", -32768, 32767, 6, 1, false, true, true);
    QCOMPARE(pieces.size(), size_t(65536));
    QCOMPARE(pieces.front(), std::string("<-32768>"));
    QCOMPARE(pieces[32768], std::string("<000000>"));
    QCOMPARE(pieces.back(), std::string("<032767>"));
}

void CounterListTest::compactionKeepsOrder()
{
    std::vector<std::string> list = {"a", "", "", "b", "", "c", ""};
    CompactCounterList(list);
    QCOMPARE(toStringList(list), (QStringList {"a", "b", "c"}));
    std::vector<std::string> empty(5);
    CompactCounterList(empty);
    QVERIFY(empty.empty());
}

QTEST_GUILESS_MAIN(CounterListTest)
#include "tst_counterlist.moc"
