#include "send/RunHistory.h"

#include <QDateTime>

namespace pw::send {

namespace {

db::HistoryOutcome historyOutcome(const RecipientDone& done) {
    switch (done.outcome) {
        case Outcome::Sent:
            return done.kind == RecipientDone::Kind::PossiblyDelivered
                       ? db::HistoryOutcome::PossiblyDelivered
                       : db::HistoryOutcome::Sent;
        case Outcome::NotSent:
            return db::HistoryOutcome::Failed;
        case Outcome::NotYetSent:
            break;
    }
    return db::HistoryOutcome::Unsent;
}

}  // namespace

CRunHistory::CRunHistory(QString userDataFolder, db::CampaignStart start, int total,
                         const QStringList& suppressed)
    : m_reported(size_t(std::max(0, total)), false), m_total(std::max(0, total)) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qsizetype i = 0; i < suppressed.size(); ++i) {
        db::HistoryRecipient r;
        r.position = m_total + int(i) + 1;
        r.address = suppressed.at(i);
        r.outcome = db::HistoryOutcome::Suppressed;
        r.atMs = now;
        m_queue.push_back(std::move(r));
    }
    if (userDataFolder.isEmpty()) {
        m_closing = Closing::Yes;  // nothing to write to: the queue is only dropped
        return;
    }
    m_writer =
        std::thread(&CRunHistory::writeLoop, this, std::move(userDataFolder), std::move(start));
}

CRunHistory::~CRunHistory() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing == Closing::No)
            m_end = db::CampaignEnd::Cancelled;  // the flow went before its run ended
        m_closing = Closing::Yes;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}

void CRunHistory::recipientDone(const RecipientDone& done) {
    db::HistoryRecipient r;
    r.position = done.position;
    r.address = done.address;
    r.outcome = historyOutcome(done);
    r.reply = done.reply;
    r.atMs = QDateTime::currentMSecsSinceEpoch();
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (done.position >= 1 && done.position <= m_total)
            m_reported[size_t(done.position - 1)] = true;
        m_queue.push_back(std::move(r));
        full = m_queue.size() >= size_t(kGroupRows);
    }
    if (full)
        m_wake.notify_one();
}

void CRunHistory::finish(RunStatus status, const std::function<QString(int position)>& addressOf) {
    std::vector<int> missing;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_writer.joinable())
            return;
        for (int p = 1; p <= m_total; ++p)
            if (!m_reported[size_t(p - 1)])
                missing.push_back(p);
    }
    // read outside the lock: the writer goes on meanwhile
    std::vector<db::HistoryRecipient> rest;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const int p : missing) {
        db::HistoryRecipient r;
        r.position = p;
        r.address = addressOf ? addressOf(p) : QString();
        r.outcome = db::HistoryOutcome::Unsent;
        r.atMs = now;
        rest.push_back(std::move(r));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.insert(m_queue.end(), rest.begin(), rest.end());
        m_end = status == RunStatus::Failed      ? db::CampaignEnd::Failed
                : status == RunStatus::Cancelled ? db::CampaignEnd::Cancelled
                                                 : db::CampaignEnd::Completed;
        m_closing = Closing::Yes;
    }
    m_wake.notify_one();
    m_writer.join();
}

void CRunHistory::writeLoop(QString folder, db::CampaignStart start) {
    db::CHistoryStore store(std::move(folder));
    std::unique_ptr<db::CHistoryWriter> writer = store.OpenWriter();
    int campaign = writer ? writer->BeginCampaign(start) : 0;
    QString failure = !writer ? store.LastError() : campaign == 0 ? writer->LastError() : QString();
    for (;;) {
        std::vector<db::HistoryRecipient> group;
        Closing closing = Closing::No;
        db::CampaignEnd end = db::CampaignEnd::Completed;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] {
                return m_queue.size() >= size_t(kGroupRows) || m_closing == Closing::Yes;
            });
            group.swap(m_queue);
            closing = m_closing;
            end = m_end;
        }
        if (closing == Closing::Yes) {
            if (campaign != 0 &&
                !writer->FinishCampaign(campaign, group, end, QDateTime::currentMSecsSinceEpoch()))
                failure = writer->LastError();
            break;
        }
        if (campaign != 0 && !writer->AddRecipients(campaign, group))
            failure = writer->LastError();  // this group is lost; the rest may still go
    }
    writer.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_campaign = campaign;
    m_failure = failure;
}

}  // namespace pw::send
