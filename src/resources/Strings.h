#pragma once
// User-visible texts, in English and Japanese, addressed by message number.
//
// Each subsystem keeps its entries in strings/<subsystem>.inc as lines of
//   PW_STRING(NAME, number, "English", "Japanese")
// which become the constant pw::ids::NAME and one row of the table. Numbers that the
// product's message catalogue fixes keep them; the others take the subsystem's range:
// app 10000, db 11000, dbtools 12000, exchange 13000, compose 14000, send 15000,
// serversettings 16000, print 17000, bounces 18000,
// history 19000. The SMTP client keeps its own texts.

#include <QString>

namespace pw {

enum class Language { English, Japanese };

namespace ids {
#define PW_STRING(name, number, en, ja) inline constexpr int name = number;
#include "strings/app.inc"
#include "strings/bounces.inc"
#include "strings/compose.inc"
#include "strings/db.inc"
#include "strings/dbtools.inc"
#include "strings/deliverability.inc"
#include "strings/exchange.inc"
#include "strings/history.inc"
#include "strings/mainwindow.inc"
#include "strings/print.inc"
#include "strings/send.inc"
#include "strings/sendlimits.inc"
#include "strings/serversettings.inc"
#undef PW_STRING
}  // namespace ids

// The language the process shows: Japanese when LC_ALL, LC_MESSAGES or LANG (the first
// that is set) starts with "ja", English otherwise. setLanguage overrides it.
[[nodiscard]] Language currentLanguage();
void setLanguage(Language language);
[[nodiscard]] Language languageFromLocaleEnvironment();

// The text with this number in the current language (English where the Japanese entry is
// empty). An unknown number gives an empty text and a diagnostic on standard error.
[[nodiscard]] QString str(int id);
[[nodiscard]] QString str(int id, Language language);
[[nodiscard]] bool hasString(int id);

// Every number of the table, for checks of the tables themselves.
[[nodiscard]] QList<int> allStringIds();

// The application's display name: window titles and message captions.
[[nodiscard]] QString productName();
// Where users are told to write when something cannot be repaired by them.
[[nodiscard]] QString supportAddress();

}  // namespace pw
