// SPDX-License-Identifier: GPL-3.0-or-later
// A scroll bar's picture of the top row or the left edge, at any number of rows or pixels.
#include "scrollmapping.h"

#include <QTest>

#include <algorithm>

class ScrollMappingTest : public QObject
{
    Q_OBJECT

private slots:
    void everyPlaceOfTheBarShowsItsRows_data();
    void everyPlaceOfTheBarShowsItsRows();
};

void ScrollMappingTest::everyPlaceOfTheBarShowsItsRows_data()
{
    QTest::addColumn<quint64>("lastTopRow");
    QTest::addColumn<quint64>("row");
    QTest::addColumn<int>("value");

    constexpr quint64 limit = ScrollMapping::Limit;
    constexpr quint64 huge = (quint64(1) << 48) - 40;
    QTest::newRow("no rows to scroll") << quint64(0) << quint64(0) << 0;
    QTest::newRow("a few rows count one to one") << quint64(1000) << quint64(999) << 999;
    QTest::newRow("at the limit, the last row is the bar's end") << limit << limit << int(limit);
    QTest::newRow("just above the limit, the first row is the bar's start")
        << limit + 1 << quint64(0) << 0;
    QTest::newRow("just above the limit, the last row is the bar's end")
        << limit + 1 << limit + 1 << int(limit);
    QTest::newRow("2^48 rows, the first") << huge << quint64(0) << 0;
    QTest::newRow("2^48 rows, the middle") << huge << huge / 2 << int(limit / 2);
    QTest::newRow("2^48 rows, the last") << huge << huge << int(limit);
    QTest::newRow("2^48 rows, one row in") << huge << quint64(1) << 0;
    QTest::newRow("2^48 rows, past the last") << huge << huge + 5 << int(limit);
    QTest::newRow("a row 2^33 pixels wide, a quarter in")
        << (quint64(1) << 33) << (quint64(1) << 31) << int(limit / 4);
}

void ScrollMappingTest::everyPlaceOfTheBarShowsItsRows()
{
    QFETCH(quint64, lastTopRow);
    QFETCH(quint64, row);
    QFETCH(int, value);

    const ScrollMapping mapping(lastTopRow);
    QCOMPARE(mapping.valueOf(row), value);
    // Back to a row within one value's rows, and each value near it back to itself.
    const quint64 rowsPerValue = lastTopRow / ScrollMapping::Limit + 1;
    const quint64 back = mapping.placeOf(value);
    QVERIFY2(
        (back > row ? back - row : row - back) <= rowsPerValue, qPrintable(QString::number(back)));
    for (int near = std::max(0, value - 2); near <= std::min(mapping.maximum(), value + 2); ++near)
        QCOMPARE(mapping.valueOf(mapping.placeOf(near)), near);
    QCOMPARE(mapping.placeOf(0), quint64(0));
    QCOMPARE(mapping.placeOf(mapping.maximum()), lastTopRow);
}

QTEST_GUILESS_MAIN(ScrollMappingTest)
#include "tst_scrollmapping.moc"
