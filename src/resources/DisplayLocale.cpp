#include "resources/DisplayLocale.h"

#include "resources/Strings.h"

namespace pw {

QLocale displayLocale() {
    const QLocale user;
    if (user.language() != QLocale::C || currentLanguage() != Language::Japanese)
        return user;
    return QLocale(QLocale::Japanese, QLocale::Japan);
}

}  // namespace pw
