// SPDX-License-Identifier: GPL-3.0-or-later
// A run's lines computed from their number, against the lines made one by one.
#include "referencelines.h"
#include "runlines.h"
#include "utf8.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

struct Run
{
    std::vector<std::string> fields;
    std::vector<CounterSettings> counters;
    std::string lineStart;
};

// A small run of one to three counters of every kind, with fields that hold
// line feeds, carriage returns and characters of two and four bytes.
Run randomRun(std::mt19937 &random)
{
    const std::vector<std::string> fields {"", "x", "é", "😀", "a\nb", "\r\n", "\t\"q\"", "Room "};
    const std::vector<int16_t> codes {9, 10, 13, 65, 67, 128, 200, 202};
    auto pick = [&random](int below) { return static_cast<int>(random() % unsigned(below)); };
    Run run;
    run.lineStart = pick(2) == 0 ? "" : "\"";
    const int count = 1 + pick(3);
    for (int k = 0; k <= count; ++k)
        run.fields.push_back(fields[size_t(pick(int(fields.size())))]);
    for (int k = 0; k < count; ++k) {
        CounterSettings c;
        c.alpha = pick(3) == 0;
        c.up = pick(2) == 0;
        if (c.alpha) {
            c.start = codes[size_t(pick(int(codes.size())))];
            c.end = static_cast<int16_t>(c.start + (c.up ? 1 : -1) * pick(3));
        } else {
            c.start = static_cast<int16_t>(pick(31) - 15);
            c.end = static_cast<int16_t>(c.start + (c.up ? 1 : -1) * pick(13));
            c.padded = pick(2) == 0;
            c.width = static_cast<int16_t>(pick(5));
        }
        c.step = static_cast<int16_t>(pick(9) - 4);
        run.counters.push_back(c);
    }
    return run;
}

constexpr int64_t Budget = int64_t(1) << 20;

} // namespace

class RunLinesTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheLinesMadeOneByOne_data();
    void matchesTheLinesMadeOneByOne();
    void edgesOf64BitPositions_data();
    void edgesOf64BitPositions();
    void refusesATextPast64BitOffsets();
};

void RunLinesTest::matchesTheLinesMadeOneByOne_data()
{
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 40; ++seed)
        QTest::addRow("random run %u", seed) << seed;
}

void RunLinesTest::matchesTheLinesMadeOneByOne()
{
    QFETCH(unsigned, seed);
    std::mt19937 random(seed);
    const Run run = randomRun(random);
    // Texts kept for every counter, for the last ones only, or made as they are read.
    const int64_t budget = std::array<int64_t, 3> {Budget, 64, 0}[random() % 3];
    const RunLines lines(
        run.fields, run.counters, TextEncoding::Utf8, run.lineStart, "\r\n", budget);

    std::string text;
    std::vector<int64_t> starts;
    for (const std::string &line : referenceLines(run.fields, run.counters)) {
        starts.push_back(int64_t(text.size()));
        text += run.lineStart + line + "\r\n";
    }
    const auto size = int64_t(text.size());
    QCOMPARE(lines.lineCount(), int64_t(starts.size()));
    QCOMPARE(lines.size(), size);
    starts.push_back(size);
    for (int64_t r = 0; r < lines.lineCount(); ++r) {
        QCOMPARE(lines.lineStart(r), starts[size_t(r)]);
        QCOMPARE(lines.lineText(r),
            text.substr(
                size_t(starts[size_t(r)]), size_t(starts[size_t(r) + 1] - starts[size_t(r)])));
    }

    int64_t lineFeeds = 0;
    for (int64_t offset = 0; offset < size; ++offset) {
        const auto at = size_t(offset);
        QCOMPARE(lines.lineAt(offset),
            int64_t(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1);
        QCOMPARE(lines.byteAt(offset), text[at]);
        QCOMPARE(lines.lineFeedsBefore(offset), lineFeeds);
        if (text[at] == '\n')
            QCOMPARE(lines.afterLineFeed(lineFeeds++), offset + 1);
        if ((text[at] & 0xC0) != 0x80) {
            const auto units = int64_t(utf16Units(std::string_view(text).substr(0, at)));
            QCOMPARE(lines.utf16Before(offset), units);
            QCOMPARE(lines.offsetOfUtf16(units), offset);
        }
    }
    QCOMPARE(lines.lineFeedCount(), lineFeeds);

    for (int stretch = 0; stretch < 50; ++stretch) {
        int64_t from = int64_t(random() % uint64_t(size + 1));
        int64_t to = int64_t(random() % uint64_t(size + 1));
        if (from > to)
            std::swap(from, to);
        std::string copied(size_t(to - from), '?');
        lines.copy(from, to, copied.data());
        QCOMPARE(copied, text.substr(size_t(from), size_t(to - from)));
    }

    // Whole lines from any line on, into chunks of any size that holds the longest.
    const int64_t first = int64_t(random() % uint64_t(lines.lineCount()));
    RunLines::Writer writer(lines, first);
    std::string written;
    while (!writer.atEnd()) {
        std::string chunk(lines.longestLine() + random() % 100, '?');
        chunk.resize(writer.fill(chunk.data(), chunk.size()));
        QVERIFY(!chunk.empty());
        written += chunk;
    }
    QCOMPARE(written, text.substr(size_t(starts[size_t(first)])));
}

void RunLinesTest::edgesOf64BitPositions_data()
{
    QTest::addColumn<qint64>("line");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("start");

    // Three counters from -32768 to 32767: 2^48 lines. Each counter's texts
    // take 371,000 bytes, those of -32768 to -1 185,502.
    constexpr qint64 Size = (qint64(2) << 48) + 3 * (qint64(371'000) << 32);
    QTest::newRow("first line") << qint64(0) << QByteArray("-32768-32768-32768\r\n") << qint64(0);
    // Half the lines lie before it: the first counter's negative values, each
    // with every line of the other two, and 2^15 rounds of each later counter.
    QTest::newRow("middle line") << (qint64(1) << 47) << QByteArray(" 0-32768-32768\r\n")
                                 << (qint64(1) << 48) + ((185'502 + 371'000) * (qint64(1) << 32));
    QTest::newRow("last line") << (qint64(1) << 48) - 1 << QByteArray(" 32767 32767 32767\r\n")
                               << Size - 20;
}

void RunLinesTest::edgesOf64BitPositions()
{
    QFETCH(qint64, line);
    QFETCH(QByteArray, text);
    QFETCH(qint64, start);
    CounterSettings widest;
    widest.start = -32768;
    widest.end = 32767;
    const RunLines lines(
        {"", "", "", ""}, {widest, widest, widest}, TextEncoding::Utf8, "", "\r\n", Budget);
    const qint64 end = start + text.size();
    QCOMPARE(lines.lineCount(), qint64(1) << 48);
    QCOMPARE(lines.size(), (qint64(2) << 48) + 3 * (qint64(371'000) << 32));

    // By number.
    QCOMPARE(lines.lineStart(line), start);
    QCOMPARE(QByteArray::fromStdString(lines.lineText(line)), text);
    QCOMPARE(lines.afterLineFeed(line), end);
    // By offset.
    QCOMPARE(lines.lineAt(start), line);
    QCOMPARE(lines.lineAt(end - 1), line);
    QCOMPARE(lines.lineFeedsBefore(start), line);
    QCOMPARE(lines.utf16Before(end), end);
    QCOMPARE(lines.offsetOfUtf16(start), start);
    // Across its edges, and by the writer.
    const qint64 from = std::max<qint64>(start - 3, 0);
    const qint64 to = std::min<qint64>(end + 3, lines.size());
    std::string around(size_t(to - from), '?');
    lines.copy(from, to, around.data());
    QCOMPARE(QByteArray::fromStdString(around).mid(qsizetype(start - from), text.size()), text);
    if (line > 0)
        QCOMPARE(lines.lineAt(start - 1), line - 1);
    RunLines::Writer writer(lines, line);
    std::string chunk(64, '?');
    chunk.resize(writer.fill(chunk.data(), size_t(text.size()) + 10));
    QCOMPARE(QByteArray::fromStdString(chunk), text);
    QCOMPARE(writer.atEnd(), line + 1 == lines.lineCount());
}

void RunLinesTest::refusesATextPast64BitOffsets()
{
    // 2^48 lines of 2^15 bytes make 2^63 bytes: one more than an offset holds.
    constexpr qint64 Lines = qint64(1) << 48;
    const std::string line(size_t(1) << 15, 'x');
    QCOMPARE(
        RunLines(line.substr(1), "", Lines).size(), std::numeric_limits<qint64>::max() - Lines + 1);
    QVERIFY_THROWS_EXCEPTION(std::length_error, RunLines(line, "", Lines));
    CounterSettings widest;
    widest.start = -32768;
    widest.end = 32767;
    QVERIFY_THROWS_EXCEPTION(std::length_error,
        RunLines({"", "", "", line}, {widest, widest, widest}, TextEncoding::Utf8, "", "", Budget));
}

QTEST_GUILESS_MAIN(RunLinesTest)
#include "tst_runlines.moc"
