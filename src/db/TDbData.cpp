#include "db/TDbData.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "db/RecipientList.h"
#include "db/StoreEngine.h"
#include "resources/Strings.h"

namespace pw::db {

// ---- helpers ----------------------------------------------------------------------------------

const std::array<QString, kFieldCount>& ColumnNames() {
    static const std::array<QString, kFieldCount> names = [] {
        std::array<QString, kFieldCount> n;
        n[0] = QStringLiteral("ADDRESS");
        n[1] = QStringLiteral("NAME");
        for (int k = 3; k <= kFieldCount; ++k)
            n[k - 1] = QStringLiteral("FIELD%1").arg(k);
        return n;
    }();
    return names;
}

QString DefaultCaption(int position) {
    if (position < 0 || position >= kFieldCount)
        return {};
    return pw::str(ids::kDefaultCaption1 + position);
}

QString SqlLiteral(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QString FieldColumn(const QString& name) {
    const QString upper = name.trimmed().toUpper();
    for (const QString& c : ColumnNames()) {
        if (c == upper)
            return c;
    }
    return {};
}

void ReportDroppedError(const DiagnosticSink& sink, const char* operation,
                        const std::exception& e) {
    const QString text = QStringLiteral("%1 failed: %2")
                             .arg(QString::fromUtf8(operation), QString::fromUtf8(e.what()));
    // the engine's own words are for the log; only without one do they go to the terminal
    if (sink)
        sink(text);
    else
        std::fprintf(stderr, "Postwick database: %s\n", text.toUtf8().constData());
}

void RaiseStoreError() {
    try {
        throw;
    } catch (const IBPP::Exception& e) {
        throw StoreError(e.what());
    }
}

// ---- construction -----------------------------------------------------------------------------

TDbData::TDbData(DbFolders folders)
    : m_folders(std::move(folders)),
      m_script(creationScript()),
      m_engine(std::make_unique<Engine>()),
      m_records(new CStoreRecords(*this)),
      m_undoPoints(new CUndoPoints(*this)),
      m_groups(new CStoreGroups(*this)),
      m_fieldCaptions(new CStoreCaptions(*this)),
      m_sendRun(new CStoreSendRun(*this)) {
    for (int i = 0; i < kFieldCount; ++i)
        m_captions[i] = DefaultCaption(i);
}

TDbData::~TDbData() {
    // The handles go in order: the lists' statements, main transaction (rolled back),
    // attachment.
    ReleaseList();
    for (CRecipientList* l : m_lists) {
        l->m_store = nullptr;
        l->Cache().setStore(nullptr);
    }
    m_lists.clear();
    m_engine->mainTr.reset();
    m_engine->readTr.reset();
    std::lock_guard<std::mutex> lock(m_engine->dbMutex);
    m_engine->db.reset();
}

void TDbData::SetDiagnostics(DiagnosticSink sink) {
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    m_sink = std::move(sink);
}

DiagnosticSink TDbData::Diagnostics() const {
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    return m_sink;
}

void TDbData::ReportDroppedError(const char* operation, const std::exception& e) const {
    db::ReportDroppedError(Diagnostics(), operation, e);
}

void TDbData::AddObserver(IStoreObserver* observer) {
    if (observer &&
        std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void TDbData::RemoveObserver(IStoreObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void TDbData::SetObserver(IStoreObserver* observer) {
    m_observers.clear();
    AddObserver(observer);
}

bool TDbData::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_engine->dbMutex);
    return m_engine->db && m_engine->db->IsConnected();
}

bool TDbData::CanWrite() const {
    return IsOpen() && m_engine->mainTr && m_engine->mainTr->IsStarted();
}

void TDbData::Exec(const QString& sql) {
    IBPP::Statement st = IBPP::StatementFactory(m_engine->Database(), m_engine->mainTr);
    st->ExecuteImmediate(Convert(sql).toStdString());
}

}  // namespace pw::db
