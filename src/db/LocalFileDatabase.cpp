#include "db/LocalFileDatabase.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "db/StoreEngine.h"

namespace pw::db {

namespace {

constexpr int kAttachTries = 20;
constexpr int kAttachPauseMs = 100;

IBPP::Database makeDatabase(const QString& path, const char* createParams) {
    return IBPP::DatabaseFactory("", QFile::encodeName(path).toStdString(), kEngineUser,
                                 kEnginePassword, "", kEngineCharSet, createParams);
}

}  // namespace

IBPP::Database AttachLocalFile(const QString& path, FileWrites writes) {
    for (int attempt = 1;; ++attempt) {
        IBPP::Database db = makeDatabase(path, "");
        // A record rather than the user's data may go through the system's file cache instead
        // of waiting on the disk page by page.
        if (writes == FileWrites::Cached)
            db->SetForcedWrites(false);
        try {
            db->Connect();
            return db;
        } catch (const IBPP::Exception&) {
            if (attempt >= kAttachTries)
                throw;
            QThread::msleep(kAttachPauseMs);
        }
    }
}

void CreateLocalFile(const QString& path, std::initializer_list<const char*> ddl) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    IBPP::Database db = makeDatabase(path, kEngineCreateParams);
    db->Create(3);
    try {
        db->Connect();
        IBPP::Transaction tr = IBPP::TransactionFactory(db);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        for (const char* sql : ddl) {
            st->ExecuteImmediate(sql);
            tr->CommitRetain();  // a table must be committed before an index on it
        }
        st.reset();
        tr->Commit();
        db->Disconnect();
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    } catch (const IBPP::Exception&) {
        db.reset();
        QFile::remove(path);  // a file without its tables would fail every later use
        throw;
    }
}

std::string Utf8Prefix(const QString& text, int limit) {
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= limit)
        return utf8.toStdString();
    qsizetype n = limit;
    while (n > 0 && (quint8(utf8.at(n)) & 0xC0) == 0x80)
        --n;
    return utf8.left(n).toStdString();
}

}  // namespace pw::db
