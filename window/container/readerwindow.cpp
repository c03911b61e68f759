// SPDX-License-Identifier: GPL-3.0-or-later
// The part of the Container's text a screen reader is shown.
#include "readerwindow.h"

#include "containermodel.h"

#include <algorithm>
#include <climits>

ReaderWindow::ReaderWindow(const ContainerModel &model)
    : m_model(model)
{ }

void ReaderWindow::edited(size_t from, size_t removed, size_t inserted)
{
    if (m_whole)
        return;
    if (from < m_from || (removed == 0 && inserted == 0 && from <= m_to))
        m_valid = false;
    else if (from > m_to)
        return;
    else if (from + removed <= m_to)
        m_to = m_to - removed + inserted;
    else
        m_to = from + inserted;
}

bool ReaderWindow::follow(size_t caret)
{
    const size_t size = m_model.size();
    // Units never outnumber bytes: a small text is not counted.
    if (size <= m_reply || m_model.utf16Offset(size) <= m_reply) {
        const bool changed = !m_whole;
        m_whole = true;
        m_from = 0;
        m_to = size;
        return changed;
    }
    const bool wasWhole = m_whole;
    m_whole = false;
    const bool inside = caret >= m_from && (caret < m_to || m_to == size);
    if (!wasWhole && m_valid && m_to <= size && inside
        && m_model.utf16Offset(m_to) - m_model.utf16Offset(m_from) <= m_reply)
        return false;
    makeAround(caret);
    return true;
}

void ReaderWindow::makeAround(size_t caret)
{
    // A quarter of Reply on each side, and at most another quarter out to the
    // rows' edges: the window leaves room for what is typed into it.
    const size_t side = std::max<size_t>(m_reply / 4, 1);
    const size_t total = m_model.utf16Offset(m_model.size());
    const size_t caretUnits = m_model.utf16Offset(caret);
    const size_t startUnits = caretUnits - std::min(caretUnits, side);
    const size_t endUnits = std::min(total, caretUnits + side);

    // Out to the rows' edges, unless a row reaches another quarter further.
    m_from = std::min(m_model.offsetOfUtf16(startUnits), caret);
    const size_t rowStart = m_model.rowStart(m_model.rowOf(m_from));
    if (startUnits - m_model.utf16Offset(rowStart) <= side)
        m_from = rowStart;
    m_to = std::max(m_model.offsetOfUtf16(endUnits), caret);
    const size_t row = m_model.rowOf(m_to);
    if (m_to != m_model.rowStart(row)) {
        const size_t next
            = row + 1 < m_model.rowCount() ? m_model.rowStart(row + 1) : m_model.size();
        if (m_model.utf16Offset(next) - endUnits <= side)
            m_to = next;
    }
    m_valid = true;
}

int ReaderWindow::toUtf16(size_t offset) const
{
    offset = std::clamp(offset, m_from, m_to);
    const size_t units = m_model.utf16Offset(offset) - m_model.utf16Offset(m_from);
    return int(std::min<size_t>(units, INT_MAX));
}

size_t ReaderWindow::fromUtf16(int units) const
{
    if (units < 0)
        return m_to;
    const size_t offset = m_model.offsetOfUtf16(m_model.utf16Offset(m_from) + size_t(units));
    return std::clamp(offset, m_from, m_to);
}
