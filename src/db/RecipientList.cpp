// A grid's list: its view (group, filters, order) turned into its one statement, the cache it
// fills a page at a time, and the writes made through its rows.
#include "db/RecipientList.h"

#include <QSet>
#include <algorithm>
#include <functional>
#include <map>
#include <utility>

#include "db/StoreEngine.h"

namespace pw::db {

namespace {

// The list as the cache reads it: the IDs in list order at the refresh, then the records of
// the pages a view comes to, each read in the store's main transaction of the moment (so
// that the window's unsaved changes show, and a save in between does not end the list).
class ListReader : public IListReader {
public:
    using Handles = std::function<std::pair<IBPP::Database, IBPP::Transaction>()>;
    ListReader(Handles handles, QString idQuery)
        : m_handles(std::move(handles)), m_idQuery(std::move(idQuery)) {}

    std::vector<int> ids(int most) override {
        IBPP::Statement st = statement();
        st->Execute((m_idQuery + QStringLiteral(" rows %1").arg(most)).toUtf8().toStdString());
        std::vector<int> out;
        int32_t id = -1;
        while (st->Fetch()) {
            st->Get(1, id);
            out.push_back(id);
        }
        return out;
    }

    void rows(const std::vector<int>& ids, std::vector<CachedRow>& out) override {
        if (ids.empty())
            return;
        // IDs are numbers of our own: the list goes into the statement as it is
        std::string sql = "select * from Mails where ID in (";
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i > 0)
                sql += ',';
            sql += std::to_string(ids[i]);
        }
        sql += ')';
        IBPP::Statement st = statement();
        st->Execute(sql);
        CachedRow row;
        while (st->Fetch()) {
            int32_t id = -1;
            int32_t sent = 0;
            bool selected = false;
            st->Get(1, id);
            st->Get(2, sent);
            st->Get(3, selected);
            row.id = id;
            row.sent = sent;
            row.selected = selected;
            for (int k = 0; k < kFieldCount; ++k) {
                m_value.clear();
                if (st->Get(k + 4, m_value))
                    m_value.clear();
                row.appendField(k, m_value.data(), qsizetype(m_value.size()));
            }
            row.bytes.squeeze();
            out.push_back(std::move(row));
            row = CachedRow();
        }
    }

private:
    IBPP::Statement statement() {
        const auto [db, tr] = m_handles();
        if (!db || !tr || !tr->IsStarted())
            throw IBPP::LogicException("ListReader", "The database is not open.");
        return IBPP::StatementFactory(db, tr);
    }

    Handles m_handles;
    QString m_idQuery;
    std::string m_value;
};

}  // namespace

// ---- flag updates -----------------------------------------------------------------------------

QString FlagColumn(RowFlag flag) {
    return flag == RowFlag::Sent ? QStringLiteral("SENDED") : QStringLiteral("SENDING");
}

QString FlagAssignment(const FlagUpdate& update) {
    return QStringLiteral("%1 = %2").arg(FlagColumn(update.flag)).arg(update.value);
}

QString FlagRowsCondition(const FlagUpdate& update) {
    switch (update.rows) {
        case FlagRows::NotSent:
            return QStringLiteral("(SENDED = 0)");
        case FlagRows::Sent:
            return QStringLiteral("(SENDED = 1)");
        case FlagRows::Record:
            return QStringLiteral("(ID = %1)").arg(update.recordId);
        case FlagRows::All:
            break;
    }
    // the rows that hold the value already are left alone
    return QStringLiteral("(%1 <> %2)").arg(FlagColumn(update.flag)).arg(update.value);
}

// ---- the list ---------------------------------------------------------------------------------

CRecipientList::CRecipientList(TDbData& store, IRecordCacheOwner* owner)
    : m_store(&store), m_cache(std::make_unique<RecordCache>(owner)) {
    m_cache->setStore(&store);
    m_cache->setLimit(store.RecordLimit());
    store.m_lists.push_back(this);
}

CRecipientList::~CRecipientList() {
    m_cache->stopReading();
    if (!m_store)
        return;
    std::vector<CRecipientList*>& lists = m_store->m_lists;
    const bool wasLast = !lists.empty() && lists.back() == this;
    lists.erase(std::remove(lists.begin(), lists.end(), this), lists.end());
    if (!wasLast || lists.empty())
        return;
    // The window that goes may have changed what the one below it shows.
    try {
        lists.back()->Refresh();
    } catch (const std::exception& e) {
        m_store->ReportDroppedError("Refreshing the list", e);
    }
}

void CRecipientList::SetGroup(int groupId) {
    m_group = groupId <= 0 ? -1 : groupId;
}

void CRecipientList::AddFilter(const ListFilter& filter) {
    if (filter.field >= 0 && filter.field < kFieldCount)
        m_filters.push_back(filter);
}

void CRecipientList::SetOrder(const ListOrder& order) {
    if (order.key == SortKey::Field && (order.field < 0 || order.field >= kFieldCount))
        return;
    m_order = order;
}

QString CRecipientList::Where(const QString& extra) const {
    QStringList terms;
    if (m_group > 0)
        terms << QStringLiteral("(ID in (select IDMail from GROUP_MAIL where IDGroup = %1))")
                     .arg(m_group);
    for (const ListFilter& f : m_filters) {
        const QString column = m_store->ListColumn(f.field);
        const QString literal = SqlLiteral(f.text);
        switch (f.kind) {
            case FilterKind::Include:
                terms << QStringLiteral("(%1 containing %2)").arg(column, literal);
                break;
            case FilterKind::Exclude:
                terms << QStringLiteral("(%1 not containing %2)").arg(column, literal);
                break;
            case FilterKind::Match:
                terms << QStringLiteral("(%1 = %2)").arg(column, literal);
                break;
        }
    }
    if (!extra.isEmpty())
        terms << extra;
    return terms.isEmpty() ? QString()
                           : QStringLiteral(" where ") + terms.join(QStringLiteral(" and "));
}

QString CRecipientList::OrderBy() const {
    const QString direction = m_order.direction == SortDirection::Ascending
                                  ? QStringLiteral(" asc")
                                  : QStringLiteral(" desc");
    switch (m_order.key) {
        case SortKey::Sent:
            return QStringLiteral(" order by SENDED") + direction + QStringLiteral(", ID");
        case SortKey::Selected:
            return QStringLiteral(" order by SENDING") + direction + QStringLiteral(", ID");
        case SortKey::Field:
            // ID as the last key: rows with equal keys come in one order, whichever
            // statement reads them
            return QStringLiteral(" order by ") + m_store->ListColumn(m_order.field) + direction +
                   QStringLiteral(", ID");
        case SortKey::Id:
            break;
    }
    return QStringLiteral(" order by ID") + direction;
}

void CRecipientList::Refresh() try {
    if (!m_store || !m_store->CanWrite())
        return;
    m_cache->setLimit(m_store->RecordLimit());
    TDbData::Engine* const engine = m_store->m_engine.get();
    m_cache->beginList(std::make_unique<ListReader>(
        [engine] { return std::make_pair(engine->Database(), engine->ListTransaction()); },
        QStringLiteral("select ID from Mails") + Where() + OrderBy()));
} catch (...) {
    RaiseStoreError();
}

bool CRecipientList::FetchRows(int row) noexcept {
    if (!m_store || !m_store->CanWrite())
        return false;
    return m_cache->fetchUpTo(row) == FetchResult::Done;
}

bool CRecipientList::FetchAll() noexcept {
    return FetchRows(m_cache->limit());
}

bool CRecipientList::AppendCachedRow(int recordId, int sent, bool selected,
                                     const std::array<QString, kFieldCount>& texts) {
    return m_cache->appendRow(recordId, sent, selected, texts);
}

void CRecipientList::UpdateCachedRow(int row, const std::array<QString, kFieldCount>& texts) {
    if (row < 0 || row >= m_cache->rowCount())
        return;
    for (int k = 0; k < kFieldCount; ++k)
        m_cache->setText(row, k, texts[k]);
    m_cache->notifyRowChanged(row);
}

// ---- writes through the rows ------------------------------------------------------------------

void CRecipientList::SetRowFlag(int row, RowFlag which, int value) try {
    if (!m_store || !m_store->CanWrite())
        return;
    FetchRows(row);
    const int id = m_cache->rowId(row);
    if (id < 0)
        return;
    m_store->Exec(QStringLiteral("update Mails set %1 = %2 where ID = %3")
                      .arg(FlagColumn(which))
                      .arg(value)
                      .arg(id));
    if (which == RowFlag::Sent)
        m_cache->setSent(row, value);
    else
        m_cache->setSelected(row, value != 0);
    m_store->Changed();
    m_cache->notifyRowChanged(row);
} catch (...) {
    RaiseStoreError();
}

CellWrite CRecipientList::SetCell(int row, int field, const QString& text) try {
    if (!m_store || !m_store->CanWrite() || field < 0 || field >= kFieldCount)
        return CellWrite::NotWritten;
    TDbData& store = *m_store;
    if (text.toUtf8().size() > store.m_fieldLength)
        return CellWrite::TooLong;
    FetchRows(row);
    if (!m_cache->isFetched(row))
        return CellWrite::NotWritten;
    const int id = m_cache->rowId(row);
    const QString column = ColumnNames()[field];
    QString sql = QStringLiteral("update Mails set %1 = ").arg(column) + SqlLiteral(text) +
                  QStringLiteral(" where ID = %1").arg(id);
    if (store.m_kind == StoreKind::Server) {
        // The value the grid shows may be stale: another desktop's change since is not
        // overwritten but told.
        sql += QStringLiteral(" and coalesce(%1, '') = ").arg(column) +
               SqlLiteral(m_cache->text(row, field));
        bool changedElsewhere = false;
        try {
            IBPP::Statement st =
                IBPP::StatementFactory(store.m_engine->Database(), store.m_engine->mainTr);
            st->Execute(sql.toUtf8().toStdString());
            changedElsewhere = st->AffectedRows() == 0;
        } catch (const IBPP::SQLException& e) {
            if (!IBPP::IsLockConflict(e))
                throw;
            changedElsewhere = true;
        }
        if (changedElsewhere) {
            store.NoteChangedElsewhere(id, row, this);
            return CellWrite::ChangedElsewhere;
        }
    } else {
        store.Exec(sql);
    }
    m_cache->setText(row, field, text);
    store.Changed();
    m_cache->notifyRowChanged(row);
    return CellWrite::Written;
} catch (...) {
    RaiseStoreError();
}

void CRecipientList::UpdateFlags(const FlagUpdate& update) {
    if (!m_store || !m_store->CanWrite())
        return;
    m_store->RunUpdate(QStringLiteral("update Mails set ") + FlagAssignment(update) +
                       Where(FlagRowsCondition(update)));
}

ViewUpdate CRecipientList::SetFlagOverView(RowFlag which, int value) {
    UpdateFlags({which, value, FlagRows::All, -1});
    // The view is the group and the filter: every row listed, the ones added since the
    // refresh included, is one the statement gave the value, and the order stays unless it
    // goes by that flag.
    const bool byFlag = (which == RowFlag::Sent && m_order.key == SortKey::Sent) ||
                        (which == RowFlag::Selected && m_order.key == SortKey::Selected);
    if (!m_store || !m_store->CanWrite() || byFlag)
        return ViewUpdate::NeedsRefresh;
    if (which == RowFlag::Sent)
        m_cache->setSentEverywhere(value);
    else
        m_cache->setSelectedEverywhere(value != 0);
    return ViewUpdate::InPlace;
}

void CRecipientList::SwapFields(int fieldI, int fieldJ) try {
    if (!m_store || !m_store->CanWrite() || fieldI < 0 || fieldI >= kFieldCount || fieldJ < 0 ||
        fieldJ >= kFieldCount || fieldI == fieldJ)
        return;
    TDbData& store = *m_store;
    RecordCache& c = *m_cache;
    // Every row held: read from the list, and added by the record form after it.
    for (int r = 0; r < c.rowCount(); ++r) {
        const QString a = c.text(r, fieldI);
        const QString b = c.text(r, fieldJ);
        store.Exec(QStringLiteral("update Mails set %1 = ").arg(ColumnNames()[fieldI]) +
                   SqlLiteral(b) + QStringLiteral(", %1 = ").arg(ColumnNames()[fieldJ]) +
                   SqlLiteral(a) + QStringLiteral(" where ID = %1").arg(c.rowId(r)));
        c.setText(r, fieldI, b);
        c.setText(r, fieldJ, a);
        store.SetModified();
    }
    if (c.rowCount() > 0)
        store.Changed();
    if (c.rowCount() > 0 && c.owner())
        c.owner()->rowsChanged(0, c.rowCount() - 1);
} catch (...) {
    RaiseStoreError();
}

void CRecipientList::ReplaceInField(int field, const QString& find,
                                    const QString& replacement) try {
    if (!m_store || !m_store->CanWrite() || field < 0 || field >= kFieldCount || find.isEmpty())
        return;
    const QString column = ColumnNames()[size_t(field)];
    // position() on bytes is case-sensitive; UTF-8 needles only match at character starts.
    m_store->Exec(QStringLiteral("update Mails set %1 = replace(%1, %2, %3)")
                      .arg(column, SqlLiteral(find), SqlLiteral(replacement)) +
                  Where(QStringLiteral("(position(%1 in %2) > 0)").arg(SqlLiteral(find), column)));
    m_store->Changed();
    RecordCache& c = *m_cache;
    int first = -1;
    int last = -1;
    for (int r = 0; r < c.rowCount(); ++r) {
        if (!c.isFetched(r))
            continue;
        QString text = c.text(r, field);
        if (!text.contains(find))
            continue;
        text.replace(find, replacement);
        c.setText(r, field, text);
        if (first < 0)
            first = r;
        last = r;
    }
    if (first >= 0 && c.owner())
        c.owner()->rowsChanged(first, last);
} catch (...) {
    RaiseStoreError();
}

std::vector<ListedRecord> CRecipientList::ListDuplicateRecords(int field,
                                                               DuplicateComparison comparison) try {
    std::vector<ListedRecord> out;
    if (!m_store || !m_store->CanWrite() || field < 0 || field >= kFieldCount)
        return out;
    TDbData::Engine& engine = *m_store->m_engine;
    const QString key = DuplicateKey(ColumnNames()[size_t(field)], comparison);
    const IBPP::Database db = engine.Database();
    // The exact values (bytes) the search found; the IN test below ignores trailing blanks.
    QSet<QByteArray> values;
    {
        IBPP::Statement st = IBPP::StatementFactory(db, engine.mainTr);
        st->Execute("select DUBLIC_VALUE from TEMP_DUBLIC_VALUES");
        std::string v;
        while (st->Fetch()) {
            if (!st->Get(1, v))
                values.insert(QByteArray(v.data(), qsizetype(v.size())));
        }
    }
    if (values.isEmpty())
        return out;
    // Compared as mail addresses: the engine's form of each record's value, by record.
    std::map<int, QByteArray> keyOfRecord;
    if (comparison != DuplicateComparison::Exact) {
        IBPP::Statement st = IBPP::StatementFactory(db, engine.mainTr);
        st->Execute(QStringLiteral("select ID, %1 from MAILS where %1 <> ''")
                        .arg(key)
                        .toUtf8()
                        .toStdString());
        std::string v;
        while (st->Fetch()) {
            int32_t id = 0;
            st->Get(1, id);
            v.clear();
            if (!st->Get(2, v))
                keyOfRecord[id] = QByteArray(v.data(), qsizetype(v.size()));
        }
    }
    const QString sql =
        QStringLiteral("select * from Mails") +
        Where(QStringLiteral("(%1 in (select DUBLIC_VALUE from TEMP_DUBLIC_VALUES))").arg(key)) +
        QStringLiteral(" order by %1, octet_length(%1), ID").arg(key);
    IBPP::Statement st = IBPP::StatementFactory(db, engine.mainTr);
    st->Execute(sql.toUtf8().toStdString());
    std::string v;
    while (st->Fetch()) {
        ListedRecord r;
        int32_t n = 0;
        st->Get(1, n);
        r.id = n;
        st->Get(2, n);
        r.sent = n;
        st->Get(3, n);
        r.selected = n;
        QByteArray keyBytes;
        for (int k = 0; k < kFieldCount; ++k) {
            v.clear();
            if (!st->Get(k + 4, v)) {
                r.fields[size_t(k)] = QString::fromUtf8(v.data(), qsizetype(v.size()));
                if (k == field)
                    keyBytes = QByteArray(v.data(), qsizetype(v.size()));
            }
        }
        if (comparison != DuplicateComparison::Exact) {
            const auto it = keyOfRecord.find(r.id);
            keyBytes = it != keyOfRecord.end() ? it->second : QByteArray();
        }
        if (values.contains(keyBytes))
            out.push_back(std::move(r));
    }
    return out;
} catch (...) {
    RaiseStoreError();
}

// ---- the store's side of its lists ------------------------------------------------------------

QString TDbData::ListColumn(int field) const {
    if (field < 0 || field >= kFieldCount)
        return {};
    // A file whose captions name another column for the position sorts and filters by it.
    if (field < m_captionsList.size()) {
        const QString named = FieldColumn(m_captionsList[field].section(QLatin1Char('='), 0, 0));
        if (!named.isEmpty())
            return named;
    }
    return ColumnNames()[size_t(field)];
}

void TDbData::ReleaseList() {
    for (CRecipientList* l : m_lists)
        l->m_cache->stopReading();
}

void TDbData::SetRecordLimit(int limit) {
    m_recordLimit = ClampRecordLimit(limit);
    for (CRecipientList* l : m_lists)
        l->m_cache->setLimit(m_recordLimit);
}

void TDbData::RefreshLists() {
    for (CRecipientList* l : std::vector<CRecipientList*>(m_lists))
        l->Refresh();
}

void TDbData::UpdateFlags(const FlagUpdate& update) {
    if (!CanWrite())
        return;
    RunUpdate(QStringLiteral("update Mails set ") + FlagAssignment(update) +
              QStringLiteral(" where ") + FlagRowsCondition(update));
}

}  // namespace pw::db
