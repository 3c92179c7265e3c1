#include "RawStatement.h"

#include "db/StoreHandles.h"

namespace pw::test {

void execute(db::TDbData& store, const QString& sql) try {
    if (!store.CanWrite())
        return;
    const IBPP::Transaction tr = db::StoreHandles::MainTransaction(store);
    IBPP::StatementFactory(db::StoreHandles::Database(store), tr)
        ->ExecuteImmediate(sql.toUtf8().toStdString());
    if (store.Kind() == db::StoreKind::Server)
        tr->CommitRetain();
    else
        store.SetModified();
} catch (...) {
    db::RaiseStoreError();
}

}  // namespace pw::test
