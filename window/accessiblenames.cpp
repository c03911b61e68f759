// SPDX-License-Identifier: GPL-3.0-or-later
// One table of accessible names, applied as each control is made.
#include "accessiblenames.h"

#include "runmodule.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QLabel>
#include <QRegularExpression>

#include <cstring>

namespace {

struct AccessibleName
{
    // The design name; for a control array, the name of all its elements.
    const char *control;
    // %1 is the counter's number. A panel, with neither name nor label, is
    // named as the run's messages name its counter, with its place.
    const char *name;
    // The label array whose element of the same index names the box.
    const char *label = nullptr;
};

// The panels' own captions all read "Counter 1", and the boxes inside them
// carry the captions of their frames, so in a panel every name says which
// counter it belongs to. The frames that hold a single box say "frame", so that
// the box alone has the frame's caption.
const AccessibleName Names[] = {
    {"Picture1", QT_TRANSLATE_NOOP("AccessibleNames", "Commands")},
    {"MainFrame", QT_TRANSLATE_NOOP("AccessibleNames", "Pages")},
    {"SSTab1", QT_TRANSLATE_NOOP("AccessibleNames", "setup, Fields and Container")},
    {"Frame1", nullptr},
    {"Frame2", QT_TRANSLATE_NOOP("AccessibleNames", "Type, counter %1")},
    {"Option1", QT_TRANSLATE_NOOP("AccessibleNames", "Alpha, counter %1")},
    {"Option4", QT_TRANSLATE_NOOP("AccessibleNames", "Numeric, counter %1")},
    {"Frame5", QT_TRANSLATE_NOOP("AccessibleNames", "Direction, counter %1")},
    {"Option2", QT_TRANSLATE_NOOP("AccessibleNames", "UP, counter %1")},
    {"Option5", QT_TRANSLATE_NOOP("AccessibleNames", "Down, counter %1")},
    {"Frame3", QT_TRANSLATE_NOOP("AccessibleNames", "Padding, counter %1")},
    {"Check1", QT_TRANSLATE_NOOP("AccessibleNames", "Padded, counter %1")},
    {"Text1", QT_TRANSLATE_NOOP("AccessibleNames", "pad width, counter %1")},
    {"Frame4", QT_TRANSLATE_NOOP("AccessibleNames", "Start Count frame, counter %1")},
    {"Text2", QT_TRANSLATE_NOOP("AccessibleNames", "Start Count, counter %1")},
    {"ENdCntFrm", QT_TRANSLATE_NOOP("AccessibleNames", "End Count frame, counter %1")},
    {"Text3", QT_TRANSLATE_NOOP("AccessibleNames", "End Count, counter %1")},
    {"Frame6", QT_TRANSLATE_NOOP("AccessibleNames", "Step frame, counter %1")},
    {"Text4", QT_TRANSLATE_NOOP("AccessibleNames", "Step, counter %1")},
    {"Frame8", QT_TRANSLATE_NOOP("AccessibleNames", "Fields, in the order a line reads")},
    {"Text5", nullptr, "Label1"},
    {"Frame9", QT_TRANSLATE_NOOP("AccessibleNames", "Container and print to file")},
    {"Text6", QT_TRANSLATE_NOOP("AccessibleNames", "Container")},
};

QAccessibleInterface *windowAccessible(const QString &className, QObject *object)
{
    if (!object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("Main"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    // The strip of commands, a sunken panel, would read as a border: on
    // AT-SPI a "frame", which screen readers take for a window of its own.
    if (className == QLatin1String("QFrame") && object->objectName() == QLatin1String("Picture1"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::ToolBar);
    return nullptr;
}

} // namespace

void installWindowRole()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    Q_UNUSED(installed)
}

void nameForScreenReaders(QWidget *control)
{
    // "Text2(1)" is element 1 of Text2; a single control has no index.
    static const QRegularExpression designName(QStringLiteral("^(\\w+?)(?:\\((\\d)\\))?$"));
    const QRegularExpressionMatch match = designName.match(control->objectName());
    if (!match.hasMatch())
        return;
    const QByteArray array = match.captured(1).toLatin1();
    const int index = match.captured(2).isEmpty() ? -1 : match.captured(2).toInt();
    for (const AccessibleName &entry : Names) {
        if (std::strcmp(entry.control, array.constData()) != 0)
            continue;
        if (entry.label) {
            const QString label
                = QStringLiteral("%1(%2)").arg(QLatin1String(entry.label)).arg(index);
            if (auto *buddy
                = control->parentWidget()->findChild<QLabel *>(label, Qt::FindDirectChildrenOnly))
                buddy->setBuddy(control);
        } else if (!entry.name) {
            control->setAccessibleName(counterName(index + 1));
        } else {
            const QString name = QCoreApplication::translate("AccessibleNames", entry.name);
            control->setAccessibleName(index < 0 ? name : name.arg(index + 1));
        }
        return;
    }
}
