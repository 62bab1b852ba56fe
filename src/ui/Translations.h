#pragma once

#include <QString>

#include <string>

class QCoreApplication;
class QObject;
class QTranslator;

// The interface's language. Japanese is the language the texts are written in and stays the
// default; a session whose preferred language is English gets the English translation of every
// text. Qt's own dialogs (buttons, the file dialog) follow the same choice.
namespace ui {

// The context all of the program's texts are translated in.
inline constexpr const char* kTranslationContext = "Pavo";

// The text in the interface's language (the Japanese source when no translation is installed).
QString tr(const char* japanese);
// The same for a text built in UTF-8 (a std::string from the core).
QString tr(const std::string& japanese);

// The English interface: the translation and the filter that applies it to each widget as it is
// shown. Deleting the object returned takes both away again; nullptr when the translation is
// missing.
QObject* installEnglish(QCoreApplication& application);

// Qt's Japanese translation of its standard dialogs (qt6-translations-l10n); nullptr when it is
// not installed.
QTranslator* qtJapanese(QObject* parent);

// Installs the translators for the session's language on the application; the language chosen
// ("ja" or "en").
QString installTranslations(QCoreApplication& application);

} // namespace ui
