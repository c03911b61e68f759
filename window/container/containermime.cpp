// SPDX-License-Identifier: GPL-3.0-or-later
// Text for the clipboard, decoded straight from the copied pieces.
#include "containermime.h"

#include <QStringDecoder>

namespace {

const QString PlainText = QStringLiteral("text/plain");
const QString Utf8Text = QStringLiteral("text/plain;charset=utf-8");

// A copy up to this size is kept as bytes of its own: as pieces, a few of a
// run's lines would keep the whole run's texts after the run is gone.
constexpr size_t OwnBytesUpTo = size_t(1) << 20;

} // namespace

ContainerMimeData::ContainerMimeData(TextFragment fragment, Offered offered)
    : m_fragment(fragment.size() <= OwnBytesUpTo ? fragment.standalone() : std::move(fragment))
    , m_offered(offered)
{ }

QStringList ContainerMimeData::formats() const
{
    if (m_offered == Offered::ToContainerOnly)
        return {};
    return {PlainText, Utf8Text};
}

bool ContainerMimeData::hasFormat(const QString &mimeType) const
{
    return m_offered == Offered::ToAll && (mimeType == PlainText || mimeType == Utf8Text);
}

QVariant ContainerMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (!hasFormat(mimeType))
        return {};
    // Each piece holds whole characters, so they decode one after the other
    // into a single buffer, with no copy of the whole text in between.
    if (type.id() == QMetaType::QString) {
        QString text;
        text.resize(qsizetype(m_fragment.size()));
        QChar *end = text.data();
        QStringDecoder decoder(QStringDecoder::Utf8);
        m_fragment.forEachChunk([&decoder, &end](std::string_view chunk) {
            end = decoder.appendToBuffer(
                end, QByteArrayView(chunk.data(), qsizetype(chunk.size())));
        });
        text.truncate(end - text.constData());
        return text;
    }
    QByteArray bytes;
    bytes.reserve(qsizetype(m_fragment.size()));
    m_fragment.forEachChunk(
        [&bytes](std::string_view chunk) { bytes.append(chunk.data(), qsizetype(chunk.size())); });
    return bytes;
}
