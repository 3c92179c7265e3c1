#include "db/ProjectOptions.h"

#include "db/StoreHandles.h"
#include "db/TDbData.h"

namespace pw::db {

namespace {

bool tableExists(const IBPP::Database& db, const IBPP::Transaction& tr) {
    IBPP::Statement st = IBPP::StatementFactory(db, tr);
    st->Execute("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'PROJECT_OPTIONS'");
    int32_t n = 0;
    if (st->Fetch())
        st->Get(1, n);
    return n > 0;
}

}  // namespace

bool LoadProjectOptions(TDbData& store, QMap<QString, QString>& options) {
    options.clear();
    const IBPP::Database db = StoreHandles::Database(store);
    const IBPP::Transaction tr = StoreHandles::MainTransaction(store);
    if (!db || !tr || !store.IsOpen())
        return true;
    try {
        if (!tableExists(db, tr))
            return true;
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute("select NAME, VAL from PROJECT_OPTIONS");
        while (st->Fetch()) {
            std::string name, value;
            st->Get(1, name);
            if (st->Get(2, value))
                value.clear();
            options.insert(QString::fromUtf8(name.data(), qsizetype(name.size())),
                           QString::fromUtf8(value.data(), qsizetype(value.size())));
        }
        return true;
    } catch (const IBPP::Exception& e) {
        store.ReportDroppedError("Reading the project options", e);
        options.clear();
        return false;
    }
}

OptionsWrite SaveProjectOptions(TDbData& store, const QMap<QString, QString>& options) {
    const IBPP::Database db = StoreHandles::Database(store);
    const IBPP::Transaction main = StoreHandles::MainTransaction(store);
    if (!db || !main || !store.IsOpen())
        return OptionsWrite::NoDatabase;
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (it.value().toUtf8().size() > kProjectOptionBytes || it.key().toUtf8().size() > 64)
            return OptionsWrite::TooLong;
    }
    try {
        if (!tableExists(db, main)) {
            // Metadata of its own, committed at once: the main transaction then uses the table.
            IBPP::Transaction ddl = IBPP::TransactionFactory(db);
            ddl->Start();
            IBPP::Statement st = IBPP::StatementFactory(db, ddl);
            st->ExecuteImmediate(
                "CREATE TABLE PROJECT_OPTIONS ( NAME VARCHAR(64) NOT NULL PRIMARY KEY, "
                "VAL VARCHAR(8000) );");
            st.reset();
            ddl->Commit();
        }
        IBPP::Statement del = IBPP::StatementFactory(db, main);
        del->Prepare("delete from PROJECT_OPTIONS where NAME = ?");
        IBPP::Statement ins = IBPP::StatementFactory(db, main);
        ins->Prepare("insert into PROJECT_OPTIONS (NAME, VAL) values (?, ?)");
        for (auto it = options.cbegin(); it != options.cend(); ++it) {
            const std::string name = it.key().toUtf8().toStdString();
            del->Set(1, name);
            del->Execute();
            if (it.value().isEmpty())
                continue;
            ins->Set(1, name);
            ins->Set(2, it.value().toUtf8().toStdString());
            ins->Execute();
        }
        store.SetModified();
        return OptionsWrite::Written;
    } catch (const IBPP::Exception& e) {
        store.ReportDroppedError("Writing the project options", e);
        return OptionsWrite::Failed;
    }
}

}  // namespace pw::db
