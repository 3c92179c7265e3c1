#pragma once
// The suppression list and the sending ledger beside a recipient list on a Firebird server:
// when the user chooses so, they live in tables of that server's database (made on first use)
// instead of the user's own files, so that everybody who works on the list respects the same
// unsubscribes and counts the same account's mails.

#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "db/ServerLogin.h"

namespace pw::db {

class TDbData;

enum class ShareOnServer { Off, On };
// The user's choice, for every list this process opens on a server.
void SetShareOnServer(ShareOnServer share);
[[nodiscard]] ShareOnServer ShareOnServerChoice();
// The server of the store's list when it is on one and the choice is On.
[[nodiscard]] std::optional<ServerLogin> SharedListsServer(const TDbData& store);

// One line of an account's ledger: 'S' a mail sent at atMs, 'D' the day's limit the server
// showed (count).
struct LedgerRow {
    int id = 0;
    char kind = 'S';
    qint64 atMs = 0;
    int count = 0;
};

// An account's ledger in the server's table. Holds one attachment, made again when the
// server dropped it; every operation is a short transaction of its own.
class CServerLedger {
public:
    CServerLedger(ServerLogin login, QString account);
    ~CServerLedger();
    // The rows after `afterId` in the order written; false when the server could not be read.
    [[nodiscard]] bool RowsAfter(int afterId, std::vector<LedgerRow>& rows) const;
    [[nodiscard]] int LastId() const;
    bool Append(char kind, qint64 atMs, int count);

private:
    struct Connection;
    ServerLogin m_login;
    QString m_account;
    std::unique_ptr<Connection> m_connection;
};

}  // namespace pw::db
