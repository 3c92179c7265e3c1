#include "app/RecentList.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw::app {

namespace {

constexpr char kGroup[] = "Recent";

QString kindName(RecentKind kind) {
    return kind == RecentKind::ServerList ? QStringLiteral("server") : QStringLiteral("project");
}

}  // namespace

QString RecentEntry::label() const {
    if (kind == RecentKind::ServerList)
        return str(ids::kRecentServerList).arg(location, user);
    return QDir::toNativeSeparators(location);
}

bool RecentEntry::sameAs(const RecentEntry& other) const {
    if (kind != other.kind)
        return false;
    if (kind == RecentKind::ServerList)
        return location == other.location && user.compare(other.user, Qt::CaseInsensitive) == 0;
    // one file reached by two spellings of its path is one entry
    return QFileInfo(location).absoluteFilePath() == QFileInfo(other.location).absoluteFilePath();
}

CRecentList::CRecentList(const QString& userDataFolder)
    : m_path(userDataFolder + QLatin1String(kFileName)) {}

QList<RecentEntry> CRecentList::entries() const {
    QSettings file(m_path, QSettings::IniFormat);
    QList<RecentEntry> list;
    const int n = file.beginReadArray(QLatin1String(kGroup));
    for (int i = 0; i < n && list.size() < kMaxEntries; ++i) {
        file.setArrayIndex(i);
        RecentEntry e;
        e.kind = file.value(QStringLiteral("kind")).toString() == kindName(RecentKind::ServerList)
                     ? RecentKind::ServerList
                     : RecentKind::Project;
        e.location = file.value(QStringLiteral("location")).toString();
        e.user = file.value(QStringLiteral("user")).toString();
        if (!e.location.isEmpty())
            list.append(e);
    }
    file.endArray();
    return list;
}

void CRecentList::store(const QList<RecentEntry>& list) {
    QSettings file(m_path, QSettings::IniFormat);
    file.remove(QLatin1String(kGroup));
    file.beginWriteArray(QLatin1String(kGroup), int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        file.setArrayIndex(i);
        file.setValue(QStringLiteral("kind"), kindName(list[i].kind));
        file.setValue(QStringLiteral("location"), list[i].location);
        if (list[i].kind == RecentKind::ServerList)
            file.setValue(QStringLiteral("user"), list[i].user);
    }
    file.endArray();
}

void CRecentList::add(const RecentEntry& entry) {
    if (entry.location.isEmpty())
        return;
    RecentEntry e = entry;
    if (e.kind == RecentKind::Project)
        e.location = QFileInfo(e.location).absoluteFilePath();
    QList<RecentEntry> list = entries();
    list.removeIf([&](const RecentEntry& old) { return old.sameAs(e); });
    list.prepend(e);
    if (list.size() > kMaxEntries)
        list.resize(kMaxEntries);
    store(list);
}

void CRecentList::remove(const RecentEntry& entry) {
    QList<RecentEntry> list = entries();
    if (list.removeIf([&](const RecentEntry& old) { return old.sameAs(entry); }) > 0)
        store(list);
}

std::optional<RecentEntry> CRecentList::choose(int index, IUserInteraction& ui) {
    const QList<RecentEntry> list = entries();
    if (index < 0 || index >= list.size())
        return std::nullopt;
    const RecentEntry& e = list[index];  // list is this call's own copy
    if (e.kind == RecentKind::Project && !QFileInfo(e.location).isFile()) {
        remove(e);
        inform(ui, str(ids::kRecentMissing).arg(QDir::toNativeSeparators(e.location)));
        return std::nullopt;
    }
    return e;
}

}  // namespace pw::app
