#pragma once
// What a sending account sent when, kept in the user data folder (not with a project), so that
// its limits hold across runs and projects: a second run on the same account the same day
// starts with what the first used. And the one limiter a run's connections share, on the run's
// clock.

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "send/SendLimits.h"

namespace pw::db {
class CServerLedger;
struct ServerLogin;
}  // namespace pw::db

namespace pw::send {

// "<user data>/sendledger/<account>.txt": one line per mail sent, "S <UTC ms>", and the day's
// limit the server showed, "D <UTC ms> <count>". Lines older than a day are dropped when the
// file is read. Appending never rewrites what another run wrote.
// On a list shared on a Firebird server, the same lines are rows of the server's table,
// positions being row numbers.
class CSendLedger {
public:
    CSendLedger(const QString& userDataFolder, const QString& account);
    CSendLedger(const db::ServerLogin& server, const QString& account);
    ~CSendLedger();
    [[nodiscard]] const QString& path() const { return m_path; }
    // The times of the mails sent in the 24 hours before `now`, oldest first, and the day's
    // limit learnt from the server (0: none).
    struct Contents {
        std::deque<qint64> sent;
        int learnedDay = 0;
    };
    // From byte `from` on; `end`, when given, gets where the last whole line ended (a line
    // another run is writing is read next time).
    [[nodiscard]] Contents read(const QDateTime& now, qint64 from = 0, qint64* end = nullptr) const;
    // The file's size now (0 when there is none).
    [[nodiscard]] qint64 size() const;
    // How much size() grows by the sent line of `ms`: its bytes in a file, one row on a server.
    [[nodiscard]] qint64 sentSize(qint64 ms) const;
    // False when the line could not be written (the run goes on; the limits hold for it).
    bool appendSent(const QDateTime& when);
    bool appendDayLimit(const QDateTime& when, int count);

private:
    bool append(const QByteArray& line);
    QString m_path;
    std::unique_ptr<db::CServerLedger> m_server;
};

// Paces a run by its profile and the ledger; shared by the run's connections.
class CSendLimiter {
public:
    CSendLimiter(SendingProfile profile, std::unique_ptr<CSendLedger> ledger, const QDateTime& now);
    [[nodiscard]] const SendingProfile& profile() const { return m_profile; }

    // When the next mail may go (`now` or later), counting `pending` mails that go before it.
    // A connection of the run (`lane` 0, 1, ...) holds the slot it was given until its mail
    // went or it asks again, so that the others count it and no window is overrun.
    [[nodiscard]] QDateTime nextSlot(const QDateTime& now, int pending = 0, int lane = -1);
    // A mail went (or may have gone) at `when`.
    void sent(const QDateTime& when, int lane = -1);
    // The connection `lane` sends no more: the slot it held is free.
    void release(int lane);
    // After a reply that says the account is over a limit: when to try again. A day's limit
    // is learnt as the count of the last 24 hours, so that later runs stop short of it.
    // The run's other connections (`lane`) that meet a limit while it holds join its wait.
    [[nodiscard]] QDateTime afterLimitReply(LimitReply kind, const QDateTime& now, int lane = -1);
    // Sent in the 24 hours before `now`.
    [[nodiscard]] int usedInDay(const QDateTime& now);
    // The day's limit in force: the profile's, or less when the server showed less.
    [[nodiscard]] int dayLimit() const;

    static constexpr qint64 kDayMs = qint64(24) * 3600 * 1000;
    // Back-off after a rate refusal: one minute, doubling, at most an hour.
    static constexpr qint64 kFirstBackoffMs = 60 * 1000;
    static constexpr qint64 kMaxBackoffMs = 3600 * 1000;

private:
    void dropOld(qint64 nowMs);
    // What other runs on the account wrote to the ledger since it was last read.
    void readOthers(const QDateTime& now);
    [[nodiscard]] QDateTime holdUntil(LimitReply kind, const QDateTime& now);

    QMutex m_mutex;
    SendingProfile m_profile;
    std::unique_ptr<CSendLedger> m_ledger;
    std::deque<qint64> m_sent;  // UTC ms, oldest first, the last 24 hours
    int m_learnedDay = 0;
    int m_rateRefusals = 0;  // in a row, for the back-off
    // Until when a limit reply holds every connection of the run (UTC ms, 0: none).
    qint64 m_heldUntil = 0;
    int m_heldBy = -1;                  // the connection whose limit reply holds them
    std::map<int, qint64> m_reserved;   // per connection, the slot given and not yet used
    qint64 m_ledgerRead = 0;            // the ledger's bytes read so far
    std::multiset<qint64> m_ownUnseen;  // written by this run, not yet read back
    qint64 m_ownUnseenBytes = 0;        // the size of those lines in the ledger
    // The slot last given for a mail to go (UTC ms, 0: none yet): the even spacing counts
    // from the start of a mail, not from its end, or each mail's own time slows the rate.
    qint64 m_lastSlot = 0;
};

}  // namespace pw::send
