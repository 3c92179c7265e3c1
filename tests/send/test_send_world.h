#pragma once
// What the send-run tests share: a private world with a real recipient database, a real
// SMTP server on loopback that stores every message, and Python's email package to read
// what arrived.

#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "db/TDbData.h"
#include "send/SendClock.h"

namespace pw::test {

// The worker's clock in tests: a sleep advances it at once; `onSleep` sees the time slept so
// far (a test cancels there, at a moment of the run's own time).
class FakeClock : public send::ISendClock {
public:
    [[nodiscard]] QDateTime now() const override {
        QMutexLocker lock(&m_mutex);
        return m_start.addMSecs(m_slept);
    }
    void sleep(int ms, const std::atomic<bool>& cancel) override {
        if (cancel.load())
            return;
        qint64 slept = 0;
        {
            QMutexLocker lock(&m_mutex);
            slept = m_slept += ms;
        }
        if (onSleep)
            onSleep(slept);
    }
    [[nodiscard]] qint64 sleptMs() const {
        QMutexLocker lock(&m_mutex);
        return m_slept;
    }
    std::function<void(qint64)> onSleep;

private:
    mutable QMutex m_mutex;
    const QDateTime m_start = QDateTime::currentDateTime();
    qint64 m_slept = 0;
};

// aiosmtpd on 127.0.0.1, started by the test (tests/send/capture_server.py).
class CaptureServer {
public:
    explicit CaptureServer(QString outFolder, QStringList extraArguments = {});
    ~CaptureServer();
    [[nodiscard]] bool start();
    void stop();
    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] const QString& folder() const { return m_folder; }
    // Accepted messages so far, in arrival order: {"file", "from", "to": [...]}.
    [[nodiscard]] QJsonArray index() const;
    [[nodiscard]] int count() const { return int(index().size()); }
    // The QUIT commands received so far.
    [[nodiscard]] int quits() const {
        return int(readFile(m_folder + QStringLiteral("/quits.txt")).count('\n'));
    }
    [[nodiscard]] QByteArray messageBytes(const QString& file) const;

private:
    QString m_folder;
    QStringList m_extra;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
};

// A port on loopback where nothing listens.
[[nodiscard]] int closedPort();

// Reads message files with Python's email package (policy default): per file an object with
// "subject", "from", "to", "message_id", "defects" (count over every part), "text" (the
// first text/plain, decoded), "html", "content_type", "parts" (content types, depth first),
// "attachments" (file names) and "cids".
[[nodiscard]] QJsonArray parseMessages(const QStringList& paths);

struct SendWorld {
    TestEnv env;
    ScriptedUserInteraction ui;
    db::DbFolders folders;
    std::unique_ptr<db::TDbData> store;

    SendWorld();
    // A new working copy, opened, with `count` records: ID i+1, address "rcpt<i+1>@example.jp"
    // (or from `address` when given), name "Name <i+1>", FIELD3 "value-<i+1>", SENDED 0,
    // SENDING 1. Committed.
    [[nodiscard]] bool createDatabase(int count, const std::function<QString(int)>& address = {});
    // SENDED of every record, in ID order.
    [[nodiscard]] QList<int> sentFlags();
};

}  // namespace pw::test
