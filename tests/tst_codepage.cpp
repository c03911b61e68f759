// SPDX-License-Identifier: GPL-3.0-or-later
// Windows-1252 both ways: counter characters come from it, output files are written in it.
#include "codepage.h"

#include <QTest>

class CodePageTest : public QObject
{
    Q_OBJECT

private slots:
    void characterOfEachByte_data();
    void characterOfEachByte();
    void everyByteRoundTrips();
    void charactersWithoutByte();
    void encoding_data();
    void encoding();
};

void CodePageTest::characterOfEachByte_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<uint>("character");
    QTest::newRow("NUL") << 0x00 << 0x0000u;
    QTest::newRow("letter A") << 0x41 << 0x0041u;
    QTest::newRow("euro sign") << 0x80 << 0x20ACu;
    QTest::newRow("undefined 0x81 is its C1 control") << 0x81 << 0x0081u;
    QTest::newRow("undefined 0x8D") << 0x8D << 0x008Du;
    QTest::newRow("undefined 0x8F") << 0x8F << 0x008Fu;
    QTest::newRow("undefined 0x90") << 0x90 << 0x0090u;
    QTest::newRow("undefined 0x9D") << 0x9D << 0x009Du;
    QTest::newRow("Y with diaeresis") << 0x9F << 0x0178u;
    QTest::newRow("no-break space") << 0xA0 << 0x00A0u;
    QTest::newRow("y with diaeresis") << 0xFF << 0x00FFu;
}

void CodePageTest::characterOfEachByte()
{
    QFETCH(int, code);
    QFETCH(uint, character);
    QCOMPARE(static_cast<uint>(ansiToUnicode(static_cast<uint8_t>(code))), character);
}

void CodePageTest::everyByteRoundTrips()
{
    for (int code = 0; code < 256; ++code) {
        const std::optional<uint8_t> back = ansiCode(ansiToUnicode(static_cast<uint8_t>(code)));
        QVERIFY2(back && *back == code, qPrintable(QString::number(code)));
    }
}

void CodePageTest::charactersWithoutByte()
{
    for (const char32_t character : {0x0100u, 0x0416u, 0x2212u, 0xFFFDu, 0x1F600u})
        QVERIFY(!ansiCode(character));
}

void CodePageTest::encoding_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<bool>("encodes");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII is copied")
        << QByteArray("Room A-101") << true << QByteArray("Room A-101");
    QTest::newRow("accents and the euro") << QString::fromUtf8("Zoë €5").toUtf8() << true
                                          << QByteArray("Zo\xEB \x80"
                                                        "5");
    QTest::newRow("a character past the first eight bytes")
        << QString::fromUtf8("abcdefghijklmnoé").toUtf8() << true
        << QByteArray("abcdefghijklmno\xE9");
    QTest::newRow("no byte past the first eight")
        << QString::fromUtf8("abcdefghijЖ").toUtf8() << false << QByteArray();
    QTest::newRow("Cyrillic has no byte")
        << QString::fromUtf8("aЖb").toUtf8() << false << QByteArray();
    QTest::newRow("emoji has no byte") << QString::fromUtf8("a😀").toUtf8() << false << QByteArray();
    QTest::newRow("truncated UTF-8") << QByteArray("a\xC3") << false << QByteArray();
    QTest::newRow("overlong UTF-8") << QByteArray("\xC0\xAF") << false << QByteArray();
    QTest::newRow("an overlong form of a character the code page has")
        << QByteArray("\xE0\x83\xA9") << false << QByteArray();
    QTest::newRow("NUL is a character") << QByteArray("a\0b", 3) << true << QByteArray("a\0b", 3);
}

void CodePageTest::encoding()
{
    QFETCH(QByteArray, utf8);
    QFETCH(bool, encodes);
    QFETCH(QByteArray, bytes);
    std::string out = "kept:";
    QCOMPARE(appendAnsi(out, std::string_view(utf8.constData(), static_cast<size_t>(utf8.size()))),
        encodes);
    QCOMPARE(QByteArray::fromStdString(out), QByteArray("kept:") + bytes);
}

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
