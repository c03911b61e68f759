// SPDX-License-Identifier: GPL-3.0-or-later
// The QScintilla Container's set-up, bulk text replacement and focus behaviour.
#include "oldcontainer.h"

#include "linebuffer.h"
#include "recordstream.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <Qsci/qsciscintilla.h>

namespace {

using Sci = QsciScintillaBase;

// Swaps in a new, empty document with room for the given bytes. It keeps no
// style bytes (the Container has no lexer), which halves its memory, and
// dropping the old document hands a large run's memory back at once.
// QsciScintilla's own document handle goes stale by this; the Container never
// shares its document, so nothing reads that handle.
void replaceDocument(QsciScintilla *container, size_t capacity)
{
    const long document
        = container->SendScintilla(Sci::SCI_CREATEDOCUMENT, static_cast<unsigned long>(capacity),
            static_cast<long>(Sci::SC_DOCUMENTOPTION_STYLES_NONE));
    container->SendScintilla(Sci::SCI_SETDOCPOINTER, 0UL, document);
    container->SendScintilla(Sci::SCI_RELEASEDOCUMENT, 0UL, document);
    // Code page and line break belong to the document, so the new one needs them again.
    container->setUtf8(true);
    container->setEolMode(QsciScintilla::EolWindows);
}

} // namespace

void setupContainer(QsciScintilla *container, const QFont &font)
{
    container->setFont(font);
    for (int margin = 0; margin < container->margins(); ++margin)
        container->setMarginWidth(margin, 0);
    container->setMarginLineNumbers(0, false);
    container->setFolding(QsciScintilla::NoFoldStyle);
    container->setWrapMode(QsciScintilla::WrapNone);
    container->setEolVisibility(false);
    container->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    container->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The horizontal range follows the longest line shown rather than a fixed width.
    container->SendScintilla(Sci::SCI_SETSCROLLWIDTH, 1UL);
    container->SendScintilla(Sci::SCI_SETSCROLLWIDTHTRACKING, 1UL);
    setContainerText(container, {});
}

void setContainerText(QsciScintilla *container, const std::string &utf8)
{
    replaceDocument(container, utf8.size() + 1);
    if (utf8.empty())
        return;
    // Reported, the insertion would be copied twice more (as a QString for
    // accessibility and as bytes for QScintilla's signal): three times a big
    // run's text, for a change that nothing here listens to.
    const long events = container->SendScintilla(Sci::SCI_GETMODEVENTMASK);
    container->SendScintilla(Sci::SCI_SETMODEVENTMASK, 0UL);
    container->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 0UL);
    // With its length given, text that holds a NUL character is kept whole.
    container->SendScintilla(
        Sci::SCI_APPENDTEXT, static_cast<unsigned long>(utf8.size()), utf8.data());
    container->SendScintilla(Sci::SCI_SETUNDOCOLLECTION, 1UL);
    container->SendScintilla(Sci::SCI_SETMODEVENTMASK, static_cast<unsigned long>(events));
}

OldContainerWindow::OldContainerWindow(
    const RunSettings &settings, QSize containerSize, const QFont &font)
    : m_settings(settings)
{
    m_settings.printToFile = false;
    m_module.NewLine = "\r\n";
    Command1 = new QPushButton(QStringLiteral("Do IT"), this);
    Command2 = new QPushButton(QStringLiteral("Clear Container"), this);
    Text6 = new QsciScintilla(this);
    Text6->setFixedSize(containerSize);
    setupContainer(Text6, font);
    auto *layout = new QVBoxLayout(this);
    for (QWidget *control : std::initializer_list<QWidget *> {Command1, Command2, Text6})
        layout->addWidget(control);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { setContainerText(Text6, {}); });
    // The editor's clicks arrive at its viewport.
    Text6->installEventFilter(this);
    Text6->viewport()->installEventFilter(this);
}

void OldContainerWindow::Command1_Click()
{
    m_module.ReadCounterCount(m_settings.counterOptions);
    const std::variant<RunPlan, QString> plan = m_module.planRun(m_settings);
    if (!std::holds_alternative<RunPlan>(plan))
        return;
    setContainerText(Text6, {});
    const RunPlan &run = std::get<RunPlan>(plan);
    m_module.BuildLines(run);
    m_module.WriteLines(
        run, m_settings.printToFile, m_dialog,
        [this](const QString &path, const RunPlan &written) {
            return m_module.writeFile(path, written);
        },
        [this](const LineBuffer &lines) { setContainerText(Text6, lines.text()); });
}

bool OldContainerWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        Text6->selectAll(true);
        m_focusedByClick = static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason;
        break;
    // A click put the caret where it landed, so the selection made as the
    // focus arrived was made again once the click was over.
    case QEvent::MouseButtonPress:
        if (m_focusedByClick)
            Text6->selectAll(false);
        break;
    case QEvent::MouseButtonRelease:
        if (m_focusedByClick && !m_deliveringClick) {
            m_focusedByClick = false;
            m_deliveringClick = true;
            QCoreApplication::sendEvent(watched, event);
            m_deliveringClick = false;
            if (!Text6->hasSelectedText())
                Text6->selectAll(true);
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
