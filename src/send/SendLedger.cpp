#include "send/SendLedger.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <limits>
#include <vector>

#include "db/SharedLists.h"

namespace pw::send {

namespace {

// An account key as a file name: letters, digits and ".@_-" stay, the rest becomes "_".
QString fileNameFor(const QString& account) {
    QString name;
    for (const QChar c : account)
        name += (c.unicode() < 0x80 && (c.isLetterOrNumber() || QStringLiteral(".@_-").contains(c)))
                    ? c
                    : QLatin1Char('_');
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));
    return name.left(120) + QStringLiteral(".txt");
}

QByteArray sentLine(qint64 ms) {
    return "S " + QByteArray::number(ms) + '\n';
}

// The k-th largest (k >= 1) of the sorted `sent` and the few sorted `extra` together, without
// merging them: of the ways to take k from the tops of both, the one whose smaller last taken
// is largest.
qint64 kthLargest(const std::deque<qint64>& sent, const std::vector<qint64>& extra, qint64 k) {
    const qint64 n = qint64(sent.size());
    const qint64 e = qint64(extra.size());
    qint64 best = std::numeric_limits<qint64>::min();
    for (qint64 j = std::max<qint64>(0, k - n); j <= std::min(k, e); ++j) {
        qint64 v = std::numeric_limits<qint64>::max();
        if (j > 0)
            v = std::min(v, extra[size_t(e - j)]);
        if (k - j > 0)
            v = std::min(v, sent[size_t(n - (k - j))]);
        best = std::max(best, v);
    }
    return best;
}

}  // namespace

CSendLedger::CSendLedger(const QString& userDataFolder, const QString& account) {
    QString folder = userDataFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_path = folder + QStringLiteral("sendledger/") + fileNameFor(account);
}

CSendLedger::CSendLedger(const db::ServerLogin& server, const QString& account)
    : m_path(server.connection), m_server(std::make_unique<db::CServerLedger>(server, account)) {}

CSendLedger::~CSendLedger() = default;

qint64 CSendLedger::size() const {
    if (m_server)
        return m_server->LastId();
    return QFileInfo(m_path).size();
}

CSendLedger::Contents CSendLedger::read(const QDateTime& now, qint64 start, qint64* end) const {
    Contents c;
    if (end)
        *end = start;
    const qint64 from = now.toMSecsSinceEpoch() - CSendLimiter::kDayMs;
    if (m_server) {
        std::vector<db::LedgerRow> rows;
        if (!m_server->RowsAfter(int(start), rows))
            return c;
        for (const db::LedgerRow& r : rows) {
            if (r.kind == 'S' && r.atMs > from)
                c.sent.push_back(r.atMs);
            else if (r.kind == 'D' && r.atMs > from - 6 * CSendLimiter::kDayMs)
                c.learnedDay = std::max(0, r.count);
        }
        if (end && !rows.empty())
            *end = rows.back().id;
        std::sort(c.sent.begin(), c.sent.end());
        return c;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || (start > 0 && !file.seek(start)))
        return c;
    // a ledger is small (a day of mails); a damaged line is skipped, not trusted
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(256);
        if (!line.endsWith('\n') && file.atEnd())
            break;  // being written: read whole next time
        if (end)
            *end = file.pos();
        const QList<QByteArray> f = line.trimmed().split(' ');
        bool ok = false;
        const qint64 at = f.size() >= 2 ? f[1].toLongLong(&ok) : 0;
        if (!ok)
            continue;
        if (f[0] == "S" && f.size() == 2 && at > from)
            c.sent.push_back(at);
        else if (f[0] == "D" && f.size() == 3 && at > from - 6 * CSendLimiter::kDayMs)
            c.learnedDay = std::max(0, f[2].toInt());
    }
    std::sort(c.sent.begin(), c.sent.end());
    return c;
}

bool CSendLedger::append(const QByteArray& line) {
    // one write with O_APPEND: two runs on the account interleave whole lines
    const QByteArray path = QFile::encodeName(m_path);
    const auto openLedger = [&path] {
        return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    };
    // the folder is made when missing only: a run appends a line for every mail
    int fd = openLedger();
    if (fd < 0 && errno == ENOENT && QDir().mkpath(QFileInfo(m_path).absolutePath()))
        fd = openLedger();
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    return ::close(fd) == 0 && ok;
}

qint64 CSendLedger::sentSize(qint64 ms) const {
    return m_server ? 1 : sentLine(ms).size();
}

bool CSendLedger::appendSent(const QDateTime& when) {
    if (m_server)
        return m_server->Append('S', when.toMSecsSinceEpoch(), 0);
    return append(sentLine(when.toMSecsSinceEpoch()));
}

bool CSendLedger::appendDayLimit(const QDateTime& when, int count) {
    if (m_server)
        return m_server->Append('D', when.toMSecsSinceEpoch(), count);
    return append("D " + QByteArray::number(when.toMSecsSinceEpoch()) + ' ' +
                  QByteArray::number(count) + '\n');
}

CSendLimiter::CSendLimiter(SendingProfile profile, std::unique_ptr<CSendLedger> ledger,
                           const QDateTime& now)
    : m_profile(profile), m_ledger(std::move(ledger)) {
    if (m_ledger) {
        CSendLedger::Contents c = m_ledger->read(now, 0, &m_ledgerRead);
        m_sent = std::move(c.sent);
        m_learnedDay = c.learnedDay;
    }
}

void CSendLimiter::dropOld(qint64 nowMs) {
    while (!m_sent.empty() && m_sent.front() <= nowMs - kDayMs)
        m_sent.pop_front();
}

int CSendLimiter::dayLimit() const {
    if (m_learnedDay > 0 && (m_profile.perDay <= 0 || m_learnedDay < m_profile.perDay))
        return m_learnedDay;
    return m_profile.perDay;
}

void CSendLimiter::readOthers(const QDateTime& now) {
    if (!m_ledger)
        return;
    const qint64 size = m_ledger->size();
    if (size <= m_ledgerRead)
        return;
    if (size == m_ledgerRead + m_ownUnseenBytes) {
        // grown by exactly this run's own lines, which are counted already: nothing to read
        m_ledgerRead = size;
        m_ownUnseen.clear();
        m_ownUnseenBytes = 0;
        return;
    }
    const CSendLedger::Contents c = m_ledger->read(now, m_ledgerRead, &m_ledgerRead);
    for (const qint64 at : c.sent) {
        // this run's own lines come back too: they are counted already
        if (const auto own = m_ownUnseen.find(at); own != m_ownUnseen.end())
            m_ownUnseen.erase(own);
        else
            m_sent.insert(std::upper_bound(m_sent.begin(), m_sent.end(), at), at);
    }
    if (c.learnedDay > 0)
        m_learnedDay = c.learnedDay;
    m_ownUnseenBytes = 0;
    for (const qint64 at : m_ownUnseen)
        m_ownUnseenBytes += m_ledger->sentSize(at);
}

QDateTime CSendLimiter::nextSlot(const QDateTime& now, int pending, int lane) {
    QMutexLocker lock(&m_mutex);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    readOthers(now);
    dropOld(nowMs);
    // the slots other connections hold count as sent; the pending mails go now, before the
    // one asked about. They are few: kept beside the day's mails rather than merged into a
    // copy of them, which cost a day's worth of copying for every mail.
    std::vector<qint64> extra;
    for (const auto& [holder, at] : m_reserved)
        if (holder != lane)
            extra.push_back(at);
    std::sort(extra.begin(), extra.end());
    const auto last = [&] {
        if (extra.empty())
            return m_sent.back();
        return m_sent.empty() ? extra.back() : std::max(m_sent.back(), extra.back());
    };
    for (int i = 0; i < pending; ++i)
        extra.push_back(std::max(nowMs, m_sent.empty() && extra.empty() ? nowMs : last()));
    const bool none = m_sent.empty() && extra.empty();
    qint64 slot = std::max(nowMs, m_heldUntil);
    // the per-minute and per-hour figures spread the mails evenly rather than in bursts
    qint64 spacing = 0;
    if (m_profile.perMinute > 0)
        spacing = std::max<qint64>(spacing, 60000 / m_profile.perMinute);
    if (m_profile.perHour > 0)
        spacing = std::max<qint64>(spacing, 3600000 / m_profile.perHour);
    if (spacing > 0 && !none)
        slot = std::max(slot, (pending == 0 && m_lastSlot > 0 ? m_lastSlot : last()) + spacing);
    // and none of the windows may ever hold more than its figure
    const auto window = [&](qint64 length, int limit) {
        if (limit <= 0)
            return;
        const qint64 from = slot - length + 1;
        const qint64 inWindow =
            std::distance(std::lower_bound(m_sent.begin(), m_sent.end(), from), m_sent.end()) +
            std::distance(std::lower_bound(extra.begin(), extra.end(), from), extra.end());
        if (inWindow >= limit)
            slot = std::max(slot, kthLargest(m_sent, extra, limit) + length);
    };
    window(60000, m_profile.perMinute);
    window(3600000, m_profile.perHour);
    window(kDayMs, dayLimit());
    if (pending == 0)
        m_lastSlot = slot;
    if (pending == 0 && lane >= 0)
        m_reserved[lane] = slot;
    return QDateTime::fromMSecsSinceEpoch(slot, now.timeZone());
}

void CSendLimiter::sent(const QDateTime& when, int lane) {
    QMutexLocker lock(&m_mutex);
    const qint64 ms = when.toMSecsSinceEpoch();
    m_reserved.erase(lane);
    m_sent.insert(std::upper_bound(m_sent.begin(), m_sent.end(), ms), ms);
    m_rateRefusals = 0;
    if (m_ledger && m_ledger->appendSent(when)) {
        m_ownUnseen.insert(ms);
        m_ownUnseenBytes += m_ledger->sentSize(ms);
    }
}

void CSendLimiter::release(int lane) {
    QMutexLocker lock(&m_mutex);
    m_reserved.erase(lane);
}

int CSendLimiter::usedInDay(const QDateTime& now) {
    QMutexLocker lock(&m_mutex);
    readOthers(now);
    dropOld(now.toMSecsSinceEpoch());
    return int(m_sent.size());
}

QDateTime CSendLimiter::afterLimitReply(LimitReply kind, const QDateTime& now, int lane) {
    QMutexLocker lock(&m_mutex);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    // the other connections' mails met the same limit at the same time: one wait for all
    if (nowMs < m_heldUntil && lane != m_heldBy)
        return QDateTime::fromMSecsSinceEpoch(m_heldUntil, now.timeZone());
    m_heldBy = lane;
    readOthers(now);
    dropOld(nowMs);
    m_heldUntil = holdUntil(kind, now).toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(m_heldUntil, now.timeZone());
}

QDateTime CSendLimiter::holdUntil(LimitReply kind, const QDateTime& now) {
    if (kind == LimitReply::Day && !m_sent.empty()) {
        // what went in the last 24 hours is what the account may send in 24 hours
        m_learnedDay = int(m_sent.size());
        if (m_ledger)
            (void)m_ledger->appendDayLimit(now, m_learnedDay);
        m_rateRefusals = 0;
        return QDateTime::fromMSecsSinceEpoch(m_sent.front() + kDayMs + 1000, now.timeZone());
    }
    if (kind == LimitReply::Day)
        return now.addMSecs(kDayMs);  // nothing known of this account's day: a whole one
    const qint64 backoff = std::min(kMaxBackoffMs, kFirstBackoffMs << std::min(m_rateRefusals, 10));
    ++m_rateRefusals;
    return now.addMSecs(backoff);
}

}  // namespace pw::send
