#pragma once
// The registered server profiles: at most 99, each with the twelve fields a profile keeps,
// stored in section "SERVERS" of the settings file as "No" and one line per profile.

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "compose/ServerConfig.h"

namespace pw::serversettings {

// A registered server keeps twelve of a server's fields: all but "AuthType" and the
// certificate acceptance.
using ServerProfile = ServerConfig;

// One stored line: the twelve fields joined with ",", the two passwords scrambled. A field
// holding a comma or a double quote is quoted, with its quotes doubled, so that it comes back
// whole; every other field is written bare, as older files have it.
[[nodiscard]] QString formatServerProfile(const ServerProfile& profile);
// Reads a stored line; missing trailing fields take their defaults (the verification method
// the automatic choice), and a port that is no
// port at all (0, negative, above 65535) becomes 25. Lines of older files (fields split at
// every comma, one quote removed at each end) read as they always did.
[[nodiscard]] ServerProfile parseServerProfile(const QString& line);

class CServerList {
public:
    static constexpr int kMaxProfiles = 99;
    // At most this many stored lines are read.
    static constexpr int kMaxStored = 100;

    enum class AddResult { Added, Full };

    [[nodiscard]] AddResult add(const ServerProfile& profile);
    // Later profiles move up; false for an index outside the list.
    bool remove(int index);
    [[nodiscard]] int size() const { return int(m_profiles.size()); }
    [[nodiscard]] const ServerProfile& at(int index) const { return m_profiles.at(index); }
    [[nodiscard]] const QList<ServerProfile>& profiles() const { return m_profiles; }

    // From the stored lines (key "0", "1", ... in order).
    [[nodiscard]] static CServerList fromLines(const QStringList& lines);
    [[nodiscard]] QStringList toLines() const;

private:
    QList<ServerProfile> m_profiles;
};

}  // namespace pw::serversettings
