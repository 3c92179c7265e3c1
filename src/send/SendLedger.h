#pragma once
// What a sending account sent when, kept in the user data folder (not with a project), so that
// its limits hold across runs and projects: a second run on the same account the same day
// starts with what the first used. And the one limiter a run's connections share, on the run's
// clock.

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <deque>
#include <memory>

#include "send/SendLimits.h"

namespace pw::send {

// "<user data>/sendledger/<account>.txt": one line per mail sent, "S <UTC ms>", and the day's
// limit the server showed, "D <UTC ms> <count>". Lines older than a day are dropped when the
// file is read. Appending never rewrites what another run wrote.
class CSendLedger {
public:
    CSendLedger(const QString& userDataFolder, const QString& account);
    [[nodiscard]] const QString& path() const { return m_path; }
    // The times of the mails sent in the 24 hours before `now`, oldest first, and the day's
    // limit learnt from the server (0: none).
    struct Contents {
        std::deque<qint64> sent;
        int learnedDay = 0;
    };
    [[nodiscard]] Contents read(const QDateTime& now) const;
    // False when the line could not be written (the run goes on; the limits hold for it).
    bool appendSent(const QDateTime& when);
    bool appendDayLimit(const QDateTime& when, int count);

private:
    bool append(const QByteArray& line);
    QString m_path;
};

// Paces a run by its profile and the ledger; shared by the run's connections.
class CSendLimiter {
public:
    CSendLimiter(SendingProfile profile, std::unique_ptr<CSendLedger> ledger, const QDateTime& now);
    [[nodiscard]] const SendingProfile& profile() const { return m_profile; }

    // When the next mail may go (`now` or later), counting `pending` mails that go before it.
    [[nodiscard]] QDateTime nextSlot(const QDateTime& now, int pending = 0);
    // A mail went (or may have gone) at `when`.
    void sent(const QDateTime& when);
    // After a reply that says the account is over a limit: when to try again. A day's limit
    // is learnt as the count of the last 24 hours, so that later runs stop short of it.
    [[nodiscard]] QDateTime afterLimitReply(LimitReply kind, const QDateTime& now);
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

    QMutex m_mutex;
    SendingProfile m_profile;
    std::unique_ptr<CSendLedger> m_ledger;
    std::deque<qint64> m_sent;  // UTC ms, oldest first, the last 24 hours
    int m_learnedDay = 0;
    int m_rateRefusals = 0;  // in a row, for the back-off
    // The slot last given for a mail to go (UTC ms, 0: none yet): the even spacing counts
    // from the start of a mail, not from its end, or each mail's own time slows the rate.
    qint64 m_lastSlot = 0;
};

}  // namespace pw::send
