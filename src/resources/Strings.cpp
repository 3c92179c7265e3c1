#include "resources/Strings.h"

#include <QByteArray>
#include <QHash>
#include <QtGlobal>
#include <atomic>
#include <cstdio>

namespace pw {
namespace {

struct Entry {
    int id;
    const char* english;
    const char* japanese;
};

constexpr Entry kEntries[] = {
#define PW_STRING(name, number, en, ja) {number, en, ja},
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
};

const QHash<int, const Entry*>& table() {
    static const QHash<int, const Entry*> index = [] {
        QHash<int, const Entry*> h;
        for (const Entry& e : kEntries)
            h.insert(e.id, &e);
        return h;
    }();
    return index;
}

// -1: not decided yet; otherwise the Language value.
std::atomic<int> g_language{-1};

}  // namespace

Language languageFromLocaleEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return value.startsWith("ja") ? Language::Japanese : Language::English;
    }
    return Language::English;
}

Language currentLanguage() {
    int v = g_language.load();
    if (v < 0) {
        v = static_cast<int>(languageFromLocaleEnvironment());
        g_language.store(v);
    }
    return static_cast<Language>(v);
}

void setLanguage(Language language) {
    g_language.store(static_cast<int>(language));
}

QString str(int id, Language language) {
    const auto it = table().constFind(id);
    if (it == table().constEnd()) {
        std::fprintf(stderr, "Postwick: no text with number %d\n", id);
        return {};
    }
    const Entry* e = it.value();
    if (language == Language::Japanese && e->japanese[0] != '\0')
        return QString::fromUtf8(e->japanese);
    return QString::fromUtf8(e->english);
}

QString str(int id) {
    return str(id, currentLanguage());
}

bool hasString(int id) {
    return table().contains(id);
}

QList<int> allStringIds() {
    QList<int> out;
    out.reserve(static_cast<qsizetype>(std::size(kEntries)));
    for (const Entry& e : kEntries)
        out.append(e.id);
    return out;
}

QString productName() {
    return QStringLiteral("Postwick");
}

QString supportAddress() {
    return QStringLiteral("support@postwick.example");
}

}  // namespace pw
