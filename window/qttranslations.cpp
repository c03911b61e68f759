// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts in the user's language.
#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

QTranslator *installQtTranslations(QObject *owner, const QLocale &locale)
{
    auto translator = std::make_unique<QTranslator>();
    // qtbase alone: Kelvaro shows texts of no other Qt module.
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    translator->setParent(owner);
    return translator.release();
}
