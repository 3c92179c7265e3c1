#include "app/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "resources/Strings.h"
#include "smtp/SmtpLanguage.h"

namespace pw::app {

void applyTextLanguage() {
    smtp::setTextLanguage(currentLanguage() == Language::Japanese ? smtp::TextLanguage::Japanese
                                                                  : smtp::TextLanguage::English);
}

QString qtTranslationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool installQtTranslations() {
    if (currentLanguage() != Language::Japanese || !QCoreApplication::instance())
        return false;
    // "qtbase" holds the texts of the standard buttons and dialogs; "qt" is the older,
    // combined catalogue some installations have instead
    auto* translator = new QTranslator(QCoreApplication::instance());
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    for (const char* name : {"qtbase", "qt"}) {
        if (translator->load(japanese, QLatin1String(name), QStringLiteral("_"),
                             qtTranslationsFolder())) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
    }
    delete translator;
    return false;
}

}  // namespace pw::app
