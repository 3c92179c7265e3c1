#pragma once
// The language of the process: the string tables, the SMTP client's own texts and Qt's
// standard buttons and dialogs all follow the locale environment (LANG and friends).

#include <QString>

namespace pw::app {

// Tells the SMTP client the language of the string tables; both front ends call it first.
void applyTextLanguage();

// Loads Qt's own translation for the language (standard buttons, file and print dialogs)
// into the running application. False when the language is English or no translation is
// installed.
bool installQtTranslations();

// Where Qt's translations are looked for: Qt's own folder of this installation.
[[nodiscard]] QString qtTranslationsFolder();

}  // namespace pw::app
