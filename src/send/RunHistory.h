#pragma once
// A run's entry in the campaign history. The worker tells each recipient's end to an observer
// that only queues it; a thread of the recorder's own writes the queue in groups (one
// prepared statement, one transaction a group), so that the history costs the run no time
// per mail. What the run never came to and how it ended are written when it has ended.

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "db/HistoryStore.h"
#include "send/SendRules.h"

namespace pw::send {

// One recipient's end, as the worker saw it.
struct RecipientDone {
    int position = 0;  // 1 based, in the order of the run
    QString address;   // the merged recipient field, as it went on the envelope
    Outcome outcome = Outcome::Sent;
    enum class Kind { Plain, PossiblyDelivered } kind = Kind::Plain;
    QString reply;  // the server's words of a failure
};

class IRunObserver {
public:
    virtual ~IRunObserver() = default;
    // From the worker's thread; must not wait for anything.
    virtual void recipientDone(const RecipientDone& done) = 0;
};

class CRunHistory final : public IRunObserver {
public:
    // Rows a group holds before the writer writes them.
    static constexpr int kGroupRows = 500;

    // Starts the writer, which makes the campaign's entry first; `suppressed` (addresses the
    // suppression list kept out) follow the run's `total` positions. Nothing is recorded
    // without a user data folder.
    CRunHistory(QString userDataFolder, db::CampaignStart start, int total,
                const QStringList& suppressed);
    ~CRunHistory() override;
    CRunHistory(const CRunHistory&) = delete;
    CRunHistory& operator=(const CRunHistory&) = delete;

    void recipientDone(const RecipientDone& done) override;
    // After the worker has ended: the positions it never came to (as left unsent, their
    // address from `addressOf`), how the run ended; returns once everything is written.
    void finish(RunStatus status, const std::function<QString(int position)>& addressOf);
    // The campaign's number, 0 when nothing could be recorded (after finish).
    [[nodiscard]] int campaignId() const { return m_campaign; }
    // Why the history could not be written (after finish), empty when it was.
    [[nodiscard]] const QString& failure() const { return m_failure; }

private:
    void writeLoop(QString folder, db::CampaignStart start);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<db::HistoryRecipient> m_queue;
    std::vector<bool> m_reported;  // by position - 1, on the worker's side of the queue
    enum class Closing { No, Yes } m_closing = Closing::No;
    db::CampaignEnd m_end = db::CampaignEnd::Completed;
    int m_total = 0;
    int m_campaign = 0;
    QString m_failure;
    std::thread m_writer;
};

}  // namespace pw::send
