// SPDX-License-Identifier: GPL-3.0-or-later
// A run's records, framed around its lines in Windows-1252.
#include "recordstream.h"

#include "codepage.h"

namespace {

// A counter's texts together up to this size are made once and kept; beyond it
// (a pad width in the thousands) each is made when it is needed.
constexpr int64_t KeptTextBudget = int64_t(64) << 20;

} // namespace

RecordStream::RecordStream(std::shared_ptr<const RunLines> records)
    : m_records(std::move(records))
    , m_writer(*m_records, 0)
{ }

std::optional<RecordStream> RecordStream::create(const RunPlan &plan, int counterCount)
{
    const auto counters = static_cast<size_t>(counterCount);
    std::vector<std::string> fields;
    for (size_t j = 0; j <= counters; ++j) {
        std::string bytes;
        if (!appendAnsi(bytes, plan.fields[j]))
            return std::nullopt;
        fields.push_back(std::move(bytes));
    }
    return RecordStream(std::make_shared<const RunLines>(fields,
        std::vector<CounterSettings>(plan.counters.begin(), plan.counters.begin() + counterCount),
        TextEncoding::Windows1252, RecordOpen, RecordClose, KeptTextBudget));
}
