// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts, such as the Save dialog and the context menus, in the user's language.
#pragma once

#include <memory>

class QLocale;
class QTranslator;

// Installs Qt's translation for the locale, from where Qt's packages put it
// (Debian's qt6-translations-l10n). Returns the translator, which is removed
// again when it is destroyed, or null where Qt has no translation for the
// locale: its texts stay English.
std::unique_ptr<QTranslator> installQtTranslations(const QLocale &locale);
