// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts, such as the Save dialog and the context menus, in the user's language.
#pragma once

class QLocale;
class QObject;
class QTranslator;

// Installs Qt's translation for the locale, from where Qt's packages put it
// (Debian's qt6-translations-l10n). Returns the translator, a child of owner
// that is removed again when owner destroys it, or null where Qt has no
// translation for the locale: its texts stay English.
QTranslator *installQtTranslations(QObject *owner, const QLocale &locale);
