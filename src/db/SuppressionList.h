#pragma once
// The suppression list: addresses that no run of any project of this user sends to (people
// who asked to be removed, addresses that bounce for good). A Firebird database of its own in
// the user data folder, made when the first address is added. Every operation attaches,
// works and detaches again, so that a window and a command-line run of the same user can
// both use it; a run reads it whole before its first mail.

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "db/ServerLogin.h"

namespace pw::db {

class TDbData;

// "suppression.pzb" in the user data folder.
inline constexpr const char* kSuppressionFileName = "suppression.pzb";

// The form addresses are compared in: blanks and angle brackets around it removed, the
// domain in lower case, the local part as written ("Ann.Lee@Example.COM" ->
// "Ann.Lee@example.com"). Empty for a text that is no address (no "@", an empty part, a
// blank or a second "<" inside).
[[nodiscard]] QString NormalizeAddress(const QString& text);
// What the list compares: the whole address without regard to case, as an unsubscribe
// request written in capitals ("U005@EXAMPLE.TEST") means the same mailbox.
[[nodiscard]] QString SuppressionKey(const QString& text);

struct SuppressedEntry {
    QString address;  // normalised
    QString reason;
    QString added;  // local time "yyyy-MM-dd HH:mm", as stored
};

struct SuppressionChange {
    int added = 0;
    int already = 0;  // on the list before (the reason stays the first one)
    QStringList invalid;
    bool failed = false;  // nothing was changed (the database could not be written)
};

enum class ListRead { Read, Missing, Failed };

class CSuppressionList {
public:
    // folder ends in '/'.
    explicit CSuppressionList(QString userDataFolder);
    // The list that goes with the store's recipient list: the SUPPRESSED table of its server
    // when it is on one and shared there (SharedLists.h), the user's file otherwise.
    explicit CSuppressionList(const TDbData& store);

    // The file, or the server's database ("host/port:path").
    [[nodiscard]] QString FilePath() const;
    // Every entry, by address. A missing file is an empty list (ListRead::Missing).
    [[nodiscard]] ListRead Read(std::vector<SuppressedEntry>& entries) const;
    // normalised address -> reason, for a run: Failed means the run must not start.
    // keyed by SuppressionKey
    [[nodiscard]] ListRead ReadReasons(QHash<QString, QString>& reasons) const;
    // Adds in one transaction (the file is created first when missing).
    [[nodiscard]] SuppressionChange Add(const QStringList& addresses, const QString& reason);
    // Removes the (normalised) addresses; false when the database could not be written.
    [[nodiscard]] bool Remove(const QStringList& addresses);
    // The engine's text of the last failure, for the message.
    [[nodiscard]] const QString& LastError() const { return m_lastError; }

private:
    QString m_folder;
    std::optional<ServerLogin> m_server;
    mutable QString m_lastError;
};

}  // namespace pw::db
