#include "db/HistoryStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <array>

#include "db/LocalFileDatabase.h"
#include "db/SuppressionList.h"

namespace pw::db {

namespace {

constexpr int kReplyBytes = 1000;
constexpr int kShortBytes = 300;

const std::initializer_list<const char*> kCreate = {
    "CREATE TABLE CAMPAIGNS ( ID INTEGER NOT NULL PRIMARY KEY, RUN_ID VARCHAR(40), "
    "KIND SMALLINT, PROJECT VARCHAR(1000), SUBJECT VARCHAR(1000), SENDER VARCHAR(1000), "
    "SERVER VARCHAR(300), ACCOUNT VARCHAR(400), CHARSET VARCHAR(40), STARTED BIGINT, "
    "ENDED BIGINT, STATUS SMALLINT, RECIPIENTS INTEGER, SENT INTEGER, FAILED INTEGER, "
    "SUPPRESSED INTEGER, POSSIBLY INTEGER, UNSENT INTEGER, BOUNCED INTEGER, "
    "COMPLAINTS INTEGER, UNSUBSCRIBED INTEGER );",
    "CREATE INDEX CAMPAIGNS_RUN ON CAMPAIGNS (RUN_ID);",
    "CREATE GENERATOR GEN_CAMPAIGNS;",
    "CREATE TABLE SENT_TO ( CAMPAIGN INTEGER NOT NULL, POS INTEGER NOT NULL, "
    "ADDRESS VARCHAR(320), ADDRESS_KEY VARCHAR(320), OUTCOME SMALLINT, REPLY VARCHAR(1000), "
    "AT_MS BIGINT, EVENT SMALLINT, EVENT_AT BIGINT, EVENT_REASON VARCHAR(300), "
    "PRIMARY KEY (CAMPAIGN, POS) );",
    "CREATE INDEX SENT_TO_ADDRESS ON SENT_TO (ADDRESS_KEY);",
};

const char* const kCampaignColumns =
    "ID, RUN_ID, KIND, PROJECT, SUBJECT, SENDER, SERVER, ACCOUNT, CHARSET, STARTED, ENDED, "
    "STATUS, RECIPIENTS, SENT, FAILED, SUPPRESSED, POSSIBLY, UNSENT, BOUNCED, COMPLAINTS, "
    "UNSUBSCRIBED";
constexpr int kCampaignColumnCount = 21;

QString text(IBPP::Statement& st, int column) {
    std::string s;
    if (st->Get(column, s))
        return {};
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

qint64 number(IBPP::Statement& st, int column) {
    std::string s;
    if (st->Get(column, s))
        return 0;
    return QByteArray::fromStdString(s).toLongLong();
}

int integer(IBPP::Statement& st, int column) {
    return int(number(st, column));
}

QString addressKey(const QString& address) {
    const QString key = SuppressionKey(address);
    return key.isEmpty() ? address.trimmed().toLower() : key;
}

CampaignRow readCampaign(IBPP::Statement& st) {
    CampaignRow c;
    c.id = integer(st, 1);
    c.runId = text(st, 2);
    c.kind = CampaignKind(integer(st, 3));
    c.project = text(st, 4);
    c.subject = text(st, 5);
    c.sender = text(st, 6);
    c.server = text(st, 7);
    c.account = text(st, 8);
    c.charset = text(st, 9);
    c.startedMs = number(st, 10);
    c.endedMs = number(st, 11);
    c.end = CampaignEnd(integer(st, 12));
    int* figures[] = {&c.recipients,        &c.sent,   &c.failed,  &c.suppressed,
                      &c.possiblyDelivered, &c.unsent, &c.bounced, &c.complaints,
                      &c.unsubscribed};
    for (int i = 0; i < 9; ++i)
        *figures[i] = integer(st, 13 + i);
    static_assert(13 + 9 - 1 == kCampaignColumnCount);
    return c;
}

HistoryRecipient readRecipient(IBPP::Statement& st, int first) {
    HistoryRecipient r;
    r.position = integer(st, first);
    r.address = text(st, first + 1);
    r.outcome = HistoryOutcome(integer(st, first + 2));
    r.reply = text(st, first + 3);
    r.atMs = number(st, first + 4);
    r.event = HistoryEvent(integer(st, first + 5));
    r.eventAtMs = number(st, first + 6);
    r.eventReason = text(st, first + 7);
    return r;
}
const char* const kRecipientColumns =
    "POS, ADDRESS, OUTCOME, REPLY, AT_MS, EVENT, EVENT_AT, EVENT_REASON";

// How many of the campaign's rows hold each value 1..N of `column`.
template <int N>
std::array<int, N + 1> countBy(IBPP::Statement& st, const char* column, int campaign) {
    st->Prepare(std::string("select ") + column + ", count(*) from SENT_TO where CAMPAIGN = ? " +
                "group by " + column);
    st->Set(1, int32_t(campaign));
    st->Execute();
    std::array<int, N + 1> counts{};
    while (st->Fetch()) {
        const int value = integer(st, 1);
        if (value >= 1 && value <= N)
            counts[size_t(value)] = integer(st, 2);
    }
    return counts;
}

// The campaign's figures from its rows.
void recount(IBPP::Database& db, IBPP::Transaction& tr, int campaign) {
    IBPP::Statement st = IBPP::StatementFactory(db, tr);
    const auto byOutcome = countBy<5>(st, "OUTCOME", campaign);
    const auto byEvent = countBy<3>(st, "EVENT", campaign);
    const auto o = [&](HistoryOutcome x) { return byOutcome[int(x)]; };
    st->Prepare(
        "update CAMPAIGNS set RECIPIENTS = ?, SENT = ?, FAILED = ?, SUPPRESSED = ?, POSSIBLY = ?, "
        "UNSENT = ?, BOUNCED = ?, COMPLAINTS = ?, UNSUBSCRIBED = ? where ID = ?");
    int total = 0;
    for (int i = 1; i <= 5; ++i)
        total += byOutcome[i];
    const int values[] = {total,
                          o(HistoryOutcome::Sent),
                          o(HistoryOutcome::Failed),
                          o(HistoryOutcome::Suppressed),
                          o(HistoryOutcome::PossiblyDelivered),
                          o(HistoryOutcome::Unsent),
                          byEvent[int(HistoryEvent::Bounced)],
                          byEvent[int(HistoryEvent::Complaint)],
                          byEvent[int(HistoryEvent::Unsubscribed)],
                          campaign};
    for (int i = 0; i < 10; ++i)
        st->Set(i + 1, int32_t(values[i]));
    st->Execute();
}

// Lets go of the file when the work is done, or given up: the embedded engine holds a file
// for its process while attached, and the window or another run may want it meanwhile.
struct Detach {
    IBPP::Database& db;
    ~Detach() {
        try {
            db->Disconnect();
        } catch (const IBPP::Exception&) {
        }
    }
};

// Attaches for each write: a run's groups are minutes apart, and between them the history is
// free for the window and for another program's run.
class Writer final : public CHistoryWriter {
public:
    explicit Writer(QString path) : m_path(std::move(path)) {}

    int BeginCampaign(const CampaignStart& s) override {
        try {
            IBPP::Database db = AttachLocalFile(m_path, FileWrites::Cached);
            const Detach detach{db};
            IBPP::Transaction tr = IBPP::TransactionFactory(db);
            tr->Start();
            IBPP::Statement st = IBPP::StatementFactory(db, tr);
            st->Execute("select gen_id(GEN_CAMPAIGNS, 1) from RDB$DATABASE");
            int id = 0;
            if (st->Fetch())
                id = integer(st, 1);
            st->Prepare(
                "insert into CAMPAIGNS (ID, RUN_ID, KIND, PROJECT, SUBJECT, SENDER, SERVER, "
                "ACCOUNT, CHARSET, STARTED, STATUS, RECIPIENTS, SENT, FAILED, SUPPRESSED, "
                "POSSIBLY, UNSENT, BOUNCED, COMPLAINTS, UNSUBSCRIBED) values (?, ?, ?, ?, ?, ?, "
                "?, ?, ?, ?, ?, 0, 0, 0, 0, 0, 0, 0, 0, 0)");
            st->Set(1, int32_t(id));
            st->Set(2, Utf8Prefix(s.runId, 40));
            st->Set(3, int32_t(s.kind));
            st->Set(4, Utf8Prefix(s.project, 1000));
            st->Set(5, Utf8Prefix(s.subject, 1000));
            st->Set(6, Utf8Prefix(s.sender, 1000));
            st->Set(7, Utf8Prefix(s.server, 300));
            st->Set(8, Utf8Prefix(s.account, 400));
            st->Set(9, Utf8Prefix(s.charset, 40));
            st->Set(10, std::to_string(s.startedMs));
            st->Set(11, int32_t(CampaignEnd::Running));
            st->Execute();
            st.reset();
            tr->Commit();
            return id;
        } catch (const IBPP::Exception& e) {
            m_error = QString::fromUtf8(e.what());
            return 0;
        }
    }

    bool AddRecipients(int campaign, const std::vector<HistoryRecipient>& rows) override {
        if (rows.empty())
            return true;
        return write(
            [&](IBPP::Database& db, IBPP::Transaction& tr) { addRows(db, tr, campaign, rows); });
    }

    bool EndCampaign(int campaign, CampaignEnd end, qint64 endedMs) override {
        return write([&](IBPP::Database& db, IBPP::Transaction& tr) {
            writeEnd(db, tr, campaign, end, endedMs);
        });
    }

    bool FinishCampaign(int campaign, const std::vector<HistoryRecipient>& rows, CampaignEnd end,
                        qint64 endedMs) override {
        if (write([&](IBPP::Database& db, IBPP::Transaction& tr) {
                addRows(db, tr, campaign, rows);
                writeEnd(db, tr, campaign, end, endedMs);
            }))
            return true;
        // the rows are lost, the end need not be
        const QString why = m_error;
        (void)EndCampaign(campaign, end, endedMs);
        m_error = why;
        return false;
    }

    QString LastError() const override { return m_error; }

private:
    // One attachment and one transaction for `work`; false (and why) when it failed.
    template <typename Work>
    bool write(Work work) {
        try {
            IBPP::Database db = AttachLocalFile(m_path, FileWrites::Cached);
            const Detach detach{db};
            IBPP::Transaction tr = IBPP::TransactionFactory(db);
            tr->Start();
            work(db, tr);
            tr->Commit();
            return true;
        } catch (const IBPP::Exception& e) {
            m_error = QString::fromUtf8(e.what());
            return false;
        }
    }

    // The rows through one prepared statement.
    static void addRows(IBPP::Database& db, IBPP::Transaction& tr, int campaign,
                        const std::vector<HistoryRecipient>& rows) {
        if (rows.empty())
            return;
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare(
            "insert into SENT_TO (CAMPAIGN, POS, ADDRESS, ADDRESS_KEY, OUTCOME, REPLY, AT_MS, "
            "EVENT) values (?, ?, ?, ?, ?, ?, ?, 0)");
        for (const HistoryRecipient& r : rows) {
            st->Set(1, int32_t(campaign));
            st->Set(2, int32_t(r.position));
            st->Set(3, Utf8Prefix(r.address, 320));
            st->Set(4, Utf8Prefix(addressKey(r.address), 320));
            st->Set(5, int32_t(r.outcome));
            if (r.reply.isEmpty())
                st->SetNull(6);
            else
                st->Set(6, Utf8Prefix(r.reply.simplified(), kReplyBytes));
            st->Set(7, std::to_string(r.atMs));
            st->Execute();
        }
    }

    static void writeEnd(IBPP::Database& db, IBPP::Transaction& tr, int campaign, CampaignEnd end,
                         qint64 endedMs) {
        recount(db, tr, campaign);
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare("update CAMPAIGNS set ENDED = ?, STATUS = ? where ID = ?");
        st->Set(1, std::to_string(endedMs));
        st->Set(2, int32_t(end));
        st->Set(3, int32_t(campaign));
        st->Execute();
    }

    QString m_path;
    QString m_error;
};

// Runs `read` on a read-only snapshot of the file.
template <typename Read>
HistoryRead readOnly(const QString& path, QString& error, Read read) {
    error.clear();
    if (!QFileInfo::exists(path))
        return HistoryRead::Missing;
    try {
        IBPP::Database db = AttachLocalFile(path, FileWrites::Cached);
        IBPP::Transaction tr =
            IBPP::TransactionFactory(db, IBPP::AccessMode::Read, IBPP::Isolation::Concurrency);
        tr->Start();
        {
            IBPP::Statement st = IBPP::StatementFactory(db, tr);
            read(st);
        }
        tr->Commit();
        db->Disconnect();
        return HistoryRead::Read;
    } catch (const IBPP::Exception& e) {
        error = QString::fromUtf8(e.what());
        return HistoryRead::Failed;
    }
}

}  // namespace

CHistoryStore::CHistoryStore(QString userDataFolder) : m_folder(std::move(userDataFolder)) {}

QString CHistoryStore::FilePath() const {
    return m_folder + QString::fromLatin1(kHistoryFileName);
}

std::unique_ptr<CHistoryWriter> CHistoryStore::OpenWriter() {
    m_lastError.clear();
    try {
        if (!QFileInfo::exists(FilePath()))
            CreateLocalFile(FilePath(), kCreate);
        return std::make_unique<Writer>(FilePath());
    } catch (const IBPP::Exception& e) {
        m_lastError = QString::fromUtf8(e.what());
        return nullptr;
    }
}

HistoryRead CHistoryStore::ReadCampaigns(std::vector<CampaignRow>& rows, int beforeId,
                                         int limit) const {
    rows.clear();
    const std::string sql = "select first " + std::to_string(std::max(1, limit)) + " " +
                            kCampaignColumns + " from CAMPAIGNS" +
                            (beforeId > 0 ? " where ID < ?" : "") + " order by ID desc";
    const HistoryRead r = readOnly(FilePath(), m_lastError, [&](IBPP::Statement& st) {
        st->Prepare(sql);
        if (beforeId > 0)
            st->Set(1, int32_t(beforeId));
        st->Execute();
        while (st->Fetch())
            rows.push_back(readCampaign(st));
    });
    if (r == HistoryRead::Failed)
        rows.clear();
    return r;
}

HistoryRead CHistoryStore::ReadCampaign(int id, CampaignRow& row) const {
    bool found = false;
    const HistoryRead r = readOnly(FilePath(), m_lastError, [&](IBPP::Statement& st) {
        st->Prepare(std::string("select ") + kCampaignColumns + " from CAMPAIGNS where ID = ?");
        st->Set(1, int32_t(id));
        st->Execute();
        if (st->Fetch()) {
            row = readCampaign(st);
            found = true;
        }
    });
    return r == HistoryRead::Read && !found ? HistoryRead::Missing : r;
}

HistoryRead CHistoryStore::ReadRecipients(int campaign, const RecipientFilter& filter,
                                          std::vector<HistoryRecipient>& rows, int afterPosition,
                                          int limit) const {
    rows.clear();
    std::string sql = "select first " + std::to_string(std::max(1, limit)) + " " +
                      kRecipientColumns + " from SENT_TO where CAMPAIGN = ? and POS > ?";
    if (filter.outcome != 0)
        sql += " and OUTCOME = ?";
    const QString needle = filter.text.trimmed();
    if (!needle.isEmpty())
        sql += " and (ADDRESS_KEY containing ? or REPLY containing ?)";
    sql += " order by CAMPAIGN, POS";
    const HistoryRead r = readOnly(FilePath(), m_lastError, [&](IBPP::Statement& st) {
        st->Prepare(sql);
        int p = 1;
        st->Set(p++, int32_t(campaign));
        st->Set(p++, int32_t(afterPosition));
        if (filter.outcome != 0)
            st->Set(p++, int32_t(filter.outcome));
        if (!needle.isEmpty()) {
            st->Set(p++, needle.toLower().toStdString());
            st->Set(p++, needle.toStdString());
        }
        st->Execute();
        while (st->Fetch())
            rows.push_back(readRecipient(st, 1));
    });
    if (r == HistoryRead::Failed)
        rows.clear();
    return r;
}

HistoryRead CHistoryStore::ReadAddress(const QString& address,
                                       std::vector<AddressCampaign>& rows) const {
    rows.clear();
    const HistoryRead r = readOnly(FilePath(), m_lastError, [&](IBPP::Statement& st) {
        QString columns = QString::fromLatin1(kCampaignColumns);
        columns.replace(QLatin1String(", "), QLatin1String(", c."));
        st->Prepare(("select c." + columns + ", s.POS, s.ADDRESS, s.OUTCOME, s.REPLY, s.AT_MS, " +
                     "s.EVENT, s.EVENT_AT, s.EVENT_REASON from SENT_TO s join CAMPAIGNS c on " +
                     "c.ID = s.CAMPAIGN where s.ADDRESS_KEY = ? order by s.CAMPAIGN desc, s.POS")
                        .toStdString());
        st->Set(1, Utf8Prefix(addressKey(address), 320));
        st->Execute();
        while (st->Fetch())
            rows.push_back({readCampaign(st), readRecipient(st, kCampaignColumnCount + 1)});
    });
    if (r == HistoryRead::Failed)
        rows.clear();
    return r;
}

int CHistoryStore::AddNotes(const std::vector<HistoryNote>& notes) {
    m_lastError.clear();
    if (notes.empty() || !QFileInfo::exists(FilePath()))
        return 0;
    try {
        IBPP::Database db = AttachLocalFile(FilePath(), FileWrites::Cached);
        IBPP::Transaction tr = IBPP::TransactionFactory(db);
        tr->Start();
        IBPP::Statement byRun = IBPP::StatementFactory(db, tr);
        byRun->Prepare("select first 1 ID from CAMPAIGNS where RUN_ID = ? order by ID desc");
        IBPP::Statement latest = IBPP::StatementFactory(db, tr);
        latest->Prepare(
            "select first 1 s.CAMPAIGN from SENT_TO s join CAMPAIGNS c on c.ID = s.CAMPAIGN "
            "where s.ADDRESS_KEY = ? and c.KIND = 0 order by s.CAMPAIGN desc");
        IBPP::Statement update = IBPP::StatementFactory(db, tr);
        update->Prepare(
            "update SENT_TO set EVENT = ?, EVENT_AT = ?, EVENT_REASON = ? where CAMPAIGN = ? and "
            "ADDRESS_KEY = ?");
        QSet<int> touched;
        int written = 0;
        for (const HistoryNote& n : notes) {
            const std::string key = Utf8Prefix(addressKey(n.address), 320);
            IBPP::Statement& find = n.runId.isEmpty() ? latest : byRun;
            find->Set(1, n.runId.isEmpty() ? key : Utf8Prefix(n.runId, 40));
            find->Execute();
            int campaign = 0;
            if (find->Fetch())
                campaign = integer(find, 1);
            if (campaign == 0)
                continue;
            update->Set(1, int32_t(n.event));
            update->Set(2, std::to_string(n.atMs));
            update->Set(3, Utf8Prefix(n.reason, kShortBytes));
            update->Set(4, int32_t(campaign));
            update->Set(5, key);
            update->Execute();
            if (update->AffectedRows() > 0) {
                ++written;
                touched.insert(campaign);
            }
        }
        byRun.reset();
        latest.reset();
        update.reset();
        for (const int c : touched)
            recount(db, tr, c);
        tr->Commit();
        db->Disconnect();
        return written;
    } catch (const IBPP::Exception& e) {
        m_lastError = QString::fromUtf8(e.what());
        return -1;
    }
}

}  // namespace pw::db
