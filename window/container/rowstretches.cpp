// SPDX-License-Identifier: GPL-3.0-or-later
// Rows cut into stretches as they are shown, and the rows kept laid out.
#include "rowstretches.h"

#include "containermodel.h"
#include "utf8.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// An edit lays out again the stretches whose neighbours' bytes it touched.
constexpr size_t Margin = RowStretches::ContextBytes + 4;
// Bytes read to estimate a row's width, and at most to find its direction.
constexpr size_t SampleBytes = 512;
constexpr size_t DirectionBytes = size_t(64) << 10;
// How far back a join is looked for.
constexpr size_t JoinReach = 64;

// The direction of the row's first strong character, as QTextLayout finds
// a paragraph's; left to right when there is none within DirectionBytes.
Qt::LayoutDirection directionOf(const ContainerModel &model, size_t from, size_t to)
{
    const size_t end = std::min(to, from + DirectionBytes);
    // Most rows show their direction in their first few characters.
    size_t reach = 64;
    for (size_t chunk = from; chunk < end; reach *= 4) {
        size_t chunkEnd = std::min(end, chunk + reach);
        while (chunkEnd < to && isUtf8Continuation(model.byteAt(chunkEnd)))
            ++chunkEnd;
        std::optional<Qt::LayoutDirection> found;
        forEachCodePoint(model.text(chunk, chunkEnd), [&found](char32_t code) {
            if (found)
                return;
            const QChar::Direction direction = QChar::direction(code);
            if (direction == QChar::DirL)
                found = Qt::LeftToRight;
            else if (direction == QChar::DirR || direction == QChar::DirAL)
                found = Qt::RightToLeft;
        });
        if (found)
            return *found;
        chunk = chunkEnd;
    }
    return Qt::LeftToRight;
}

char32_t codeAt(const QString &text, qsizetype column)
{
    const QChar first = text.at(column);
    if (first.isHighSurrogate() && column + 1 < text.size() && text.at(column + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(first, text.at(column + 1));
    return first.unicode();
}

char32_t codeBefore(const QString &text, qsizetype column)
{
    const QChar last = text.at(column - 1);
    if (last.isLowSurrogate() && column >= 2 && text.at(column - 2).isHighSurrogate())
        return QChar::surrogateToUcs4(text.at(column - 2), last);
    return last.unicode();
}

} // namespace

RowStretches::RowStretches(
    const ContainerModel &model, const RowStyle &style, size_t from, size_t to)
    : m_model(&model)
    , m_style(&style)
    , m_from(from)
    , m_to(to)
{
    init();
    m_entries.push_back({to - from, qreal(to - from) * m_perByte, false, nullptr, 0});
    sumUp();
}

RowStretches::RowStretches(const ContainerModel &model, const RowStyle &style, size_t from,
    size_t to, const RowStretches *head, size_t keepBefore, const RowStretches *tail,
    size_t keepAfter, std::ptrdiff_t shift)
    : m_model(&model)
    , m_style(&style)
    , m_from(from)
    , m_to(to)
{
    init();
    const size_t length = to - from;
    const auto usable = [this, length](const RowStretches *row) {
        return row && length > WholeBytes && row->m_to - row->m_from > WholeBytes
            && row->m_direction == m_direction;
    };
    if (usable(head))
        m_perByte = head->m_perByte;
    else if (usable(tail))
        m_perByte = tail->m_perByte;

    std::vector<Entry> kept;
    size_t headBytes = 0;
    if (usable(head) && head->m_from == from) {
        for (size_t index = 0; index < head->m_entries.size(); ++index) {
            if (head->m_from + head->m_byteEnds[index] + Margin > keepBefore)
                break;
            kept.push_back(head->m_entries[index]);
            headBytes = head->m_byteEnds[index];
        }
    }
    std::vector<Entry> tailKept;
    size_t tailBytes = 0;
    if (usable(tail) && std::ptrdiff_t(tail->m_to) + shift == std::ptrdiff_t(to)) {
        for (size_t index = tail->m_entries.size(); index-- > 0;) {
            if (tail->m_from + tail->startOf(index) < keepAfter + Margin)
                break;
            tailKept.push_back(tail->m_entries[index]);
            tailBytes = tail->m_byteEnds.back() - tail->startOf(index);
        }
        std::reverse(tailKept.begin(), tailKept.end());
    }
    if (headBytes + tailBytes > length) {
        tailKept.clear();
        tailBytes = 0;
    }
    if (headBytes > length) {
        kept.clear();
        headBytes = 0;
    }
    if (length > headBytes + tailBytes) {
        const size_t filler = length - headBytes - tailBytes;
        kept.push_back({filler, qreal(filler) * m_perByte, false, nullptr, 0});
    }
    kept.insert(kept.end(), tailKept.begin(), tailKept.end());
    if (kept.empty())
        kept.push_back({0, 0, false, nullptr, 0});
    m_entries = std::move(kept);
    m_layouts = size_t(std::count_if(m_entries.begin(), m_entries.end(),
        [](const Entry &entry) { return entry.layout != nullptr; }));
    // Kept layouts stay as recent as they were.
    for (const RowStretches *row : {head, tail}) {
        if (row)
            m_clock = std::max(m_clock, row->m_clock);
    }
    merge();
    sumUp();
}

void RowStretches::init()
{
    const size_t sampled = std::min(m_to - m_from, SampleBytes);
    const std::string sample = m_model->text(m_from, m_from + sampled);
    qreal sampledWidth = 0;
    forEachCodePoint(
        sample, [&sampledWidth, this](char32_t code) { sampledWidth += m_style->widths.of(code); });
    m_perByte = sampled > 0 && sampledWidth > 0
        ? sampledWidth / qreal(sampled)
        : std::max<qreal>(1, m_style->metrics.averageCharWidth());
    if (m_to - m_from > WholeBytes)
        m_direction = directionOf(*m_model, m_from, m_to);
}

size_t RowStretches::laidOut() const
{
    return size_t(std::count_if(
        m_entries.begin(), m_entries.end(), [](const Entry &entry) { return entry.measured; }));
}

void RowStretches::moved(std::ptrdiff_t delta)
{
    m_from = size_t(std::ptrdiff_t(m_from) + delta);
    m_to = size_t(std::ptrdiff_t(m_to) + delta);
}

size_t RowStretches::indexOf(size_t relative) const
{
    const auto found = std::upper_bound(m_byteEnds.begin(), m_byteEnds.end(), relative);
    return std::min(size_t(found - m_byteEnds.begin()), m_entries.size() - 1);
}

size_t RowStretches::indexAtX(qreal x) const
{
    const qreal along = rightToLeft() ? width() - x : x;
    const auto found = std::upper_bound(m_xEnds.begin(), m_xEnds.end(), along);
    return std::min(size_t(found - m_xEnds.begin()), m_entries.size() - 1);
}

qreal RowStretches::xOfIndex(size_t index) const
{
    if (rightToLeft())
        return width() - m_xEnds[index];
    return index == 0 ? 0 : m_xEnds[index - 1];
}

RowStretches::Placed RowStretches::holding(size_t offset)
{
    const size_t relative = std::clamp(offset, m_from, m_to) - m_from;
    return placed(measure(relative));
}

RowStretches::Placed RowStretches::atX(qreal x)
{
    // Laying a stretch out changes its width, so the stretch under x may
    // then be another: a few rounds settle it.
    for (int round = 0; round < 8; ++round) {
        const size_t index = indexAtX(x);
        const Entry &entry = m_entries[index];
        if (entry.measured)
            return placed(index);
        const qreal along = entry.width > 0
            ? std::clamp((rightToLeft() ? xOfIndex(index) + entry.width - x : x - xOfIndex(index))
                    / entry.width,
                0.0, 1.0)
            : 0;
        const size_t start = startOf(index);
        measure(std::min(start + size_t(along * qreal(entry.length)),
            start + std::max<size_t>(entry.length, 1) - 1));
    }
    return placed(measure(startOf(indexAtX(x))));
}

void RowStretches::layOutBetween(qreal left, qreal right)
{
    atX(std::max<qreal>(left, 0));
    size_t index = indexAtX(std::max<qreal>(left, 0));
    // Left to right: onwards in reading order, or backwards in a right-to-left row.
    while (true) {
        if (!m_entries[index].measured) {
            const size_t start = startOf(index);
            index = measure(rightToLeft() ? start + m_entries[index].length - 1 : start);
        }
        layoutOf(index);
        const qreal end = xOfIndex(index) + m_entries[index].width;
        if (end >= right)
            break;
        if (rightToLeft() ? index == 0 : index + 1 == m_entries.size())
            break;
        index = rightToLeft() ? index - 1 : index + 1;
    }
}

std::vector<RowStretches::Placed> RowStretches::laidOutBetween(qreal left, qreal right) const
{
    std::vector<Placed> pieces;
    size_t index = indexAtX(std::max<qreal>(left, 0));
    while (true) {
        const Entry &entry = m_entries[index];
        const qreal x = xOfIndex(index);
        if (entry.measured) {
            // A layout let go since is made again, and dropped after the paint.
            std::shared_ptr<const StretchLayout> layout
                = entry.layout ? entry.layout : layOut(startOf(index), m_byteEnds[index]);
            const size_t textFrom = m_from + startOf(index) - layout->from();
            pieces.push_back({std::move(layout), x, textFrom});
        }
        if (x + entry.width >= right
            || (rightToLeft() ? index == 0 : index + 1 == m_entries.size()))
            break;
        index = rightToLeft() ? index - 1 : index + 1;
    }
    return pieces;
}

size_t RowStretches::measure(size_t relative)
{
    while (true) {
        const size_t index = indexOf(relative);
        if (m_entries[index].measured)
            return index;
        cut(index, relative);
    }
}

void RowStretches::cut(size_t index, size_t relative)
{
    const size_t start = startOf(index);
    const size_t end = m_byteEnds[index];
    size_t first = start;
    size_t last = end;
    if (m_to - m_from > WholeBytes && end - start > StretchBytes * 3 / 2) {
        const size_t grid = start + (relative - start) / StretchBytes * StretchBytes;
        if (grid > start) {
            first = joinBefore(grid, start);
            if (first - start < StretchBytes / 4)
                first = start;
        }
        // Never past this entry: the next one begins there.
        last = joinBefore(first + StretchBytes, first);
        if (last > end || end - last < StretchBytes / 4)
            last = end;
    }
    std::vector<Entry> replacing;
    if (first > start)
        replacing.push_back({first - start, qreal(first - start) * m_perByte, false, nullptr, 0});
    std::shared_ptr<const StretchLayout> layout = layOut(first, last);
    replacing.push_back({last - first, layout->width(), true, std::move(layout), ++m_clock});
    if (end > last)
        replacing.push_back({end - last, qreal(end - last) * m_perByte, false, nullptr, 0});
    const auto at = m_entries.begin() + std::ptrdiff_t(index);
    m_entries.insert(m_entries.erase(at), replacing.begin(), replacing.end());
    ++m_layouts;
    sumUp();
    forgetLayouts();
}

size_t RowStretches::joinBefore(size_t near, size_t low) const
{
    const size_t rowEnd = m_to - m_from;
    if (near >= rowEnd)
        return rowEnd;
    // From the character near stands in, so that the join never passes near.
    while (near > low + 1 && isUtf8Continuation(m_model->byteAt(m_from + near)))
        --near;
    // The window: JoinReach bytes before near, and the character after it.
    size_t first = near - std::min(near - low, JoinReach);
    while (first > low && isUtf8Continuation(m_model->byteAt(m_from + first)))
        --first;
    size_t last = std::min(rowEnd, near + 4);
    while (last < rowEnd && isUtf8Continuation(m_model->byteAt(m_from + last)))
        ++last;
    const std::string bytes = m_model->text(m_from + first, m_from + last);
    const QString text = QString::fromStdString(bytes);
    const qsizetype nearColumn
        = qsizetype(utf16Units(std::string_view(bytes).substr(0, near - first)));
    const auto ownDirection = [this](char32_t code) {
        const QChar::Direction direction = QChar::direction(code);
        return rightToLeft() ? direction == QChar::DirR || direction == QChar::DirAL
                             : direction == QChar::DirL;
    };
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype best = -1;
    qsizetype fallback = -1;
    graphemes.toStart();
    for (qsizetype column = graphemes.toNextBoundary(); column > 0 && column <= nearColumn;
         column = graphemes.toNextBoundary()) {
        if (column >= text.size())
            break;
        fallback = column;
        if (ownDirection(codeBefore(text, column)) && ownDirection(codeAt(text, column)))
            best = column;
    }
    if (best < 0)
        best = fallback;
    if (best > 0)
        return first + bytesOfUtf16Units(bytes, size_t(best));
    // No grapheme boundary within reach: the character boundary before near.
    size_t at = near;
    while (at > low + 1 && isUtf8Continuation(m_model->byteAt(m_from + at)))
        --at;
    return std::max(at, low + 1);
}

std::shared_ptr<const StretchLayout> RowStretches::layOut(size_t start, size_t end) const
{
    if (m_to - m_from <= WholeBytes) {
        return std::make_shared<const StretchLayout>(
            *m_style, m_model->text(m_from, m_to), 0, m_to - m_from, Qt::LayoutDirectionAuto);
    }
    size_t first = start - std::min(start, ContextBytes);
    const size_t last = std::min(m_to - m_from, end + ContextBytes);
    std::string text = m_model->text(m_from + first, m_from + last);
    // Whole characters of the neighbours only.
    size_t skipped = 0;
    while (skipped < start - first && isUtf8Continuation(text[skipped]))
        ++skipped;
    text.erase(0, skipped);
    first += skipped;
    size_t lead = text.size();
    while (lead > end - first && isUtf8Continuation(text[lead - 1]))
        --lead;
    if (lead > end - first && lead - 1 + utf8SequenceLength(text[lead - 1]) > text.size())
        text.resize(lead - 1);
    return std::make_shared<const StretchLayout>(
        *m_style, std::move(text), start - first, end - first, m_direction);
}

const std::shared_ptr<const StretchLayout> &RowStretches::layoutOf(size_t index)
{
    Entry &entry = m_entries[index];
    entry.used = ++m_clock;
    if (!entry.layout) {
        entry.layout = layOut(startOf(index), m_byteEnds[index]);
        ++m_layouts;
        forgetLayouts();
    }
    return m_entries[index].layout;
}

RowStretches::Placed RowStretches::placed(size_t index)
{
    const std::shared_ptr<const StretchLayout> &layout = layoutOf(index);
    return {layout, xOfIndex(index), m_from + startOf(index) - layout->from()};
}

void RowStretches::merge()
{
    // Bytes not laid out side by side are one span.
    std::vector<Entry> merged;
    for (Entry &entry : m_entries) {
        if (!merged.empty() && !entry.measured && !merged.back().measured) {
            merged.back().length += entry.length;
            merged.back().width = qreal(merged.back().length) * m_perByte;
        } else {
            merged.push_back(std::move(entry));
        }
    }
    m_entries = std::move(merged);
}

void RowStretches::sumUp()
{
    m_byteEnds.resize(m_entries.size());
    m_xEnds.resize(m_entries.size());
    size_t bytes = 0;
    qreal x = 0;
    for (size_t index = 0; index < m_entries.size(); ++index) {
        bytes += m_entries[index].length;
        x += m_entries[index].width;
        m_byteEnds[index] = bytes;
        m_xEnds[index] = x;
    }
}

void RowStretches::forgetLayouts()
{
    // The layouts used longest ago go; their widths stay.
    while (m_layouts > KeptLayouts) {
        Entry *oldest = nullptr;
        for (Entry &entry : m_entries) {
            if (entry.layout && (!oldest || entry.used < oldest->used))
                oldest = &entry;
        }
        if (!oldest)
            break;
        oldest->layout.reset();
        --m_layouts;
    }
}

LaidOutRows::LaidOutRows(const ContainerModel &model, const QFont &font)
    : m_model(model)
    , m_style(std::make_unique<RowStyle>(font))
{ }

void LaidOutRows::setFont(const QFont &font)
{
    m_rows.clear();
    m_style = std::make_unique<RowStyle>(font);
}

RowStretches &LaidOutRows::stretches(size_t row)
{
    auto found = m_rows.find(row);
    if (found == m_rows.end()) {
        found = m_rows
                    .emplace(row,
                        RowStretches(m_model, *m_style, m_model.rowStart(row), m_model.rowEnd(row)))
                    .first;
    }
    return found->second;
}

const RowStretches *LaidOutRows::find(size_t row) const
{
    const auto found = m_rows.find(row);
    return found == m_rows.end() ? nullptr : &found->second;
}

void LaidOutRows::edited(
    size_t from, size_t removed, size_t inserted, size_t lineFeedsRemoved, size_t lineFeedsInserted)
{
    const size_t first = m_model.rowOf(from);
    const size_t oldLast = first + lineFeedsRemoved;
    const size_t newLast = first + lineFeedsInserted;
    const auto shift = std::ptrdiff_t(inserted) - std::ptrdiff_t(removed);

    // The rows the edit began and ended in give what is still good of theirs
    // to the rows it leaves; rows after it keep their stretches, moved.
    using Node = std::map<size_t, RowStretches>::node_type;
    Node headNode = m_rows.extract(first);
    Node tailNode = oldLast != first ? m_rows.extract(oldLast) : Node();
    const RowStretches *headRow = headNode ? &headNode.mapped() : nullptr;
    const RowStretches *tailRow
        = oldLast == first ? headRow : (tailNode ? &tailNode.mapped() : nullptr);
    std::vector<Node> after;
    for (auto cached = m_rows.upper_bound(oldLast); cached != m_rows.end();) {
        const auto next = std::next(cached);
        after.push_back(m_rows.extract(cached));
        cached = next;
    }
    m_rows.erase(m_rows.lower_bound(first), m_rows.end());
    for (Node &node : after) {
        node.key() = node.key() - lineFeedsRemoved + lineFeedsInserted;
        node.mapped().moved(shift);
        m_rows.insert(std::move(node));
    }

    const size_t keepAfter = from + removed;
    if (headRow || (tailRow && lineFeedsInserted == 0)) {
        m_rows.emplace(first,
            RowStretches(m_model, *m_style, m_model.rowStart(first), m_model.rowEnd(first), headRow,
                from, lineFeedsInserted == 0 ? tailRow : nullptr, keepAfter, shift));
    }
    if (tailRow && lineFeedsInserted > 0) {
        m_rows.emplace(newLast,
            RowStretches(m_model, *m_style, m_model.rowStart(newLast), m_model.rowEnd(newLast),
                nullptr, 0, tailRow, keepAfter, shift));
    }
}

void LaidOutRows::keepNear(size_t first, size_t last, size_t keep)
{
    const size_t span = last - first + 1;
    if (m_rows.size() <= 3 * span + 8)
        return;
    for (auto cached = m_rows.begin(); cached != m_rows.end();) {
        const bool near = cached->first + span >= first && cached->first <= last + span;
        if (near || cached->first == keep)
            ++cached;
        else
            cached = m_rows.erase(cached);
    }
}
