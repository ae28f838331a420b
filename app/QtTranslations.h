#pragma once
// The toolkit's own dialogs (file, folder, print, message-box buttons) speak
// the program's language, whatever the user's locale says.

class QTranslator;

// Installs Qt's Simplified Chinese translations into the application.
// Returns the installed translator (owned by the application), or nullptr
// when the translation file is not there.
QTranslator* InstallQtChineseTranslations();
