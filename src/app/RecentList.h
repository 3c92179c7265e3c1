#pragma once
// The File menu's recent list: the projects and the server lists the user opened last, newest
// first, kept in "recent.ini" beside the settings file so that every start (and every window)
// sees the same list at once.

#include <QList>
#include <QString>
#include <optional>

namespace pw {
class IUserInteraction;
}

namespace pw::app {

enum class RecentKind { Project, ServerList };

struct RecentEntry {
    RecentKind kind = RecentKind::Project;
    QString location;  // the project file, or the server list ("host/port:path")
    QString user;      // who signs in to a server list; empty for a project

    // The menu's text: the project's path, or "host/port:path as user".
    [[nodiscard]] QString label() const;
    [[nodiscard]] bool sameAs(const RecentEntry& other) const;
};

class CRecentList {
public:
    // Enough to come back to this week's work without making the File menu a list.
    static constexpr int kMaxEntries = 6;
    static constexpr const char* kFileName = "recent.ini";

    // userDataFolder ends in '/'.
    explicit CRecentList(const QString& userDataFolder);

    [[nodiscard]] QList<RecentEntry> entries() const;
    // Puts the entry first; one already listed moves up, the oldest beyond the cap goes.
    void add(const RecentEntry& entry);
    void addProject(const QString& path) { add({RecentKind::Project, path, {}}); }
    void addServerList(const QString& connection, const QString& user) {
        add({RecentKind::ServerList, connection, user});
    }
    void remove(const RecentEntry& entry);
    // The entry chosen from the menu when it can still be opened. A project file that is
    // gone is taken off the list and the user told.
    [[nodiscard]] std::optional<RecentEntry> choose(int index, IUserInteraction& ui);

private:
    void store(const QList<RecentEntry>& list);
    QString m_path;
};

}  // namespace pw::app
