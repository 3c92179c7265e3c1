#include "DbFixture.h"

#include <QtTest>

namespace pw::test {

DbWorld::DbWorld() {
    folders.userDataFolder = env.makeFolder("data/Postwick");
    folders.workingCopyFolder = env.root() + "state/Postwick/";
    store = std::make_unique<db::TDbData>(folders);
}

bool DbWorld::createAndOpen(int strFieldSize) {
    store->SetStrFieldSize(strFieldSize);
    const QString path = store->MakeWorkingCopyPath();
    if (store->CreateDatabase(path) != db::CreateResult::Created)
        return false;
    return store->Open();
}

void insertRecord(db::TDbData& store, int id, int sended, int sending, const QStringList& fields) {
    QString columns = QStringLiteral("ID, SENDED, SENDING");
    QString values = QStringLiteral("%1, %2, %3").arg(id).arg(sended).arg(sending);
    for (int k = 0; k < fields.size() && k < db::kFieldCount; ++k) {
        columns += QStringLiteral(", ") + db::ColumnNames()[k];
        values += QStringLiteral(", ") +
                  (fields[k].isNull() ? QStringLiteral("NULL") : db::SqlLiteral(fields[k]));
    }
    pw::test::execute(store,
                      QStringLiteral("insert into MAILS (%1) values (%2)").arg(columns, values));
}

QStringList queryColumn(db::TDbData& store, const QString& sql, Seen seen) {
    QStringList out;
    IBPP::Transaction tr =
        seen == Seen::InMainTransaction
            ? db::StoreHandles::MainTransaction(store)
            : IBPP::TransactionFactory(db::StoreHandles::Database(store), IBPP::AccessMode::Read,
                                       IBPP::Isolation::ReadDirty, IBPP::LockResolution::NoWait);
    tr->Start();
    IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(store), tr);
    st->Execute(sql.toUtf8().toStdString());
    while (st->Fetch()) {
        std::string v;
        out << (st->Get(1, v) ? QStringLiteral("<null>")
                              : QString::fromUtf8(v.data(), qsizetype(v.size())));
    }
    st.reset();
    if (seen == Seen::Committed)
        tr->Commit();
    return out;
}

}  // namespace pw::test
